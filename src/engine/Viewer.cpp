#include <GL/glew.h>

#include "Viewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWindow>

#include <algorithm>

#include "Log.h"
#include "StartupTransferFunction.h"
#include "VolumeRenderer.h"

Viewer::Viewer() = default;

Viewer::~Viewer() { delete volumeRenderer; }

QByteArray Viewer::ProgramFolder()
{
    const QString program = QCoreApplication::applicationDirPath();
    const QString installed = QDir(program + QStringLiteral("/../share/volren")).absolutePath();
    const bool beside = QFileInfo::exists(program + QStringLiteral("/Shaders"));
    return ((beside || !QFileInfo::exists(installed + QStringLiteral("/Shaders")) ? program : installed) +
            QLatin1Char('/'))
        .toLocal8Bit();
}

void Viewer::Start(QWindow* window, const QByteArray& folder)
{
    programFolder = folder;
    display.CreateContext(window);
    volumeRenderer = new VolumeRenderer(&display, programFolder.constData(), &transferFunction);

    const GLenum glewError = glewInit();
    if (glewError != GLEW_OK) {
        LogFailed((QByteArray("glew: ") + reinterpret_cast<const char*>(glewGetErrorString(glewError))).constData());
    }
    // GLEW's lookup may leave an error in the queue on some drivers.
    while (glGetError() != GL_NO_ERROR) {
    }

    FillStartupTransferFunction(transferFunction);
    for (int c = 0; c < 4; ++c) {
        untouchedFunction[c] = transferFunction.Channel(c);
    }
    // The panel's size is not known yet: the first one given frames the view.
    settings.width = settings.height = 0;
    Give(settings, true);
}

void Viewer::Stop()
{
    delete volumeRenderer;
    volumeRenderer = nullptr;
    motionQuality.Release();
    stillAccumulation.Release();
    display.ReleaseContext();
}

OpenResult Viewer::Open(const QString& path, const ScanReader& read)
{
    OpenResult result;
    ScanVolume::Kind scanKind = ScanVolume::Kind::Other;
    const QByteArray file = QFile::encodeName(path);
    if (!ScanLoader::IsScan(path)) {
        if (!volumeRenderer->Load(file.constData())) {
            result.error = QString::fromStdString(volumeRenderer->loadError);
            return result;
        }
    } else {
        ScanVolume scan;
        QString error;
        const uint64_t memory = VolumeRenderer::MemoryLimit();
        const bool scanRead = read ? read(path, memory, scan, error) : ScanLoader::Read(path, memory, scan, error);
        if (!scanRead || !ScanLoader::Fits(*volumeRenderer, scan, error)) {
            result.cancelled = error == QLatin1String("cancelled");
            result.error = error;
            return result;
        }
        // Before the load, which then builds its textures with it.
        result.sampleFunction = ApplySampleFunction(scan.kind);
        scanKind = scan.kind;
        if (!ScanLoader::Load(*volumeRenderer, path, scan)) {
            result.error = QString::fromStdString(volumeRenderer->loadError);
            return result;
        }
    }
    result.opened = true;
    millimetres = ScanLoader::IsScan(path);
    const uint32_t* histogram = volumeRenderer->GetHistogram();
    const uint32_t maxDensity = volumeRenderer->GetMaxDensity();
    hounsfield = millimetres && (scanKind == ScanVolume::Kind::Ct || Presets::LooksLikeCt(histogram, maxDensity));
    // A scan that does not say what it holds gets the preset its histogram
    // suggests, unless the user chose or edited a function.
    if (millimetres && scanKind == ScanVolume::Kind::Other && !transferFunctionChosen && !Edited()) {
        Preset preset;
        QString error;
        if (Presets::Find(Presets::Suggested(histogram, maxDensity), preset) &&
            Presets::Read(preset, histogram, maxDensity, transferFunction, error)) {
            transferFunction.SetModified(false);
            for (int c = 0; c < 4; ++c) {
                untouchedFunction[c] = transferFunction.Channel(c);
            }
            volumeRenderer->UpdateTransferFunction();
            result.preset = preset.name;
        }
    }
    result.reducedResolution = QString::fromStdString(volumeRenderer->reducedResolution);
    AfterOpen();
    return result;
}

void Viewer::AfterOpen()
{
    // The load set the renderer's plane counts to the volume's sizes; the
    // slice bars start again at the first slice, which the renderer hears of
    // with the next change of a setting.
    const uint32_t dims[3] = {volumeRenderer->GetDimX(), volumeRenderer->GetDimY(), volumeRenderer->GetDimZ()};
    for (int a = 0; a < 3; ++a) {
        settings.sliceCounts[a] = int32_t(dims[a]);
        settings.stackSlices[a] = 1;
        settings.volumeSlices[a] = 1;
    }
    viewControl.SetBox(volumeRenderer->BoxHalfExtents());
    viewControl.Frame();
}

bool Viewer::Edited() const
{
    const auto same = [](const TransferFunction::Sample& a, const TransferFunction::Sample& b) {
        return a.value == b.value && a.position == b.position;
    };
    for (int c = 0; c < 4; ++c) {
        const auto& now = transferFunction.Channel(c);
        if (!std::equal(now.begin(), now.end(), untouchedFunction[c].begin(), untouchedFunction[c].end(), same)) {
            return true;
        }
    }
    return false;
}

QString Viewer::ApplySampleFunction(ScanVolume::Kind kind)
{
    const QString path = ScanLoader::SampleFunction(kind);
    if (path.isEmpty() || transferFunctionChosen || Edited()) {
        return {};
    }
    if (!transferFunction.Load(QFile::encodeName(path).constData())) {
        LogWarning(("TransferFunction: the sample '" + path + "' cannot be read").toLocal8Bit().constData());
        return {};
    }
    for (int c = 0; c < 4; ++c) {
        untouchedFunction[c] = transferFunction.Channel(c);
    }
    return path;
}

void Viewer::Apply(const ViewSettings& next) { Give(next, false); }

void Viewer::Give(const ViewSettings& next, bool all)
{
    VolumeRenderer& r = *volumeRenderer;
    // The renderer's setters build textures again only on a change, so each
    // setting goes to it as it is. The view stack is the camera's to set
    // from frame to frame; the plane counts are the load's.
    r.SetRenderMethod(next.method);
    r.SetClassification(next.classification);
    r.SetColorMapType(next.colorMap);
    r.SetBlendMode(next.blend);
    r.SetSliceMode(next.sliceMode);
    if (all || !std::equal(next.sliceCounts, next.sliceCounts + 3, settings.sliceCounts)) {
        r.SetSliceCounts(next.sliceCounts[0], next.sliceCounts[1], next.sliceCounts[2]);
    }
    r.SetStackSlices(next.stackSlices[0], next.stackSlices[1], next.stackSlices[2]);
    r.SetVolumeSlices(next.volumeSlices[0], next.volumeSlices[1], next.volumeSlices[2]);
    r.SetStepSize(next.step);
    r.SetMaxIntensity(next.maxIntensity);
    r.SetAdaptiveStepSize(next.adaptiveStep ? 1.0f : 0.0f);
    r.SetLighting(next.lighting ? 1.0f : 0.0f);
    if (all || next.view != settings.view) {
        r.SetViewStack(next.view);
    }
    if (next.width > 0 && next.height > 0 &&
        (next.width != settings.width || next.height != settings.height || next.pixelRatio != settings.pixelRatio)) {
        display.Resize(int(next.width * next.pixelRatio), int(next.height * next.pixelRatio));
        viewControl.SetViewport(next.width, next.height);
    }
    settings = next;
}

void Viewer::ShowSide(int8_t view)
{
    settings.view = view;
    volumeRenderer->SetViewStack(view);
    viewControl.ShowSide(view);
}

void Viewer::PlaceCamera()
{
    viewControl.ShowSide(settings.view);
    // Unlike the wheel, a distance set may put the eye anywhere, inside the box too.
    if (settings.distance) {
        viewControl.distance = *settings.distance;
    }
    viewControl.Turn(settings.turn[0], settings.turn[1]);
    viewControl.Pan(settings.pan[0], settings.pan[1]);
    viewControl.freeRotation = settings.rotation;
}

bool Viewer::LoadTransferFunction(const QString& path)
{
    const bool loaded = transferFunction.Load(QFile::encodeName(path).constData());
    if (loaded) {
        transferFunctionChosen = true;
        UpdateTransferFunction();
    }
    return loaded;
}

void Viewer::UpdateTransferFunction() { volumeRenderer->UpdateTransferFunction(); }

bool Viewer::DrawFrame(double now, bool moving)
{
    if (!volumeRenderer->IsLoaded()) {
        // Nothing to average: the cleared panel is the final picture.
        accumulating = false;
        display.Clear();
        return true;
    }
    const bool turning = settings.rotateAxes[0] || settings.rotateAxes[1] || settings.rotateAxes[2];
    const bool rotate = settings.freeRotate;
    const bool still = !moving && !viewControl.Moving(now) && !cropTool.Moving(now) && !windowLevel.Moving(now) &&
                       !(rotate && turning);
    // The camera on a fresh modelview, for the scene's fingerprint; the frame
    // puts it there again after its clear.
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    viewControl.Apply(*volumeRenderer, rotate);
    PlaceCut();
    // A window on screen gets its size to the driver with its first swaps,
    // and frames before come out empty: the average starts after them. A
    // framebuffer object of the program's own has its size at once.
    GLint target = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &target);
    const bool ready = target != 0 || !display.window || !display.window->isExposed() || presented >= 3;
    accumulating = ready && still && settings.converge && volumeRenderer->renderMethod == VolumeRenderer::RayCasting;
    const bool changed = SceneChanged();
    if (!accumulating || changed) {
        stillAccumulation.Reset();
        shown = false;
    }
    if (accumulating && stillAccumulation.Converged()) {
        // The converged picture is shown once; the panel keeps it until
        // something changes or the window needs it drawn again.
        if (shown) {
            return false;
        }
        display.Clear();
        stillAccumulation.Show(display);
        shown = true;
        return true;
    }
    display.Clear();
    viewControl.Apply(*volumeRenderer, rotate);
    volumeRenderer->sampleOffset = accumulating ? stillAccumulation.NextOffset() : 0.0f;
    const float step = volumeRenderer->stepSize;
    if (accumulating) {
        volumeRenderer->SetStepSize(step * stillAccumulation.StepShare());
    }
    // A moving view may be drawn at a lower resolution; a still one never is.
    const int factor = motionQuality.Factor(!still);
    if (factor > 1) {
        motionQuality.Begin(display, factor);
    }
    if (rotate && turning) {
        viewControl.AdvanceFreeRotation(settings.rotateAxes[0], settings.rotateAxes[1], settings.rotateAxes[2], now);
    }
    volumeRenderer->Render();
    if (factor > 1) {
        motionQuality.End(display);
    }
    if (cropTool.on) {
        DrawCropTool();
    }
    if (accumulating) {
        volumeRenderer->SetStepSize(step);
        stillAccumulation.Add(display);
    }
    return true;
}

bool Viewer::SceneChanged()
{
    const VolumeRenderer& r = *volumeRenderer;
    // The projection too: the tiles of a picture share a size but not a frustum.
    std::vector<float> scene(32);
    glGetFloatv(GL_MODELVIEW_MATRIX, scene.data());
    glGetFloatv(GL_PROJECTION_MATRIX, scene.data() + 16);
    const Vec3 spacing = r.voxelSpacing;
    scene.insert(scene.end(), {float(display.width), float(display.height), r.stepSize, r.maxIntensity,
                               float(r.lighting), float(r.adaptiveStepSize), float(r.renderMethod), float(r.dimX),
                               float(r.dimY), float(r.dimZ), spacing.x, spacing.y, spacing.z, float(r.generation)});
    const CutRegion& cut = r.cut;
    scene.insert(scene.end(), cut.crop, cut.crop + 6);
    scene.insert(scene.end(), {float(cut.clip), cut.normal.x, cut.normal.y, cut.normal.z, cut.distance, float(cut.face),
                               cut.greyLow, cut.greyHigh, float(cropTool.on), float(r.blendMode)});
    const bool changed = scene != lastScene;
    lastScene = std::move(scene);
    return changed;
}

void Viewer::Swap()
{
    if (display.window && display.window->isExposed()) {
        ++presented;
    }
    display.Swap();
}

QImage Viewer::ReadPicture() const
{
    QImage picture(display.width, display.height, QImage::Format_RGBX8888);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, display.width, display.height, GL_RGBA, GL_UNSIGNED_BYTE, picture.bits());
    // OpenGL rows run bottom to top; the screen shows no alpha.
    return picture.mirrored().convertToFormat(QImage::Format_RGB888);
}

Vec3 Viewer::CameraToBox(Vec3 v) const
{
    // The transpose of the rotation: component j is column j's product with v.
    const float* m = rotation;
    return {m[0] * v.x + m[1] * v.y + m[2] * v.z, m[3] * v.x + m[4] * v.y + m[5] * v.z,
            m[6] * v.x + m[7] * v.y + m[8] * v.z};
}

Vec3 Viewer::BoxToCamera(Vec3 v) const
{
    const float* m = rotation;
    return {m[0] * v.x + m[3] * v.y + m[6] * v.z, m[1] * v.x + m[4] * v.y + m[7] * v.z,
            m[2] * v.x + m[5] * v.y + m[8] * v.z};
}

void Viewer::PlaceCut()
{
    GLfloat modelview[16], projection[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    std::copy(modelview, modelview + 16, frameModelview);
    for (int column = 0; column < 3; ++column) {
        for (int row = 0; row < 3; ++row) {
            rotation[3 * column + row] = modelview[4 * column + row];
        }
    }
    drawnCut = settings.cut;
    if (settings.planeFollowsCamera) {
        drawnCut.normal = CameraToBox(settings.cut.normal);
    }
    volumeRenderer->cut = drawnCut;

    // Clip space to the panel's units: x right, y down, the depth kept.
    const float w = float(std::max(settings.width, 1)), h = float(std::max(settings.height, 1));
    const QMatrix4x4 toPanel(w * 0.5f, 0, 0, w * 0.5f, 0, -h * 0.5f, 0, h * 0.5f, 0, 0, 1, 0, 0, 0, 0, 1);
    frameMatrix = toPanel * QMatrix4x4(projection).transposed() * QMatrix4x4(modelview).transposed();
}

void Viewer::PlacePlane(ViewSettings& next) const
{
    const Vec3 towardsViewer{0.0f, 0.0f, 1.0f};
    next.cut.normal = next.planeFollowsCamera ? towardsViewer : CameraToBox(towardsViewer);
    next.cut.distance = 0.0f;
}

void Viewer::ShowWholeVolume()
{
    // The cut reaches the renderer with each frame: no setter is called.
    settings.cut.ResetCrop();
    settings.cut.clip = false;
}

void Viewer::FollowCamera(ViewSettings& next, bool follow) const
{
    if (follow != next.planeFollowsCamera) {
        next.cut.normal = follow ? BoxToCamera(next.cut.normal) : CameraToBox(next.cut.normal);
        next.planeFollowsCamera = follow;
    }
}

void Viewer::Press(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPointF position)
{
    if (volumeRenderer->IsLoaded() &&
        (cropTool.Press(button, position, drawnCut, volumeRenderer->BoxHalfExtents(), frameMatrix) ||
         windowLevel.Press(button, position, transferFunction, volumeRenderer->GetMaxDensity()))) {
        return;
    }
    viewControl.Press(button, modifiers, position);
}

void Viewer::Move(QPointF position, double now)
{
    if (windowLevel.Move(position, now, transferFunction)) {
        UpdateTransferFunction();
        return;
    }
    if (cropTool.Dragging()) {
        cropTool.Move(position, now, settings.cut, drawnCut, volumeRenderer->BoxHalfExtents(), frameMatrix);
        return;
    }
    viewControl.Move(position, now);
}

void Viewer::Release(Qt::MouseButton button)
{
    cropTool.Release(button);
    windowLevel.Release(button);
    viewControl.Release(button);
}

void Viewer::Wheel(int angleDelta, Qt::KeyboardModifiers modifiers, double now)
{
    if (modifiers & Qt::ControlModifier) {
        cropTool.Wheel(angleDelta, now, settings.cut);
        return;
    }
    viewControl.Wheel(angleDelta, now);
}

void Viewer::DrawCropTool() const
{
    const Vec3 half = volumeRenderer->BoxHalfExtents();
    const Vec3 low = drawnCut.Low(half), high = drawnCut.High(half);
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glUseProgram(0);
    for (GLenum unit : {GL_TEXTURE0, GL_TEXTURE1, GL_TEXTURE2}) {
        glActiveTexture(unit);
        glDisable(GL_TEXTURE_1D);
        glDisable(GL_TEXTURE_2D);
        glDisable(GL_TEXTURE_3D);
    }
    glActiveTexture(GL_TEXTURE0);
    glDisable(GL_LIGHTING);
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    // The ray caster leaves its own modelview: the frame's camera again.
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadMatrixf(frameModelview);
    glLineWidth(1.0f);
    // The crop box's twelve edges.
    glColor3f(1.0f, 0.85f, 0.2f);
    glBegin(GL_LINES);
    for (int a = 0; a < 3; ++a) {
        for (int corner = 0; corner < 4; ++corner) {
            const float u = corner & 1 ? 1.0f : 0.0f, v = corner & 2 ? 1.0f : 0.0f;
            float from[3] = {low.x, low.y, low.z}, to[3] = {high.x, high.y, high.z};
            const float lows[3] = {low.x, low.y, low.z}, highs[3] = {high.x, high.y, high.z};
            const int b = (a + 1) % 3, c = (a + 2) % 3;
            from[b] = to[b] = lows[b] + u * (highs[b] - lows[b]);
            from[c] = to[c] = lows[c] + v * (highs[c] - lows[c]);
            glVertex3fv(from);
            glVertex3fv(to);
        }
    }
    glEnd();
    // The plane's outline across the crop box, and the handles.
    CutRegion::Face plane;
    if (drawnCut.PlaneFace(half, plane)) {
        glColor3f(0.3f, 0.9f, 1.0f);
        glBegin(GL_LINE_LOOP);
        for (const Vec3& p : plane.corners) {
            glVertex3f(p.x, p.y, p.z);
        }
        glEnd();
    }
    glPointSize(9.0f);
    glBegin(GL_POINTS);
    for (int handle = 0; handle <= CropTool::planeHandle; ++handle) {
        Vec3 p;
        if (CropTool::HandlePoint(drawnCut, half, handle, p)) {
            if (handle == CropTool::planeHandle) {
                glColor3f(0.3f, 0.9f, 1.0f);
            } else {
                glColor3f(1.0f, 0.85f, 0.2f);
            }
            glVertex3f(p.x, p.y, p.z);
        }
    }
    glEnd();
    glPopMatrix();
    glPopAttrib();
}

bool Viewer::ApplyPreset(const Preset& preset, QString& error)
{
    if (!Presets::Read(preset, volumeRenderer->GetHistogram(), volumeRenderer->GetMaxDensity(), transferFunction,
                       error)) {
        return false;
    }
    transferFunctionChosen = true;
    UpdateTransferFunction();
    ViewSettings next = settings;
    next.blend = preset.maximumIntensity                          ? uint8_t(VolumeRenderer::MaximumIntensity)
                 : next.blend == VolumeRenderer::MaximumIntensity ? uint8_t(VolumeRenderer::DefaultBlend)
                                                                  : next.blend;
    Apply(next);
    return true;
}

Pick Viewer::PickAt(QPointF position)
{
    const VolumeRenderer& r = *volumeRenderer;
    std::vector<uint16_t> grid;
    if (!r.IsLoaded() || !r.CopyDensities(grid)) {
        return {};
    }
    const uint32_t dim[3] = {r.GetDimX(), r.GetDimY(), r.GetDimZ()};
    const uint32_t texDim[3] = {r.texDimX, r.texDimY, r.texDimZ};
    return Picker::Along(position, frameMatrix, r.BoxHalfExtents(), drawnCut, grid.data(), dim, texDim,
                         transferFunction, r.maxIntensity * 4096.0f + 0.5f);
}

Vec3 Viewer::PlaceOf(const Pick& pick) const
{
    const Vec3 spacing = volumeRenderer->voxelSpacing;
    return {pick.voxel.x * spacing.x, pick.voxel.y * spacing.y, pick.voxel.z * spacing.z};
}

QString Viewer::Describe(const Pick& pick) const
{
    if (!pick.hit) {
        return QStringLiteral("Nothing of the volume under the cursor");
    }
    const Vec3 at = PlaceOf(pick);
    QString text = QStringLiteral("Density %1").arg(double(pick.density), 0, 'f', 0);
    if (hounsfield) {
        text += QStringLiteral(" (%1 HU)").arg(double(pick.density) - 1024.0, 0, 'f', 0);
    }
    text += QStringLiteral(" at %1, %2, %3 %4")
                .arg(double(at.x), 0, 'f', 1)
                .arg(double(at.y), 0, 'f', 1)
                .arg(double(at.z), 0, 'f', 1)
                .arg(millimetres ? QStringLiteral("mm") : QStringLiteral("voxels"));
    if (!pick.shows) {
        text += QStringLiteral(", the densest along the ray (nothing shows there)");
    }
    return text;
}
