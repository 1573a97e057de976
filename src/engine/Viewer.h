#pragma once

#include "Display.h"

#include <QByteArray>
#include <QImage>
#include <QMatrix4x4>
#include <QString>

#include <functional>
#include <vector>

#include "CropTool.h"
#include "MotionQuality.h"
#include "Picker.h"
#include "Presets.h"
#include "ScanLoader.h"
#include "StillAccumulation.h"
#include "TransferFunction.h"
#include "ViewControl.h"
#include "ViewSettings.h"
#include "WindowLevel.h"

class QWindow;
class VolumeRenderer;

// How an open ended.
struct OpenResult {
    bool opened = false;
    // The user cancelled the read.
    bool cancelled = false;
    // Why the file did not open, in one line that follows its name.
    QString error;
    // Where it opened at fewer samples than it has: why, following its name.
    QString reducedResolution;
    // The sample transfer function applied for the scan's kind, if any.
    QString sampleFunction;
    // The preset applied to a scan whose file does not say what it holds.
    QString preset;
};

// The engine behind the window and the tools: it owns the display, the
// transfer function, the renderer, the camera and the moving-frame rule,
// opens files, applies settings and draws frames. No widgets here; the
// window maps its controls onto ViewSettings and forwards the mouse.
class Viewer {
public:
    // Reads a scan; the window passes one that shows its progress.
    using ScanReader = std::function<bool(const QString& path, uint64_t memoryLimit, ScanVolume& scan, QString& error)>;

    Viewer();
    ~Viewer();
    // The folder, with its final slash, whose Shaders/ the renderer reads:
    // beside the program in a build, in the installed share/volren/ beside
    // its bin/ otherwise.
    static QByteArray ProgramFolder();
    Viewer(const Viewer&) = delete;
    Viewer& operator=(const Viewer&) = delete;

    // The start-up sequence on the render panel's native window: the OpenGL
    // context, the renderer reading its shaders from programFolder, GLEW and
    // the start-up transfer function. Its failures end the process: there is
    // no window yet to tell.
    void Start(QWindow* window, const QByteArray& programFolder);
    // Frees the renderer and the context; the context must be current.
    void Stop();
    bool Started() const { return volumeRenderer != nullptr; }

    // Opens a volume data file or a scan and frames it. A file that fails
    // leaves the volume, the transfer function and the camera as they were
    // (a .dat file refused past its checks, where memory runs out, leaves no
    // volume) and says why in the result.
    OpenResult Open(const QString& path, const ScanReader& read = ScanReader());

    // Gives the renderer what differs from the settings it has.
    void Apply(const ViewSettings& next);
    const ViewSettings& Settings() const { return settings; }
    // The camera of the settings: the side of their view framed, then their
    // distance, turn, pan and rotation.
    void PlaceCamera();
    // A camera button: that side, framed.
    void ShowSide(int8_t view);

    // The transfer function from a .tf file; one that fails leaves it as it
    // was. Either way the renderer draws the function it then has.
    bool LoadTransferFunction(const QString& path);
    // After the function changed in place (the editor, New).
    void UpdateTransferFunction();
    // From now on an opened scan keeps the function the user has.
    void KeepTransferFunction() { transferFunctionChosen = true; }

    // One frame, not yet shown: cleared, the camera placed, the volume drawn,
    // at the motion rule's resolution while the view moves (or moving is set).
    // now: seconds of a steady clock. False where nothing was drawn: the
    // converged picture of a view at rest is shown once, and the panel keeps
    // it until something changes or Redraw is called.
    bool DrawFrame(double now, bool moving = false);
    // The panel must be drawn again (it was exposed): the next frame draws.
    void Redraw() { shown = false; }
    // Shows the frame drawn.
    void Swap();
    // Whether the last frame is the view's final picture: converged at rest,
    // or one that does not converge (moving, not ray cast, converge off).
    bool Converged() const { return !accumulating || stillAccumulation.Converged(); }
    // The frame drawn, top row first, before Swap.
    QImage ReadPicture() const;

    // The render panel's mouse: a press on a handle of the crop tool drags
    // it, a right drag sets window and level, any other goes to the camera;
    // the wheel with Ctrl moves the plane.
    // Positions in the panel's units, y down; now in seconds.
    void Press(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPointF position);
    void Move(QPointF position, double now);
    void Release(Qt::MouseButton button);
    void Wheel(int angleDelta, Qt::KeyboardModifiers modifiers, double now);

    // Whether the opened volume's units are millimetres (a scan), not voxels
    // (a volume data file).
    bool VolumeInMillimetres() const { return millimetres; }

    // Whether the volume's densities are the CT rule's, Hounsfield units +
    // 1024: a CT scan, or one whose histogram is a CT's.
    bool Hounsfield() const { return hounsfield; }

    // Applies a preset fitted to the volume, with its blend where it needs
    // one; false, the function as it was, where its file cannot be read.
    bool ApplyPreset(const Preset& preset, QString& error);
    // What the pixel of the render panel shows (Ctrl+click).
    Pick PickAt(QPointF position);
    // A pick's place in the volume's units (millimetres for a scan), from the
    // volume's first corner.
    Vec3 PlaceOf(const Pick& pick) const;
    // A pick in words: its density (and Hounsfield units for a CT) and place.
    QString Describe(const Pick& pick) const;

    // The cut as the last frame drew it: the plane's normal in the box's
    // coordinates, whatever frame the settings give it in.
    const CutRegion& DrawnCut() const { return drawnCut; }
    // From the box's coordinates to the panel's units (y down) and the depth
    // in normalised device coordinates, as the last frame drew them.
    const QMatrix4x4& FrameMatrix() const { return frameMatrix; }
    // The plane through the box's centre facing the viewer, keeping the far
    // half, in the frame the settings give it.
    void PlacePlane(ViewSettings& next) const;
    // The crop box reset to the whole volume and the plane off, the cut
    // faces' style kept: another volume opened in the window is seen whole.
    void ShowWholeVolume();
    // Fixes the plane to the camera or to the volume where it lies now.
    void FollowCamera(ViewSettings& next, bool follow) const;

    Display display;
    TransferFunction transferFunction;
    VolumeRenderer* volumeRenderer = nullptr;
    ViewControl viewControl;
    MotionQuality motionQuality;
    StillAccumulation stillAccumulation;
    CropTool cropTool;
    WindowLevel windowLevel;

private:
    // Whether what the frame shows differs from the last frame's: the camera,
    // the panel, the ray caster's settings, the volume and its lookup.
    bool SceneChanged();
    // The sample function for a scan of this kind, where the user has not
    // chosen or edited one; the path applied or empty.
    QString ApplySampleFunction(ScanVolume::Kind kind);
    // Whether the function differs from the one applied at start-up or with
    // the last sample function or preset.
    bool Edited() const;
    void AfterOpen();
    // Gives the renderer the settings that differ from those it has, or all.
    void Give(const ViewSettings& next, bool all);
    // From the frame's modelview: the cut the renderer draws and the map to
    // the panel.
    void PlaceCut();
    // The crop box, its handles and the plane's outline over the frame.
    void DrawCropTool() const;
    // A vector of the camera's frame in the box's coordinates, by the last
    // frame's rotation, and back.
    Vec3 CameraToBox(Vec3 v) const;
    Vec3 BoxToCamera(Vec3 v) const;

    ViewSettings settings;
    CutRegion drawnCut;
    QMatrix4x4 frameMatrix;
    // The rotation of the last frame's modelview, by column.
    float rotation[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    float frameModelview[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    QByteArray programFolder;
    bool millimetres = false;
    bool hounsfield = false;
    bool accumulating = false;
    bool shown = false;
    int presented = 0;
    std::vector<float> lastScene;
    bool transferFunctionChosen = false;
    // The function as it was at start-up or as a sample was applied; one that
    // differs has been edited.
    std::vector<TransferFunction::Sample> untouchedFunction[4];
};
