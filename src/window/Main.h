#pragma once

#include <QString>
#include <QWidget>

#include <memory>

#include "TransferFunctionHistory.h"
#include "Viewer.h"

class QAction;
class CutPage;
class PresetPage;
class QCheckBox;
class QFileDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QTabWidget;
class QTimer;
class QWindow;
class TTransferFuncEditForm;
class ViewSaver;

// The main window: the render panel on the left, the control column on the
// right, and the idle-time frame loop. A shell over the engine: its controls
// map onto the engine's settings, the panel's mouse goes to its camera.
class TMainForm : public QWidget {
    Q_OBJECT

public:
    explicit TMainForm(TTransferFuncEditForm* editor = nullptr);
    ~TMainForm() override;

    // Frame loop, resize, close query and shutdown.
    void OnIdle();
    // The frame's drawing, before the swap: clear, camera, renderer; false
    // where the panel already shows the picture.
    bool DrawFrame();
    // Gives the engine the settings with one change made.
    template <typename Edit>
    void Change(Edit edit)
    {
        ViewSettings next = viewer.Settings();
        edit(next);
        viewer.Apply(next);
    }
    void FormResize();
    bool FormCloseQuery();
    [[noreturn]] void FormDestroy();
    // After a volume is loaded: the camera frames its box.
    void FrameVolume();
    bool CanCloseTransferFunc();
    // Tells of a file that failed in a message box of one line and in the log.
    void ReportFailure(const QString& title, const QString& fileName, const QString& cause);

    // Opens a volume data file or a scan (a DICOM series as a folder or any of
    // its files, NIfTI, NRRD, MetaImage): from Open, the command line or a
    // drop. A file that cannot be read is named in a message box and leaves
    // the volume, transfer function and camera as they were; one drawn at
    // fewer samples than it has is named in one too.
    bool OpenVolume(const QString& fileName);
    // The file or folder named after the program (a desktop's "open with"),
    // opened once the event loop runs and the window is up.
    void OpenArguments(const QStringList& arguments);
    // The slice bars set to the sizes of the loaded volume.
    void ShowVolumeSizes();

    // Action and control handlers; the sender is not read.
    void OpenVolumeActionExecute(QObject* = nullptr);
    void ExitActionExecute(QObject* = nullptr);
    void NewTransferFuncActionExecute(QObject* = nullptr);
    void LoadTransferFuncActionExecute(QObject* = nullptr);
    // Both false where a save was tried and failed; a cancelled dialog is no failure.
    bool SaveTransferFuncActionExecute(QObject* = nullptr);
    bool SaveAsTransferFuncActionExecute(QObject* = nullptr);
    void EditTransferFuncActionExecute(QObject* = nullptr);
    void PreClassificationActionExecute(QObject* = nullptr);
    void ShaderClassificationActionExecute(QObject* = nullptr);
    void NoClassificationActionExecute(QObject* = nullptr);
    void IntensityColorMapActionExecute(QObject* = nullptr);
    void IntensityGradientColorMapActionExecute(QObject* = nullptr);
    void RenderSlicesActionExecute(QObject* = nullptr);
    void SlicesRenderAllExecute(QObject* = nullptr);
    void SlicesRenderSpecificExecute(QObject* = nullptr);
    void RenderVolumeTextureActionExecute(QObject* = nullptr);
    void VolTexRenderAllExecute(QObject* = nullptr);
    void VolTexRenderSpecificExecute(QObject* = nullptr);
    void RenderRayCastingActionExecute(QObject* = nullptr);
    void MinimumIntensityBlendActionExecute(QObject* = nullptr);
    void MaximumIntensityBlendActionExecute(QObject* = nullptr);
    void BlendBlendActionExecute(QObject* = nullptr);
    void DefaultBlendActionExecute(QObject* = nullptr);
    void CameraUpActionExecute(QObject* = nullptr);
    void CameraDownActionExecute(QObject* = nullptr);
    void CameraBackActionExecute(QObject* = nullptr);
    void CameraFrontActionExecute(QObject* = nullptr);
    void CameraLeftActionExecute(QObject* = nullptr);
    void CameraRightActionExecute(QObject* = nullptr);
    void CameraBackwardActionExecute(QObject* = nullptr);
    void CameraForwardActionExecute(QObject* = nullptr);
    // The view as a PNG at any size, or as an orbit movie.
    void SavePictureActionExecute(QObject* = nullptr);
    void SaveMovieActionExecute(QObject* = nullptr);
    void SliceScrollBarScroll(QObject* = nullptr);
    void SlicesSliceScrollBarScroll(QObject* = nullptr);
    void VolTexSliceScrollBarScroll(QObject* = nullptr);
    void ScrollBar10Scroll(QObject* = nullptr);
    void ScrollBar11Scroll(QObject* = nullptr);
    void CheckBox5Click(QObject* = nullptr);
    void CheckBox6Click(QObject* = nullptr);
    void UndoActionExecute(QObject* = nullptr);
    void RedoActionExecute(QObject* = nullptr);
    // After the transfer function changed outside the editor: the editor and
    // the blend buttons show it.
    void ShowTransferFunction();

    // Render panel and control column.
    QFrame* Panel1;
    QWindow* renderWindow;
    QWidget* renderContainer;
    QFrame* Panel2;
    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    QWidget* TabSheet2;
    // Page "Cut": the crop box, the clipping plane and the cut faces.
    CutPage* TabSheet3;
    // Page "Presets": presets, undo and redo, and the pick.
    PresetPage* TabSheet4;

    // Page "General".
    QPushButton* SpeedButton1;
    QLabel* Panel4;
    QGroupBox* GroupBox5;
    QLabel* Panel6;
    QPushButton *SpeedButton2, *SpeedButton3, *SpeedButton4, *SpeedButton5;
    QGroupBox* GroupBox8;
    QRadioButton *RadioButton10, *RadioButton11, *RadioButton19;
    QGroupBox* GroupBox7;
    QRadioButton *RadioButton7, *RadioButton8;
    QGroupBox* GroupBox3;
    QRadioButton *RadioButton3, *RadioButton4, *RadioButton5, *RadioButton6;
    QGroupBox* GroupBox6;
    QPushButton *SpeedButton7, *SpeedButton8, *SpeedButton9, *SpeedButton10, *SpeedButton11, *SpeedButton12;
    QPushButton *SpeedButton13, *SpeedButton14;
    QCheckBox *CheckBox1, *CheckBox2, *CheckBox3, *CheckBox4;
    QPushButton* SpeedButton15;
    QPushButton *SavePictureButton, *SaveMovieButton;

    // Page "Rendering".
    QGroupBox* GroupBox4;
    QRadioButton* RadioButton1;
    QGroupBox* GroupBox9;
    QRadioButton *RadioButton12, *RadioButton13;
    QLabel *Panel12, *Panel13, *Panel14;
    QScrollBar *ScrollBar7, *ScrollBar8, *ScrollBar9;
    QRadioButton* RadioButton2;
    QGroupBox* GroupBox1;
    QLabel *Panel3, *Panel7, *Panel8;
    QScrollBar *ScrollBar1, *ScrollBar2, *ScrollBar3;
    QGroupBox* GroupBox10;
    QRadioButton *RadioButton14, *RadioButton15;
    QLabel *Panel9, *Panel10, *Panel11;
    QScrollBar *ScrollBar4, *ScrollBar5, *ScrollBar6;
    QRadioButton* RadioButton9;
    QLabel *Label10, *Panel15;
    QScrollBar* ScrollBar10;
    QLabel *Label11, *Panel5;
    QScrollBar* ScrollBar11;
    QCheckBox *CheckBox5, *CheckBox6;

    // Non-visual components.
    QFileDialog* FileOpenDialog;
    QFileDialog* TFOpenDialog;
    QFileDialog* TFSaveDialog;
    QObject* ActionManager;
    QAction *NewTransferFuncAction, *LoadTransferFuncAction, *SaveTransferFuncAction, *SaveAsTransferFuncAction,
        *EditTransferFuncAction, *PreClassificationAction, *ShaderClassificationAction, *NoClassificationAction,
        *IntensityColorMapAction, *IntensityGradientColorMapAction, *RenderSlicesAction, *SlicesRenderAll,
        *SlicesRenderSpecific, *RenderVolumeTextureAction, *VolTexRenderAll, *VolTexRenderSpecific,
        *RenderRayCastingAction, *ExitAction, *OpenVolumeAction, *MinimumIntensityBlendAction,
        *MaximumIntensityBlendAction, *BlendBlendAction, *DefaultBlendAction, *CameraUpAction, *CameraDownAction,
        *CameraBackAction, *CameraFrontAction, *CameraLeftAction, *CameraRightAction, *CameraBackwardAction,
        *CameraForwardAction;
    // Ctrl+Z and Ctrl+Shift+Z: the transfer function's changes.
    QAction *UndoAction, *RedoAction;
    // The transfer function's states, taken between mouse drags.
    TransferFunctionHistory history;
    QAction *SavePictureAction, *SaveMovieAction;

    // The display, transfer function, renderer, camera and moving-frame rule.
    Viewer viewer;
    float fpsLastTime = 0.0f;
    float fpsFrameCount = 0.0f;

    // The transfer function's file name, shared by the save dialog and Save.
    QString transferFunctionFileName;
    TTransferFuncEditForm* editor;
    QTimer* idleTimer;
    // Save Picture and Save Movie, with their dialogs.
    std::unique_ptr<ViewSaver> viewSaver;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Files and folders dropped on the window, also on the render panel.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // The render panel's mouse and wheel events go to viewControl, drops to
    // the window's handlers.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildLayout();
    void BuildActions();
    void LayOut();
    void SetCameraView(int8_t stack);
    // The free rotation's boxes into the settings.
    void FreeRotationClick();
    void KeepOuterMinimumWidth();
    void PauseFrames();
    void ResumeFrames();

    QByteArray programFolder;
};
