// Every pair of early exits (break, continue, return, discard) taken one
// after the other in an iteration, in loops of main, of a function and of
// nested loops, compiled with and without the optimiser and run by Mesa;
// each pixel against the same control flow run in C++.
#include "tests/cg/lang/ConstructPipeline.h"
#include "tests/cg/support/ArbReference.h"
#include "tests/cg/support/ArbRunner.h"
#include "tests/support/GLTest.h"

#include <array>
#include <cmath>
#include <functional>
#include <string>

namespace {

using V = std::array<float, 4>;
using Fragment = cgc::ir::Fragment;

enum Exit { Break, Continue, Return, Discard };
const char* const kExitText[] = {"break", "continue", "return v + 10", "discard"};

struct Out {
    V color{};
    bool killed = false;
};

V T(const Fragment& f) { return f.inputs[cgc::ir::AttrTexCoord0]; }
V add(V a, float k) {
    for (float& x : a) x += k;
    return a;
}

// The C++ side of `if (cond) EXIT;` inside a C++ loop that mirrors the shader's.
#define TAKE(cond, e)                              \
    if (cond) {                                    \
        if ((e) == Break) break;                   \
        if ((e) == Continue) continue;             \
        if ((e) == Return) return Out{add(v, 10)}; \
        return Out{{}, true};                      \
    }

// One loop in main: x is taken where t[i] > 0.1, then y where t[3 - i] < 0.3.
std::string inMain(Exit x, Exit y) {
    return std::string("float4 main(float4 t : TEXCOORD0) : COLOR {\n float4 v = 1;\n"
                       " for (int i = 0; i < 4; i++) {\n  v = v * 0.5 + t;\n") +
           "  if (t[i] > 0.1) " + kExitText[x] + ";\n  v.x += 1;\n" +
           "  if (t[3 - i] < 0.3) " + kExitText[y] + ";\n  v.y += 2;\n }\n return v;\n}\n";
}
Out inMainRun(V t, Exit x, Exit y) {
    V v = {1, 1, 1, 1};
    for (int i = 0; i < 4; i++) {
        for (int c = 0; c < 4; ++c) v[c] = v[c] * 0.5f + t[c];
        TAKE(t[i] > 0.1f, x)
        v[0] += 1;
        TAKE(t[3 - i] < 0.3f, y)
        v[1] += 2;
    }
    return Out{v};
}

// The same loop in a function called from a loop of main, with an inout
// parameter the function writes between the exits; its return ends only it.
std::string inFunction(Exit x, Exit y) {
    return std::string("float4 f(float4 t, inout float w) {\n float4 v = 1;\n"
                       " for (int i = 0; i < 3; i++) {\n  v = v * 0.5 + t;\n") +
           "  if (t[i] > 0.1) " + kExitText[x] + ";\n  w += 1;\n" +
           "  if (t[2 - i] < 0.3) " + kExitText[y] + ";\n  w *= 2;\n }\n return v;\n}\n" +
           "float4 main(float4 t : TEXCOORD0) : COLOR {\n float w = 0;\n float4 s = 0;\n"
           " for (int k = 0; k < 2; k++) s += f(t.wzyx * (k + 1), w);\n return float4(s.xyz, w);\n}\n";
}
Out inFunctionRun(V t, Exit x, Exit y) {
    float w = 0;
    V s = {0, 0, 0, 0};
    for (int k = 0; k < 2; k++) {
        V a = {t[3] * float(k + 1), t[2] * float(k + 1), t[1] * float(k + 1), t[0] * float(k + 1)};
        Out r = [&]() -> Out {
            V v = {1, 1, 1, 1};
            for (int i = 0; i < 3; i++) {
                for (int c = 0; c < 4; ++c) v[c] = v[c] * 0.5f + a[c];
                TAKE(a[i] > 0.1f, x)
                w += 1;
                TAKE(a[2 - i] < 0.3f, y)
                w *= 2;
            }
            return Out{v};
        }();
        if (r.killed) return r;
        for (int c = 0; c < 4; ++c) s[c] += r.color[c];
    }
    return Out{{s[0], s[1], s[2], w}};
}

// Nested loops: x leaves the outer loop's iteration before the inner loop
// runs, y the inner one's; the outer loop goes on after the inner ends.
std::string nested(Exit x, Exit y) {
    return std::string("float4 main(float4 t : TEXCOORD0) : COLOR {\n float4 v = 0;\n"
                       " for (int j = 0; j < 3; j++) {\n  v.z += 1;\n") +
           "  if (t[j] > 0.4) " + kExitText[x] + ";\n" +
           "  for (int i = 0; i < 3; i++) {\n   v = v * 0.5 + t * (j + 1);\n" +
           "   if (t[2 - i] < 0.2 * j) " + kExitText[y] + ";\n   v.x += 1;\n  }\n  v.w += 3;\n }\n return v;\n}\n";
}
Out nestedRun(V t, Exit x, Exit y) {
    V v = {0, 0, 0, 0};
    for (int j = 0; j < 3; j++) {
        v[2] += 1;
        TAKE(t[j] > 0.4f, x)
        for (int i = 0; i < 3; i++) {
            for (int c = 0; c < 4; ++c) v[c] = v[c] * 0.5f + t[c] * float(j + 1);
            TAKE(t[2 - i] < 0.2f * float(j), y)
            v[0] += 1;
        }
        v[3] += 3;
    }
    return Out{v};
}

struct Shape {
    const char* what;
    std::function<std::string(Exit, Exit)> source;
    std::function<Out(V, Exit, Exit)> run;
};

const Shape kShapes[] = {
    {"a loop of main", inMain, inMainRun},
    {"a loop of a function called in a loop", inFunction, inFunctionRun},
    {"nested loops", nested, nestedRun},
};

// Single programs whose exits the pairs above do not reach.
struct Case {
    const char* what;
    std::string source;
    std::function<Out(const Fragment&)> expected;
};

const Case kCases[] = {
    {"a continue taken in an iteration stops a break later in it",
     "float4 main(float2 c : TEXCOORD0, float4 col : COLOR0) : COLOR {\n float4 v = 1;\n"
     " for (int i = 0; i < 4; i++) {\n  v *= col;\n  if (c.y > 0) continue;\n  if (c.x > 0) break;\n }\n return v;\n}\n",
     [](const Fragment& f) {
         V c = T(f), col = f.inputs[cgc::ir::AttrColor0], v = {1, 1, 1, 1};
         for (int i = 0; i < 4; i++) {
             for (int k = 0; k < 4; ++k) v[k] *= col[k];
             if (c[1] > 0) continue;
             if (c[0] > 0) break;
         }
         return Out{v};
     }},
    {"an unconditional break after a conditional continue",
     "float4 main(float4 t : TEXCOORD0) : COLOR {\n float4 v = 0;\n"
     " for (int i = 0; i < 4; i++) {\n  v += t;\n  if (t[i] > 0.1) continue;\n  break;\n }\n return v;\n}\n",
     [](const Fragment& f) {
         V t = T(f), v = {0, 0, 0, 0};
         for (int i = 0; i < 4; i++) {
             for (int k = 0; k < 4; ++k) v[k] += t[k];
             if (t[i] > 0.1f) continue;
             break;
         }
         return Out{v};
     }},
    {"continue in one arm, break in the other, and code after both",
     "float4 main(float4 t : TEXCOORD0) : COLOR {\n float4 v = 0;\n"
     " for (int i = 0; i < 4; i++) {\n  v.x += 1;\n  if (t[i] > 0.1) { v.y += 1; continue; } else if (t[i] < -0.5) break;\n"
     "  v.z += 1;\n }\n return v;\n}\n",
     [](const Fragment& f) {
         V t = T(f), v = {0, 0, 0, 0};
         for (int i = 0; i < 4; i++) {
             v[0] += 1;
             if (t[i] > 0.1f) {
                 v[1] += 1;
                 continue;
             } else if (t[i] < -0.5f) {
                 break;
             }
             v[2] += 1;
         }
         return Out{v};
     }},
    {"a return from a function's inner loop after its outer loop continued",
     "float g(float4 t) {\n float s = 0;\n for (int j = 0; j < 3; j++) {\n  if (t[j] > 0.5) continue;\n"
     "  for (int i = 0; i < 3; i++) { s += 1; if (t[i] < -0.2) return s * 10; }\n  s += 100;\n }\n return s;\n}\n"
     "float4 main(float4 t : TEXCOORD0) : COLOR { return float4(g(t), g(-t), 0, 1); }\n",
     [](const Fragment& f) {
         auto g = [](V t) {
             float s = 0;
             for (int j = 0; j < 3; j++) {
                 if (t[j] > 0.5f) continue;
                 for (int i = 0; i < 3; i++) {
                     s += 1;
                     if (t[i] < -0.2f) return s * 10;
                 }
                 s += 100;
             }
             return s;
         };
         V t = T(f), n = {-t[0], -t[1], -t[2], -t[3]};
         return Out{{g(t), g(n), 0, 1}};
     }},
};

cgtest::ArbRun baseRun() {
    cgtest::ArbRun run;
    run.width = 8;
    run.height = 4;
    // 30 of the 32 pixels take the thresholds above on different sides, and
    // t, 2t and -t stay 0.004 or more from every one.
    run.texcoord[0] = {{-0.8f, 0.34f, -0.31f, 0.88f}, {1.52f, 1.18f, -0.49f, 1.29f}, {-1.63f, -0.78f, 1.43f, 1.77f}};
    run.color = {{0.5f, -0.75f, 1.25f, 0.9f}, {0.5f, 0.25f, -0.5f, 0}, {0, 0.5f, 0.25f, 0}};
    run.clear = {9, 8, 7, 6};
    return run;
}

// Runs the program on GL, optimised and not, and checks every pixel.
void expectEveryPixel(const std::string& source, const std::function<Out(const Fragment&)>& expected) {
    for (bool optimize : {true, false}) {
        SCOPED_TRACE(optimize ? "optimised" : "unoptimised");
        cgc::Options options;
        options.optimize = optimize;
        constructtest::Program p = constructtest::compileProgram(source, options);
        ASSERT_EQ(p.error, "") << source;
        cgtest::ArbRun run = baseRun();
        cgtest::ArbResult r = cgtest::runArb(p.text, run);
        ASSERT_TRUE(r.loaded) << r.error << "\n" << p.text;
        for (int j = 0; j < run.height; ++j)
            for (int i = 0; i < run.width; ++i) {
                Out want = expected(cgtest::fragmentAt(run, i, j));
                cgtest::Rgba got = r.pixel(i, j);
                for (int k = 0; k < 4; ++k) {
                    float e = want.killed ? run.clear[std::size_t(k)] : want.color[std::size_t(k)];
                    EXPECT_NEAR(got[std::size_t(k)], e, 1e-4 * (1 + std::fabs(e)))
                        << "pixel (" << i << ", " << j << ") component " << k << "\n" << source;
                }
            }
    }
}

class ControlFlow : public FloatTargetTest {};

TEST_F(ControlFlow, EveryPairOfExitsInAnIterationEndsOnlyThePathsItTakes) {
    if (IsSkipped() || HasFatalFailure()) return;
    for (const Shape& shape : kShapes)
        for (Exit x : {Break, Continue, Return, Discard})
            for (Exit y : {Break, Continue, Return, Discard}) {
                SCOPED_TRACE(std::string(shape.what) + ": " + kExitText[x] + ", then " + kExitText[y]);
                expectEveryPixel(shape.source(x, y), [&](const Fragment& f) { return shape.run(T(f), x, y); });
            }
}

TEST_F(ControlFlow, ExitsInArmsAndNestedFunctionsEndOnlyTheirPaths) {
    if (IsSkipped() || HasFatalFailure()) return;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        expectEveryPixel(c.source, c.expected);
    }
}

}  // namespace
