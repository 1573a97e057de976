#pragma once

#include <QString>

#include <functional>

class Viewer;

// What a movie shows and how: its frames, their rate and size, and whether
// the view orbits or the clipping plane sweeps through the volume.
struct MovieOptions {
    int frames = 120;
    int fps = 30;
    int width = 0;
    int height = 0;
    bool sweep = false;
};

// Makes a movie of the viewer's view, each frame drawn as PictureMaker draws
// a picture and written by MovieWriter. An orbit turns the view as it is by
// 360 k / N degrees in frame k of N about the screen's vertical axis, as a
// horizontal drag (ViewControl::Turn) would. A sweep keeps the view and
// moves the clipping plane across the volume, from keeping nearly all of it
// to nearly none. The view is left as it was.
class MovieMaker {
public:
    // Told of the frames done before each frame and once all are done;
    // false stops the movie.
    using Progress = std::function<bool(int done, int total)>;

    // Writes the movie to path; false where it failed or was stopped, and
    // then no file is left. cancelled tells a stop from a failure, which
    // error names in one line that follows the file's name.
    bool Make(Viewer& viewer, const MovieOptions& options, const QString& path, const Progress& progress = {});

    // The orbit's turn of frame k of N, in degrees.
    static float OrbitAngle(int k, int frames) { return 360.0f * float(k) / float(frames); }
    // The sweep's plane distance in frame k of N, where the plane's distance
    // across the box runs from -reach to reach.
    static float SweepDistance(int k, int frames, float reach)
    {
        return reach * (1.0f - 2.0f * (float(k) + 0.5f) / float(frames));
    }

    QString error;
    bool cancelled = false;
};
