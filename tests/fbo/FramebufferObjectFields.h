// Reads and sets the private state of FramebufferObject for tests, and
// reaches its private parser and status report.
#pragma once

#include "fbo/FramebufferObject.h"

#include <string>
#include <utility>

struct FramebufferObjectInspector {
#define HEAT2D_FBO_FIELD(name) \
    static auto& name(FramebufferObject& f) { return f.name; }
    HEAT2D_FBO_FIELD(colorMode)
    HEAT2D_FBO_FIELD(everInitialized)
    HEAT2D_FBO_FIELD(initialized)
    HEAT2D_FBO_FIELD(hasColor)
    HEAT2D_FBO_FIELD(colorIsTexture)
    HEAT2D_FBO_FIELD(hasDepth)
    HEAT2D_FBO_FIELD(depthIsTexture)
    HEAT2D_FBO_FIELD(hasStencil)
    HEAT2D_FBO_FIELD(stencilIsTexture)
    HEAT2D_FBO_FIELD(colorFormat)
    HEAT2D_FBO_FIELD(colorInternalFormat)
    HEAT2D_FBO_FIELD(depthFormat)
    HEAT2D_FBO_FIELD(depthInternalFormat)
    HEAT2D_FBO_FIELD(colorType)
    HEAT2D_FBO_FIELD(depthType)
    HEAT2D_FBO_FIELD(wrapS)
    HEAT2D_FBO_FIELD(wrapT)
    HEAT2D_FBO_FIELD(minFilter)
    HEAT2D_FBO_FIELD(magFilter)
    HEAT2D_FBO_FIELD(framebufferID)
    HEAT2D_FBO_FIELD(colorAttachmentIDs)
    HEAT2D_FBO_FIELD(colorAttachmentCount)
    HEAT2D_FBO_FIELD(maxDrawBuffers)
    HEAT2D_FBO_FIELD(depthAttachmentID)
    HEAT2D_FBO_FIELD(savedViewport)
    HEAT2D_FBO_FIELD(passThroughProgramID)
    HEAT2D_FBO_FIELD(passThroughProgramCreated)
    HEAT2D_FBO_FIELD(needsPassThroughProgram)
#undef HEAT2D_FBO_FIELD

    static void parse(FramebufferObject& f, const char* mode) { f.parseModeString(mode); }
    static std::pair<std::string, std::string> split(const std::string& token) {
        return FramebufferObject::splitKeyValue(token);
    }
    static GLenum& lastFramebufferStatus() { return FramebufferObject::lastFramebufferStatus; }
    static void checkFramebufferStatus(FramebufferObject& f) { f.checkFramebufferStatus(); }
};
