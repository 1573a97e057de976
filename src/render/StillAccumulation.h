#pragma once

class Display;

// Lets the picture of a view at rest converge. Its first frame is drawn as
// any other; then frames at a finer step, each with its samples at another
// offset within that step, are averaged into a float texture of the panel's
// size, and the average is what the panel shows. Averaging alone would keep
// the error of the coarse step where the light meets a surface (it lands on
// average half a step deep); the finer step removes most of it, the offsets
// the grain. Once enough frames are in, the average is shown without drawing
// another.
class StillAccumulation {
public:
    // The finer step divides the step by refinement; as many frames at
    // evenly spread offsets are averaged.
    static constexpr int refinement = 4;
    static constexpr int refinedFrames = 4;

    // Starts again from no frame: the view or what it shows has changed.
    void Reset() { frames = 0; }
    int Frames() const { return frames; }
    bool Converged() const { return frames > refinedFrames; }
    // The step of the next frame, as a share of the step set.
    float StepShare() const { return frames == 0 ? 1.0f : 1.0f / float(refinement); }
    // The sample offset, a share of the next frame's step: 0 first, then the
    // shares k / refinedFrames in an order that spreads the first frames.
    float NextOffset() const;
    // Adds the frame in the back buffer to the average and puts the average
    // in its place.
    void Add(Display& display);
    // Puts the average in the back buffer.
    void Show(Display& display);
    // Frees the textures and the framebuffer; the context must be current.
    void Release();

private:
    void DrawTexture(unsigned int texture, bool blend, float weight);

    int frames = 0;
    int width = 0;
    int height = 0;
    unsigned int frameTexture = 0;
    unsigned int sumTexture = 0;
    unsigned int framebuffer = 0;
};
