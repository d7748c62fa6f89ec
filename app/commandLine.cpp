#include "app/commandLine.h"

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "usage: heat2d [-h | --help] [GLUT options]\n"
    "Solves the 2-D heat equation on the GPU and shows the field in a window;\n"
    "hold the left mouse button to heat the cell under the pointer.\n"
    "\n"
    "Keys:\n"
    "  f        toggle full screen (leaving it gives a 640 x 480 window)\n"
    "  r        clear the field and stamp the face again\n"
    "  Escape   quit\n"
    "\n"
    "The heat step is the file HeatShader.cg, read at start-up from the working\n"
    "directory and again at each save while heat2d runs; build/ holds a link to\n"
    "shaders/HeatShader.cg. heat2d-cg, built beside heat2d, checks an edit\n"
    "without a window: ./heat2d-cg HeatShader.cg\n"
    "\n"
    "GLUT options: -display DISPLAY, -geometry WxH+X+Y, -iconic, -direct,\n"
    "-indirect, -gldebug, -sync. heat2d needs an X display (DISPLAY).\n";

// GLUT's options, and whether each takes the next argument.
struct GlutOption {
    const char* name;
    bool takesValue;
};
const GlutOption kGlutOptions[] = {{"-display", true}, {"-geometry", true}, {"-iconic", false}, {"-direct", false},
                                   {"-indirect", false}, {"-gldebug", false}, {"-sync", false}};

int complain(const std::string& what) {
    std::fprintf(stderr, "heat2d: %s\n%s", what.c_str(), kUsage);
    return 2;
}

}  // namespace

int readCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        const GlutOption* glut = nullptr;
        for (const GlutOption& o : kGlutOptions)
            if (arg == o.name) glut = &o;
        if (glut) {
            if (glut->takesValue && ++i == argc) return complain(arg + " needs a value");
            continue;
        }
        if (!arg.empty() && arg[0] == '-') return complain("unknown option '" + arg + "'");
        return complain("unexpected argument '" + arg + "'; heat2d takes no file");
    }
    return -1;
}

bool xDisplayReachable(int argc, char** argv) {
    const char* name = nullptr;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-display") == 0) name = argv[i + 1];
    const char* from = name ? "-display" : "DISPLAY";
    if (!name) name = std::getenv("DISPLAY");
    if (!name || !*name) {
        std::fprintf(stderr, "heat2d: needs an X display, and DISPLAY is unset\n");
        return false;
    }
    // Asked here, before glutInit, whose own failure is two lines and an abort.
    Display* display = XOpenDisplay(name);
    if (!display) {
        std::fprintf(stderr, "heat2d: needs an X display, and %s '%s' cannot be opened\n", from, name);
        return false;
    }
    XCloseDisplay(display);
    return true;
}
