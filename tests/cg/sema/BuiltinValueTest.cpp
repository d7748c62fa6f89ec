// Every built-in against a C++ reference, on the interpreter: each case runs
// once lowered (arguments as uniforms) and once folded (arguments as
// constants), with the edges where the definitions bite.
#include "tests/cg/sema/BuiltinHarness.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <sstream>

using namespace builtintest;

namespace {

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
    std::vector<double> want;
    Tolerance tolerance = {};
};

std::string describe(const std::string& fn, const std::vector<Arg>& args) {
    std::ostringstream s;
    s << fn << "(";
    for (std::size_t i = 0; i < args.size(); ++i) {
        s << (i ? ", " : "") << (args[i].constant ? "const " : "") << args[i].type << "(";
        for (std::size_t k = 0; k < args[i].values.size(); ++k) s << (k ? ", " : "") << args[i].values[k];
        s << ")";
    }
    return s.str() + ")";
}

bool finiteArgs(const std::vector<Arg>& args) {
    for (const Arg& a : args)
        for (float x : a.values)
            if (!std::isfinite(x)) return false;
    return true;
}

bool close(float got, double want, Tolerance t) {
    if (std::isnan(want)) return std::isnan(got);
    if (std::isinf(want)) return double(got) == want;
    return std::fabs(double(got) - want) <= t.abs + t.rel * std::fabs(want);
}

void expectComponents(const Components& got, const std::vector<double>& want, Tolerance t, const std::string& ir) {
    ASSERT_EQ(got.size(), want.size()) << ir;
    for (std::size_t i = 0; i < want.size(); ++i)
        EXPECT_TRUE(close(got[i], want[i], t)) << "component " << i << ": got " << got[i] << ", want " << want[i] << "\n"
                                               << ir;
}

void check(const Case& k) {
    for (Mode mode : {Mode::Lowered, Mode::Constant}) {
        if (mode == Mode::Constant && !finiteArgs(k.args)) continue;  // no constant spells them
        SCOPED_TRACE(describe(k.fn, k.args) + (mode == Mode::Lowered ? " lowered" : " with constant arguments"));
        Call c = call(k.fn, k.args, mode);
        ASSERT_TRUE(c.ok) << c.why;
        ASSERT_EQ(c.fault, "");
        expectComponents(c.result, k.want, k.tolerance, c.ir);
    }
}

// Per-component functions: each point alone as a float, and the points in
// fours as float4 (in threes as half3 for the rest), so both the scalar and
// the vector forms run on every point.
using Unary = double (*)(double);
using Binary = double (*)(double, double);

void sweep(const char* fn, Unary ref, const std::vector<float>& points, Tolerance t) {
    for (float x : points) check({fn, {f1(x)}, {ref(x)}, t});
    for (std::size_t i = 0; i + 4 <= points.size(); i += 4)
        check({fn, {f4(points[i], points[i + 1], points[i + 2], points[i + 3])},
               {ref(points[i]), ref(points[i + 1]), ref(points[i + 2]), ref(points[i + 3])}, t});
    std::size_t rest = points.size() / 4 * 4;
    if (points.size() - rest == 3)
        check({fn, {{"half3", {points[rest], points[rest + 1], points[rest + 2]}}},
               {ref(points[rest]), ref(points[rest + 1]), ref(points[rest + 2])}, t});
}

void sweep2(const char* fn, Binary ref, const std::vector<std::pair<float, float>>& points, Tolerance t) {
    for (auto [a, b] : points) check({fn, {f1(a), f1(b)}, {ref(a, b)}, t});
    for (std::size_t i = 0; i + 4 <= points.size(); i += 4) {
        std::vector<double> want;
        Arg a{"float4", {}}, b{"float4", {}};
        for (std::size_t k = i; k < i + 4; ++k) {
            a.values.push_back(points[k].first);
            b.values.push_back(points[k].second);
            want.push_back(ref(points[k].first, points[k].second));
        }
        check({fn, {a, b}, want, t});
    }
}

double floorOf(double x) { return std::floor(x); }
double ceilOf(double x) { return std::ceil(x); }
double fracOf(double x) { return x - std::floor(x); }
double roundOf(double x) { return std::floor(x + 0.5); }
double saturateOf(double x) { return std::fmin(std::fmax(x, 0.0), 1.0); }
double signOf(double x) { return x > 0 ? 1 : x < 0 ? -1 : 0; }
double rsqrtOf(double x) { return 1 / std::sqrt(x); }
double absOf(double x) { return std::fabs(x); }
double expOf(double x) { return std::exp(x); }
double exp2Of(double x) { return std::exp2(x); }
double logOf(double x) { return std::log(x); }
double log2Of(double x) { return std::log2(x); }
double log10Of(double x) { return std::log10(x); }
double sqrtOf(double x) { return std::sqrt(x); }
double sinOf(double x) { return std::sin(x); }
double cosOf(double x) { return std::cos(x); }
double tanOf(double x) { return std::tan(x); }
double asinOf(double x) { return std::asin(x); }
double acosOf(double x) { return std::acos(x); }
double atanOf(double x) { return std::atan(x); }
double sinhOf(double x) { return std::sinh(x); }
double coshOf(double x) { return std::cosh(x); }
double tanhOf(double x) { return std::tanh(x); }
double degreesOf(double x) { return x * 180 / kPi; }
double radiansOf(double x) { return x * kPi / 180; }

TEST(BuiltinValues, roundingFunctionsAtIntegersAndHalves) {
    const std::vector<float> points = {-2.5f, -1.5f, -1.0f, -0.5f, -0.25f, 0.0f, 0.49f, 0.5f, 1.0f, 1.5f, 2.5f, 2.999f};
    sweep("floor", floorOf, points, kExact);
    sweep("ceil", ceilOf, points, kExact);
    sweep("frac", fracOf, points, kExact);
    sweep("round", roundOf, points, kExact);  // halves go up: round(-0.5) is 0, round(2.5) is 3
}

TEST(BuiltinValues, signIsZeroAtZeroAndOneForTinyValues) {
    sweep("sign", signOf, {-3.0f, -1e-30f, 0.0f, -0.0f, 1e-30f, 5.0f, -7.0f}, kExact);
    sweep("abs", absOf, {-2.5f, -0.0f, 0.0f, 3.0f, -1e-30f, 1e30f, -1e30f}, kExact);
    sweep("saturate", saturateOf, {-1.0f, -0.0f, 0.0f, 0.5f, 1.0f, 2.0f, 1e30f}, kExact);
}

TEST(BuiltinValues, rootsExponentialsAndLogarithms) {
    sweep("sqrt", sqrtOf, {0.0f, 0.25f, 2.0f, 1e6f, 1e-6f, 9.0f, 1e30f}, {});  // sqrt(0) is 0, not NaN
    sweep("rsqrt", rsqrtOf, {0.25f, 2.0f, 1e6f, 1e-6f}, {});
    sweep("exp", expOf, {-5.0f, 0.0f, 1.0f, 3.5f, -80.0f, 80.0f, 0.001f}, {});
    sweep("exp2", exp2Of, {-3.0f, 0.0f, 0.5f, 10.0f, -126.0f, 127.0f, 0.1f}, {});
    sweep("log", logOf, {0.1f, 1.0f, 2.718281828f, 1000.0f, 1e-30f, 1e30f, 2.0f}, {});
    sweep("log2", log2Of, {0.125f, 1.0f, 3.0f, 1024.0f}, {});
    sweep("log10", log10Of, {0.001f, 1.0f, 50.0f, 1e5f}, {});
}

TEST(BuiltinValues, trigonometryAndAngles) {
    sweep("sin", sinOf, {-3.0f, -1.0f, 0.0f, 0.5f, 1.5707963f, 3.0f, 0.001f}, {});
    sweep("cos", cosOf, {-3.0f, -1.0f, 0.0f, 0.5f, 1.5707963f, 3.0f, 0.001f}, {});
    sweep("tan", tanOf, {-1.2f, -0.5f, 0.0f, 0.7f, 1.3f, 0.001f, -0.001f}, {1e-6, 1e-5});
    sweep("degrees", degreesOf, {3.14159265f, -1.0f, 0.0f, 0.5f}, {});
    sweep("radians", radiansOf, {180.0f, -90.0f, 0.0f, 1.0f}, {});
}

TEST(BuiltinValues, inverseTrigonometryWithinItsApproximationOverTheDomain) {
    const std::vector<float> unit = {-1.0f, -0.99f, -0.5f, -0.0f, 0.0f, 0.3f, 0.7f, 1.0f, 0.999f, 1e-4f, -0.3f};
    sweep("acos", acosOf, unit, kApprox);
    sweep("asin", asinOf, unit, kApprox);
    sweep("atan", atanOf, {-1e4f, -100.0f, -2.0f, -1.0f, -0.5f, 0.0f, 0.25f, 1.0f, 1.5f, 1e4f, 0.999f}, kApprox);
}

TEST(BuiltinValues, atan2InEveryQuadrantAndOnTheAxes) {
    double (*ref)(double, double) = [](double y, double x) { return std::atan2(y, x); };
    sweep2("atan2",
           ref,
           {{1, 1}, {1, -1}, {-1, -1}, {-1, 1},          // quadrants
            {0, 1}, {1, 0}, {0, -1}, {-1, 0},            // axes
            {0, 0}, {3, 0.5f}, {-0.5f, -3}, {1e-3f, -2},  // the origin, steep, shallow, near the negative axis
            {2, 1e-3f}, {-2, 1e-3f}, {1e20f, 1e20f}, {-1e-20f, 1e-20f}},
           kApprox);
}

TEST(BuiltinValues, hyperbolicFunctionsThroughTheirExponentials) {
    const std::vector<float> points = {-10.0f, -5.0f, -1.0f, -1e-3f, 0.0f, 0.5f, 3.0f, 10.0f};
    sweep("sinh", sinhOf, points, {1e-6, 1e-6});
    sweep("cosh", coshOf, points, {1e-6, 1e-6});
    // Far out, e^2x overflows and the result is still +-1, not NaN.
    sweep("tanh", tanhOf, {-100.0f, -20.0f, -2.0f, -0.5f, 0.0f, 1e-4f, 0.5f, 3.0f, 20.0f, 100.0f, 1e30f, -1e30f}, {1e-6, 0});
}

TEST(BuiltinValues, binaryFunctionsAtTheirEdges) {
    // step: 1 at the edge itself.
    sweep2("step", [](double a, double x) { return x >= a ? 1.0 : 0.0; },
           {{0.5f, 0.5f}, {0.5f, 0.49999997f}, {0, -0.0f}, {-1, -2}, {1, 2}, {-0.0f, 0}, {3, 3.0000002f}, {2, -2}}, kExact);
    // fmod: the result has the sign of x.
    sweep2("fmod", [](double x, double y) { return std::fmod(x, y); },
           {{7.5f, 2}, {-7.5f, 2}, {7.5f, -2}, {-7.5f, -2}, {-6, 3}, {5.25f, 0.5f}, {1, 3}, {-1, 3},
            {0.75f, 0.25f}, {-0.25f, 1}, {100.5f, 10}, {-2, 8}},
           {1e-6, 0});
    sweep2("min", [](double a, double b) { return std::fmin(a, b); }, {{1, 2}, {-1, -2}, {3, 3}, {-1e30f, 1e30f}}, kExact);
    sweep2("max", [](double a, double b) { return std::fmax(a, b); }, {{1, 2}, {-1, -2}, {3, 3}, {-1e30f, 1e30f}}, kExact);
    sweep2("pow", [](double x, double y) { return std::pow(x, y); },
           {{2, 10}, {0.5f, 2}, {9, 0.5f}, {0, 3}, {3, 0}, {10, -2}, {1, 100}, {2.5f, 1.5f}}, {});
    sweep2("ldexp", [](double x, double n) { return x * std::exp2(n); }, {{3, 2}, {1, -3}, {-0.75f, 4}, {5, 0}}, {});
}

TEST(BuiltinValues, scalarArgumentsSpreadOverTheVector) {
    check({"step", {f1(0.5f), f4(0.25f, 0.5f, 0.75f, -1)}, {0, 1, 1, 0}, kExact});
    check({"pow", {f3(2, 3, 4), {"int", {2}}}, {4, 9, 16}, {}});
    check({"lerp", {f2(0, 10), f2(4, 20), f1(0.25f)}, {1, 12.5}, {}});
    check({"clamp", {f3(-1, 0.5f, 2), {"int", {0}}, {"int", {1}}}, {0, 0.5, 1}, kExact});
    check({"max", {{"bool", {1}}, f2(0.5f, 2)}, {1, 2}, kExact});
}

TEST(BuiltinValues, ternaryFunctionsInsideAndOutsideTheirRanges) {
    // clamp(x, lo, hi) = max(lo, min(hi, x)): lo wins when the bounds cross.
    for (auto [x, lo, hi] : std::vector<std::array<float, 3>>{
             {-1, 0, 1}, {0.5f, 0, 1}, {2, 0, 1}, {5, 2, 1}, {-3, -2, 2}, {1.5f, -2, 2}, {0, 0, 0}}) {
        double want = std::fmax(lo, std::fmin(hi, x));
        check({"clamp", {f1(x), f1(lo), f1(hi)}, {want}, kExact});
        check({"clamp", {f1(x), konst(f1(lo)), konst(f1(hi))}, {want}, kExact});  // 0 and 1: a saturate
    }
    for (auto [a, b, s] : std::vector<std::array<float, 3>>{{0, 10, 0.25f}, {1, 3, -1}, {1, 3, 2}, {2, 2, 0.7f}, {-4, 4, 1}, {-4, 4, 0}})
        check({"lerp", {f1(a), f1(b), f1(s)}, {a + double(s) * (b - a)}, {}});
    auto smooth = [](double a, double b, double x) {
        double t = std::fmin(std::fmax((x - a) / (b - a), 0.0), 1.0);
        return t * t * (3 - 2 * t);
    };
    for (auto [a, b, x] : std::vector<std::array<float, 3>>{
             {0, 1, 0}, {0, 1, 1}, {0, 1, -1}, {0, 1, 2}, {0, 1, 0.5f}, {0, 1, 0.25f}, {1, 0, 0.25f}, {-2, 6, 0}, {-2, 6, 6}}) {
        check({"smoothstep", {f1(a), f1(b), f1(x)}, {smooth(a, b, x)}, {}});
        check({"smoothstep", {konst(f1(a)), konst(f1(b)), f1(x)}, {smooth(a, b, x)}, {}});
    }
    check({"smoothstep", {f4(0, 0, -1, 2), f4(1, 2, 1, 4), f4(0.5f, 3, 0, 2)}, {0.5, 1, 0.5, 0}, {}});
}

TEST(BuiltinValues, classificationOfNaNAndInfinity) {
    const std::vector<float> points = {0.0f, 1.0f, -1e38f, FLT_MAX, kInf, -kInf, kNaN, -FLT_MAX};
    auto flag = [](bool b) { return b ? 1.0 : 0.0; };
    for (float x : points) {
        check({"isnan", {f1(x)}, {flag(std::isnan(x))}, kExact});
        check({"isinf", {f1(x)}, {flag(std::isinf(x))}, kExact});
        check({"isfinite", {f1(x)}, {flag(std::isfinite(x))}, kExact});
    }
    check({"isnan", {f4(kNaN, 0, kInf, 1)}, {1, 0, 0, 0}, kExact});
    check({"isinf", {f4(kNaN, 0, -kInf, 1)}, {0, 0, 1, 0}, kExact});
    check({"isfinite", {f4(kNaN, 0, kInf, 1)}, {0, 1, 0, 1}, kExact});
}

// ---- Out arguments ------------------------------------------------------------

struct OutCase {
    const char* fn;
    Arg x;
    std::vector<double> result;               // empty for sincos
    std::vector<std::vector<double>> outs;    // arguments 2, 3
};

TEST(BuiltinValues, outArgumentsReceiveTheirParts) {
    const OutCase cases[] = {
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
    for (const OutCase& k : cases) {
        std::vector<Arg> args = {k.x};
        for (std::size_t i = 0; i < k.outs.size(); ++i) args.push_back({k.x.type, Components(k.x.values.size(), 0.0f)});
        SCOPED_TRACE(describe(k.fn, args));
        Call c = call(k.fn, args);
        ASSERT_TRUE(c.ok) << c.why;
        ASSERT_EQ(c.fault, "");
        expectComponents(c.result, k.result, {1e-6, 1e-6}, c.ir);
        for (std::size_t i = 0; i < k.outs.size(); ++i) expectComponents(c.outs[i + 1], k.outs[i], {1e-6, 1e-6}, c.ir);
    }
}

// ---- Vectors and matrices -----------------------------------------------------

TEST(BuiltinValues, reductionsOverEveryWidth) {
    const Case cases[] = {
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
    };
    for (const Case& k : cases) check(k);
}

TEST(BuiltinValues, boolReductionsTreatNonZeroAsTrue) {
    const Case cases[] = {
        {"all", {f4(1, 1, 1, 1)}, {1}, kExact},     {"all", {f4(1, 0, 1, 1)}, {0}, kExact},
        {"all", {f3(0.5f, -2, 1)}, {1}, kExact},    {"all", {f2(0, 3)}, {0}, kExact},
        {"all", {f2(-1, 3)}, {1}, kExact},          {"all", {f1(0)}, {0}, kExact},
        {"all", {f1(-0.25f)}, {1}, kExact},         {"all", {{"bool3", {1, 1, 0}}}, {0}, kExact},
        {"any", {f4(0, 0, 0, 0)}, {0}, kExact},     {"any", {f4(0, 0, 0, -7)}, {1}, kExact},
        {"any", {f3(0, 0, -0.1f)}, {1}, kExact},    {"any", {f3(0, -0.0f, 0)}, {0}, kExact},
        {"any", {f2(0, 3)}, {1}, kExact},           {"any", {f2(0, 0)}, {0}, kExact},
        {"any", {f1(2)}, {1}, kExact},              {"any", {{"bool4", {0, 0, 1, 0}}}, {1}, kExact},
    };
    for (const Case& k : cases) check(k);
}

TEST(BuiltinValues, geometryFunctionsFollowTheirDefinitions) {
    const double s45 = std::sqrt(0.5);
    const Case cases[] = {
        {"cross", {f3(1, 0, 0), f3(0, 1, 0)}, {0, 0, 1}},
        {"cross", {f3(1, 2, 3), f3(4, 5, 6)}, {-3, 6, -3}},
        {"reflect", {f3(1, -1, 0), f3(0, 1, 0)}, {1, 1, 0}},
        {"reflect", {f2(2, -3), f2(0, 1)}, {2, 3}},
        {"reflect", {f4(1, 2, 3, 4), f4(0, 0, 0, 1)}, {1, 2, 3, -4}},
        // Snell: sin t = eta sin i; past the critical angle the zero vector.
        {"refract", {f3(float(s45), float(-s45), 0), f3(0, 1, 0), f1(0.5f)},
         {0.5 * s45, -std::sqrt(1 - 0.125), 0}},
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
    for (const Case& k : cases) check(k);
}

using Matrix = std::vector<double>;

Matrix product(const Matrix& a, int rows, int inner, const Matrix& b, int cols) {
    Matrix r(std::size_t(rows * cols), 0);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            for (int k = 0; k < inner; ++k) r[std::size_t(i * cols + j)] += a[std::size_t(i * inner + k)] * b[std::size_t(k * cols + j)];
    return r;
}

Components floats(const Matrix& m) { return Components(m.begin(), m.end()); }

TEST(BuiltinValues, mulTakesColumnsOnTheRightAndRowsOnTheLeft) {
    const Matrix m23 = {1, 2, 3, 4, 5, 6}, m32 = {1, 0, 0, 1, 1, 1};
    const Matrix m44 = {1, 2, 0, -1, 3, 0.5, 2, 4, -2, 1, 1, 0, 0, 3, -1, 2};
    const Matrix v3 = {1, 0, -1}, v2 = {1, -1}, v4 = {0.5, -1, 2, 3};
    const Case cases[] = {
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
        {"transpose", {{"float4x4", floats(m44)}},
         {1, 3, -2, 0, 2, 0.5, 1, 3, 0, 2, 1, -1, -1, 4, 0, 2}},
        {"transpose", {{"float1x2", {7, 8}}}, {7, 8}},
    };
    for (const Case& k : cases) check(k);
}

// Gaussian elimination with partial pivoting: another route than expansion.
double eliminate(Matrix m, int n) {
    double d = 1;
    for (int c = 0; c < n; ++c) {
        int p = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs(m[std::size_t(r * n + c)]) > std::fabs(m[std::size_t(p * n + c)])) p = r;
        if (m[std::size_t(p * n + c)] == 0) return 0;
        if (p != c) {
            for (int k = 0; k < n; ++k) std::swap(m[std::size_t(p * n + k)], m[std::size_t(c * n + k)]);
            d = -d;
        }
        d *= m[std::size_t(c * n + c)];
        for (int r = c + 1; r < n; ++r) {
            double f = m[std::size_t(r * n + c)] / m[std::size_t(c * n + c)];
            for (int k = c; k < n; ++k) m[std::size_t(r * n + k)] -= f * m[std::size_t(c * n + k)];
        }
    }
    return d;
}

TEST(BuiltinValues, determinantOfEverySquareSize) {
    const std::vector<std::pair<const char*, Matrix>> matrices = {
        {"float1x1", {7}},
        {"float2x2", {1, 2, 3, 4}},
        {"float3x3", {2, -1, 0, 1, 3, 2, 0, 1, 4}},
        {"float3x3", {1, 2, 3, 4, 5, 6, 7, 8, 9}},  // singular
        {"float4x4", {1, 2, 3, 4, 5, 6, 7, 8, 2, 6, 4, 8, 3, 1, 1, 2}},
        {"float4x4", {0, 2, -1, 3, 1, 0, 2, -2, 4, 1, 0, 1, -1, 3, 2, 0}},
        {"float4x4", {1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1}},  // a swap: -1
    };
    for (const auto& [type, m] : matrices) {
        int n = type[5] - '0';
        check({"determinant", {{type, floats(m)}}, {eliminate(m, n)}, {1e-5, 1e-6}});
    }
}

// ---- Lookups --------------------------------------------------------------------

struct LookupCase {
    const char* fn;
    const char* sampler;
    Arg coordinate;
    cgc::ir::Op op;
    std::vector<double> want;  // the texel (see texel()) in the components the spelling gives
};

TEST(BuiltinValues, lookupsSampleTheirUnitAndTargetWithTheirCoordinate) {
    using cgc::ir::Op;
    const LookupCase cases[] = {
        {"tex1D", "sampler1D", f1(0.25f), Op::Tex, {0.25, 0, 0, 1}},
        {"tex2D", "sampler2D", f2(0.25f, 0.5f), Op::Tex, {0.25, 0.5, 0, 1}},
        {"tex3D", "sampler3D", f3(0.25f, 0.5f, 0.75f), Op::Tex, {0.25, 0.5, 0.75, 1}},
        {"texRECT", "samplerRECT", f2(3.5f, 7.5f), Op::Tex, {3.5, 7.5, 0, 1}},
        {"texCUBE", "samplerCUBE", f3(-1, 0.5f, 0.25f), Op::Tex, {-1, 0.5, 0.25, 1}},
        // Projective: q from the last component, wherever it stands.
        {"tex1Dproj", "sampler1D", f2(3, 2), Op::Txp, {1.5, 0, 0, 1}},
        {"tex2Dproj", "sampler2D", f3(1, 2, 4), Op::Txp, {0.25, 0.5, 0, 1}},
        {"tex2Dproj", "sampler2D", f4(1, 2, 9, 4), Op::Txp, {0.25, 0.5, 0, 1}},
        {"texRECTproj", "samplerRECT", f3(6, 3, 2), Op::Txp, {3, 1.5, 0, 1}},
        {"texRECTproj", "samplerRECT", f4(6, 3, 0, 2), Op::Txp, {3, 1.5, 0, 1}},
        {"tex3Dproj", "sampler3D", f4(1, 2, 3, 2), Op::Txp, {0.5, 1, 1.5, 1}},
        {"texCUBEproj", "samplerCUBE", f4(1, 2, 3, 2), Op::Txp, {0.5, 1, 1.5, 1}},
        // Bias: in w.
        {"tex2Dbias", "sampler2D", f4(0.25f, 0.5f, 0, -2), Op::Txb, {0.25, 0.5, 0, -2}},
        {"texCUBEbias", "samplerCUBE", f4(0.25f, 0.5f, 1, 3), Op::Txb, {0.25, 0.5, 1, 3}},
        // Prefixed spellings give that many components.
        {"f4tex2D", "sampler2D", f2(0.25f, 0.5f), Op::Tex, {0.25, 0.5, 0, 1}},
        {"h4texRECT", "samplerRECT", f2(1, 2), Op::Tex, {1, 2, 0, 1}},
        {"f1texRECT", "samplerRECT", f2(1, 2), Op::Tex, {1}},
        {"h2tex2Dproj", "sampler2D", f3(1, 2, 2), Op::Txp, {0.5, 1}},
        {"x3tex3D", "sampler3D", f3(0.25f, 0.5f, 0.75f), Op::Tex, {0.25, 0.5, 0.75}},
        {"f3texCUBEbias", "samplerCUBE", f4(1, 0, 0, 0.5f), Op::Txb, {1, 0, 0}},
        // A scalar coordinate spreads.
        {"tex2D", "sampler2D", f1(0.5f), Op::Tex, {0.5, 0.5, 0, 1}},
    };
    for (const LookupCase& k : cases) {
        std::vector<Arg> args = {{k.sampler, {}}, k.coordinate};
        SCOPED_TRACE(describe(k.fn, args));
        Call c = call(k.fn, args);
        ASSERT_TRUE(c.ok) << c.why;
        ASSERT_EQ(c.fault, "");
        expectComponents(c.result, k.want, kExact, c.ir);
        ASSERT_FALSE(c.lookups.empty());
        EXPECT_EQ(c.lookups[0].op, k.op);
        EXPECT_EQ(c.lookups[0].unit, 3);  // the sampler's own unit (the harness gives argument 1 unit 3)
        cgc::TypeTable types;
        cgc::TypeId sampler;
        ASSERT_TRUE(types.builtinType(k.sampler, &sampler));
        EXPECT_EQ(int(c.lookups[0].target), int(types.info(sampler).sampler));
    }
}

}  // namespace
