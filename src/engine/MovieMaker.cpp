#include "MovieMaker.h"

#include <QImage>

#include <cmath>

#include "MovieWriter.h"
#include "PictureMaker.h"
#include "Viewer.h"
#include "VolumeRenderer.h"

bool MovieMaker::Make(Viewer& viewer, const MovieOptions& options, const QString& path, const Progress& progress)
{
    error.clear();
    cancelled = false;
    if (options.frames < 1 || options.frames > 100000) {
        error = QStringLiteral("a movie has 1 to 100000 frames, not %1").arg(options.frames);
        return false;
    }
    const ViewSettings settings = viewer.Settings();
    if (options.sweep && !settings.cut.clip) {
        error = QStringLiteral("a sweep moves the clipping plane, which is off");
        return false;
    }
    MovieWriter writer;
    if (!writer.Open(path, options.width, options.height, options.fps)) {
        error = writer.error;
        return false;
    }
    PictureMaker maker;
    float reach = 0.0f;
    if (options.sweep) {
        // The plane in the box's coordinates is the one a frame last drew:
        // a picture of a few pixels places it.
        maker.Draw(viewer, 2, 2, false);
        const Vec3 n = viewer.DrawnCut().normal, half = viewer.volumeRenderer->BoxHalfExtents();
        reach = std::fabs(n.x) * half.x + std::fabs(n.y) * half.y + std::fabs(n.z) * half.z;
    }
    const QQuaternion orientation = viewer.viewControl.orientation;
    for (int k = 0; k < options.frames; ++k) {
        if (progress && !progress(k, options.frames)) {
            cancelled = true;
            return false;
        }
        if (options.sweep) {
            ViewSettings next = settings;
            next.cut.distance = SweepDistance(k, options.frames, reach);
            viewer.Apply(next);
        } else {
            viewer.viewControl.Turn(OrbitAngle(k, options.frames), 0.0f);
        }
        const QImage picture = maker.Draw(viewer, options.width, options.height, false);
        viewer.viewControl.orientation = orientation;
        viewer.Apply(settings);
        if (picture.isNull()) {
            error = maker.error;
            return false;
        }
        if (!writer.Add(picture)) {
            error = writer.error;
            return false;
        }
    }
    if (progress && !progress(options.frames, options.frames)) {
        cancelled = true;
        return false;
    }
    if (!writer.Finish()) {
        error = writer.error;
        return false;
    }
    return true;
}
