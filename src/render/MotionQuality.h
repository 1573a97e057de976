#pragma once

class Display;

// Keeps frames within a time budget while the view moves: such a frame is
// drawn into a corner of the panel at a fraction of its resolution and scaled
// up to fill it. The fraction is chosen from the times of the last frames and
// kept for the next movement; a still view is always drawn at full resolution.
class MotionQuality {
public:
    static constexpr double budgetSeconds = 0.040;
    static constexpr int largestFactor = 8;

    // Called as each frame starts: the time since the last start was the last
    // frame's, drawn at the factor then chosen.
    void FrameStarts(double now);
    // The frames stop for a while: the gap until the next is no frame's time.
    void Pause();
    // The resolution divisor for this frame.
    int Factor(bool moving);
    // Points drawing at the lower-left 1/factor of the panel.
    void Begin(Display& display, int factor);
    // Scales the lower-left part up to the whole panel and restores the panel.
    void End(Display& display);
    // Frees the texture of the scaling; the context must be current.
    void Release();

    // The resolution divisor of moving frames, from the last moving frames.
    int movingFactor = 1;

private:
    bool measured = false;
    double lastStart = 0.0;
    int lastFactor = 1;
    int fullWidth = 0;
    int fullHeight = 0;
    int factor = 1;
    unsigned int texture = 0;
};
