#include "fbo/FramebufferObject.h"

#include "fbo/glErrorText.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

GLenum FramebufferObject::lastFramebufferStatus = 0;

namespace {

const char passThroughProgramText[] = "!!ARBfp1.0\nMOV result.color, fragment.color.primary;\nEND\n";
const GLsizei passThroughProgramLength = sizeof(passThroughProgramText) - 1;
static_assert(sizeof(passThroughProgramText) - 1 == 57, "the program is passed without its NUL");

// Indexed by ColorMode. The float lists end with their first entry again, so
// that when neither format completes the ARB one is what stays specified.
struct Candidates {
    int count;
    GLenum formats[3];
};
const Candidates colorFormatCandidates[6] = {
    {1, {GL_RGB8}},
    {3, {GL_RGB16F_ARB, GL_FLOAT_RGB16_NV, GL_RGB16F_ARB}},
    {3, {GL_RGB32F_ARB, GL_FLOAT_RGB32_NV, GL_RGB32F_ARB}},
    {1, {GL_RGBA8}},
    {3, {GL_RGBA16F_ARB, GL_FLOAT_RGBA16_NV, GL_RGBA16F_ARB}},
    {3, {GL_RGBA32F_ARB, GL_FLOAT_RGBA32_NV, GL_RGBA32F_ARB}},
};

// Two-digit counts first, so that "12x" is not read as "2x".
struct CountMarker {
    const char* text;
    int count;
};
const CountMarker colorCountMarkers[] = {
    {"10x", 10}, {"11x", 11}, {"12x", 12}, {"13x", 13}, {"14x", 14}, {"15x", 15}, {"16x", 16},
    {"2x", 2},   {"3x", 3},   {"4x", 4},   {"5x", 5},   {"6x", 6},   {"7x", 7},   {"8x", 8},
    {"9x", 9},
};

}  // namespace

FramebufferObject::FramebufferObject() : FramebufferObject("rgba=16t") {}

FramebufferObject::FramebufferObject(const char* mode)
    : colorMode(RGBA8),
      everInitialized(false),
      initialized(false),
      textureTarget(GL_TEXTURE_RECTANGLE_ARB),
      hasColor(false),
      colorIsTexture(false),
      hasDepth(false),
      depthIsTexture(false),
      hasStencil(false),
      stencilIsTexture(false),
      colorFormat(GL_RGBA),
      colorInternalFormat(GL_RGBA),
      depthFormat(GL_DEPTH_COMPONENT),
      depthInternalFormat(GL_DEPTH_COMPONENT24),
      colorType(GL_UNSIGNED_BYTE),
      depthType(GL_UNSIGNED_BYTE),
      wrapS(GL_CLAMP_TO_EDGE),
      wrapT(GL_CLAMP_TO_EDGE),
      minFilter(GL_LINEAR),
      magFilter(GL_LINEAR),
      width(512),
      height(512),
      // Zero for instances outside static storage too (tests, locals).
      framebufferID(0),
      colorAttachmentIDs{},
      colorAttachmentCount(1),
      maxDrawBuffers(0),
      depthAttachmentID(0),
      savedViewport{},
      passThroughProgramID(0),
      passThroughProgramCreated(false),
      needsPassThroughProgram(false) {
    parseModeString(mode);
}

FramebufferObject::~FramebufferObject() { release(); }

void FramebufferObject::release() {
    if (initialized) {
        if (hasColor)
            for (int k = 0; k < colorAttachmentCount; ++k)
                deleteAttachment(colorAttachmentIDs[k], colorIsTexture);
        // The stencil attachment is this same object.
        if (hasDepth) deleteAttachment(depthAttachmentID, depthIsTexture);
        glDeleteFramebuffersEXT(1, &framebufferID);
        initialized = false;
    }
    if (passThroughProgramCreated) {
        glDeleteProgramsARB(1, &passThroughProgramID);
        passThroughProgramCreated = false;
    }
}

std::pair<std::string, std::string> FramebufferObject::splitKeyValue(const std::string& token) {
    const std::string::size_type equals = token.find('=');
    if (equals == std::string::npos) return {token, std::string()};
    return {token.substr(0, equals), token.substr(equals + 1)};
}

void FramebufferObject::parseModeString(const char* mode) {
    if (!mode || !*mode) return;

    hasColor = false;
    hasDepth = false;
    hasStencil = false;
    needsPassThroughProgram = false;

    // Only the space separates; a tab belongs to its token.
    const std::string text(mode);
    std::vector<std::string> tokens;
    for (std::string::size_type start = 0; start < text.size();) {
        std::string::size_type end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) tokens.push_back(text.substr(start, end - start));
        start = end + 1;
    }

    for (const std::string& token : tokens) {
        // Not a structured binding: clang before 16 cannot capture one in the lambda.
        const std::pair<std::string, std::string> split = splitKeyValue(token);
        const std::string& key = split.first;
        const std::string& value = split.second;
        const auto has = [&value](const char* part) { return value.find(part) != std::string::npos; };

        if (key == "rgba" || key == "rgb") {
            const bool alpha = key == "rgba";
            colorFormat = colorInternalFormat = alpha ? GL_RGBA : GL_RGB;
            minFilter = magFilter = GL_LINEAR;
            hasColor = true;
            colorType = GL_UNSIGNED_BYTE;
            colorMode = alpha ? RGBA8 : RGB8;
            colorIsTexture = has("t");
            if (has("16")) {
                colorMode = alpha ? RGBA16F : RGB16F;
                colorInternalFormat = alpha ? GL_RGBA16F_ARB : GL_RGB16F_ARB;
                colorType = GL_HALF_FLOAT_ARB;
                needsPassThroughProgram = true;
            }
            if (has("32")) {
                colorMode = alpha ? RGBA32F : RGB32F;
                colorInternalFormat = alpha ? GL_RGBA32F_ARB : GL_RGB32F_ARB;
                colorType = GL_FLOAT;
                minFilter = magFilter = GL_NEAREST;
                needsPassThroughProgram = true;
            }
            for (const CountMarker& marker : colorCountMarkers) {
                if (has(marker.text)) {
                    colorAttachmentCount = marker.count;
                    break;
                }
            }
        } else if (key == "depth") {
            hasDepth = true;
            depthFormat = GL_DEPTH_COMPONENT;
            depthType = GL_UNSIGNED_BYTE;
            depthInternalFormat = GL_DEPTH_COMPONENT24;
            depthIsTexture = has("t");
            if (has("16")) depthInternalFormat = GL_DEPTH_COMPONENT16;
            if (has("24")) depthInternalFormat = GL_DEPTH_COMPONENT24;
            if (has("32")) depthInternalFormat = GL_DEPTH_COMPONENT32;
        } else if (key == "stencil") {
            hasStencil = true;
            stencilIsTexture = has("t");
        }
    }
}

void FramebufferObject::specifyTexture(GLuint name, GLenum internalFormat, GLenum format, GLenum type) {
    glBindTexture(textureTarget, name);
    glTexParameteri(textureTarget, GL_TEXTURE_WRAP_S, wrapS);
    glTexParameteri(textureTarget, GL_TEXTURE_WRAP_T, wrapT);
    glTexParameteri(textureTarget, GL_TEXTURE_MIN_FILTER, minFilter);
    glTexParameteri(textureTarget, GL_TEXTURE_MAG_FILTER, magFilter);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glTexImage2D(textureTarget, 0, internalFormat, width, height, 0, format, type, nullptr);
}

bool FramebufferObject::recordFramebufferStatus() {
    lastFramebufferStatus = glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT);
    return lastFramebufferStatus == GL_FRAMEBUFFER_COMPLETE_EXT;
}

void FramebufferObject::deleteAttachment(GLuint name, bool isTexture) {
    if (isTexture)
        glDeleteTextures(1, &name);
    else
        glDeleteRenderbuffersEXT(1, &name);
}

bool FramebufferObject::initialize(unsigned newWidth, unsigned newHeight) {
    if (initialized) return reinitialize(newWidth, newHeight, "rgb=16t depth=24t");

    width = newWidth;
    height = newHeight;

    if (!GLEW_EXT_framebuffer_object)
        std::cout << "ERROR: FramebufferObject - GL_EXT_framebuffer_object not supported!" << std::endl;
    if (!GLEW_EXT_packed_depth_stencil)
        std::cout << "ERROR: FramebufferObject - GL_EXT_packed_depth_stencil not supported!" << std::endl;
    if (!GLEW_EXT_multi_draw_arrays)
        std::cout << "ERROR: FramebufferObject - GLEW_EXT_multi_draw_arrays not supported!" << std::endl;

    // Every step below goes through entry points of these two; GLEW leaves
    // them null when the extension is missing.
    if (!GLEW_EXT_framebuffer_object || !GLEW_ARB_fragment_program) return false;

    if (!passThroughProgramCreated) {
        glGenProgramsARB(1, &passThroughProgramID);
        glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, passThroughProgramID);
        glProgramStringARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_FORMAT_ASCII_ARB, passThroughProgramLength,
                           passThroughProgramText);
        passThroughProgramCreated = true;
    }

    glGetIntegerv(GL_MAX_DRAW_BUFFERS_ARB, &maxDrawBuffers);
    if (colorAttachmentCount > maxDrawBuffers) {
        std::cout << "WARNING: FramebufferObject::initialize - this machine only supports up to "
                  << maxDrawBuffers << " draw buffers. Reset number of color attachments!" << std::endl;
        colorAttachmentCount = maxDrawBuffers;
    }

    // The attachment textures are bound and the target enabled below only to
    // build them; the caller's texture state comes back at glPopAttrib.
    glPushAttrib(GL_TEXTURE_BIT);

    glGenFramebuffersEXT(1, &framebufferID);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebufferID);

    if (hasColor) {
        bool complete = false;
        if (colorIsTexture) {
            const Candidates& candidates = colorFormatCandidates[colorMode];
            glEnable(textureTarget);
            glGenTextures(1, &colorAttachmentIDs[0]);
            for (int c = 0; c < candidates.count; ++c) {
                colorInternalFormat = candidates.formats[c];
                specifyTexture(colorAttachmentIDs[0], colorInternalFormat, colorFormat, colorType);
                glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, textureTarget,
                                          colorAttachmentIDs[0], 0);
                complete = recordFramebufferStatus();
                if (complete) break;
            }
            for (int k = 1; k < colorAttachmentCount; ++k) {
                glGenTextures(1, &colorAttachmentIDs[k]);
                specifyTexture(colorAttachmentIDs[k], colorInternalFormat, colorFormat, colorType);
                glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT + k, textureTarget,
                                          colorAttachmentIDs[k], 0);
                complete = recordFramebufferStatus();
                const GLenum error = glGetError();
                if (error != GL_NO_ERROR)
                    std::printf("OpenGL ERROR after FBO initialization: %s\n", glErrorText(error));
            }
        } else {
            for (int k = 0; k < colorAttachmentCount; ++k) {
                glGenRenderbuffersEXT(1, &colorAttachmentIDs[k]);
                glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, colorAttachmentIDs[k]);
                glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, colorInternalFormat, width, height);
                glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT + k,
                                             GL_RENDERBUFFER_EXT, colorAttachmentIDs[k]);
            }
            complete = recordFramebufferStatus();
        }
        if (!complete) checkFramebufferStatus();
    }

    if (hasDepth) {
        if (hasStencil) {
            if (depthInternalFormat != GL_DEPTH_COMPONENT24)
                std::cout << "WARNING: reset internal depth attachment format to 24 Bit [GL_DEPTH_STENCIL_EXT], "
                             "otherwise stencil attachment won't work!"
                          << std::endl;
            depthInternalFormat = GL_DEPTH_STENCIL_EXT;
        }
        if (depthIsTexture) {
            glGenTextures(1, &depthAttachmentID);
            specifyTexture(depthAttachmentID, depthInternalFormat, depthFormat, depthType);
            glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, textureTarget,
                                      depthAttachmentID, 0);
        } else {
            glGenRenderbuffersEXT(1, &depthAttachmentID);
            glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, depthAttachmentID);
            glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, depthInternalFormat, width, height);
            glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT,
                                         depthAttachmentID);
        }
        if (!recordFramebufferStatus()) checkFramebufferStatus();
    }

    if (hasStencil) {
        if (!hasDepth) {
            // Without a depth object there is nothing to attach as stencil.
            std::cout << "ERROR: FBO stencil attachment is currently only supported in combination with a "
                         "depth attachment: 24 Bit depth attachment + 8 Bit stencil attachment. See "
                         "EXT_packed_depth_stencil specifications for details!"
                      << std::endl;
        } else {
            // The stencil is the depth object attached again, so it is
            // re-specified the way that object was made, texture or renderbuffer.
            if (depthIsTexture) {
                specifyTexture(depthAttachmentID, depthInternalFormat, depthFormat, depthType);
                glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_STENCIL_ATTACHMENT_EXT, textureTarget,
                                          depthAttachmentID, 0);
            } else {
                glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, depthAttachmentID);
                glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, depthInternalFormat, width, height);
                glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_STENCIL_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT,
                                             depthAttachmentID);
            }
            if (!recordFramebufferStatus()) checkFramebufferStatus();
        }
    }

    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    glPopAttrib();

    initialized = true;
    everInitialized = true;
    return true;
}

bool FramebufferObject::reinitialize(unsigned newWidth, unsigned newHeight, const char* mode) {
    if (!initialized) return initialize(newWidth, newHeight);
    if (!everInitialized) return false;

    glDeleteFramebuffersEXT(1, &framebufferID);
    if (hasColor)
        for (int k = 0; k < colorAttachmentCount; ++k) deleteAttachment(colorAttachmentIDs[k], colorIsTexture);
    if (hasDepth) deleteAttachment(depthAttachmentID, depthIsTexture);
    initialized = false;

    parseModeString(mode);
    initialize(newWidth, newHeight);
    return true;
}

void FramebufferObject::checkFramebufferStatus() {
    const char* name;
    switch (lastFramebufferStatus) {
        case GL_FRAMEBUFFER_BINDING_EXT: name = "GL_FRAMEBUFFER_BINDING_EXT"; break;
        case GL_FRAMEBUFFER_COMPLETE_EXT: name = "GL_FRAMEBUFFER_COMPLETE_EXT"; break;
        case GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT_EXT: name = "GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT_EXT"; break;
        case GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT_EXT:
            name = "GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT_EXT";
            break;
        case GL_FRAMEBUFFER_INCOMPLETE_DIMENSIONS_EXT: name = "GL_FRAMEBUFFER_INCOMPLETE_DIMENSIONS_EXT"; break;
        case GL_FRAMEBUFFER_INCOMPLETE_FORMATS_EXT: name = "GL_FRAMEBUFFER_INCOMPLETE_FORMATS_EXT"; break;
        case GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER_EXT: name = "GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER_EXT"; break;
        case GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER_EXT: name = "GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER_EXT"; break;
        case GL_FRAMEBUFFER_UNSUPPORTED_EXT: name = "GL_FRAMEBUFFER_UNSUPPORTED_EXT"; break;
        default: name = "unidentified error!"; break;
    }
    std::cout << "FramebufferObject ERROR: " << name << std::endl;
}

void FramebufferObject::bind(bool usePassThrough) {
    // unbind puts this viewport back; the pass sees the whole target.
    glGetIntegerv(GL_VIEWPORT, savedViewport);
    glViewport(0, 0, static_cast<GLsizei>(width), static_cast<GLsizei>(height));
    if (initialized) glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebufferID);
    // Some hardware draws into float targets only through a fragment program;
    // there is none to switch to when initialize could not create it.
    if (needsPassThroughProgram && usePassThrough && passThroughProgramCreated) {
        glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, passThroughProgramID);
        glEnable(GL_FRAGMENT_PROGRAM_ARB);
    }
}

void FramebufferObject::unbind(bool usePassThrough) {
    glViewport(savedViewport[0], savedViewport[1], savedViewport[2], savedViewport[3]);
    // Always back to the window: binds do not nest.
    if (initialized) glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    if (needsPassThroughProgram && usePassThrough && passThroughProgramCreated) glDisable(GL_FRAGMENT_PROGRAM_ARB);
}

void FramebufferObject::bindAsTexture(int i) {
    // Left enabled and bound: the caller's pass samples it and disables it after.
    glEnable(textureTarget);
    glBindTexture(textureTarget, colorAttachmentIDs[i]);
    glTexParameteri(textureTarget, GL_TEXTURE_WRAP_S, wrapS);
    glTexParameteri(textureTarget, GL_TEXTURE_WRAP_T, wrapT);
    glTexParameteri(textureTarget, GL_TEXTURE_MIN_FILTER, minFilter);
    glTexParameteri(textureTarget, GL_TEXTURE_MAG_FILTER, magFilter);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
}
