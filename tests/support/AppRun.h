// Runs the real heat2d binary in the X server named by DISPLAY, captures its
// standard output, and drives it with real input events (xdotool, XTEST).
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

struct WindowGeometry {
    int x = 0, y = 0, width = 0, height = 0;
};

// An RGB screenshot of a window, rows from the top.
struct Screenshot {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    const unsigned char* at(int x, int y) const { return &rgb[3 * (static_cast<size_t>(y) * width + x)]; }
};

class AppRun {
public:
    // Custom: shaderText as HeatShader.cg; Fifo: a named pipe in its place,
    // which nobody ever writes; Linked: shaderText in shaders/HeatShader.cg,
    // and the program runs in build/ beside a link to it, as the build lays
    // them out.
    enum class Shader { Installed, Missing, Custom, Fifo, Linked };
    struct Options {
        Shader shader = Shader::Installed;
        std::string shaderText;                // for Shader::Custom
        std::vector<std::string> environment;  // extra NAME=value entries
        std::vector<std::string> wrapper;      // run under this command (e.g. apitrace trace ...)
        std::vector<std::string> arguments;    // heat2d's own command line
    };

    AppRun();
    explicit AppRun(const Options& options);
    ~AppRun();  // kills the program if it is still running, removes its folder
    AppRun(const AppRun&) = delete;
    AppRun& operator=(const AppRun&) = delete;

    // The folder the program runs in (holds HeatShader.cg unless told otherwise).
    const std::string& workDir() const { return runDir_; }
    // The file a Linked run's link points to.
    std::string linkedShaderPath() const { return dir_ + "/shaders/HeatShader.cg"; }

    // Waits for the "2D Heat Equation" window to be mapped; 0 on timeout.
    unsigned long waitForWindow(double seconds = 20);
    unsigned long window() const { return window_; }

    // Everything the program has written to standard output so far.
    std::string output();
    bool waitForOutput(const std::string& text, double seconds);
    std::vector<std::string> outputLines();

    bool running();
    pid_t pid() const { return pid_; }
    // Exit status once the process has ended normally; -1 on timeout, -2 when
    // it died from a signal (signal number in lastSignal()).
    int waitForExit(double seconds);
    int lastSignal() const { return signal_; }

    WindowGeometry geometry() const;
    Screenshot screenshot() const;

    // Input through XTEST, with the pointer over the window (focus follows it).
    void key(const std::string& keysym);
    void moveTo(int x, int y);
    void click(int x, int y, int button = 1);
    void press(int x, int y, int button = 1);
    void release(int button = 1);
    // Several events in one xdotool run, so they arrive within milliseconds.
    void xdotool(const std::string& commands);
    void clicks(int x, int y, int count, int button = 1);
    // Press at the first point, move through the others, release.
    void drag(const std::vector<std::pair<int, int>>& path, int button = 1);
    // A left-button release delivered to the window with no press before it,
    // as when the press went to another window.
    void sendUnpairedRelease(int x, int y);
    // Resizes the window as a user or window manager would.
    void resize(int width, int height);
    // A window manager's close request (WM_DELETE_WINDOW).
    void requestClose();

private:
    void drainPipe();
    std::string dir_, runDir_;
    pid_t pid_ = -1;
    int outFd_ = -1;
    std::string out_;
    unsigned long window_ = 0;
    int status_ = -1, signal_ = 0;
    bool exited_ = false;
};

// The HeatShader.cg the build put beside the program.
std::string installedShaderText();
// text with every occurrence of `from` replaced by `to`.
std::string replaceAll(std::string text, const std::string& from, const std::string& to);

// Runs a shell command, returning its standard output; status in *status.
std::string runCommand(const std::string& command, int* status = nullptr);
// Waits up to `seconds` for predicate() to hold, polling.
template <class Predicate>
bool waitUntil(Predicate predicate, double seconds);
void sleepSeconds(double seconds);

template <class Predicate>
bool waitUntil(Predicate predicate, double seconds) {
    for (double waited = 0; waited < seconds; waited += 0.05) {
        if (predicate()) return true;
        sleepSeconds(0.05);
    }
    return predicate();
}
