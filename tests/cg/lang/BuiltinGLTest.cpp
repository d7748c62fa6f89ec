// The built-ins' value tables (the interpreter tests' own) compiled from
// source by the whole pipeline and run on GL: each call on uniform arguments
// (constants where a case says so), its result written to a 1x1 float
// target and read back.
#include "cg/compiler.h"
#include "tests/cg/builtins/BuiltinCases.h"
#include "tests/cg/support/ArbRunner.h"
#include "tests/support/GLTest.h"

#include <cstdio>
#include <functional>

using namespace builtintest;

namespace {

using Program = cgc::Compiled;

Program compile(const std::string& source) { return cgc::compile(source, "builtin.cg"); }

std::string literal(const Arg& a) {
    std::string s = a.type + "(";
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "%.9g", double(a.values[i]));
        s += (i ? ", " : "") + std::string(text);
    }
    return s + ")";
}

// The textures of BuiltinCases.h's lookups: texels holding their centres.
cgtest::Texture texture(const std::string& sampler, int unit) {
    cgtest::Texture t;
    t.unit = unit;
    if (sampler == "samplerCUBE") {
        t.target = GL_TEXTURE_CUBE_MAP;
        for (int face = 0; face < 6; ++face) {
            float axis[4] = {0, 0, 0, 1};
            axis[face / 2] = face % 2 ? -1.0f : 1.0f;
            t.rgba.insert(t.rgba.end(), axis, axis + 4);
        }
        return t;
    }
    const bool rect = sampler == "samplerRECT";
    const int dims = sampler == "sampler1D" ? 1 : sampler == "sampler3D" ? 3 : 2;
    t.target = rect ? GL_TEXTURE_RECTANGLE_ARB : dims == 1 ? GL_TEXTURE_1D : dims == 3 ? GL_TEXTURE_3D : GL_TEXTURE_2D;
    const int n = rect ? 8 : 4;
    t.width = n;
    t.height = dims > 1 ? n : 1;
    t.depth = dims > 2 ? n : 1;
    auto centre = [&](int i) { return rect ? float(i) + 0.5f : (float(i) + 0.5f) / float(n); };
    for (int k = 0; k < t.depth; ++k)
        for (int j = 0; j < t.height; ++j)
            for (int i = 0; i < t.width; ++i) {
                float texel[4] = {centre(i), dims > 1 ? centre(j) : 0.0f, dims > 2 ? centre(k) : 0.0f, 1.0f};
                t.rgba.insert(t.rgba.end(), texel, texel + 4);
            }
    return t;
}

// Runs `body` (statements ending in the return of a float4) over uniforms
// a0, a1, ... holding the arguments. body gets each argument's text: its
// uniform's name, or a literal for a constant argument.
struct Outcome {
    std::string error;
    cgtest::Rgba colour{};
};

using Body = std::function<std::string(const std::vector<std::string>& args)>;

std::string callOf(const std::string& fn, const std::vector<std::string>& args, std::size_t count) {
    std::string call = fn + "(";
    for (std::size_t i = 0; i < count; ++i) call += (i ? ", " : "") + args[i];
    return call;  // open, for out arguments to follow
}

Outcome runBody(const std::vector<Arg>& args, const Body& body) {
    Outcome r;
    std::string params;
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = "a" + std::to_string(i);
        texts.push_back(args[i].constant ? literal(args[i]) : name);
        if (!args[i].constant)
            params += (params.empty() ? "" : ", ") + std::string("uniform ") + args[i].type + " " + name;
    }
    std::string source = "float4 main(" + params + ") : COLOR {\n" + body(texts) + "\n}\n";
    Program p = compile(source);
    if (!p.error.empty()) {
        r.error = p.error + "\n" + source;
        return r;
    }
    cgtest::ArbRun run;
    run.width = run.height = 1;
    for (const cgc::ParameterInfo& info : p.parameters) {
        const Arg& a = args.at(std::size_t(std::stoi(info.name.substr(1))));
        if (info.kind == cgc::ParameterInfo::Sampler) {
            run.textures.push_back(texture(a.type, info.slot));
            continue;
        }
        for (int row = 0; row < info.slots; ++row) {
            if (run.locals.size() <= std::size_t(info.slot + row)) run.locals.resize(std::size_t(info.slot + row + 1));
            for (int c = 0; c < info.components; ++c) {
                std::size_t at = std::size_t(row * info.components + c);
                run.locals[std::size_t(info.slot + row)][std::size_t(c)] = at < a.values.size() ? a.values[at] : 0.0f;
            }
        }
    }
    cgtest::ArbResult gl = cgtest::runArb(p.text, run);
    if (!gl.loaded) r.error = "GL rejected the program: " + gl.error + "\n" + p.text;
    else r.colour = gl.pixel(0, 0);
    return r;
}

// `float4(x, 0, ...)`, padded to four components.
std::string padded(const std::string& x, int components) {
    std::string s = "float4(" + x;
    for (int i = components; i < 4; ++i) s += ", 0";
    return s + ")";
}

// The result's shape, as the signature gives it: rows and components a row.
std::pair<int, int> shapeOf(const char* fn, const std::vector<Arg>& args) {
    cgc::TypeTable types;
    std::vector<cgc::TypeId> argTypes;
    for (const Arg& a : args) {
        cgc::TypeId t = 0;
        types.builtinType(a.type, &t);
        argTypes.push_back(t);
    }
    cgc::BuiltinSignature sig;
    std::string why;
    if (!cgc::findBuiltin(fn)->signature(types, argTypes, &sig, &why)) return {0, 0};
    const cgc::TypeInfo& info = types.info(sig.result);
    if (info.kind == cgc::TypeKind::Matrix) return {info.rows, info.cols};
    return {1, types.components(sig.result)};
}

// On GL a little more room than on the interpreter: llvmpipe's RSQ, EX2,
// LG2, SIN and COS are approximations of their own.
Tolerance onGL(Tolerance t) { return {std::fmax(t.abs, 4e-6), std::fmax(t.rel, 4e-6)}; }
Tolerance onGLExact(Tolerance t) { return t.abs == 0 && t.rel == 0 ? t : onGL(t); }

void expectColour(const Outcome& r, int first, const std::vector<double>& want, std::size_t count, Tolerance t) {
    ASSERT_EQ(r.error, "");
    for (std::size_t c = 0; c < count; ++c) {
        double w = want.at(std::size_t(first) + c);
        EXPECT_TRUE(close(r.colour[c], w, t)) << "component " << first + int(c) << ": got " << r.colour[c] << ", want " << w;
    }
}

class BuiltinGL : public FloatTargetTest {
protected:
    void expectTable(const std::vector<Case>& cases) {
        for (const Case& k : cases) {
            SCOPED_TRACE(describe(k.fn, k.args));
            auto [rows, width] = shapeOf(k.fn, k.args);
            ASSERT_EQ(std::size_t(rows * width), k.want.size());
            for (int row = 0; row < rows; ++row) {
                Outcome r = runBody(k.args, [&](const std::vector<std::string>& a) {
                    std::string call = callOf(k.fn, a, a.size()) + ")";
                    return "  return " + padded(rows > 1 ? call + "[" + std::to_string(row) + "]" : call, width) + ";";
                });
                expectColour(r, row * width, k.want, std::size_t(width), onGLExact(k.tolerance));
            }
        }
    }
};

TEST_F(BuiltinGL, roundingFunctionsAtIntegersAndHalves) { expectTable(roundingCases()); }
TEST_F(BuiltinGL, signIsZeroAtZeroAndOneForTinyValues) { expectTable(signCases()); }
TEST_F(BuiltinGL, rootsExponentialsAndLogarithms) { expectTable(exponentialCases()); }
TEST_F(BuiltinGL, trigonometryAndAngles) { expectTable(trigonometryCases()); }
TEST_F(BuiltinGL, inverseTrigonometryWithinItsApproximationInEveryQuadrant) { expectTable(inverseTrigonometryCases()); }
TEST_F(BuiltinGL, hyperbolicFunctionsThroughTheirExponentials) { expectTable(hyperbolicCases()); }
TEST_F(BuiltinGL, binaryFunctionsAtTheirEdgesAndWithScalarsSpread) { expectTable(binaryCases()); }
TEST_F(BuiltinGL, ternaryFunctionsInsideAndOutsideTheirRanges) { expectTable(ternaryCases()); }
TEST_F(BuiltinGL, classificationOfNaNAndInfinity) { expectTable(classificationCases()); }
TEST_F(BuiltinGL, reductionsOverEveryWidth) { expectTable(reductionCases()); }
TEST_F(BuiltinGL, geometryFunctionsFollowTheirDefinitions) { expectTable(geometryCases()); }
TEST_F(BuiltinGL, matrixProductsTransposesAndDeterminants) { expectTable(matrixCases()); }

TEST_F(BuiltinGL, outArgumentsReceiveTheirParts) {
    for (const OutCase& k : outCases()) {
        SCOPED_TRACE(describe(k.fn, {k.x}));
        const int width = int(k.x.values.size());
        const std::string type = k.x.type;
        // The result, then each out argument, one run each.
        for (std::size_t part = k.result.empty() ? 1 : 0; part <= k.outs.size(); ++part) {
            Outcome r = runBody({k.x}, [&](const std::vector<std::string>& a) {
                std::string outs, args = callOf(k.fn, a, 1);
                for (std::size_t i = 1; i <= k.outs.size(); ++i) {
                    outs += "  " + type + " o" + std::to_string(i) + ";\n";
                    args += ", o" + std::to_string(i);
                }
                std::string shown = part == 0 ? "r" : "o" + std::to_string(part);
                std::string result = k.result.empty() ? "  " + args + ");\n" : "  " + type + " r = " + args + ");\n";
                return outs + result + "  return " + padded(shown, width) + ";";
            });
            expectColour(r, 0, part == 0 ? k.result : k.outs[part - 1], std::size_t(width), onGL({1e-6, 1e-6}));
        }
    }
}

TEST_F(BuiltinGL, clipDiscardsWhereAUsedComponentIsNegative) {
    for (const ClipCase& k : clipCases()) {
        SCOPED_TRACE(describe("clip", {k.x}));
        Outcome r = runBody({k.x}, [&](const std::vector<std::string>& a) {
            return "  clip(" + a[0] + ");\n  return float4(1, 1, 1, 1);";
        });
        double shown = k.killed ? 0 : 1;  // a discarded fragment leaves the cleared target
        expectColour(r, 0, {shown, shown, shown, shown}, 4, kExact);
    }
}

TEST_F(BuiltinGL, lookupsSampleTheirOwnUnitAndTarget) {
    for (const LookupCase& k : lookupCases()) {
        // A second sampler of another kind first, so the lookup's own unit is not 0.
        std::vector<Arg> args = {{k.sampler == std::string("sampler3D") ? "sampler2D" : "sampler3D", {}},
                                 {k.sampler, {}}, k.coordinate};
        SCOPED_TRACE(describe(k.fn, args));
        Outcome r = runBody(args, [&](const std::vector<std::string>& a) {
            return "  return " + padded(callOf(k.fn, {a[1], a[2]}, 2) + ")", int(k.want.size())) + ";";
        });
        expectColour(r, 0, k.want, k.want.size(), {1e-6, 0});
    }
}

}  // namespace
