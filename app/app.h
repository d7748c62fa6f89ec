// The application shell: window, GLUT callbacks, frame loop, mouse painting
// and the frame-rate readout.
#pragma once

void initGLUT(int argc, char** argv);
void printStartupLines();

void display();
void reshape(int width, int height);
void keyboard(unsigned char key, int x, int y);
void special(int key, int x, int y);
void mouse(int button, int state, int x, int y);
void motion(int x, int y);
void idle();

// Deletes both heat buffers' GL objects, buffer 1 first, while the window's
// context is current: at exit and when the window is closed. Safe to repeat.
void releaseHeatBuffers();

// The part of the first frame that creates the buffers and programs and
// stamps the face; display() runs it once.
void setUpFirstFrame();

// Clears both heat buffers and stamps the face again, as the first frame
// does; the `r` key.
void restartField();

// Clears the window and draws the buffer just written stretched over it.
void presentField();

void drawFrameRate();
// The measurement half of drawFrameRate, for a given elapsed-time reading.
void measureFrameRate(int now);

// Window pixel to grid cell, through the current window size, rounding
// toward negative infinity so that pixels outside the window map outside the
// grid. False when the window has no area (minimised), where no cell can be
// named.
bool cellForPixel(int x, int y, int* cellX, int* cellY);
