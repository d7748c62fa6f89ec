// Mode strings into FramebufferObject's constructor. No GL context exists
// here and GLEW is not initialised, so construction or destruction of a
// never-initialised object that reaches a framebuffer or program entry point
// calls through a null pointer and is found.
#include "tests/fbo/FramebufferObjectFields.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using I = FramebufferObjectInspector;

// Every field the parser may write, and the ones it must not touch.
std::vector<long> state(FramebufferObject& f) {
    return {long(I::colorMode(f)),           I::everInitialized(f),     I::initialized(f),
            I::hasColor(f),                  I::colorIsTexture(f),      I::hasDepth(f),
            I::depthIsTexture(f),            I::hasStencil(f),          I::stencilIsTexture(f),
            long(I::colorFormat(f)),         long(I::colorInternalFormat(f)), long(I::depthFormat(f)),
            long(I::depthInternalFormat(f)), long(I::colorType(f)),     long(I::depthType(f)),
            long(I::wrapS(f)),               long(I::wrapT(f)),         long(I::minFilter(f)),
            long(I::magFilter(f)),           long(I::framebufferID(f)), I::colorAttachmentCount(f),
            I::maxDrawBuffers(f),            long(I::depthAttachmentID(f)),
            long(I::passThroughProgramID(f)), I::passThroughProgramCreated(f),
            I::needsPassThroughProgram(f),   long(f.textureTarget),     long(f.getWidth()),
            long(f.getHeight())};
}

[[noreturn]] void failed(const char* what, const char* mode) {
    std::fprintf(stderr, "mode string \"%s\": %s\n", mode, what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly as long as the string, so reading past its NUL is caught.
    std::vector<char> mode(data, data + size);
    mode.push_back('\0');
    const std::vector<char> before = mode;

    FramebufferObject first(mode.data());
    if (mode != before) failed("the parser wrote into the caller's text", mode.data());

    const std::vector<long> once = state(first);
    // initialize and the destructor index the 16 attachment names by this.
    const int count = I::colorAttachmentCount(first);
    if (count < 1 || count > 16) failed("attachment count outside 1..16", mode.data());
    if (I::colorMode(first) < FramebufferObject::RGB8 || I::colorMode(first) > FramebufferObject::RGBA32F)
        failed("colour mode outside the enumeration", mode.data());

    // Another object from the same text describes the same target: nothing
    // read is left uninitialised, nothing is kept between objects.
    FramebufferObject second(mode.data());
    if (state(second) != once) failed("two objects from one mode differ", mode.data());

    // Each field ends as its last assignment, so parsing again changes nothing.
    I::parse(second, mode.data());
    if (state(second) != once) failed("parsing the same mode twice changed the description", mode.data());

    // The split the parser uses: the key stops before the first '=' and the
    // two halves rebuild the token.
    const std::string text(mode.data());
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::string token = text.substr(start, end - start);
        const auto [key, value] = I::split(token);
        const bool hasEquals = token.find('=') != std::string::npos;
        if (key.find('=') != std::string::npos || key + (hasEquals ? "=" : "") + value != token)
            failed("splitKeyValue does not rebuild a token", mode.data());
        start = end + 1;
    }
    return 0;
}
