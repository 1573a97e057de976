#include <GL/glew.h>

#include "Main.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCompleter>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QToolTip>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdlib>

#include "BusyCursor.h"
#include "ControlStyle.h"
#include "EmptyTitle.h"
#include "Log.h"
#include "CutPage.h"
#include "PresetPage.h"
#include "MakeWidget.h"
#include "ScanProgress.h"
#include "Transferfunceditor.h"
#include "ViewSaver.h"
#include "VolumeRenderer.h"

namespace {
// Client size of the window at creation.
constexpr int clientWidth = 792;
constexpr int clientHeight = 599;
// The least outer width of the window: the control column and a margin.
constexpr int outerMinimumWidth = 256 + 8;

QLabel* ValueBox(QWidget* parent, const char* name, int x, int y, int w, int h)
{
    QLabel* box = MakeWidget<QLabel>(parent, name, x, y, w, h);
    box->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    box->setAlignment(Qt::AlignCenter);
    return box;
}

QScrollBar* Bar(QWidget* parent, const char* name, int x, int y, int w)
{
    QScrollBar* bar = MakeWidget<QScrollBar>(parent, name, x, y, w, 16);
    bar->setOrientation(Qt::Horizontal);
    bar->setRange(1, 1000);
    bar->setValue(1);
    bar->setSingleStep(1);
    bar->setPageStep(1);
    return bar;
}

QLabel* Caption(QWidget* parent, const char* name, const char* text, int x, int y)
{
    QLabel* label = new QLabel(QString::fromLatin1(text), parent);
    if (name) {
        label->setObjectName(QString::fromLatin1(name));
    }
    label->move(x, y);
    label->adjustSize();
    return label;
}

// Milliseconds of the steady clock, as the frame-rate counter reads them.
uint32_t MilliSeconds()
{
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

QString GeneralFormat(double value, int digits) { return QString::number(value, 'g', digits); }

QString FileNameOnly(const QString& path) { return QFileInfo(path).fileName(); }

QFileDialog* MakeDialog(QWidget* parent, const char* name, const QStringList& filters, bool save)
{
    QFileDialog* dialog = new QFileDialog(parent);
    dialog->setObjectName(QString::fromLatin1(name));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setNameFilters(filters);
    dialog->selectNameFilter(filters.front());
    if (save) {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
    }
    dialog->setFileMode(QFileDialog::AnyFile);
    // A completion list still open when the dialog closes would stay on
    // screen, or stay the active window, and keep the keyboard from the main
    // window: it is closed, and the keyboard goes back to the window the
    // dialog came from, also where no window manager does that.
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, parent] {
        for (QCompleter* completer : dialog->findChildren<QCompleter*>()) {
            completer->popup()->hide();
        }
        parent->activateWindow();
    });
    return dialog;
}

// Runs the handler on every scroll action of the bar: after each change of
// its position, and also for an action that leaves the position as it was
// (an arrow clicked at the end of the range), which changes nothing.
template <typename Handler>
void OnScroll(QScrollBar* bar, QObject* context, Handler handler)
{
    QObject::connect(bar, &QScrollBar::valueChanged, context, handler);
    QObject::connect(bar, &QScrollBar::actionTriggered, context, [bar, handler] {
        if (bar->sliderPosition() == bar->value()) {
            handler();
        }
    });
}

// Runs a file dialog; an empty result means it was cancelled.
QString RunDialog(QFileDialog* dialog)
{
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
        return QString();
    }
    return dialog->selectedFiles().front();
}
}  // namespace

TMainForm::TMainForm(TTransferFuncEditForm* editor) : QWidget(nullptr), editor(editor)
{
    // 1. The window and its controls.
    BuildLayout();
    BuildActions();

    // The editor's presets and its undo and redo are the window's.
    if (editor) {
        connect(editor, &TTransferFuncEditForm::PresetChosen, TabSheet4, &PresetPage::Apply);
        editor->addAction(UndoAction);
        editor->addAction(RedoAction);
    }

    // 3. Minimum size.
    setMinimumSize(outerMinimumWidth, height());

    // 4. Log; 5. program folder.
    LogOpen();
    programFolder = Viewer::ProgramFolder();

    // 6. Camera: viewControl frames the front view once the panel's size is
    // known (FormResize).

    // 7. The idle handler: a zero-interval timer fires whenever the event queue
    // is empty, also inside modal dialogs and message boxes.
    idleTimer = new QTimer(this);
    idleTimer->setInterval(0);
    connect(idleTimer, &QTimer::timeout, this, &TMainForm::OnIdle);
    idleTimer->start();
    viewSaver = std::make_unique<ViewSaver>(
        this, viewer, idleTimer,
        [this](const QString& title, const QString& file, const QString& cause) { ReportFailure(title, file, cause); });

    // 8 to 12. The context on the render panel's native window, the transfer
    // function, the renderer, GLEW and the start-up transfer function.
    viewer.Start(renderWindow, programFolder);

    // 13. Ray casting.
    RenderRayCastingActionExecute();

    FormResize();
}

TMainForm::~TMainForm() = default;

void TMainForm::BuildLayout()
{
    setObjectName(QStringLiteral("MainForm"));
    setFont(LayoutFont());
    resize(clientWidth, clientHeight);

    Panel1 = MakeWidget<QFrame>(this, "Panel1", 0, 0, 537, 595);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    renderWindow = new QWindow();
    renderWindow->setSurfaceType(QSurface::OpenGLSurface);
    renderContainer = QWidget::createWindowContainer(renderWindow, Panel1);
    setAcceptDrops(true);
    renderContainer->setObjectName(QStringLiteral("RenderView"));
    auto* panelLayout = new QVBoxLayout(Panel1);
    panelLayout->setContentsMargins(1, 1, 1, 1);
    panelLayout->addWidget(renderContainer);
    renderWindow->installEventFilter(this);

    Panel2 = MakeWidget<QFrame>(this, "Panel2", 536, 0, 256, 598);
    Panel2->setFrameStyle(QFrame::Box | QFrame::Plain);
    PageControl1 = MakeWidget<QTabWidget>(Panel2, "PageControl1", 1, 1, 254, 596);
    TabSheet1 = new QWidget();
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    TabSheet2 = new QWidget();
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    PageControl1->addTab(TabSheet1, QStringLiteral("General"));
    PageControl1->addTab(TabSheet2, QStringLiteral("Rendering"));
    TabSheet3 = new CutPage(viewer);
    PageControl1->addTab(TabSheet3, QStringLiteral("Cut"));
    TabSheet4 = new PresetPage(viewer);
    PageControl1->addTab(TabSheet4, QStringLiteral("Presets"));
    connect(TabSheet4, &PresetPage::FunctionChanged, this, [this] { ShowTransferFunction(); });
    connect(TabSheet4, &PresetPage::PresetFailed, this, [this](const QString& file, const QString& cause) {
        ReportFailure(QStringLiteral("Preset"), file, cause);
    });

    // Page "General".
    QWidget* g = TabSheet1;
    SpeedButton1 = MakeWidget<QPushButton>(g, "SpeedButton1", 8, 8, 105, 25);
    Panel4 = ValueBox(g, "Panel4", 128, 8, 105, 25);
    GroupBox5 = MakeWidget<QGroupBox>(g, "GroupBox5", 8, 40, 225, 233);
    GroupBox5->setTitle(QStringLiteral("Transfer function"));
    Panel6 = ValueBox(GroupBox5, "Panel6", 16, 16, 193, 25);
    SpeedButton2 = MakeWidget<QPushButton>(GroupBox5, "SpeedButton2", 16, 48, 49, 25);
    SpeedButton3 = MakeWidget<QPushButton>(GroupBox5, "SpeedButton3", 64, 48, 49, 25);
    SpeedButton4 = MakeWidget<QPushButton>(GroupBox5, "SpeedButton4", 112, 48, 49, 25);
    SpeedButton5 = MakeWidget<QPushButton>(GroupBox5, "SpeedButton5", 160, 48, 49, 25);
    GroupBox8 = MakeWidget<QGroupBox>(GroupBox5, "GroupBox8", 16, 80, 193, 73);
    GroupBox8->setTitle(QStringLiteral("Classification"));
    RadioButton10 = MakeWidget<QRadioButton>(GroupBox8, "RadioButton10", 16, 16, 169, 17);
    RadioButton11 = MakeWidget<QRadioButton>(GroupBox8, "RadioButton11", 16, 32, 169, 17);
    RadioButton19 = MakeWidget<QRadioButton>(GroupBox8, "RadioButton19", 16, 48, 169, 17);
    RadioButton19->setChecked(true);
    GroupBox7 = MakeWidget<QGroupBox>(GroupBox5, "GroupBox7", 16, 160, 193, 57);
    GroupBox7->setTitle(QStringLiteral("Type"));
    RadioButton7 = MakeWidget<QRadioButton>(GroupBox7, "RadioButton7", 16, 16, 169, 17);
    RadioButton8 = MakeWidget<QRadioButton>(GroupBox7, "RadioButton8", 16, 32, 169, 17);
    RadioButton7->setChecked(true);

    GroupBox3 = MakeWidget<QGroupBox>(g, "GroupBox3", 8, 280, 225, 89);
    GroupBox3->setTitle(QStringLiteral("Blend modes"));
    RadioButton3 = MakeWidget<QRadioButton>(GroupBox3, "RadioButton3", 16, 16, 201, 17);
    RadioButton4 = MakeWidget<QRadioButton>(GroupBox3, "RadioButton4", 16, 32, 201, 17);
    RadioButton5 = MakeWidget<QRadioButton>(GroupBox3, "RadioButton5", 16, 48, 201, 17);
    RadioButton6 = MakeWidget<QRadioButton>(GroupBox3, "RadioButton6", 16, 64, 201, 17);

    GroupBox6 = MakeWidget<QGroupBox>(g, "GroupBox6", 8, 376, 225, 145);
    GroupBox6->setTitle(QStringLiteral("Camera"));
    SpeedButton7 = MakeWidget<QPushButton>(GroupBox6, "SpeedButton7", 16, 32, 49, 25);
    SpeedButton8 = MakeWidget<QPushButton>(GroupBox6, "SpeedButton8", 16, 56, 49, 25);
    SpeedButton9 = MakeWidget<QPushButton>(GroupBox6, "SpeedButton9", 96, 16, 33, 25);
    SpeedButton10 = MakeWidget<QPushButton>(GroupBox6, "SpeedButton10", 80, 40, 33, 25);
    SpeedButton11 = MakeWidget<QPushButton>(GroupBox6, "SpeedButton11", 112, 40, 33, 25);
    SpeedButton12 = MakeWidget<QPushButton>(GroupBox6, "SpeedButton12", 96, 64, 33, 25);
    SpeedButton13 = MakeWidget<QPushButton>(GroupBox6, "SpeedButton13", 160, 32, 49, 25);
    SpeedButton14 = MakeWidget<QPushButton>(GroupBox6, "SpeedButton14", 160, 56, 49, 25);
    CheckBox1 = MakeWidget<QCheckBox>(GroupBox6, "CheckBox1", 16, 96, 193, 17);
    CheckBox1->setText(QStringLiteral("Free rotate"));
    CheckBox2 = MakeWidget<QCheckBox>(GroupBox6, "CheckBox2", 32, 112, 56, 17);
    CheckBox2->setText(QStringLiteral("x-axis"));
    CheckBox3 = MakeWidget<QCheckBox>(GroupBox6, "CheckBox3", 88, 112, 56, 17);
    CheckBox3->setText(QStringLiteral("y-axis"));
    CheckBox4 = MakeWidget<QCheckBox>(GroupBox6, "CheckBox4", 144, 112, 56, 17);
    CheckBox4->setText(QStringLiteral("z-axis"));

    SpeedButton15 = MakeWidget<QPushButton>(g, "SpeedButton15", 160, 536, 73, 25);
    SavePictureButton = MakeWidget<QPushButton>(g, "SavePictureButton", 8, 536, 73, 25);
    SaveMovieButton = MakeWidget<QPushButton>(g, "SaveMovieButton", 84, 536, 73, 25);

    // Page "Rendering".
    GroupBox4 = MakeWidget<QGroupBox>(TabSheet2, "GroupBox4", 8, 8, 225, 545);
    GroupBox4->setTitle(QStringLiteral("Render modes"));
    QWidget* r = GroupBox4;
    RadioButton1 = MakeWidget<QRadioButton>(r, "RadioButton1", 16, 16, 193, 17);

    GroupBox9 = MakeWidget<QGroupBox>(r, "GroupBox9", 32, 32, 177, 121);
    GroupBox9->setTitle(QStringLiteral("Slices to render"));
    RadioButton12 = MakeWidget<QRadioButton>(GroupBox9, "RadioButton12", 8, 16, 161, 17);
    RadioButton13 = MakeWidget<QRadioButton>(GroupBox9, "RadioButton13", 8, 32, 161, 17);
    RadioButton12->setChecked(true);
    const char* axes[3] = {"x =", "y =", "z ="};
    QLabel** slicePanels[3] = {&Panel12, &Panel13, &Panel14};
    QScrollBar** sliceBars[3] = {&ScrollBar7, &ScrollBar8, &ScrollBar9};
    const char* slicePanelNames[3] = {"Panel12", "Panel13", "Panel14"};
    const char* sliceBarNames[3] = {"ScrollBar7", "ScrollBar8", "ScrollBar9"};
    for (int i = 0; i < 3; ++i) {
        const int y = 48 + 24 * i;
        Caption(GroupBox9, nullptr, axes[i], 24, y);
        *slicePanels[i] = ValueBox(GroupBox9, slicePanelNames[i], 40, y, 33, 17);
        *sliceBars[i] = Bar(GroupBox9, sliceBarNames[i], 80, y, 89);
    }

    RadioButton2 = MakeWidget<QRadioButton>(r, "RadioButton2", 16, 160, 193, 17);
    GroupBox1 = MakeWidget<QGroupBox>(r, "GroupBox1", 32, 176, 177, 89);
    GroupBox1->setTitle(QStringLiteral("Number of Slices"));
    QLabel** countPanels[3] = {&Panel3, &Panel7, &Panel8};
    QScrollBar** countBars[3] = {&ScrollBar1, &ScrollBar2, &ScrollBar3};
    const char* countPanelNames[3] = {"Panel3", "Panel7", "Panel8"};
    const char* countBarNames[3] = {"ScrollBar1", "ScrollBar2", "ScrollBar3"};
    for (int i = 0; i < 3; ++i) {
        const int y = 16 + 24 * i;
        Caption(GroupBox1, nullptr, axes[i], 8, y);
        *countPanels[i] = ValueBox(GroupBox1, countPanelNames[i], 24, y, 33, 17);
        *countBars[i] = Bar(GroupBox1, countBarNames[i], 64, y, 105);
    }

    GroupBox10 = MakeWidget<QGroupBox>(r, "GroupBox10", 32, 272, 177, 121);
    GroupBox10->setTitle(QStringLiteral("Slices to render"));
    RadioButton14 = MakeWidget<QRadioButton>(GroupBox10, "RadioButton14", 8, 16, 161, 17);
    RadioButton15 = MakeWidget<QRadioButton>(GroupBox10, "RadioButton15", 8, 32, 161, 17);
    RadioButton14->setChecked(true);
    QLabel** volumePanels[3] = {&Panel9, &Panel10, &Panel11};
    QScrollBar** volumeBars[3] = {&ScrollBar4, &ScrollBar5, &ScrollBar6};
    const char* volumePanelNames[3] = {"Panel9", "Panel10", "Panel11"};
    const char* volumeBarNames[3] = {"ScrollBar4", "ScrollBar5", "ScrollBar6"};
    for (int i = 0; i < 3; ++i) {
        const int y = 48 + 24 * i;
        Caption(GroupBox10, nullptr, axes[i], 24, y);
        *volumePanels[i] = ValueBox(GroupBox10, volumePanelNames[i], 40, y, 33, 17);
        *volumeBars[i] = Bar(GroupBox10, volumeBarNames[i], 80, y, 89);
    }

    RadioButton9 = MakeWidget<QRadioButton>(r, "RadioButton9", 16, 400, 193, 17);
    RadioButton9->setChecked(true);
    Label10 = Caption(r, "Label10", "dz =", 32, 424);
    Panel15 = ValueBox(r, "Panel15", 56, 424, 49, 17);
    ScrollBar10 = Bar(r, "ScrollBar10", 112, 424, 97);
    Label11 = Caption(r, "Label11", "mi =", 32, 448);
    Panel5 = ValueBox(r, "Panel5", 56, 448, 49, 17);
    ScrollBar11 = Bar(r, "ScrollBar11", 112, 448, 97);
    CheckBox5 = MakeWidget<QCheckBox>(r, "CheckBox5", 32, 472, 177, 17);
    CheckBox5->setText(QStringLiteral("Adaptive step size"));
    CheckBox5->setChecked(true);
    CheckBox6 = MakeWidget<QCheckBox>(r, "CheckBox6", 32, 488, 177, 17);
    CheckBox6->setText(QStringLiteral("Lighting"));
    CheckBox6->setChecked(true);
    StyleControlColumn(Panel2);

    FileOpenDialog = MakeDialog(
        this, "FileOpenDialog",
        {QStringLiteral("Volumes and scans (*.dat *.nii *.nii.gz *.nrrd *.nhdr *.mha *.mhd *.dcm)"),
         QStringLiteral("Volume data file (*.dat)"),
         QStringLiteral("Scans (*.nii *.nii.gz *.nrrd *.nhdr *.mha *.mhd *.dcm)"), QStringLiteral("All files (*)")},
        false);
    TFOpenDialog = MakeDialog(this, "TFOpenDialog",
                              {QStringLiteral("Transfer function (*.tf)"), QStringLiteral("All files (*)")}, false);
    TFSaveDialog = MakeDialog(this, "TFSaveDialog", {QStringLiteral("Transfer function (*.tf)")}, true);
}

void TMainForm::BuildActions()
{
    ActionManager = new QObject(this);
    ActionManager->setObjectName(QStringLiteral("ActionManager"));

    auto action = [this](const char* name, const char* category, const char* caption, auto handler) {
        QAction* a = new QAction(QString::fromUtf8(caption), ActionManager);
        a->setObjectName(QString::fromLatin1(name));
        a->setProperty("category", QString::fromLatin1(category));
        connect(a, &QAction::triggered, this, [this, a, handler] { (this->*handler)(a); });
        return a;
    };
    // A control linked to an action shows its caption and runs it when clicked.
    auto link = [](QAbstractButton* control, QAction* a) {
        control->setText(a->text());
        QObject::connect(control, &QAbstractButton::clicked, a, [a] { a->trigger(); });
    };

    using F = TMainForm;
    NewTransferFuncAction = action("NewTransferFuncAction", "TransferFunc", "New", &F::NewTransferFuncActionExecute);
    LoadTransferFuncAction =
        action("LoadTransferFuncAction", "TransferFunc", "Load", &F::LoadTransferFuncActionExecute);
    SaveTransferFuncAction =
        action("SaveTransferFuncAction", "TransferFunc", "Save", &F::SaveTransferFuncActionExecute);
    SaveAsTransferFuncAction =
        action("SaveAsTransferFuncAction", "TransferFunc", "Save As", &F::SaveAsTransferFuncActionExecute);
    EditTransferFuncAction =
        action("EditTransferFuncAction", "TransferFunc", "Edit", &F::EditTransferFuncActionExecute);
    PreClassificationAction =
        action("PreClassificationAction", "TransferFunc", "Pre-classification", &F::PreClassificationActionExecute);
    ShaderClassificationAction =
        action("ShaderClassificationAction", "TransferFunc", "Shaders", &F::ShaderClassificationActionExecute);
    NoClassificationAction =
        action("NoClassificationAction", "TransferFunc", "None", &F::NoClassificationActionExecute);
    IntensityColorMapAction =
        action("IntensityColorMapAction", "TransferFunc", "Intensity", &F::IntensityColorMapActionExecute);
    IntensityGradientColorMapAction = action("IntensityGradientColorMapAction", "TransferFunc", "Intensity && gradient",
                                             &F::IntensityGradientColorMapActionExecute);
    RenderSlicesAction = action("RenderSlicesAction", "Rendering", "Slices", &F::RenderSlicesActionExecute);
    SlicesRenderAll = action("SlicesRenderAll", "Rendering", "All", &F::SlicesRenderAllExecute);
    SlicesRenderSpecific = action("SlicesRenderSpecific", "Rendering", "Specific", &F::SlicesRenderSpecificExecute);
    RenderVolumeTextureAction =
        action("RenderVolumeTextureAction", "Rendering", "Volume Texture", &F::RenderVolumeTextureActionExecute);
    VolTexRenderAll = action("VolTexRenderAll", "Rendering", "All", &F::VolTexRenderAllExecute);
    VolTexRenderSpecific = action("VolTexRenderSpecific", "Rendering", "Specific", &F::VolTexRenderSpecificExecute);
    RenderRayCastingAction =
        action("RenderRayCastingAction", "Rendering", "Ray Casting", &F::RenderRayCastingActionExecute);
    ExitAction = action("ExitAction", "General", "Exit", &F::ExitActionExecute);
    OpenVolumeAction = action("OpenVolumeAction", "DataVolume", "Open", &F::OpenVolumeActionExecute);
    MinimumIntensityBlendAction =
        action("MinimumIntensityBlendAction", "Blending", "Minimum intensity", &F::MinimumIntensityBlendActionExecute);
    MaximumIntensityBlendAction =
        action("MaximumIntensityBlendAction", "Blending", "Maximum intensity", &F::MaximumIntensityBlendActionExecute);
    BlendBlendAction = action("BlendBlendAction", "Blending", "Blend", &F::BlendBlendActionExecute);
    DefaultBlendAction = action("DefaultBlendAction", "Blending", "Default", &F::DefaultBlendActionExecute);
    CameraUpAction = action("CameraUpAction", "Camera", "Up", &F::CameraUpActionExecute);
    CameraDownAction = action("CameraDownAction", "Camera", "Down", &F::CameraDownActionExecute);
    CameraBackAction = action("CameraBackAction", "Camera", "Back", &F::CameraBackActionExecute);
    CameraFrontAction = action("CameraFrontAction", "Camera", "Front", &F::CameraFrontActionExecute);
    CameraLeftAction = action("CameraLeftAction", "Camera", "Left", &F::CameraLeftActionExecute);
    CameraRightAction = action("CameraRightAction", "Camera", "Right", &F::CameraRightActionExecute);
    CameraBackwardAction = action("CameraBackwardAction", "Camera", "Backward", &F::CameraBackwardActionExecute);
    CameraForwardAction = action("CameraForwardAction", "Camera", "Forward", &F::CameraForwardActionExecute);

    SavePictureAction = action("SavePictureAction", "File", "Save Picture…", &F::SavePictureActionExecute);
    SaveMovieAction = action("SaveMovieAction", "File", "Save Movie…", &F::SaveMovieActionExecute);

    ExitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    OpenVolumeAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    UndoAction = action("UndoAction", "TransferFunc", "Undo", &F::UndoActionExecute);
    RedoAction = action("RedoAction", "TransferFunc", "Redo", &F::RedoActionExecute);
    UndoAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    RedoAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    SavePictureAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    SaveMovieAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M));
    addAction(ExitAction);
    addAction(OpenVolumeAction);
    addAction(SavePictureAction);
    addAction(SaveMovieAction);
    addAction(UndoAction);
    addAction(RedoAction);
    connect(TabSheet4->UndoButton, &QPushButton::clicked, UndoAction, [this] { UndoAction->trigger(); });
    connect(TabSheet4->RedoButton, &QPushButton::clicked, RedoAction, [this] { RedoAction->trigger(); });

    link(SpeedButton1, OpenVolumeAction);
    link(SpeedButton2, NewTransferFuncAction);
    link(SpeedButton3, LoadTransferFuncAction);
    link(SpeedButton4, SaveTransferFuncAction);
    link(SpeedButton5, EditTransferFuncAction);
    link(RadioButton10, PreClassificationAction);
    link(RadioButton11, ShaderClassificationAction);
    link(RadioButton19, NoClassificationAction);
    link(RadioButton7, IntensityColorMapAction);
    link(RadioButton8, IntensityGradientColorMapAction);
    link(RadioButton3, MinimumIntensityBlendAction);
    link(RadioButton4, MaximumIntensityBlendAction);
    link(RadioButton5, BlendBlendAction);
    link(RadioButton6, DefaultBlendAction);
    link(SpeedButton7, CameraUpAction);
    link(SpeedButton8, CameraDownAction);
    link(SpeedButton9, CameraBackAction);
    link(SpeedButton10, CameraLeftAction);
    link(SpeedButton11, CameraRightAction);
    link(SpeedButton12, CameraFrontAction);
    link(SpeedButton13, CameraBackwardAction);
    link(SpeedButton14, CameraForwardAction);
    link(SpeedButton15, ExitAction);
    link(SavePictureButton, SavePictureAction);
    link(SaveMovieButton, SaveMovieAction);
    link(RadioButton1, RenderSlicesAction);
    link(RadioButton12, SlicesRenderAll);
    link(RadioButton13, SlicesRenderSpecific);
    link(RadioButton2, RenderVolumeTextureAction);
    link(RadioButton14, VolTexRenderAll);
    link(RadioButton15, VolTexRenderSpecific);
    link(RadioButton9, RenderRayCastingAction);
    // The control column's buttons; the file dialogs keep buttons of their own kind.
    for (QPushButton* button : Panel2->findChildren<QPushButton*>()) {
        button->setFlat(true);
    }

    for (QScrollBar* bar : {ScrollBar1, ScrollBar2, ScrollBar3}) {
        OnScroll(bar, this, [this, bar] { SliceScrollBarScroll(bar); });
    }
    for (QScrollBar* bar : {ScrollBar7, ScrollBar8, ScrollBar9}) {
        OnScroll(bar, this, [this, bar] { SlicesSliceScrollBarScroll(bar); });
    }
    for (QScrollBar* bar : {ScrollBar4, ScrollBar5, ScrollBar6}) {
        OnScroll(bar, this, [this, bar] { VolTexSliceScrollBarScroll(bar); });
    }
    OnScroll(ScrollBar10, this, [this] { ScrollBar10Scroll(ScrollBar10); });
    OnScroll(ScrollBar11, this, [this] { ScrollBar11Scroll(ScrollBar11); });
    connect(CheckBox5, &QCheckBox::clicked, this, [this] { CheckBox5Click(CheckBox5); });
    for (QCheckBox* box : {CheckBox1, CheckBox2, CheckBox3, CheckBox4}) {
        connect(box, &QCheckBox::toggled, this, [this] { FreeRotationClick(); });
    }
    connect(CheckBox6, &QCheckBox::clicked, this, [this] { CheckBox6Click(CheckBox6); });
}

void TMainForm::LayOut()
{
    // Panel1 follows all four edges; Panel2 keeps its width at the right edge.
    const int w = width();
    const int h = height();
    Panel1->setGeometry(0, 0, std::max(0, w - (clientWidth - 537)), std::max(0, h - (clientHeight - 595)));
    Panel2->setGeometry(w - 256, 0, 256, std::max(0, h - (clientHeight - 598)));
    PageControl1->setGeometry(1, 1, 254, Panel2->height() - 2);
    SpeedButton15->move(160, 536 + (Panel2->height() - 598));
    SavePictureButton->move(8, SpeedButton15->y());
    SaveMovieButton->move(84, SpeedButton15->y());
}

void TMainForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    LayOut();
    FormResize();
}

void TMainForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Sizes given before the context existed did not last.
    FormResize();
    KeepOuterMinimumWidth();
    if (windowTitle().isEmpty()) {
        ShowEmptyTitle(this);
    }
    if (!isMinimized()) {
        ResumeFrames();
    }
}

// Frames are drawn only while someone can see them: a minimised or hidden
// window would otherwise keep a core busy drawing for no one.
void TMainForm::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    PauseFrames();
}

void TMainForm::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) {
        return;
    }
    if (isMinimized()) {
        PauseFrames();
    } else if (isVisible()) {
        ResumeFrames();
    }
}

// The window manager's frame is known once the window is shown; the minimum
// is the outer width, frame included.
void TMainForm::KeepOuterMinimumWidth()
{
    setMinimumWidth(std::max(outerMinimumWidth - (frameGeometry().width() - width()), Panel2->width()));
}

void TMainForm::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    KeepOuterMinimumWidth();
}

void TMainForm::PauseFrames()
{
    idleTimer->stop();
    viewer.motionQuality.Pause();
}

void TMainForm::ResumeFrames()
{
    if (idleTimer->isActive()) {
        return;
    }
    // The rate counts from the resumption, not across the pause.
    fpsLastTime = float(MilliSeconds()) * 0.001f;
    fpsFrameCount = 0.0f;
    idleTimer->start();
}

void TMainForm::FormResize()
{
    if (!viewer.Started()) {
        return;
    }
    // The render window fills the panel inside its bevel and its layout's margins.
    const QRect area = Panel1->contentsRect().marginsRemoved(Panel1->layout()->contentsMargins());
    const qreal ratio = renderWindow->devicePixelRatio();
    Change([&](ViewSettings& s) {
        s.width = area.width();
        s.height = area.height();
        s.pixelRatio = ratio;
    });
}

void TMainForm::FrameVolume()
{
    viewer.viewControl.SetBox(viewer.volumeRenderer->BoxHalfExtents());
    viewer.viewControl.Frame();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != renderWindow) {
        return QWidget::eventFilter(watched, event);
    }
    const double now = double(MilliSeconds()) * 0.001;
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && (mouse->modifiers() & Qt::ControlModifier)) {
                const BusyCursor busy;
                const Pick pick = viewer.PickAt(mouse->position());
                TabSheet4->ShowPick(pick);
                if (editor) {
                    editor->MarkDensity(pick.hit ? int(std::lround(pick.density)) : -1);
                }
                QToolTip::showText(mouse->globalPosition().toPoint(), viewer.Describe(pick));
                return true;
            }
            viewer.Press(mouse->button(), mouse->modifiers(), mouse->position());
            return true;
        }
        case QEvent::MouseMove:
            viewer.Move(static_cast<QMouseEvent*>(event)->position(), now);
            // The editor follows window and level.
            if (viewer.windowLevel.Dragging() && editor && editor->isVisible()) {
                editor->FunctionChanged();
            }
            // A side or the plane dragged shows on the page "Cut".
            if (viewer.cropTool.Dragging()) {
                TabSheet3->ShowSettings();
            }
            return true;
        case QEvent::MouseButtonRelease:
            viewer.Release(static_cast<QMouseEvent*>(event)->button());
            return true;
        case QEvent::Wheel: {
            const auto* wheel = static_cast<QWheelEvent*>(event);
            viewer.Wheel(wheel->angleDelta().y(), wheel->modifiers(), now);
            TabSheet3->ShowSettings();
            return true;
        }
        case QEvent::Expose:
            viewer.Redraw();
            return QWidget::eventFilter(watched, event);
        case QEvent::DragEnter:
            dragEnterEvent(static_cast<QDragEnterEvent*>(event));
            return true;
        case QEvent::Drop:
            dropEvent(static_cast<QDropEvent*>(event));
            return true;
        default:
            return QWidget::eventFilter(watched, event);
    }
}

void TMainForm::OnIdle()
{
    // A change is taken once the mouse lets go: a drag is one step.
    if (QGuiApplication::mouseButtons() == Qt::NoButton) {
        history.Record(viewer.transferFunction);
    }
    viewer.motionQuality.FrameStarts(double(MilliSeconds()) * 0.001);
    // A view at rest whose picture has converged is not drawn again: the
    // panel keeps it, and the rate counts only the frames drawn.
    const bool drawn = DrawFrame();
    if (drawn) {
        viewer.Swap();
    } else {
        viewer.motionQuality.Pause();
    }

    const float now = float(MilliSeconds()) * 0.001f;
    const float elapsed = now - fpsLastTime;
    if (elapsed < 1.0f) {
        fpsFrameCount += drawn ? 1.0f : 0.0f;
        return;
    }
    Panel4->setText(GeneralFormat(fpsFrameCount / elapsed, 4) + QStringLiteral(" fps"));
    fpsLastTime = now;
    fpsFrameCount = 0.0f;
}

bool TMainForm::DrawFrame() { return viewer.DrawFrame(double(MilliSeconds()) * 0.001); }

void TMainForm::FreeRotationClick()
{
    Change([this](ViewSettings& s) {
        s.rotateAxes[0] = CheckBox2->isChecked();
        s.rotateAxes[1] = CheckBox3->isChecked();
        s.rotateAxes[2] = CheckBox4->isChecked();
        // Without an axis there is no free rotation, not even the one reached.
        s.freeRotate = CheckBox1->isChecked() && (s.rotateAxes[0] || s.rotateAxes[1] || s.rotateAxes[2]);
    });
}

bool TMainForm::CanCloseTransferFunc()
{
    if (!viewer.transferFunction.IsModified()) {
        return true;
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), QStringLiteral("Save transfer function ?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("SavePrompt"));
    switch (box.exec()) {
        case QMessageBox::Yes:
            // A save that failed keeps the function, and so the window.
            return SaveTransferFuncActionExecute();
        case QMessageBox::No:
            return true;
        default:
            return false;
    }
}

bool TMainForm::FormCloseQuery() { return CanCloseTransferFunc(); }

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    FormDestroy();
}

void TMainForm::FormDestroy()
{
    idleTimer->stop();
    viewer.Stop();
    LogClose();
    std::fflush(stdout);
    std::_Exit(0);
}

void TMainForm::ExitActionExecute(QObject*) { close(); }

void TMainForm::SavePictureActionExecute(QObject*) { viewSaver->SavePicture(); }

void TMainForm::SaveMovieActionExecute(QObject*) { viewSaver->SaveMovie(); }

void TMainForm::OpenVolumeActionExecute(QObject*)
{
    const QString fileName = RunDialog(FileOpenDialog);
    if (!fileName.isEmpty()) {
        OpenVolume(fileName);
    }
}

bool TMainForm::OpenVolume(const QString& fileName)
{
    const OpenResult result =
        viewer.Open(fileName, [this](const QString& path, uint64_t memory, ScanVolume& scan, QString& error) {
            return ScanProgress::Read(this, path, memory, scan, error);
        });
    if (!result.opened) {
        if (!result.cancelled) {
            ReportFailure(QStringLiteral("Open"), fileName, result.error);
        }
        return false;
    }
    setWindowTitle(fileName);
    if (!result.sampleFunction.isEmpty()) {
        transferFunctionFileName = result.sampleFunction;
        Panel6->setText(FileNameOnly(result.sampleFunction));
    }
    if (!result.preset.isEmpty()) {
        Panel6->setText(result.preset);
    }
    ShowVolumeSizes();
    viewer.ShowWholeVolume();
    TabSheet3->ShowVolume();
    if (!result.reducedResolution.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Open"),
                             fileName + QStringLiteral(" ") + result.reducedResolution + QStringLiteral("."));
    }
    return true;
}

void TMainForm::ReportFailure(const QString& title, const QString& fileName, const QString& cause)
{
    const QString line = fileName + QStringLiteral(": ") + cause;
    LogWarning((title + QStringLiteral(": ") + line).toLocal8Bit().constData());
    QMessageBox::warning(this, title, line);
}

void TMainForm::OpenArguments(const QStringList& arguments)
{
    if (arguments.size() > 1) {
        const QString path = arguments[1];
        QTimer::singleShot(0, this, [this, path] { OpenVolume(path); });
    }
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && urls.front().isLocalFile()) {
        event->acceptProposedAction();
    }
}

void TMainForm::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.front().isLocalFile()) {
        return;
    }
    event->acceptProposedAction();
    // Opened after the drop has ended, so the dragging program is not kept waiting.
    const QString path = urls.front().toLocalFile();
    QTimer::singleShot(0, this, [this, path] { OpenVolume(path); });
}

void TMainForm::ShowVolumeSizes()
{
    // The bars are set without telling the renderer: the load already set its counts.
    const uint32_t dims[3] = {viewer.volumeRenderer->GetDimX(), viewer.volumeRenderer->GetDimY(),
                              viewer.volumeRenderer->GetDimZ()};
    QScrollBar* counts[3] = {ScrollBar1, ScrollBar2, ScrollBar3};
    QLabel* countPanels[3] = {Panel3, Panel7, Panel8};
    QScrollBar* stackBars[3] = {ScrollBar7, ScrollBar8, ScrollBar9};
    QLabel* stackPanels[3] = {Panel12, Panel13, Panel14};
    QScrollBar* volumeBars[3] = {ScrollBar4, ScrollBar5, ScrollBar6};
    QLabel* volumePanels[3] = {Panel9, Panel10, Panel11};
    for (int i = 0; i < 3; ++i) {
        const QSignalBlocker b1(counts[i]), b2(stackBars[i]), b3(volumeBars[i]);
        counts[i]->setValue(int(std::min<uint32_t>(dims[i], uint32_t(counts[i]->maximum()))));
        countPanels[i]->setText(QString::number(counts[i]->value()));
        stackBars[i]->setMinimum(1);
        stackBars[i]->setMaximum(int(dims[i]));
        stackBars[i]->setValue(stackBars[i]->minimum());
        stackPanels[i]->setText(QString::number(stackBars[i]->value()));
        volumeBars[i]->setMinimum(1);
        volumeBars[i]->setMaximum(counts[i]->value());
        volumeBars[i]->setValue(volumeBars[i]->minimum());
        volumePanels[i]->setText(QString::number(volumeBars[i]->value()));
    }
}

void TMainForm::NewTransferFuncActionExecute(QObject*)
{
    if (!CanCloseTransferFunc()) {
        return;
    }
    Panel6->setText(QStringLiteral("-"));
    viewer.transferFunction.Clear();
    viewer.KeepTransferFunction();
}

void TMainForm::LoadTransferFuncActionExecute(QObject*)
{
    if (!CanCloseTransferFunc()) {
        return;
    }
    const QString fileName = RunDialog(TFOpenDialog);
    if (fileName.isEmpty()) {
        return;
    }
    const BusyCursor busy;
    if (!viewer.LoadTransferFunction(fileName)) {
        ReportFailure(QStringLiteral("Load"), fileName, QString::fromUtf8(viewer.transferFunction.Error()));
        return;
    }
    transferFunctionFileName = fileName;
    Panel6->setText(FileNameOnly(fileName));
}

bool TMainForm::SaveTransferFuncActionExecute(QObject*)
{
    if (!viewer.transferFunction.HasFileName()) {
        return SaveAsTransferFuncActionExecute();
    }
    if (!viewer.transferFunction.Save(transferFunctionFileName.toLocal8Bit().constData())) {
        // Unsaved still: closing asks again.
        viewer.transferFunction.SetModified(true);
        ReportFailure(QStringLiteral("Save"), transferFunctionFileName,
                      QString::fromUtf8(viewer.transferFunction.Error()));
        return false;
    }
    return true;
}

bool TMainForm::SaveAsTransferFuncActionExecute(QObject*)
{
    if (!transferFunctionFileName.isEmpty()) {
        TFSaveDialog->selectFile(transferFunctionFileName);
    }
    const QString fileName = RunDialog(TFSaveDialog);
    if (fileName.isEmpty()) {
        return true;
    }
    if (!viewer.transferFunction.Save(fileName.toLocal8Bit().constData())) {
        viewer.transferFunction.SetModified(true);
        ReportFailure(QStringLiteral("Save"), fileName, QString::fromUtf8(viewer.transferFunction.Error()));
        return false;
    }
    transferFunctionFileName = fileName;
    Panel6->setText(FileNameOnly(fileName));
    return true;
}

void TMainForm::EditTransferFuncActionExecute(QObject*)
{
    editor->SetTransferFunction(&viewer.transferFunction);
    editor->SetHistogram(viewer.volumeRenderer->GetHistogram(), viewer.volumeRenderer->GetMaxDensity());
    editor->ShowPresets();
    // The idle timer keeps drawing frames inside the dialog's own loop.
    editor->exec();
    const BusyCursor busy;
    viewer.UpdateTransferFunction();
}

void TMainForm::PreClassificationActionExecute(QObject*)
{
    const BusyCursor busy;
    Change([](ViewSettings& s) { s.classification = VolumeRenderer::PreClassification; });
}

void TMainForm::ShaderClassificationActionExecute(QObject*)
{
    const BusyCursor busy;
    Change([](ViewSettings& s) { s.classification = VolumeRenderer::ShaderClassification; });
}

void TMainForm::NoClassificationActionExecute(QObject*)
{
    const BusyCursor busy;
    Change([](ViewSettings& s) { s.classification = VolumeRenderer::NoClassification; });
}

void TMainForm::IntensityColorMapActionExecute(QObject*)
{
    const BusyCursor busy;
    Change([](ViewSettings& s) { s.colorMap = VolumeRenderer::Intensity; });
}

void TMainForm::IntensityGradientColorMapActionExecute(QObject*)
{
    const BusyCursor busy;
    Change([](ViewSettings& s) { s.colorMap = VolumeRenderer::IntensityGradient; });
}

void TMainForm::RenderSlicesActionExecute(QObject*)
{
    const BusyCursor busy;
    Change([](ViewSettings& s) { s.method = VolumeRenderer::Slices; });
    GroupBox1->setEnabled(false);
    GroupBox10->setEnabled(false);
    GroupBox9->setEnabled(true);
}

void TMainForm::RenderVolumeTextureActionExecute(QObject*)
{
    const BusyCursor busy;
    Change([](ViewSettings& s) { s.method = VolumeRenderer::VolumeTexture; });
    GroupBox1->setEnabled(true);
    GroupBox10->setEnabled(true);
    GroupBox9->setEnabled(false);
}

void TMainForm::RenderRayCastingActionExecute(QObject*)
{
    const BusyCursor busy;
    Change([](ViewSettings& s) { s.method = VolumeRenderer::RayCasting; });
    GroupBox1->setEnabled(false);
    GroupBox10->setEnabled(false);
    GroupBox9->setEnabled(false);
}

void TMainForm::SlicesRenderAllExecute(QObject*)
{
    Change([](ViewSettings& s) { s.sliceMode = VolumeRenderer::AllSlices; });
}

void TMainForm::SlicesRenderSpecificExecute(QObject*)
{
    Change([this](ViewSettings& s) {
        s.sliceMode = VolumeRenderer::StackSpecificSlice;
        s.stackSlices[0] = ScrollBar7->value();
        s.stackSlices[1] = ScrollBar8->value();
        s.stackSlices[2] = ScrollBar9->value();
    });
}

void TMainForm::VolTexRenderAllExecute(QObject*)
{
    Change([](ViewSettings& s) { s.sliceMode = VolumeRenderer::AllSlices; });
}

void TMainForm::VolTexRenderSpecificExecute(QObject*)
{
    Change([this](ViewSettings& s) {
        s.sliceMode = VolumeRenderer::VolumeSpecificSlice;
        s.volumeSlices[0] = ScrollBar4->value();
        s.volumeSlices[1] = ScrollBar5->value();
        s.volumeSlices[2] = ScrollBar6->value();
    });
}

void TMainForm::BlendBlendActionExecute(QObject*)
{
    Change([](ViewSettings& s) { s.blend = VolumeRenderer::Blend; });
}

void TMainForm::MaximumIntensityBlendActionExecute(QObject*)
{
    Change([](ViewSettings& s) { s.blend = VolumeRenderer::MaximumIntensity; });
}

void TMainForm::MinimumIntensityBlendActionExecute(QObject*)
{
    Change([](ViewSettings& s) { s.blend = VolumeRenderer::MinimumIntensity; });
}

void TMainForm::DefaultBlendActionExecute(QObject*)
{
    Change([](ViewSettings& s) { s.blend = VolumeRenderer::DefaultBlend; });
}

void TMainForm::SetCameraView(int8_t stack) { viewer.ShowSide(stack); }

void TMainForm::CameraLeftActionExecute(QObject*) { SetCameraView(VolumeRenderer::Left); }
void TMainForm::CameraDownActionExecute(QObject*) { SetCameraView(VolumeRenderer::Down); }
void TMainForm::CameraBackActionExecute(QObject*) { SetCameraView(VolumeRenderer::Back); }
void TMainForm::CameraRightActionExecute(QObject*) { SetCameraView(VolumeRenderer::Right); }
void TMainForm::CameraUpActionExecute(QObject*) { SetCameraView(VolumeRenderer::Up); }
void TMainForm::CameraFrontActionExecute(QObject*) { SetCameraView(VolumeRenderer::Front); }
void TMainForm::CameraBackwardActionExecute(QObject*) { viewer.viewControl.StepBackward(); }
void TMainForm::CameraForwardActionExecute(QObject*) { viewer.viewControl.StepForward(); }

void TMainForm::SliceScrollBarScroll(QObject*)
{
    Change([this](ViewSettings& s) {
        s.sliceCounts[0] = ScrollBar1->value();
        s.sliceCounts[1] = ScrollBar2->value();
        s.sliceCounts[2] = ScrollBar3->value();
    });
    QScrollBar* counts[3] = {ScrollBar1, ScrollBar2, ScrollBar3};
    QLabel* countPanels[3] = {Panel3, Panel7, Panel8};
    QScrollBar* volumeBars[3] = {ScrollBar4, ScrollBar5, ScrollBar6};
    QLabel* volumePanels[3] = {Panel9, Panel10, Panel11};
    for (int i = 0; i < 3; ++i) {
        countPanels[i]->setText(QString::number(counts[i]->value()));
        // A lowered maximum pulls the slice bar down without telling the renderer.
        const QSignalBlocker blocker(volumeBars[i]);
        volumeBars[i]->setMaximum(counts[i]->value());
        volumePanels[i]->setText(QString::number(volumeBars[i]->value()));
    }
}

void TMainForm::SlicesSliceScrollBarScroll(QObject*)
{
    Panel12->setText(QString::number(ScrollBar7->value()));
    Panel13->setText(QString::number(ScrollBar8->value()));
    Panel14->setText(QString::number(ScrollBar9->value()));
    Change([this](ViewSettings& s) {
        s.stackSlices[0] = ScrollBar7->value();
        s.stackSlices[1] = ScrollBar8->value();
        s.stackSlices[2] = ScrollBar9->value();
    });
}

void TMainForm::VolTexSliceScrollBarScroll(QObject*)
{
    Panel9->setText(QString::number(ScrollBar4->value()));
    Panel10->setText(QString::number(ScrollBar5->value()));
    Panel11->setText(QString::number(ScrollBar6->value()));
    Change([this](ViewSettings& s) {
        s.volumeSlices[0] = ScrollBar4->value();
        s.volumeSlices[1] = ScrollBar5->value();
        s.volumeSlices[2] = ScrollBar6->value();
    });
}

void TMainForm::ScrollBar10Scroll(QObject*)
{
    const float value = 1.0f / float(ScrollBar10->value());
    Change([value](ViewSettings& s) { s.step = value; });
    Panel15->setText(GeneralFormat(value, 3));
}

void TMainForm::ScrollBar11Scroll(QObject*)
{
    const float value = float(ScrollBar11->value()) * 0.001f;
    Change([value](ViewSettings& s) { s.maxIntensity = value; });
    Panel5->setText(GeneralFormat(value, 3));
}

void TMainForm::CheckBox5Click(QObject*)
{
    Change([this](ViewSettings& s) { s.adaptiveStep = CheckBox5->isChecked(); });
}

void TMainForm::CheckBox6Click(QObject*)
{
    Change([this](ViewSettings& s) { s.lighting = CheckBox6->isChecked(); });
}

void TMainForm::UndoActionExecute(QObject*)
{
    if (history.Undo(viewer.transferFunction)) {
        viewer.UpdateTransferFunction();
        ShowTransferFunction();
    }
}

void TMainForm::RedoActionExecute(QObject*)
{
    if (history.Redo(viewer.transferFunction)) {
        viewer.UpdateTransferFunction();
        ShowTransferFunction();
    }
}

void TMainForm::ShowTransferFunction()
{
    if (editor && editor->isVisible()) {
        editor->FunctionChanged();
    }
    QRadioButton* const blends[4] = {RadioButton5, RadioButton4, RadioButton3, RadioButton6};
    const uint8_t blend = viewer.Settings().blend;
    if (blend < 4) {
        const QSignalBlocker block(blends[blend]);
        blends[blend]->setChecked(true);
    }
}
