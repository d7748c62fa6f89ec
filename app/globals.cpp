#include "app/globals.h"

// ---- Global state, in the order the program first uses it ----------------
// Size of the temperature field in cells; fixed after start-up.
int gridWidth = 64;
int gridHeight = 64;
// Client area of the window in pixels, as last passed to reshape.
int windowWidth = 640;
int windowHeight = 480;
// Identifier of the one window, for leaving full screen.
int windowId = 0;
// Whether the last "f" asked for full screen.
bool fullscreen = false;
// The two ping-pong fields; GL objects are created on the first frame.
FramebufferObject heatBuffers[2];
// Index of the buffer the next pass writes; the other holds the newest field.
int currentBuffer = 0;
// Set once the first frame has created the buffers, whatever the outcome.
bool buffersInitialized = false;
// Left presses minus left releases; motion paints while it is not zero.
int mouseButtonsDown = 0;
// Seconds since the readout was last updated; the heat step's time base.
float frameSeconds = 0.0f;
// Frames counted in the current measuring window.
int frameCount = 0;
// Elapsed-time reading at which the current measuring window began, in ms.
int timeBase = 0;
// Elapsed-time reading of the latest frame, in ms.
int currentTime = 0;
// The frame-rate readout; empty until the first measuring window closes.
char fpsText[32] = "";
