#include "app/app.h"
#include "app/commandLine.h"

#include <GL/freeglut.h>

#include <cstdio>

int main(int argc, char** argv) {
    // Line by line even into a pipe or a file, so a log has the banner before
    // any error line and keeps what was printed if the process is killed.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    const int status = readCommandLine(argc, argv);
    if (status >= 0) return status;
    if (!xDisplayReachable(argc, argv)) return 1;
    initGLUT(argc, argv);
    printStartupLines();
    glutMainLoop();
    return 0;  // freeglut's loop only returns if told to; the normal way out is exit()
}
