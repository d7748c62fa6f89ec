// CPU reference of one heat step exactly as shaders/HeatShader.cg computes it
// (same constant, same clamp, clamp-to-edge neighbours), on a float RGBA
// grid, plus the half-float rounding the heat buffers apply to its results.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace heatref {

// Must match DIFFUSION in shaders/HeatShader.cg.
constexpr float kDiffusion = 1e-5f;

struct Grid {
    int width = 0, height = 0;
    std::vector<float> rgba;  // row by row from the bottom, 4 floats a cell

    Grid() = default;
    Grid(int w, int h) : width(w), height(h), rgba(std::size_t(w) * std::size_t(h) * 4, 0.0f) {}

    float& at(int x, int y, int c) { return rgba[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4 + std::size_t(c)]; }
    float at(int x, int y, int c) const { return rgba[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4 + std::size_t(c)]; }
    // A read beyond the edge returns the edge cell, as the textures clamp.
    float clamped(int x, int y, int c) const {
        return at(std::clamp(x, 0, width - 1), std::clamp(y, 0, height - 1), c);
    }
};

struct Coefficients {
    float rx, ry;
};

// r = D dt / dx^2 per axis, scaled down so rx + ry <= 0.5.
inline Coefficients coefficients(float timestep, float invWidth, float invHeight) {
    float rx = kDiffusion * timestep / (invWidth * invWidth);
    float ry = kDiffusion * timestep / (invHeight * invHeight);
    float scale = 0.5f / std::max(rx + ry, 0.5f);
    return {rx * scale, ry * scale};
}

inline Grid step(const Grid& in, float timestep, float invWidth, float invHeight) {
    Coefficients r = coefficients(timestep, invWidth, invHeight);
    Grid out(in.width, in.height);
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x)
            for (int c = 0; c < 4; ++c) {
                float centre = in.at(x, y, c);
                float dx = in.clamped(x - 1, y, c) + in.clamped(x + 1, y, c) - 2 * centre;
                float dy = in.clamped(x, y - 1, c) + in.clamped(x, y + 1, c) - 2 * centre;
                out.at(x, y, c) = centre + r.rx * dx + r.ry * dy;
            }
    return out;
}

inline double total(const Grid& g, int channel) {
    double sum = 0;
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x) sum += g.at(x, y, channel);
    return sum;
}

// Round to the nearest half float (ties to even), as a 16-bit float
// channel stores it; values past the half range become infinite.
inline float roundToHalf(float v) {
    if (!std::isfinite(v) || v == 0) return v;
    float a = std::fabs(v);
    if (a >= 65520.0f) return std::copysign(INFINITY, v);
    int e;
    std::frexp(a, &e);                       // a = m * 2^e, m in [0.5, 1)
    int quantumExp = std::max(e - 11, -24);  // 11 significant bits; subnormals below 2^-14
    float q = std::ldexp(1.0f, quantumExp);
    float r = std::nearbyint(a / q) * q;     // default rounding: to nearest, ties to even
    return std::copysign(r, v);
}

// The spacing of half floats around v: a rounding store moves v by at most
// half of this, a truncating one (llvmpipe's) by up to all of it.
inline float halfSpacing(float v) {
    float a = std::fabs(v);
    if (a == 0) return std::ldexp(1.0f, -24);
    int e;
    std::frexp(a, &e);
    return std::ldexp(1.0f, std::max(e - 11, -24));
}

}  // namespace heatref
