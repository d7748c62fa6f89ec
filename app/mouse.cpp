#include "app/app.h"
#include "app/globals.h"
#include "heat/heat.h"

#include <GL/freeglut.h>

#include <climits>
#include <cmath>

namespace {

// Rounds down, the same as truncation for every pixel inside the window; a
// quotient beyond int's range (a tiny window, a far-off pointer) saturates
// instead of being undefined.
int floorToInt(double value) {
    value = std::floor(value);
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(value);
}

void stampUnderPointer(int x, int y) {
    // Before the first frame there are no buffers or programs to stamp with.
    // The first frame creates them all in one display call, which no mouse
    // callback can interrupt.
    if (!buffersInitialized) return;
    int cellX, cellY;
    if (cellForPixel(x, y, &cellX, &cellY)) applyHeat(cellX, cellY);
}

}  // namespace

bool cellForPixel(int x, int y, int* cellX, int* cellY) {
    if (windowWidth <= 0 || windowHeight <= 0) return false;
    // Rows flip: GLUT counts them from the top, the grid from the bottom.
    *cellX = floorToInt(static_cast<double>(gridWidth) * x / windowWidth);
    *cellY = floorToInt(static_cast<double>(gridHeight) *
                           (static_cast<double>(windowHeight) - y - 1) / windowHeight);
    return true;
}

void mouse(int button, int state, int x, int y) {
    if (button != GLUT_LEFT_BUTTON) return;
    if (state == GLUT_DOWN) {
        ++mouseButtonsDown;
        stampUnderPointer(x, y);
    } else {
        --mouseButtonsDown;
    }
}

void motion(int x, int y) {
    if (mouseButtonsDown != 0) stampUnderPointer(x, y);
}
