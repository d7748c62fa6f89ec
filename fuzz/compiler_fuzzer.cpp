// Source text into the shading-language compiler. Whatever it accepts must
// also be accepted by Mesa's own ARB fragment-program parser: a program we
// generate that GL rejects would fail only at load time, as a GL error the
// user cannot trace to a line of the source. The GL check runs on a pbuffer
// context when DISPLAY is set (scripts/fuzz.sh starts Xvfb for it).
#include "cg/compiler.h"

#include <GL/glew.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace {

const char kName[] = "fuzz.cg";

GLuint glProgram = 0;  // zero: compiler alone

bool startGL() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        std::fprintf(stderr, "compiler fuzzer: DISPLAY not set, Mesa's check of the output is off\n");
        return false;
    }
    Display* x = XOpenDisplay(display);
    if (!x) {
        std::fprintf(stderr, "compiler fuzzer: cannot open display %s\n", display);
        std::exit(1);
    }
    const int attributes[] = {GLX_DRAWABLE_TYPE, GLX_PBUFFER_BIT, GLX_RENDER_TYPE, GLX_RGBA_BIT, None};
    int count = 0;
    GLXFBConfig* configs = glXChooseFBConfig(x, DefaultScreen(x), attributes, &count);
    if (!configs || count == 0) {
        std::fprintf(stderr, "compiler fuzzer: no pbuffer configuration on %s\n", display);
        std::exit(1);
    }
    const int size[] = {GLX_PBUFFER_WIDTH, 16, GLX_PBUFFER_HEIGHT, 16, None};
    GLXPbuffer surface = glXCreatePbuffer(x, configs[0], size);
    GLXContext context = glXCreateNewContext(x, configs[0], GLX_RGBA_TYPE, nullptr, True);
    if (!context || !glXMakeContextCurrent(x, surface, surface, context) || glewInit() != GLEW_OK ||
        !GLEW_ARB_fragment_program) {
        std::fprintf(stderr, "compiler fuzzer: no GL context with ARB fragment programs on %s\n", display);
        std::exit(1);
    }
    XFree(configs);
    glGenProgramsARB(1, &glProgram);
    glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, glProgram);
    std::fprintf(stderr, "compiler fuzzer: checking output with %s\n",
                 reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    return true;
}

[[noreturn]] void failed(const char* what, const cgc::Compiled& out, const char* detail = "") {
    std::fprintf(stderr, "compiler fault: %s%s\n--- error: %s\n--- text:\n%s---\n", what, detail, out.error.c_str(),
                 out.text.c_str());
    std::abort();
}

bool startsWith(const std::string& s, const char* prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

bool endsWith(const std::string& s, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

void checkError(const cgc::Compiled& out) {
    if (out.error.empty()) failed("rejected without a message", out);
    if (!out.text.empty() || !out.parameters.empty()) failed("rejected, yet text or parameters are left", out);
    if (!startsWith(out.error, "fuzz.cg:") || out.error.find(": error: ") == std::string::npos)
        failed("the message does not name the place", out);
    // One printable line: it is shown as is on the program's standard output.
    for (unsigned char c : out.error)
        if (c < 0x20 || c > 0x7e) failed("the message is not one printable line", out);
}

void checkProgram(const cgc::Compiled& out) {
    if (!out.error.empty()) failed("accepted with a message", out);
    if (!startsWith(out.text, "!!ARBfp1.0\n") || !endsWith(out.text, "END\n"))
        failed("text is not one ARB fragment program", out);
    std::set<std::string> names;
    int samplers = 0, locals = 0;
    for (const cgc::ParameterInfo& p : out.parameters) {
        if (!names.insert(p.name).second) failed("a parameter name repeats", out);
        // Samplers and numbers take slots in declaration order, each from zero.
        const bool sampler = p.kind == cgc::ParameterInfo::Sampler;
        if (p.slot != (sampler ? samplers++ : locals++)) failed("parameter slots are not in order", out);
        if (!sampler && (p.components < 1 || p.components > 4))
            failed("a parameter has an impossible type", out);
    }
    if (!glProgram) return;
    glProgramStringARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_FORMAT_ASCII_ARB, GLsizei(out.text.size()),
                       out.text.data());
    GLint position = 0;
    glGetIntegerv(GL_PROGRAM_ERROR_POSITION_ARB, &position);
    const GLenum error = glGetError();
    if (position != -1 || error != GL_NO_ERROR) {
        std::string why = " (GL error 0x";
        char hex[16];
        std::snprintf(hex, sizeof hex, "%x", error);
        why += hex;
        why += ", position " + std::to_string(position) + ": ";
        const GLubyte* text = glGetString(GL_PROGRAM_ERROR_STRING_ARB);
        why += text ? reinterpret_cast<const char*>(text) : "";
        why += ")";
        failed("Mesa rejects the generated program", out, why.c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    startGL();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* source = reinterpret_cast<const char*>(data);
    const cgc::Compiled out = cgc::compile(source, size, kName);
    if (out.ok) checkProgram(out);
    else checkError(out);

    // Nothing read uninitialised, nothing kept from one compile to the next.
    const cgc::Compiled again = cgc::compile(source, size, kName);
    bool same = again.ok == out.ok && again.text == out.text && again.error == out.error &&
                again.parameters.size() == out.parameters.size();
    for (std::size_t i = 0; same && i < out.parameters.size(); ++i) {
        const cgc::ParameterInfo &a = out.parameters[i], &b = again.parameters[i];
        same = a.name == b.name && a.kind == b.kind && a.target == b.target && a.components == b.components && a.slot == b.slot;
    }
    if (!same) failed("two compiles of one text differ", out);
    return 0;
}
