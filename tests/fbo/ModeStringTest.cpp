// The mode-string grammar, the key/value split and the status lines: no GL
// context is needed, none of these make a GL call.
#include "tests/fbo/FramebufferObjectFields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <sstream>
#include <string>

namespace {

using I = FramebufferObjectInspector;

std::string glName(GLenum e) {
    switch (e) {
        case GL_RGB: return "RGB";
        case GL_RGBA: return "RGBA";
        case GL_RGB16F_ARB: return "RGB16F";
        case GL_RGB32F_ARB: return "RGB32F";
        case GL_RGBA16F_ARB: return "RGBA16F";
        case GL_RGBA32F_ARB: return "RGBA32F";
        case GL_UNSIGNED_BYTE: return "UNSIGNED_BYTE";
        case GL_HALF_FLOAT_ARB: return "HALF_FLOAT";
        case GL_FLOAT: return "FLOAT";
        case GL_LINEAR: return "LINEAR";
        case GL_NEAREST: return "NEAREST";
        case GL_DEPTH_COMPONENT16: return "DEPTH16";
        case GL_DEPTH_COMPONENT24: return "DEPTH24";
        case GL_DEPTH_COMPONENT32: return "DEPTH32";
    }
    std::ostringstream out;
    out << "0x" << std::hex << e;
    return out.str();
}

const char* colorModeName(FramebufferObject::ColorMode m) {
    static const char* const names[] = {"RGB8", "RGB16F", "RGB32F", "RGBA8", "RGBA16F", "RGBA32F"};
    return m >= 0 && m < 6 ? names[m] : "?";
}

// Every field a mode string can write, on one line, so a table row reads as
// the description and a failure shows the whole difference at once.
std::string describe(FramebufferObject& f) {
    std::ostringstream out;
    out << colorModeName(I::colorMode(f)) << " color=" << I::hasColor(f) << " tex=" << I::colorIsTexture(f) << ' '
        << glName(I::colorFormat(f)) << '/' << glName(I::colorInternalFormat(f)) << ' ' << glName(I::colorType(f))
        << ' ' << glName(I::minFilter(f)) << '/' << glName(I::magFilter(f)) << " x" << I::colorAttachmentCount(f)
        << " pass=" << I::needsPassThroughProgram(f) << " | depth=" << I::hasDepth(f)
        << " tex=" << I::depthIsTexture(f) << ' ' << glName(I::depthInternalFormat(f))
        << " | stencil=" << I::hasStencil(f) << " tex=" << I::stencilIsTexture(f);
    return out.str();
}

// What construction with an empty mode leaves.
const char* const untouched =
    "RGBA8 color=0 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0";
const char* const rgba16t =
    "RGBA16F color=1 tex=1 RGBA/RGBA16F HALF_FLOAT LINEAR/LINEAR x1 pass=1 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0";

struct ParseCase {
    const char* mode;
    const char* expected;
};

const ParseCase parseCases[] = {
    {nullptr, untouched},
    {"", untouched},
    {"   ", untouched},
    {"rgba=16t", rgba16t},
    {"  rgba=16t   ", rgba16t},
    {"rgba=16t a=b=c", rgba16t},
    {"RGBA=16t", untouched},
    {"rgbaa=16t", untouched},
    {"color=16t", untouched},
    {"rgba\t=16t", untouched},
    // A tab does not separate: "depth" is part of the colour value here.
    {"rgba=16t\tdepth", rgba16t},
    {"rgba", "RGBA8 color=1 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"rgba=", "RGBA8 color=1 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"rgba=t", "RGBA8 color=1 tex=1 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"rgb", "RGB8 color=1 tex=0 RGB/RGB UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"rgb=t", "RGB8 color=1 tex=1 RGB/RGB UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"rgb=16t", "RGB16F color=1 tex=1 RGB/RGB16F HALF_FLOAT LINEAR/LINEAR x1 pass=1 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"rgb=32t", "RGB32F color=1 tex=1 RGB/RGB32F FLOAT NEAREST/NEAREST x1 pass=1 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"rgba=32t", "RGBA32F color=1 tex=1 RGBA/RGBA32F FLOAT NEAREST/NEAREST x1 pass=1 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"rgba=t16", "RGBA16F color=1 tex=1 RGBA/RGBA16F HALF_FLOAT LINEAR/LINEAR x1 pass=1 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    // "32" is looked at after "16".
    {"rgba=3216t", "RGBA32F color=1 tex=1 RGBA/RGBA32F FLOAT NEAREST/NEAREST x1 pass=1 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"rgba=t4x", "RGBA8 color=1 tex=1 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x4 pass=0 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"rgba=16x", "RGBA16F color=1 tex=0 RGBA/RGBA16F HALF_FLOAT LINEAR/LINEAR x16 pass=1 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"rgba=32x", "RGBA32F color=1 tex=0 RGBA/RGBA32F FLOAT NEAREST/NEAREST x2 pass=1 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"rgba=32t2x", "RGBA32F color=1 tex=1 RGBA/RGBA32F FLOAT NEAREST/NEAREST x2 pass=1 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"rgba=12x", "RGBA8 color=1 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x12 pass=0 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"rgba=1x", "RGBA8 color=1 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"rgba=t9x", "RGBA8 color=1 tex=1 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x9 pass=0 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    // Two-digit counts are searched first, whatever their place in the value.
    {"rgba=2x10x", "RGBA8 color=1 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x10 pass=0 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"rgb=3x15x", "RGB8 color=1 tex=0 RGB/RGB UNSIGNED_BYTE LINEAR/LINEAR x15 pass=0 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"rgb=32t rgba", "RGBA8 color=1 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x1 pass=1 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"rgba=t4x rgba=t", "RGBA8 color=1 tex=1 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x4 pass=0 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"depth", "RGBA8 color=0 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=1 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"depth=16", "RGBA8 color=0 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=1 tex=0 DEPTH16 | stencil=0 tex=0"},
    {"depth=24t", "RGBA8 color=0 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=1 tex=1 DEPTH24 | stencil=0 tex=0"},
    {"depth=32", "RGBA8 color=0 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=1 tex=0 DEPTH32 | stencil=0 tex=0"},
    {"depth=16 depth=32", "RGBA8 color=0 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=1 tex=0 DEPTH32 | stencil=0 tex=0"},
    {"depth=32 depth", "RGBA8 color=0 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=1 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"depth=1624", "RGBA8 color=0 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=1 tex=0 DEPTH24 | stencil=0 tex=0"},
    {"depth=3216", "RGBA8 color=0 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=1 tex=0 DEPTH32 | stencil=0 tex=0"},
    {"depth=t=16", "RGBA8 color=0 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=1 tex=1 DEPTH16 | stencil=0 tex=0"},
    // The depth rule leaves the pass-through flag and the count alone.
    {"rgba=16t4x depth=32t", "RGBA16F color=1 tex=1 RGBA/RGBA16F HALF_FLOAT LINEAR/LINEAR x4 pass=1 | depth=1 tex=1 DEPTH32 | stencil=0 tex=0"},
    {"stencil", "RGBA8 color=0 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=0 tex=0 DEPTH24 | stencil=1 tex=0"},
    {"stencil=t", "RGBA8 color=0 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=0 tex=0 DEPTH24 | stencil=1 tex=1"},
    {"stencil=16", "RGBA8 color=0 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=0 tex=0 DEPTH24 | stencil=1 tex=0"},
    {"rgb=t depth=16 stencil=t", "RGB8 color=1 tex=1 RGB/RGB UNSIGNED_BYTE LINEAR/LINEAR x1 pass=0 | depth=1 tex=0 DEPTH16 | stencil=1 tex=1"},
};

TEST(FramebufferObjectModeString, constructionAppliesEveryRuleOfTheGrammar) {
    for (const ParseCase& c : parseCases) {
        SCOPED_TRACE(c.mode ? std::string("mode \"") + c.mode + "\"" : std::string("null mode"));
        FramebufferObject f(c.mode);
        EXPECT_EQ(describe(f), c.expected);
        // No token reaches these.
        EXPECT_EQ(f.textureTarget, GLenum(GL_TEXTURE_RECTANGLE_ARB));
        EXPECT_EQ(I::wrapS(f), GLenum(GL_CLAMP_TO_EDGE));
        EXPECT_EQ(I::wrapT(f), GLenum(GL_CLAMP_TO_EDGE));
        EXPECT_EQ(I::depthFormat(f), GLenum(GL_DEPTH_COMPONENT));
        EXPECT_EQ(I::depthType(f), GLenum(GL_UNSIGNED_BYTE));
    }
}

TEST(FramebufferObjectModeString, defaultConstructorDescribesOneHalfFloatTexture) {
    FramebufferObject f;
    EXPECT_EQ(describe(f), rgba16t);
}

TEST(FramebufferObjectModeString, constructionZeroesNamesAndViewportOutsideStaticStorage) {
    // On the stack the storage is not zeroed for us.
    alignas(FramebufferObject) unsigned char storage[sizeof(FramebufferObject)];
    std::memset(storage, 0xA5, sizeof storage);
    FramebufferObject* f = new (storage) FramebufferObject("rgba=16t depth stencil");
    EXPECT_EQ(f->getWidth(), 512u);
    EXPECT_EQ(f->getHeight(), 512u);
    EXPECT_EQ(I::framebufferID(*f), 0u);
    for (int k = 0; k < 16; ++k) EXPECT_EQ(f->getColorAttachmentID(k), 0u) << "attachment " << k;
    EXPECT_EQ(I::maxDrawBuffers(*f), 0);
    EXPECT_EQ(I::depthAttachmentID(*f), 0u);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(I::savedViewport(*f)[k], 0) << "viewport " << k;
    EXPECT_EQ(I::passThroughProgramID(*f), 0u);
    EXPECT_FALSE(I::passThroughProgramCreated(*f));
    EXPECT_FALSE(I::initialized(*f));
    EXPECT_FALSE(I::everInitialized(*f));
    // Never initialised: the destructor must make no GL call, and there is no context here.
    f->~FramebufferObject();
}

struct ReparseCase {
    const char* first;
    const char* second;
    const char* expected;
};

TEST(FramebufferObjectModeString, reparsingResetsOnlyThePresenceFlags) {
    const ReparseCase cases[] = {
        {"rgba=32t4x", "depth=24t",
         "RGBA32F color=0 tex=1 RGBA/RGBA32F FLOAT NEAREST/NEAREST x4 pass=0 | depth=1 tex=1 DEPTH24 | stencil=0 tex=0"},
        {"rgba=16t depth=32t stencil=t", "   ",
         "RGBA16F color=0 tex=1 RGBA/RGBA16F HALF_FLOAT LINEAR/LINEAR x1 pass=0 | depth=0 tex=1 DEPTH32 | stencil=0 tex=1"},
        {"rgba=16t depth=32t stencil=t", nullptr,
         "RGBA16F color=1 tex=1 RGBA/RGBA16F HALF_FLOAT LINEAR/LINEAR x1 pass=1 | depth=1 tex=1 DEPTH32 | stencil=1 tex=1"},
        {"rgba=16t depth=32t stencil=t", "",
         "RGBA16F color=1 tex=1 RGBA/RGBA16F HALF_FLOAT LINEAR/LINEAR x1 pass=1 | depth=1 tex=1 DEPTH32 | stencil=1 tex=1"},
        {"rgba=t8x", "rgba",
         "RGBA8 color=1 tex=0 RGBA/RGBA UNSIGNED_BYTE LINEAR/LINEAR x8 pass=0 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
        {"rgba=16t", "RGBA=32t",
         "RGBA16F color=0 tex=1 RGBA/RGBA16F HALF_FLOAT LINEAR/LINEAR x1 pass=0 | depth=0 tex=0 DEPTH24 | stencil=0 tex=0"},
        {"rgb=32t depth=16", "rgb=16t depth=24t",
         "RGB16F color=1 tex=1 RGB/RGB16F HALF_FLOAT LINEAR/LINEAR x1 pass=1 | depth=1 tex=1 DEPTH24 | stencil=0 tex=0"},
    };
    for (const ReparseCase& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.first + "\" then " + (c.second ? "\"" + std::string(c.second) + "\"" : "null"));
        FramebufferObject f(c.first);
        I::parse(f, c.second);
        EXPECT_EQ(describe(f), c.expected);
    }
}

TEST(FramebufferObjectModeString, parsingLeavesTheCallersTextAlone) {
    char mode[] = "rgba=16t depth=24t stencil";
    const std::string before = mode;
    FramebufferObject f(mode);
    EXPECT_EQ(std::string(mode), before);
}

TEST(FramebufferObjectModeString, splitKeyValueCutsAtTheFirstEqualsSign) {
    const struct {
        const char* token;
        const char* key;
        const char* value;
    } cases[] = {
        {"rgba", "rgba", ""},       {"rgba=", "rgba", ""},   {"rgba=16t", "rgba", "16t"},
        {"a=b=c", "a", "b=c"},      {"=16t", "", "16t"},     {"depth=t=16", "depth", "t=16"},
        {"", "", ""},               {"==", "", "="},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("token \"") + c.token + "\"");
        const auto [key, value] = I::split(c.token);
        EXPECT_EQ(key, c.key);
        EXPECT_EQ(value, c.value);
    }
}

TEST(FramebufferObjectModeString, checkFramebufferStatusPrintsOneLinePerStatus) {
    const struct {
        GLenum status;
        const char* line;
    } cases[] = {
        {0x8CA6, "FramebufferObject ERROR: GL_FRAMEBUFFER_BINDING_EXT\n"},
        {0x8CD5, "FramebufferObject ERROR: GL_FRAMEBUFFER_COMPLETE_EXT\n"},
        {0x8CD6, "FramebufferObject ERROR: GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT_EXT\n"},
        {0x8CD7, "FramebufferObject ERROR: GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT_EXT\n"},
        {0x8CD8, "FramebufferObject ERROR: unidentified error!\n"},
        {0x8CD9, "FramebufferObject ERROR: GL_FRAMEBUFFER_INCOMPLETE_DIMENSIONS_EXT\n"},
        {0x8CDA, "FramebufferObject ERROR: GL_FRAMEBUFFER_INCOMPLETE_FORMATS_EXT\n"},
        {0x8CDB, "FramebufferObject ERROR: GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER_EXT\n"},
        {0x8CDC, "FramebufferObject ERROR: GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER_EXT\n"},
        {0x8CDD, "FramebufferObject ERROR: GL_FRAMEBUFFER_UNSUPPORTED_EXT\n"},
        {0x8CDE, "FramebufferObject ERROR: unidentified error!\n"},
        {0, "FramebufferObject ERROR: unidentified error!\n"},
        {GL_INVALID_ENUM, "FramebufferObject ERROR: unidentified error!\n"},
    };
    FramebufferObject f;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "status 0x" << std::hex << c.status);
        I::lastFramebufferStatus() = c.status;
        testing::internal::CaptureStdout();
        I::checkFramebufferStatus(f);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
    }
}

}  // namespace
