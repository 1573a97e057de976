#pragma once

// Qt ends the process when it cannot connect to the X display, and Xvfb now
// and then resets a new client's connection while it is being set up. After
// this call, a process that loses its display connection that way starts
// again, in the environment it had here, after a short pause, up to twice;
// the third loss ends it as before. Call it first in main.
void RetryLostDisplay(char** argv);
