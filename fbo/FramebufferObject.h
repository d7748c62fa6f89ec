// An off-screen render target described by a short mode string ("rgba=16t",
// "rgb=32t depth=24t stencil", ...): colour, depth and stencil attachments,
// each a texture or a renderbuffer.
#pragma once

#include <GL/glew.h>

#include <string>
#include <utility>

class FramebufferObject {
public:
    enum ColorMode { RGB8 = 0, RGB16F = 1, RGB32F = 2, RGBA8 = 3, RGBA16F = 4, RGBA32F = 5 };

    FramebufferObject();
    explicit FramebufferObject(const char* mode);
    ~FramebufferObject();

    // Deletes the GL objects now, while the caller's context is current; the
    // destructor, which may run after the context is gone, then deletes nothing.
    void release();

    // Owns GL names: never copied.
    FramebufferObject(const FramebufferObject&) = delete;
    FramebufferObject& operator=(const FramebufferObject&) = delete;

    bool initialize(unsigned width, unsigned height);
    bool reinitialize(unsigned width, unsigned height, const char* mode);

    void bind(bool usePassThrough);
    void unbind(bool usePassThrough);
    void bindAsTexture(int i);

    GLuint getColorAttachmentID(int i) const { return colorAttachmentIDs[i]; }
    unsigned getWidth() const { return width; }
    unsigned getHeight() const { return height; }

private:
    void parseModeString(const char* mode);
    static std::pair<std::string, std::string> splitKeyValue(const std::string& token);
    void checkFramebufferStatus();
    void specifyTexture(GLuint name, GLenum internalFormat, GLenum format, GLenum type);
    static bool recordFramebufferStatus();
    void deleteAttachment(GLuint name, bool isTexture);

    // Tests read the private description through this.
    friend struct FramebufferObjectInspector;

    ColorMode colorMode;
    bool everInitialized;
    bool initialized;

public:
    GLenum textureTarget;

private:
    bool hasColor;
    bool colorIsTexture;
    bool hasDepth;
    bool depthIsTexture;
    bool hasStencil;
    bool stencilIsTexture;
    GLenum colorFormat;
    GLenum colorInternalFormat;
    GLenum depthFormat;
    GLenum depthInternalFormat;
    GLenum colorType;
    GLenum depthType;
    GLenum wrapS;
    GLenum wrapT;
    GLenum minFilter;
    GLenum magFilter;
    unsigned width;
    unsigned height;
    GLuint framebufferID;
    GLuint colorAttachmentIDs[16];
    int colorAttachmentCount;
    GLint maxDrawBuffers;
    GLuint depthAttachmentID;
    GLint savedViewport[4];
    GLuint passThroughProgramID;
    bool passThroughProgramCreated;
    bool needsPassThroughProgram;

    static GLenum lastFramebufferStatus;
};
