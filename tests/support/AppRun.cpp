#include "tests/support/AppRun.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef HEAT2D_BINARY
#error "HEAT2D_BINARY must name the heat2d executable"
#endif

void sleepSeconds(double seconds) {
    timespec ts{static_cast<time_t>(seconds), static_cast<long>((seconds - static_cast<time_t>(seconds)) * 1e9)};
    nanosleep(&ts, nullptr);
}

std::string runCommand(const std::string& command, int* status) {
    std::string result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        if (status) *status = -1;
        return result;
    }
    char buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.append(buffer, n);
    const int rc = pclose(pipe);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return result;
}

namespace {

// The visible windows titled as the program's, whoever made them.
std::vector<unsigned long> programWindows() {
    std::istringstream ids(runCommand("xdotool search --onlyvisible --name '^2D Heat Equation$' 2>/dev/null"));
    std::vector<unsigned long> windows;
    for (unsigned long id; ids >> id;) windows.push_back(id);
    return windows;
}

std::string shaderInstalledBesideBinary() {
    const std::string binary = HEAT2D_BINARY;
    return binary.substr(0, binary.rfind('/') + 1) + "HeatShader.cg";
}

void copyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + from);
    std::ofstream(to, std::ios::binary) << in.rdbuf();
}

}  // namespace

std::string installedShaderText() {
    std::ifstream in(shaderInstalledBesideBinary(), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + shaderInstalledBesideBinary());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

AppRun::AppRun() : AppRun(Options()) {}

AppRun::AppRun(const Options& options) {
    char pattern[] = "/tmp/heat2d-run-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    dir_ = runDir_ = pattern;
    if (options.shader == Shader::Installed) copyFile(shaderInstalledBesideBinary(), dir_ + "/HeatShader.cg");
    if (options.shader == Shader::Custom) std::ofstream(dir_ + "/HeatShader.cg", std::ios::binary) << options.shaderText;
    if (options.shader == Shader::Fifo && mkfifo((dir_ + "/HeatShader.cg").c_str(), 0600) != 0)
        throw std::runtime_error("mkfifo failed");
    if (options.shader == Shader::Linked) {
        runDir_ = dir_ + "/build";
        if (mkdir((dir_ + "/shaders").c_str(), 0700) != 0 || mkdir(runDir_.c_str(), 0700) != 0 ||
            symlink("../shaders/HeatShader.cg", (runDir_ + "/HeatShader.cg").c_str()) != 0)
            throw std::runtime_error("cannot lay out " + dir_);
        std::ofstream(linkedShaderPath(), std::ios::binary) << options.shaderText;
    }

    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    // No stdbuf: the program line-buffers its output itself, and the tests
    // that read lines while it runs rely on exactly that.
    std::vector<std::string> args = options.wrapper;
    args.push_back(HEAT2D_BINARY);
    args.insert(args.end(), options.arguments.begin(), options.arguments.end());

    pid_ = fork();
    if (pid_ == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        if (chdir(runDir_.c_str()) != 0) _exit(126);
        for (const std::string& entry : options.environment) putenv(strdup(entry.c_str()));
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    outFd_ = fds[0];
    fcntl(outFd_, F_SETFL, O_NONBLOCK);
}

AppRun::~AppRun() {
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    // The server destroys the window a moment after the process has gone;
    // until then the next run's search for its own window would find this one.
    if (window_ != 0) {
        waitUntil(
            [&] {
                const std::vector<unsigned long> windows = programWindows();
                return std::find(windows.begin(), windows.end(), window_) == windows.end();
            },
            5);
    }
    if (outFd_ >= 0) close(outFd_);
    runCommand("rm -rf '" + dir_ + "'");
}

void AppRun::drainPipe() {
    char buffer[4096];
    for (ssize_t n; (n = read(outFd_, buffer, sizeof buffer)) > 0;) out_.append(buffer, static_cast<size_t>(n));
}

std::string AppRun::output() {
    drainPipe();
    return out_;
}

bool AppRun::waitForOutput(const std::string& text, double seconds) {
    return waitUntil([&] { return output().find(text) != std::string::npos; }, seconds);
}

std::vector<std::string> AppRun::outputLines() {
    std::vector<std::string> lines;
    std::istringstream in(output());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool AppRun::running() {
    if (exited_) return false;
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        exited_ = true;
        if (WIFEXITED(status)) status_ = WEXITSTATUS(status);
        else if (WIFSIGNALED(status)) status_ = -2, signal_ = WTERMSIG(status);
        drainPipe();
        return false;
    }
    return true;
}

int AppRun::waitForExit(double seconds) {
    if (!waitUntil([&] { return !running(); }, seconds)) return -1;
    return status_;
}

unsigned long AppRun::waitForWindow(double seconds) {
    waitUntil(
        [&] {
            if (!running()) return true;
            const std::vector<unsigned long> windows = programWindows();
            window_ = windows.empty() ? 0 : windows.front();
            return window_ != 0;
        },
        seconds);
    return window_;
}

WindowGeometry AppRun::geometry() const {
    WindowGeometry g;
    const std::string info = runCommand("xwininfo -id " + std::to_string(window_) + " 2>/dev/null");
    auto field = [&](const char* name) {
        const size_t at = info.find(name);
        return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + std::strlen(name));
    };
    g.x = field("Absolute upper-left X:");
    g.y = field("Absolute upper-left Y:");
    g.width = field("Width:");
    g.height = field("Height:");
    return g;
}

Screenshot AppRun::screenshot() const {
    // xwd is quick (no conversion), which matters: the field changes fast.
    Screenshot shot;
    const std::string xwd = runCommand("xwd -silent -id " + std::to_string(window_) + " 2>/dev/null");
    auto field = [&](int i) -> uint32_t {
        if (xwd.size() < 4u * (i + 1)) return 0;
        const auto* p = reinterpret_cast<const unsigned char*>(xwd.data()) + 4 * i;
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    };
    const uint32_t headerSize = field(0), format = field(2), width = field(4), height = field(5),
                   byteOrder = field(7), bitsPerPixel = field(11), bytesPerLine = field(12),
                   masks[3] = {field(14), field(15), field(16)}, colors = field(19);
    const size_t data = size_t(headerSize) + size_t(colors) * 12;
    // ZPixmap, 32 bits a pixel, as a 24-bit TrueColor X server gives.
    if (format != 2 || bitsPerPixel != 32 || width == 0 || xwd.size() < data + size_t(bytesPerLine) * height)
        return shot;
    shot.width = int(width);
    shot.height = int(height);
    shot.rgb.resize(size_t(width) * height * 3);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const auto* q = reinterpret_cast<const unsigned char*>(xwd.data()) + data + size_t(y) * bytesPerLine + 4 * x;
            const uint32_t pixel = byteOrder == 0 ? uint32_t(q[0]) | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16 | uint32_t(q[3]) << 24
                                                  : uint32_t(q[3]) | uint32_t(q[2]) << 8 | uint32_t(q[1]) << 16 | uint32_t(q[0]) << 24;
            for (int c = 0; c < 3; ++c) {
                uint32_t v = pixel & masks[c], m = masks[c];
                while (m && !(m & 1)) v >>= 1, m >>= 1;
                shot.rgb[(size_t(y) * width + x) * 3 + c] = static_cast<unsigned char>(v);
            }
        }
    return shot;
}

void AppRun::xdotool(const std::string& commands) {
    runCommand("xdotool " + commands);
}

void AppRun::clicks(int x, int y, int count, int button) {
    xdotool("mousemove --window " + std::to_string(window_) + " " + std::to_string(x) + " " + std::to_string(y) +
            " click --repeat " + std::to_string(count) + " --delay 1 " + std::to_string(button));
}

void AppRun::drag(const std::vector<std::pair<int, int>>& path, int button) {
    if (path.empty()) return;
    auto move = [&](const std::pair<int, int>& p) {
        return " mousemove --window " + std::to_string(window_) + " " + std::to_string(p.first) + " " +
               std::to_string(p.second);
    };
    std::string commands = move(path.front()) + " mousedown " + std::to_string(button);
    for (size_t i = 1; i < path.size(); ++i) commands += move(path[i]);
    xdotool(commands + " mouseup " + std::to_string(button));
}

void AppRun::key(const std::string& keysym) {
    // No window manager to give the window focus, and other clients' windows
    // come and go: focus it explicitly, as a user's click would.
    const std::string w = std::to_string(window_);
    runCommand("xdotool mousemove --window " + w + " 1 1 windowfocus --sync " + w + " key " + keysym);
}

void AppRun::moveTo(int x, int y) {
    runCommand("xdotool mousemove --window " + std::to_string(window_) + " " + std::to_string(x) + " " +
               std::to_string(y));
}

void AppRun::click(int x, int y, int button) {
    moveTo(x, y);
    runCommand("xdotool click " + std::to_string(button));
}

void AppRun::press(int x, int y, int button) {
    moveTo(x, y);
    runCommand("xdotool mousedown " + std::to_string(button));
}

void AppRun::release(int button) { runCommand("xdotool mouseup " + std::to_string(button)); }

void AppRun::requestClose() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window_;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window_, False, NoEventMask, &event);
    XFlush(display);
    XCloseDisplay(display);
}

void AppRun::sendUnpairedRelease(int x, int y) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return;
    XEvent event{};
    event.xbutton.type = ButtonRelease;
    event.xbutton.window = window_;
    event.xbutton.root = DefaultRootWindow(display);
    event.xbutton.x = x;
    event.xbutton.y = y;
    event.xbutton.button = Button1;
    event.xbutton.state = Button1Mask;
    event.xbutton.same_screen = True;
    XSendEvent(display, window_, False, ButtonReleaseMask, &event);
    XFlush(display);
    XCloseDisplay(display);
}

void AppRun::resize(int width, int height) {
    runCommand("xdotool windowsize " + std::to_string(window_) + " " + std::to_string(width) + " " +
               std::to_string(height));
}
