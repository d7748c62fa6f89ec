// How much code a call costs after optimisation, where a careful ARB
// programmer knows the count; and the measured error of the approximations
// over their whole domains.
#include "tests/cg/builtins/BuiltinHarness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>

using namespace builtintest;

namespace {

struct Cost {
    const char* fn;
    std::vector<Arg> args;
    int most;  // instructions, leaves and sinks not counted
};

Arg any(const char* type) {
    cgc::TypeTable types;
    cgc::TypeId t = 0;
    types.builtinType(type, &t);
    return {type, Components(std::size_t(types.components(t)), 0.5f)};
}

TEST(BuiltinCost, callsLowerToWhatAHandWrittenProgramTakes) {
    const Cost costs[] = {
        {"normalize", {any("float3")}, 3},  // DP3 RSQ MUL
        {"normalize", {any("float4")}, 3},
        {"normalize", {any("float2")}, 4},
        {"length", {any("float3")}, 3},     // DP3 RSQ RCP
        {"length", {any("float2")}, 4},
        {"length", {any("float")}, 1},
        {"distance", {any("float3"), any("float3")}, 4},
        {"lerp", {any("float4"), any("float4"), any("float")}, 1},  // LRP
        {"step", {any("float"), any("float4")}, 1},                 // SGE
        {"step", {konst(f1(0.5f)), any("float4")}, 1},
        {"smoothstep", {konst(f1(0)), konst(f1(1)), any("float4")}, 4},
        {"smoothstep", {konst(f1(-2)), konst(f1(6)), any("float")}, 4},
        {"smoothstep", {any("float"), any("float"), any("float")}, 7},
        {"saturate", {any("float4")}, 1},
        {"clamp", {any("float4"), konst(f1(0)), konst(f1(1))}, 1},
        {"clamp", {any("float4"), any("float"), any("float")}, 2},
        {"dot", {any("float2"), any("float2")}, 2},
        {"dot", {any("float2"), konst(f2(0.25f, 2))}, 1},
        {"dot", {any("float3"), any("float3")}, 1},
        {"dot", {any("float4"), any("float4")}, 1},
        {"mul", {any("float4x4"), any("float4")}, 5},  // four DP4 and their composition
        {"mul", {any("float4"), any("float4x4")}, 4},  // MUL and three MADs
        {"mul", {any("float3x3"), any("float3x3")}, 9},
        {"mul", {any("float2x2"), any("float2")}, 5},
        {"sign", {any("float4")}, 3},
        {"round", {any("float4")}, 2},
        {"ceil", {any("float4")}, 1},
        {"sqrt", {any("float")}, 2},                   // RSQ RCP
        {"exp", {any("float")}, 2},
        {"log", {any("float")}, 2},
        {"pow", {any("float"), any("float")}, 1},
        {"fmod", {any("float"), any("float")}, 6},  // RCP MUL FLR FLR CMP MAD
        {"cross", {any("float3"), any("float3")}, 1},
        {"reflect", {any("float3"), any("float3")}, 3},
        {"faceforward", {any("float3"), any("float3"), any("float3")}, 2},
        {"all", {any("float4")}, 2},
        {"any", {any("float2")}, 1},
        {"determinant", {any("float2x2")}, 2},
        {"determinant", {any("float3x3")}, 2},
        {"determinant", {any("float4x4")}, 11},
        {"isnan", {any("float")}, 2},
        {"tex2D", {{"sampler2D", {}}, any("float2")}, 1},
        {"tex2Dproj", {{"sampler2D", {}}, any("float3")}, 1},
        {"texRECTproj", {{"samplerRECT", {}}, any("float4")}, 1},
        {"acos", {any("float")}, 9},
        {"atan", {any("float")}, 12},
        {"atan2", {any("float"), any("float")}, 16},
        {"tanh", {any("float")}, 5},
    };
    for (const Cost& k : costs) {
        std::ostringstream what;
        what << k.fn << "(";
        for (std::size_t i = 0; i < k.args.size(); ++i) what << (i ? ", " : "") << (k.args[i].constant ? "const " : "") << k.args[i].type;
        SCOPED_TRACE(what.str() + ")");
        Call c = call(k.fn, k.args);
        ASSERT_TRUE(c.ok) << c.why;
        ASSERT_EQ(c.fault, "");
        EXPECT_LE(c.instructions, k.most) << c.ir;
    }
}

TEST(BuiltinCost, scalarOpsRunOncePerDistinctComponent) {
    // A float4 read through a swizzle with repeated components: the scalar
    // ops (RSQ, RCP, EX2, ...) run once per distinct component, also behind
    // per-component work and compositions.
    struct Row {
        const char* fn;
        int swizzle[4];
        int scalarOps;
    };
    const Row rows[] = {
        {"sqrt", {0, 0, 1, 1}, 4},  // RSQ and RCP for x and for y
        {"sqrt", {0, 1, 2, 3}, 8},
        {"exp", {0, 0, 0, 0}, 1},   // behind the MUL by log2(e)
        {"exp", {2, 0, 2, 0}, 2},
        {"tanh", {0, 0, 1, 1}, 4},  // EX2, then RCP of a sum
        {"cos", {3, 3, 3, 3}, 1},
        {"log10", {0, 1, 0, 1}, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fn);
        cgc::TypeTable types;
        cgc::ir::Function f;
        cgc::Builder b(f, types);
        cgc::BuiltinSignature sig;
        std::string why;
        cgc::TypeId f4 = types.vector(cgc::ScalarKind::Float, 4);
        const cgc::Builtin* fn = cgc::findBuiltin(row.fn);
        ASSERT_TRUE(fn->signature(types, {f4}, &sig, &why));
        cgc::Value v{f4, {cgc::Builder::swizzle(b.uniform(0), row.swizzle)}, {}};
        std::vector<cgc::Value> outs(1);
        cgc::Value r = fn->lower(b, sig, {v}, &outs);
        int scalarOps = 0;
        for (const cgc::ir::Inst& inst : f.insts) scalarOps += cgc::ir::isScalar(inst.op);
        EXPECT_EQ(scalarOps, row.scalarOps) << cgc::ir::print(f);
        // and the lanes still get their own values
        cgc::Builder(f, types).output(cgc::ir::OutColor, r.regs[0]);
        cgc::ir::Fragment fragment;
        const float u[4] = {0.25f, 4, 9, 16};
        fragment.uniforms = {{u[0], u[1], u[2], u[3]}};
        cgc::ir::Result out = cgc::ir::run(f, fragment);
        for (int c = 0; c < 4; ++c) {
            Call alone = call(row.fn, {f1(u[row.swizzle[c]])});
            ASSERT_EQ(alone.result.size(), 1u);
            EXPECT_FLOAT_EQ(out.color[std::size_t(c)], alone.result[0]) << "lane " << c;
        }
    }
}

// The approximations over their domains, each point through the lowered IR
// on the interpreter in float, against long double.
struct Sweep {
    const char* fn;
    double lo, hi;
    long double (*ref)(long double);
    double bound;      // worst absolute error allowed
};

double worstError(const Sweep& s, int points) {
    cgc::TypeTable types;
    cgc::ir::Function f;
    cgc::Builder b(f, types);
    cgc::BuiltinSignature sig;
    std::string why;
    cgc::TypeId t = types.scalar(cgc::ScalarKind::Float);
    const cgc::Builtin* fn = cgc::findBuiltin(s.fn);
    if (!fn || !fn->signature(types, {t}, &sig, &why)) return INFINITY;
    std::vector<cgc::Value> outs(1);
    cgc::Value arg;
    arg.type = t;
    arg.regs = {cgc::Builder::lane(b.uniform(0), 0)};
    cgc::Value r = fn->lower(b, sig, {arg}, &outs);
    b.output(cgc::ir::OutColor, r.regs[0]);
    double worst = 0;
    cgc::ir::Fragment fragment;
    for (int i = 0; i <= points; ++i) {
        float x = float(s.lo + (s.hi - s.lo) * i / points);
        fragment.uniforms = {{x, 0, 0, 0}};
        double e = std::fabs(double(cgc::ir::run(f, fragment).color[0]) - double(s.ref(x)));
        if (!(e <= worst)) worst = e;  // NaN counts as worst
    }
    return worst;
}

TEST(BuiltinCost, approximationsStayWithinTheirStatedErrorOverTheirDomains) {
    const Sweep sweeps[] = {
        {"acos", -1, 1, [](long double x) { return acosl(x); }, 3.5e-4},
        {"asin", -1, 1, [](long double x) { return asinl(x); }, 3.5e-4},
        {"atan", -100, 100, [](long double x) { return atanl(x); }, 6.5e-4},
        {"atan", -1.5, 1.5, [](long double x) { return atanl(x); }, 6.5e-4},
        {"tanh", -10, 10, [](long double x) { return tanhl(x); }, 2e-7},
    };
    for (const Sweep& s : sweeps) {
        double worst = worstError(s, 20000);
        std::printf("%s on [%g, %g]: worst error %.3g\n", s.fn, s.lo, s.hi, worst);
        EXPECT_LE(worst, s.bound) << s.fn;
    }
    // atan2 around the unit circle and at other radii, against atan2l.
    cgc::TypeTable types;
    cgc::ir::Function f;
    cgc::Builder b(f, types);
    cgc::BuiltinSignature sig;
    std::string why;
    cgc::TypeId t = types.scalar(cgc::ScalarKind::Float);
    const cgc::Builtin* atan2 = cgc::findBuiltin("atan2");
    ASSERT_TRUE(atan2->signature(types, {t, t}, &sig, &why));
    std::vector<cgc::Value> outs(2);
    cgc::Value y{t, {cgc::Builder::lane(b.uniform(0), 0)}, {}}, x{t, {cgc::Builder::lane(b.uniform(1), 0)}, {}};
    b.output(cgc::ir::OutColor, atan2->lower(b, sig, {y, x}, &outs).regs[0]);
    double worst = 0;
    cgc::ir::Fragment fragment;
    for (double radius : {1e-3, 1.0, 250.0})
        for (int i = 0; i < 20000; ++i) {
            double angle = -3.14159265358979 + 6.28318530717958 * i / 20000;
            float fy = float(radius * std::sin(angle)), fx = float(radius * std::cos(angle));
            fragment.uniforms = {{fy, 0, 0, 0}, {fx, 0, 0, 0}};
            double e = std::fabs(double(cgc::ir::run(f, fragment).color[0]) - double(atan2l(fy, fx)));
            if (!(e <= worst)) worst = e;
        }
    std::printf("atan2 around circles: worst error %.3g\n", worst);
    EXPECT_LE(worst, 6.5e-4);
}

TEST(BuiltinCost, hyperbolicFunctionsKeepTheirRelativeError) {
    for (const char* fn : {"sinh", "cosh"}) {
        cgc::TypeTable types;
        cgc::ir::Function f;
        cgc::Builder b(f, types);
        cgc::BuiltinSignature sig;
        std::string why;
        cgc::TypeId t = types.scalar(cgc::ScalarKind::Float);
        ASSERT_TRUE(cgc::findBuiltin(fn)->signature(types, {t}, &sig, &why));
        std::vector<cgc::Value> outs(1);
        cgc::Value arg{t, {cgc::Builder::lane(b.uniform(0), 0)}, {}};
        b.output(cgc::ir::OutColor, cgc::findBuiltin(fn)->lower(b, sig, {arg}, &outs).regs[0]);
        double worst = 0;
        cgc::ir::Fragment fragment;
        for (int i = 0; i <= 20000; ++i) {
            float x = float(-10 + 20.0 * i / 20000);
            fragment.uniforms = {{x, 0, 0, 0}};
            long double want = std::string(fn) == "sinh" ? sinhl(x) : coshl(x);
            double got = cgc::ir::run(f, fragment).color[0];
            double e = double(fabsl(got - want) / fmaxl(fabsl(want), 1.0L));  // absolute below 1
            if (!(e <= worst)) worst = e;
        }
        std::printf("%s on [-10, 10]: worst error (relative above 1) %.3g\n", fn, worst);
        EXPECT_LE(worst, 1e-6) << fn;
    }
}

}  // namespace
