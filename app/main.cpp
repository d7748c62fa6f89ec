#include "app/app.h"

#include <GL/freeglut.h>

int main(int argc, char** argv) {
    initGLUT(argc, argv);
    printStartupLines();
    glutMainLoop();
    return 0;  // freeglut's loop only returns if told to; the normal way out is exit()
}
