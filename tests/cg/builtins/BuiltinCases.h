// The built-ins' value tables, shared by the interpreter tests and the GL
// tests: calls with their edges and the expected values from C++ references.
#pragma once

#include "tests/cg/builtins/BuiltinHarness.h"

#include <array>
#include <cfloat>
#include <cmath>
#include <sstream>
#include <utility>

namespace builtintest {

const double kPi = 3.14159265358979323846;

// |got - want| <= abs + rel * |want|
struct Tolerance {
    double abs = 1e-6, rel = 1e-6;
};
const Tolerance kExact{0, 0};
const Tolerance kApprox{1e-3, 0};  // the inverse trigonometric approximations

struct Case {
    const char* fn;
    std::vector<Arg> args;
    std::vector<double> want;  // the result's components, row-major
    Tolerance tolerance = {};
};

inline bool close(float got, double want, Tolerance t) {
    if (std::isnan(want)) return std::isnan(got);
    if (std::isinf(want)) return double(got) == want;
    return std::fabs(double(got) - want) <= t.abs + t.rel * std::fabs(want);
}

inline std::string describe(const std::string& fn, const std::vector<Arg>& args) {
    std::ostringstream s;
    s << fn << "(";
    for (std::size_t i = 0; i < args.size(); ++i) {
        s << (i ? ", " : "") << (args[i].constant ? "const " : "") << args[i].type << "(";
        for (std::size_t k = 0; k < args[i].values.size(); ++k) s << (k ? ", " : "") << args[i].values[k];
        s << ")";
    }
    return s.str() + ")";
}

// Per-component functions: each point alone as a float, and the points in
// fours as float4 (a rest of three as half3), so both the scalar and the
// vector forms meet every point.
using Unary = double (*)(double);
using Binary = double (*)(double, double);

inline void sweep(std::vector<Case>* out, const char* fn, Unary ref, const std::vector<float>& points, Tolerance t) {
    for (float x : points) out->push_back({fn, {f1(x)}, {ref(x)}, t});
    for (std::size_t i = 0; i + 4 <= points.size(); i += 4)
        out->push_back({fn, {f4(points[i], points[i + 1], points[i + 2], points[i + 3])},
                        {ref(points[i]), ref(points[i + 1]), ref(points[i + 2]), ref(points[i + 3])}, t});
    std::size_t rest = points.size() / 4 * 4;
    if (points.size() - rest == 3)
        out->push_back({fn, {{"half3", {points[rest], points[rest + 1], points[rest + 2]}}},
                        {ref(points[rest]), ref(points[rest + 1]), ref(points[rest + 2])}, t});
}

inline void sweep2(std::vector<Case>* out, const char* fn, Binary ref, const std::vector<std::pair<float, float>>& points,
                   Tolerance t) {
    for (auto [a, b] : points) out->push_back({fn, {f1(a), f1(b)}, {ref(a, b)}, t});
    for (std::size_t i = 0; i + 4 <= points.size(); i += 4) {
        Case k{fn, {{"float4", {}}, {"float4", {}}}, {}, t};
        for (std::size_t p = i; p < i + 4; ++p) {
            k.args[0].values.push_back(points[p].first);
            k.args[1].values.push_back(points[p].second);
            k.want.push_back(ref(points[p].first, points[p].second));
        }
        out->push_back(k);
    }
}

namespace ref {
inline double floor(double x) { return std::floor(x); }
inline double ceil(double x) { return std::ceil(x); }
inline double frac(double x) { return x - std::floor(x); }
inline double round(double x) { return std::floor(x + 0.5); }
inline double trunc(double x) { return std::trunc(x); }
inline double saturate(double x) { return std::fmin(std::fmax(x, 0.0), 1.0); }
inline double sign(double x) { return x > 0 ? 1 : x < 0 ? -1 : 0; }
inline double rsqrt(double x) { return 1 / std::sqrt(x); }
inline double abs(double x) { return std::fabs(x); }
inline double exp(double x) { return std::exp(x); }
inline double exp2(double x) { return std::exp2(x); }
inline double log(double x) { return std::log(x); }
inline double log2(double x) { return std::log2(x); }
inline double log10(double x) { return std::log10(x); }
inline double sqrt(double x) { return std::sqrt(x); }
inline double sin(double x) { return std::sin(x); }
inline double cos(double x) { return std::cos(x); }
inline double tan(double x) { return std::tan(x); }
inline double asin(double x) { return std::asin(x); }
inline double acos(double x) { return std::acos(x); }
inline double atan(double x) { return std::atan(x); }
inline double sinh(double x) { return std::sinh(x); }
inline double cosh(double x) { return std::cosh(x); }
inline double tanh(double x) { return std::tanh(x); }
inline double degrees(double x) { return x * 180 / kPi; }
inline double radians(double x) { return x * kPi / 180; }
inline double atan2(double y, double x) { return std::atan2(y, x); }
inline double step(double a, double x) { return x >= a ? 1.0 : 0.0; }
inline double fmod(double x, double y) { return std::fmod(x, y); }
inline double min(double a, double b) { return std::fmin(a, b); }
inline double max(double a, double b) { return std::fmax(a, b); }
inline double pow(double x, double y) { return std::pow(x, y); }
inline double ldexp(double x, double n) { return x * std::exp2(n); }
inline double smoothstep(double a, double b, double x) {
    double t = saturate((x - a) / (b - a));
    return t * t * (3 - 2 * t);
}

using Matrix = std::vector<double>;

inline Matrix product(const Matrix& a, int rows, int inner, const Matrix& b, int cols) {
    Matrix r(std::size_t(rows * cols), 0);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            for (int k = 0; k < inner; ++k)
                r[std::size_t(i * cols + j)] += a[std::size_t(i * inner + k)] * b[std::size_t(k * cols + j)];
    return r;
}

// Gaussian elimination with partial pivoting: another route than expansion.
inline double determinant(Matrix m, int n) {
    double d = 1;
    auto at = [&](int r, int c) -> double& { return m[std::size_t(r * n + c)]; };
    for (int c = 0; c < n; ++c) {
        int p = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs(at(r, c)) > std::fabs(at(p, c))) p = r;
        if (at(p, c) == 0) return 0;
        if (p != c) {
            for (int k = 0; k < n; ++k) std::swap(at(p, k), at(c, k));
            d = -d;
        }
        d *= at(c, c);
        for (int r = c + 1; r < n; ++r) {
            double f = at(r, c) / at(c, c);
            for (int k = c; k < n; ++k) at(r, k) -= f * at(c, k);
        }
    }
    return d;
}
}  // namespace ref

inline Components floats(const std::vector<double>& m) { return Components(m.begin(), m.end()); }

// ---- The tables -------------------------------------------------------------------

inline std::vector<Case> roundingCases() {
    std::vector<Case> c;
    const std::vector<float> points = {-2.5f, -1.5f, -1.0f, -0.5f, -0.25f, 0.0f, 0.49f, 0.5f, 1.0f, 1.5f, 2.5f, 2.999f};
    sweep(&c, "floor", ref::floor, points, kExact);
    sweep(&c, "ceil", ref::ceil, points, kExact);
    sweep(&c, "frac", ref::frac, points, kExact);
    sweep(&c, "round", ref::round, points, kExact);  // halves go up: round(-0.5) is 0, round(2.5) is 3
    sweep(&c, "trunc", ref::trunc, points, kExact);
    return c;
}

inline std::vector<Case> signCases() {
    std::vector<Case> c;
    sweep(&c, "sign", ref::sign, {-3.0f, -1e-30f, 0.0f, -0.0f, 1e-30f, 5.0f, -7.0f}, kExact);
    sweep(&c, "abs", ref::abs, {-2.5f, -0.0f, 0.0f, 3.0f, -1e-30f, 1e30f, -1e30f}, kExact);
    sweep(&c, "saturate", ref::saturate, {-1.0f, -0.0f, 0.0f, 0.5f, 1.0f, 2.0f, 1e30f}, kExact);
    return c;
}

inline std::vector<Case> exponentialCases() {
    std::vector<Case> c;
    sweep(&c, "sqrt", ref::sqrt, {0.0f, 0.25f, 2.0f, 1e6f, 1e-6f, 9.0f, 1e30f}, {});  // sqrt(0) is 0, not NaN
    sweep(&c, "rsqrt", ref::rsqrt, {0.25f, 2.0f, 1e6f, 1e-6f}, {});
    sweep(&c, "exp", ref::exp, {-5.0f, 0.0f, 1.0f, 3.5f, -80.0f, 80.0f, 0.001f}, {});
    sweep(&c, "exp2", ref::exp2, {-3.0f, 0.0f, 0.5f, 10.0f, -126.0f, 127.0f, 0.1f}, {});
    sweep(&c, "log", ref::log, {0.1f, 1.0f, 2.718281828f, 1000.0f, 1e-30f, 1e30f, 2.0f}, {});
    sweep(&c, "log2", ref::log2, {0.125f, 1.0f, 3.0f, 1024.0f}, {});
    sweep(&c, "log10", ref::log10, {0.001f, 1.0f, 50.0f, 1e5f}, {});
    return c;
}

inline std::vector<Case> trigonometryCases() {
    std::vector<Case> c;
    sweep(&c, "sin", ref::sin, {-3.0f, -1.0f, 0.0f, 0.5f, 1.5707963f, 3.0f, 0.001f}, {});
    sweep(&c, "cos", ref::cos, {-3.0f, -1.0f, 0.0f, 0.5f, 1.5707963f, 3.0f, 0.001f}, {});
    sweep(&c, "tan", ref::tan, {-1.2f, -0.5f, 0.0f, 0.7f, 1.3f, 0.001f, -0.001f}, {1e-6, 1e-5});
    sweep(&c, "degrees", ref::degrees, {3.14159265f, -1.0f, 0.0f, 0.5f}, {});
    sweep(&c, "radians", ref::radians, {180.0f, -90.0f, 0.0f, 1.0f}, {});
    return c;
}

inline std::vector<Case> inverseTrigonometryCases() {
    std::vector<Case> c;
    const std::vector<float> unit = {-1.0f, -0.99f, -0.5f, -0.0f, 0.0f, 0.3f, 0.7f, 1.0f, 0.999f, 1e-4f, -0.3f};
    sweep(&c, "acos", ref::acos, unit, kApprox);
    sweep(&c, "asin", ref::asin, unit, kApprox);
    sweep(&c, "atan", ref::atan, {-1e4f, -100.0f, -2.0f, -1.0f, -0.5f, 0.0f, 0.25f, 1.0f, 1.5f, 1e4f, 0.999f}, kApprox);
    sweep2(&c, "atan2", ref::atan2,
           {{1, 1}, {1, -1}, {-1, -1}, {-1, 1},           // quadrants
            {0, 1}, {1, 0}, {0, -1}, {-1, 0},             // axes
            {0, 0}, {3, 0.5f}, {-0.5f, -3}, {1e-3f, -2},  // the origin, steep, shallow, near the negative axis
            {2, 1e-3f}, {-2, 1e-3f}, {1e20f, 1e20f}, {-1e-20f, 1e-20f}},
           kApprox);
    return c;
}

inline std::vector<Case> hyperbolicCases() {
    std::vector<Case> c;
    const std::vector<float> points = {-10.0f, -5.0f, -1.0f, -1e-3f, 0.0f, 0.5f, 3.0f, 10.0f};
    sweep(&c, "sinh", ref::sinh, points, {1e-6, 1e-6});
    sweep(&c, "cosh", ref::cosh, points, {1e-6, 1e-6});
    // Far out, e^2x overflows and the result is still +-1, not NaN.
    sweep(&c, "tanh", ref::tanh, {-100.0f, -20.0f, -2.0f, -0.5f, 0.0f, 1e-4f, 0.5f, 3.0f, 20.0f, 100.0f, 1e30f, -1e30f},
          {1e-6, 0});
    return c;
}

inline std::vector<Case> binaryCases() {
    std::vector<Case> c;
    // step: 1 at the edge itself.
    sweep2(&c, "step", ref::step,
           {{0.5f, 0.5f}, {0.5f, 0.49999997f}, {0, -0.0f}, {-1, -2}, {1, 2}, {-0.0f, 0}, {3, 3.0000002f}, {2, -2}}, kExact);
    // fmod: the result has the sign of x.
    sweep2(&c, "fmod", ref::fmod,
           {{7.5f, 2}, {-7.5f, 2}, {7.5f, -2}, {-7.5f, -2}, {-6, 3}, {5.25f, 0.5f}, {1, 3}, {-1, 3},
            {0.75f, 0.25f}, {-0.25f, 1}, {100.5f, 10}, {-2, 8}},
           {1e-6, 0});
    sweep2(&c, "min", ref::min, {{1, 2}, {-1, -2}, {3, 3}, {-1e30f, 1e30f}}, kExact);
    sweep2(&c, "max", ref::max, {{1, 2}, {-1, -2}, {3, 3}, {-1e30f, 1e30f}}, kExact);
    sweep2(&c, "pow", ref::pow, {{2, 10}, {0.5f, 2}, {9, 0.5f}, {0, 3}, {3, 0}, {10, -2}, {1, 100}, {2.5f, 1.5f}}, {});
    sweep2(&c, "ldexp", ref::ldexp, {{3, 2}, {1, -3}, {-0.75f, 4}, {5, 0}}, {});
    // Scalars spread over the other arguments' vectors.
    c.push_back({"step", {f1(0.5f), f4(0.25f, 0.5f, 0.75f, -1)}, {0, 1, 1, 0}, kExact});
    c.push_back({"pow", {f3(2, 3, 4), {"int", {2}}}, {4, 9, 16}});
    c.push_back({"lerp", {f2(0, 10), f2(4, 20), f1(0.25f)}, {1, 12.5}});
    c.push_back({"clamp", {f3(-1, 0.5f, 2), {"int", {0}}, {"int", {1}}}, {0, 0.5, 1}, kExact});
    c.push_back({"max", {{"bool", {1}}, f2(0.5f, 2)}, {1, 2}, kExact});
    return c;
}

inline std::vector<Case> ternaryCases() {
    std::vector<Case> c;
    // clamp(x, lo, hi) = max(lo, min(hi, x)): lo wins when the bounds cross.
    for (auto [x, lo, hi] : std::vector<std::array<float, 3>>{
             {-1, 0, 1}, {0.5f, 0, 1}, {2, 0, 1}, {5, 2, 1}, {-3, -2, 2}, {1.5f, -2, 2}, {0, 0, 0}}) {
        double want = std::fmax(lo, std::fmin(hi, x));
        c.push_back({"clamp", {f1(x), f1(lo), f1(hi)}, {want}, kExact});
        c.push_back({"clamp", {f1(x), konst(f1(lo)), konst(f1(hi))}, {want}, kExact});  // 0 and 1: a saturate
    }
    for (auto [a, b, s] :
         std::vector<std::array<float, 3>>{{0, 10, 0.25f}, {1, 3, -1}, {1, 3, 2}, {2, 2, 0.7f}, {-4, 4, 1}, {-4, 4, 0}})
        c.push_back({"lerp", {f1(a), f1(b), f1(s)}, {a + double(s) * (b - a)}});
    for (auto [a, b, x] : std::vector<std::array<float, 3>>{
             {0, 1, 0}, {0, 1, 1}, {0, 1, -1}, {0, 1, 2}, {0, 1, 0.5f}, {0, 1, 0.25f}, {1, 0, 0.25f}, {-2, 6, 0}, {-2, 6, 6}}) {
        c.push_back({"smoothstep", {f1(a), f1(b), f1(x)}, {ref::smoothstep(a, b, x)}});
        c.push_back({"smoothstep", {konst(f1(a)), konst(f1(b)), f1(x)}, {ref::smoothstep(a, b, x)}});
    }
    c.push_back({"smoothstep", {f4(0, 0, -1, 2), f4(1, 2, 1, 4), f4(0.5f, 3, 0, 2)}, {0.5, 1, 0.5, 0}});
    return c;
}

inline std::vector<Case> classificationCases() {
    std::vector<Case> c;
    auto flag = [](bool b) { return b ? 1.0 : 0.0; };
    for (float x : {0.0f, 1.0f, -1e38f, FLT_MAX, kInf, -kInf, kNaN, -FLT_MAX}) {
        c.push_back({"isnan", {f1(x)}, {flag(std::isnan(x))}, kExact});
        c.push_back({"isinf", {f1(x)}, {flag(std::isinf(x))}, kExact});
        c.push_back({"isfinite", {f1(x)}, {flag(std::isfinite(x))}, kExact});
    }
    c.push_back({"isnan", {f4(kNaN, 0, kInf, 1)}, {1, 0, 0, 0}, kExact});
    c.push_back({"isinf", {f4(kNaN, 0, -kInf, 1)}, {0, 0, 1, 0}, kExact});
    c.push_back({"isfinite", {f4(kNaN, 0, kInf, 1)}, {0, 1, 0, 1}, kExact});
    return c;
}

inline std::vector<Case> reductionCases() {
    return {
        {"dot", {f1(2), f1(3)}, {6}},
        {"dot", {f2(1, 2), f2(3, 4)}, {11}},
        {"dot", {f2(1, 2), konst(f2(3, 4))}, {11}},  // a constant side pads with zero
        {"dot", {konst(f2(-3, 4)), f2(1, 2)}, {5}},
        {"dot", {f3(1, 2, 3), f3(4, -5, 6)}, {12}},
        {"dot", {f4(1, 2, 3, 4), f4(1, 1, 1, -1)}, {2}},
        {"length", {f1(-3)}, {3}},
        {"length", {f2(3, 4)}, {5}},
        {"length", {f3(0, 0, 0)}, {0}},  // sqrt at 0 is 0
        {"length", {f4(1, 1, 1, 1)}, {2}},
        {"length", {f3(3e18f, 4e18f, 0)}, {5e18}},
        {"distance", {f3(1, 2, 3), f3(4, 6, 3)}, {5}},
        {"distance", {f2(1, 1), f2(1, 1)}, {0}},
        {"distance", {f1(-2), f1(3)}, {5}},
        {"normalize", {f3(3e18f, 4e18f, 0)}, {0.6, 0.8, 0}},  // large and small, short of overflow in the squares
        {"normalize", {f3(3e-18f, 0, -4e-18f)}, {0.6, 0, -0.8}},
        {"normalize", {f2(0, -2)}, {0, -1}},
        {"normalize", {f4(1, 1, 1, 1)}, {0.5, 0.5, 0.5, 0.5}},
        {"normalize", {f1(-4)}, {-1}},
        {"all", {f4(1, 1, 1, 1)}, {1}, kExact},
        {"all", {f4(1, 0, 1, 1)}, {0}, kExact},
        {"all", {f3(0.5f, -2, 1)}, {1}, kExact},
        {"all", {f2(0, 3)}, {0}, kExact},
        {"all", {f2(-1, 3)}, {1}, kExact},
        {"all", {f1(0)}, {0}, kExact},
        {"all", {f1(-0.25f)}, {1}, kExact},
        {"all", {{"bool3", {1, 1, 0}}}, {0}, kExact},
        {"any", {f4(0, 0, 0, 0)}, {0}, kExact},
        {"any", {f4(0, 0, 0, -7)}, {1}, kExact},
        {"any", {f3(0, 0, -0.1f)}, {1}, kExact},
        {"any", {f3(0, -0.0f, 0)}, {0}, kExact},
        {"any", {f2(0, 3)}, {1}, kExact},
        {"any", {f2(0, 0)}, {0}, kExact},
        {"any", {f1(2)}, {1}, kExact},
        {"any", {{"bool4", {0, 0, 1, 0}}}, {1}, kExact},
    };
}

inline std::vector<Case> geometryCases() {
    const double s45 = std::sqrt(0.5);
    return {
        {"cross", {f3(1, 0, 0), f3(0, 1, 0)}, {0, 0, 1}},
        {"cross", {f3(1, 2, 3), f3(4, 5, 6)}, {-3, 6, -3}},
        {"reflect", {f3(1, -1, 0), f3(0, 1, 0)}, {1, 1, 0}},
        {"reflect", {f2(2, -3), f2(0, 1)}, {2, 3}},
        {"reflect", {f4(1, 2, 3, 4), f4(0, 0, 0, 1)}, {1, 2, 3, -4}},
        // Snell: sin t = eta sin i; past the critical angle the zero vector.
        {"refract", {f3(float(s45), float(-s45), 0), f3(0, 1, 0), f1(0.5f)}, {0.5 * s45, -std::sqrt(1 - 0.125), 0}},
        {"refract", {f3(0, -1, 0), f3(0, 1, 0), f1(0.8f)}, {0, -1, 0}},
        {"refract", {f3(0.8660254f, -0.5f, 0), f3(0, 1, 0), f1(1.5f)}, {0, 0, 0}},
        {"refract", {f2(0.8660254f, -0.5f), f2(0, 1), f1(1.5f)}, {0, 0}},
        {"faceforward", {f3(0, 0, 1), f3(0, 0, -1), f3(0, 0, 1)}, {0, 0, 1}},
        {"faceforward", {f3(0, 0, 1), f3(0, 0, 1), f3(0, 0, 1)}, {0, 0, -1}},
        {"faceforward", {f3(0, 0, 1), f3(1, 0, 0), f3(0, 0, 1)}, {0, 0, -1}},  // a zero product flips
        // ambient, diffuse, specular, 1
        {"lit", {f1(0.5f), f1(0.5f), f1(2)}, {1, 0.5, 0.25, 1}},
        {"lit", {f1(-0.5f), f1(0.5f), f1(2)}, {1, 0, 0, 1}},
        {"lit", {f1(0.5f), f1(-0.5f), f1(2)}, {1, 0.5, 0, 1}},
        {"lit", {f1(0), f1(0.5f), f1(3)}, {1, 0, 0.125, 1}},
        {"lit", {f1(0.9f), f1(0.9f), f1(200)}, {1, 0.9, std::pow(0.9, 200), 1}},
    };
}

inline std::vector<Case> matrixCases() {
    using ref::product;
    const ref::Matrix m23 = {1, 2, 3, 4, 5, 6}, m32 = {1, 0, 0, 1, 1, 1};
    const ref::Matrix m44 = {1, 2, 0, -1, 3, 0.5, 2, 4, -2, 1, 1, 0, 0, 3, -1, 2};
    const ref::Matrix v3 = {1, 0, -1}, v2 = {1, -1}, v4 = {0.5, -1, 2, 3};
    std::vector<Case> c = {
        // A vector on the right is a column, on the left a row.
        {"mul", {{"float2x3", floats(m23)}, {"float3", floats(v3)}}, product(m23, 2, 3, v3, 1)},
        {"mul", {{"float2", floats(v2)}, {"float2x3", floats(m23)}}, product(v2, 1, 2, m23, 3)},
        {"mul", {{"float2x3", floats(m23)}, {"float3x2", floats(m32)}}, product(m23, 2, 3, m32, 2)},
        {"mul", {{"float4x4", floats(m44)}, {"float4", floats(v4)}}, product(m44, 4, 4, v4, 1)},
        {"mul", {{"float4", floats(v4)}, {"float4x4", floats(m44)}}, product(v4, 1, 4, m44, 4)},
        {"mul", {{"float4x4", floats(m44)}, {"float4x4", floats(m44)}}, product(m44, 4, 4, m44, 4)},
        {"mul", {{"float3x2", floats(m32)}, {"float2", floats(v2)}}, product(m32, 3, 2, v2, 1)},
        {"mul", {konst({"float3x2", floats(m32)}), {"float2", floats(v2)}}, product(m32, 3, 2, v2, 1)},
        {"mul", {{"float1x3", {2, 0, 1}}, {"float3", floats(v3)}}, {1}},
        {"mul", {{"half2x2", {0, -1, 1, 0}}, {"half2", {3, 4}}}, {-4, 3}},
        {"transpose", {{"float2x3", floats(m23)}}, {1, 4, 2, 5, 3, 6}},
        {"transpose", {{"float4x4", floats(m44)}}, {1, 3, -2, 0, 2, 0.5, 1, 3, 0, 2, 1, -1, -1, 4, 0, 2}},
        {"transpose", {{"float1x2", {7, 8}}}, {7, 8}},
    };
    const std::vector<std::pair<const char*, ref::Matrix>> square = {
        {"float1x1", {7}},
        {"float2x2", {1, 2, 3, 4}},
        {"float3x3", {2, -1, 0, 1, 3, 2, 0, 1, 4}},
        {"float3x3", {1, 2, 3, 4, 5, 6, 7, 8, 9}},  // singular
        {"float4x4", {1, 2, 3, 4, 5, 6, 7, 8, 2, 6, 4, 8, 3, 1, 1, 2}},
        {"float4x4", {0, 2, -1, 3, 1, 0, 2, -2, 4, 1, 0, 1, -1, 3, 2, 0}},
        {"float4x4", {1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1}},  // a swap: -1
    };
    for (const auto& [type, m] : square)
        c.push_back({"determinant", {{type, floats(m)}}, {ref::determinant(m, type[5] - '0')}, {1e-5, 1e-6}});
    return c;
}

// ---- Out arguments ------------------------------------------------------------

struct OutCase {
    const char* fn;
    Arg x;
    std::vector<double> result;             // empty for sincos
    std::vector<std::vector<double>> outs;  // arguments 2, 3
};

inline std::vector<OutCase> outCases() {
    return {
        {"modf", f1(2.5f), {0.5}, {{2}}},
        {"modf", f1(-2.5f), {-0.5}, {{-2}}},  // both parts keep the sign of x
        {"modf", f1(3), {0}, {{3}}},
        {"modf", f4(-0.25f, 7.75f, -8, 0), {-0.25, 0.75, 0, 0}, {{0, 7, -8, 0}}},
        {"frexp", f1(8), {0.5}, {{4}}},
        {"frexp", f1(1), {0.5}, {{1}}},
        {"frexp", f1(-3), {-0.75}, {{2}}},
        {"frexp", f1(0.1f), {0.8}, {{-3}}},
        {"frexp", f1(0), {0}, {{0}}},
        {"frexp", f4(1000, 0.5f, 1024, -0.125f), {0.9765625, 0.5, 0.5, -0.5}, {{10, 0, 11, -2}}},
        {"sincos", f1(0.5f), {}, {{std::sin(0.5)}, {std::cos(0.5)}}},
        {"sincos", f3(-1, 0, 2), {}, {{std::sin(-1.0), 0, std::sin(2.0)}, {std::cos(-1.0), 1, std::cos(2.0)}}},
    };
}

// clip discards where any used component is below 0.
struct ClipCase {
    Arg x;
    bool killed;
};

inline std::vector<ClipCase> clipCases() {
    return {{f1(0), false},       {f1(-0.5f), true},          {f3(1, 0, -1e-30f), true}, {f3(1, 2, 3), false},
            {f4(0, 0, 0, -1), true}, {f2(0.5f, 0), false}, {f2(-0.0f, 3), false},  {{"half3", {2, -2, 2}}, true}};
}

// ---- Lookups ------------------------------------------------------------------
// Every lookup reads textures whose texels hold their own centres (1D: 4
// texels, 2D 4x4, 3D 4x4x4 in [0, 1]; RECT 8x8 in texels) and cube maps whose
// faces hold their axis; see texel(). Coordinates are texel centres.

struct LookupCase {
    const char* fn;
    const char* sampler;
    Arg coordinate;
    cgc::ir::Op op;
    std::vector<double> want;
};

inline std::vector<LookupCase> lookupCases() {
    using cgc::ir::Op;
    return {
        {"tex1D", "sampler1D", f1(0.375f), Op::Tex, {0.375, 0, 0, 1}},
        {"tex2D", "sampler2D", f2(0.125f, 0.625f), Op::Tex, {0.125, 0.625, 0, 1}},
        {"tex3D", "sampler3D", f3(0.125f, 0.375f, 0.875f), Op::Tex, {0.125, 0.375, 0.875, 1}},
        {"texRECT", "samplerRECT", f2(3.5f, 6.5f), Op::Tex, {3.5, 6.5, 0, 1}},
        {"texCUBE", "samplerCUBE", f3(-1, 0.5f, 0.25f), Op::Tex, {-1, 0, 0, 1}},
        // Projective: q from the last component, wherever it stands.
        {"tex1Dproj", "sampler1D", f2(0.75f, 2), Op::Txp, {0.375, 0, 0, 1}},
        {"tex2Dproj", "sampler2D", f3(0.25f, 1.25f, 2), Op::Txp, {0.125, 0.625, 0, 1}},
        {"tex2Dproj", "sampler2D", f4(0.25f, 1.25f, 9, 2), Op::Txp, {0.125, 0.625, 0, 1}},
        {"texRECTproj", "samplerRECT", f3(7, 13, 2), Op::Txp, {3.5, 6.5, 0, 1}},
        {"texRECTproj", "samplerRECT", f4(7, 13, 0, 2), Op::Txp, {3.5, 6.5, 0, 1}},
        {"tex3Dproj", "sampler3D", f4(0.25f, 0.75f, 1.75f, 2), Op::Txp, {0.125, 0.375, 0.875, 1}},
        {"texCUBEproj", "samplerCUBE", f4(0.2f, -2, 0.5f, 2), Op::Txp, {0, -1, 0, 1}},
        // Bias, in w: one level, so the same texel.
        {"tex2Dbias", "sampler2D", f4(0.125f, 0.625f, 0, -2), Op::Txb, {0.125, 0.625, 0, 1}},
        {"texCUBEbias", "samplerCUBE", f4(0.25f, 0.5f, 1, 3), Op::Txb, {0, 0, 1, 1}},
        // Prefixed spellings give that many components.
        {"f4tex2D", "sampler2D", f2(0.125f, 0.625f), Op::Tex, {0.125, 0.625, 0, 1}},
        {"h4texRECT", "samplerRECT", f2(1.5f, 2.5f), Op::Tex, {1.5, 2.5, 0, 1}},
        {"f1texRECT", "samplerRECT", f2(1.5f, 2.5f), Op::Tex, {1.5}},
        {"h2tex2Dproj", "sampler2D", f3(0.25f, 1.25f, 2), Op::Txp, {0.125, 0.625}},
        {"x3tex3D", "sampler3D", f3(0.125f, 0.375f, 0.875f), Op::Tex, {0.125, 0.375, 0.875}},
        {"f3texCUBEbias", "samplerCUBE", f4(1, 0, 0, 0.5f), Op::Txb, {1, 0, 0}},
        // A scalar coordinate spreads.
        {"tex2D", "sampler2D", f1(0.375f), Op::Tex, {0.375, 0.375, 0, 1}},
    };
}

}  // namespace builtintest
