// The program's shared state: one definition each in globals.cpp.
#pragma once

#include "fbo/FramebufferObject.h"

extern int gridWidth;
extern int gridHeight;
extern int windowWidth;
extern int windowHeight;
extern int windowId;
extern bool fullscreen;
extern FramebufferObject heatBuffers[2];
extern int currentBuffer;
extern bool buffersInitialized;
extern int mouseButtonsDown;
extern float frameSeconds;
extern int frameCount;
extern int timeBase;
extern int currentTime;
extern char fpsText[32];
