// heat2d's command line: --help, and GLUT's own options, which glutInit
// takes off argv later.
#pragma once

// -1 to go on and open the window; otherwise the status to exit with, the
// usage or the complaint already printed.
int readCommandLine(int argc, char** argv);

// Whether the X display the window would open on (-display, else DISPLAY)
// can be opened; when it cannot, says so in one line on standard error.
bool xDisplayReachable(int argc, char** argv);
