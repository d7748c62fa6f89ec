#include "bench/Startup.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <vector>

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void sleepMilliseconds(long ms) {
    timespec ts{0, ms * 1000000L};
    nanosleep(&ts, nullptr);
}

// Windows come and go while we walk the tree; a stale id is not fatal.
int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

// _NET_WM_PID's value, or -1 where the client does not set it (freeglut 3.4
// does not).
long windowPid(Display* display, Window window) {
    static const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                           &data) == Success &&
        data && format == 32 && count == 1)
        pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
    if (data) XFree(data);
    return pid;
}

bool titled(Display* display, Window window, const char* title) {
    char* name = nullptr;
    const bool match = XFetchName(display, window, &name) && name && std::strcmp(name, title) == 0;
    if (name) XFree(name);
    return match;
}

// The program windows among the root's descendants (a window manager may
// have reparented them).
std::vector<Window> programWindows(Display* display) {
    std::vector<Window> found;
    std::vector<Window> level{DefaultRootWindow(display)};
    for (int depth = 0; depth < 4 && !level.empty(); ++depth) {
        std::vector<Window> next;
        for (Window parent : level) {
            Window root = 0, up = 0, *children = nullptr;
            unsigned count = 0;
            if (!XQueryTree(display, parent, &root, &up, &children, &count)) continue;
            for (unsigned i = 0; i < count; ++i) {
                if (titled(display, children[i], "2D Heat Equation")) found.push_back(children[i]);
                next.push_back(children[i]);
            }
            if (children) XFree(children);
        }
        level.swap(next);
    }
    return found;
}

// Ours is the one with our child's process id, or without an id, the one
// that was not there before the child started.
Window findProgramWindow(Display* display, pid_t pid, const std::vector<Window>& before) {
    for (Window window : programWindows(display)) {
        const long owner = windowPid(display, window);
        if (owner == pid) return window;
        if (owner < 0 && std::find(before.begin(), before.end(), window) == before.end()) return window;
    }
    return 0;
}

bool viewable(Display* display, Window window, XWindowAttributes* attributes) {
    return XGetWindowAttributes(display, window, attributes) && attributes->map_state == IsViewable;
}

unsigned channel(unsigned long pixel, unsigned long mask) {
    if (!mask) return 0;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    const unsigned long value = (pixel & mask) >> shift, maximum = mask >> shift;
    return static_cast<unsigned>(value * 255 / maximum);
}

// The face spans nine cells of 64 around the centre; after the first step
// its cells hold a quarter to a half of a stamp's heat.
bool redInCentre(Display* display, Window window, const XWindowAttributes& attributes) {
    const int width = attributes.width / 4, height = attributes.height / 4;
    if (width <= 0 || height <= 0) return false;
    XImage* image = XGetImage(display, window, (attributes.width - width) / 2, (attributes.height - height) / 2,
                              width, height, AllPlanes, ZPixmap);
    if (!image) return false;
    const Visual* visual = attributes.visual;
    bool red = false;
    for (int y = 0; y < height && !red; ++y)
        for (int x = 0; x < width && !red; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            red = channel(pixel, visual->red_mask) >= 48 && channel(pixel, visual->green_mask) < 32 &&
                  channel(pixel, visual->blue_mask) < 32;
        }
    XDestroyImage(image);
    return red;
}

void endProgram(pid_t pid) {
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        sleepMilliseconds(10);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

}  // namespace

bool measureStartup(const std::string& binary, const std::string& folder, double timeoutSeconds,
                    StartupTimes* times, std::string* why) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        *why = "cannot open the X display";
        return false;
    }
    XSetErrorHandler(ignoreXErrors);
    fcntl(ConnectionNumber(display), F_SETFD, FD_CLOEXEC);

    const std::vector<Window> before = programWindows(display);
    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        if (chdir(folder.c_str()) != 0) _exit(126);
        execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid < 0) {
        XCloseDisplay(display);
        *why = "fork failed";
        return false;
    }

    Window window = 0;
    XWindowAttributes attributes{};
    bool done = false;
    *why = "";
    while (!done) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            *why = "heat2d exited before its face showed (status " + std::to_string(status) + ")";
            XCloseDisplay(display);
            return false;
        }
        if (millisecondsSince(start) > timeoutSeconds * 1000) {
            *why = window ? "no face in heat2d's window" : "no heat2d window";
            break;
        }
        if (!window) {
            const Window found = findProgramWindow(display, pid, before);
            if (found && viewable(display, found, &attributes)) {
                window = found;
                times->windowMs = millisecondsSince(start);
            }
        }
        if (window && viewable(display, window, &attributes) && redInCentre(display, window, attributes)) {
            times->faceMs = millisecondsSince(start);
            done = true;
        }
        if (!done) sleepMilliseconds(2);
    }
    endProgram(pid);
    XCloseDisplay(display);
    return done;
}

}  // namespace bench
