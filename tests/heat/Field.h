// Reading and writing a heat buffer's texels from tests.
#pragma once

#include "fbo/FramebufferObject.h"

#include <GL/glew.h>

#include <cmath>
#include <vector>

struct Texel {
    float r, g, b, a;
};

inline bool operator==(const Texel& p, const Texel& q) { return p.r == q.r && p.g == q.g && p.b == q.b && p.a == q.a; }

// Row-major from the lower-left cell, like the grid.
struct Field {
    int width = 0, height = 0;
    std::vector<Texel> texels;
    Field() = default;
    Field(int w, int h, Texel fill) : width(w), height(h), texels(static_cast<size_t>(w) * h, fill) {}
    Texel& at(int x, int y) { return texels[static_cast<size_t>(y) * width + x]; }
    const Texel& at(int x, int y) const { return texels[static_cast<size_t>(y) * width + x]; }
    double sum(float Texel::*channel) const {
        double s = 0;
        for (const Texel& t : texels) s += t.*channel;
        return s;
    }
};

inline Field readField(const FramebufferObject& buffer) {
    Field f(static_cast<int>(buffer.getWidth()), static_cast<int>(buffer.getHeight()), {0, 0, 0, 0});
    glPushAttrib(GL_TEXTURE_BIT);  // restored below: the texture binding is the test's only change
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, buffer.getColorAttachmentID(0));
    glGetTexImage(GL_TEXTURE_RECTANGLE_ARB, 0, GL_RGBA, GL_FLOAT, f.texels.data());
    glPopAttrib();
    return f;
}

inline void writeField(const FramebufferObject& buffer, const Field& f) {
    glPushAttrib(GL_TEXTURE_BIT);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, buffer.getColorAttachmentID(0));
    glTexSubImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, 0, 0, f.width, f.height, GL_RGBA, GL_FLOAT, f.texels.data());
    glPopAttrib();
}

// A field of values that half floats hold exactly (multiples of 1/8 in
// [-4, 4)), different in every channel, from a seed.
inline Field patternedField(int w, int h, unsigned seed) {
    Field f(w, h, {0, 0, 0, 0});
    unsigned s = seed;
    auto next = [&s] {
        s = s * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<int>((s >> 16) % 64) - 32) / 8.0f;
    };
    for (Texel& t : f.texels) t = {next(), next(), next(), next()};
    return f;
}
