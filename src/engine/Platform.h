#pragma once

// Puts Qt on its X11 platform with GLX before the application object exists:
// GLEW is built for GLX, also on a Wayland desktop. Explicit settings in the
// environment win.
void PreparePlatform();
