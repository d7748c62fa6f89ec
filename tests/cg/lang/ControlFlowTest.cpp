// Every pair of early exits (break, continue, return, discard) taken one
// after the other in an iteration, in loops of main, of a function and of
// nested loops, and the loop forms whose count the control fixes wherever
// the counter changes; compiled with and without the optimiser and run by
// Mesa, each pixel against the same control flow run in C++. Forms whose
// count depends on the data give their one located line.
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

// Loops whose count the control fixes on the paths that have not broken out,
// however the counter is written.
const Case kLoopForms[] = {
    {"do/while, counter stepped in the body after a break on the data",
     "float4 main(float4 t : TEXCOORD0) : COLOR {\n float y = abs(t.x) * 9;\n int i = 0;\n"
     " do { if (y <= 1) break; y *= 0.5; i++; } while (i < 4);\n return float4(y, i, 0, 1);\n}\n",
     [](const Fragment& f) {
         float y = std::fabs(T(f)[0]) * 9;
         int i = 0;
         do {
             if (y <= 1) break;
             y *= 0.5f;
             i++;
         } while (i < 4);
         return Out{{y, float(i), 0, 1}};
     }},
    {"while, the same",
     "float4 main(float4 t : TEXCOORD0) : COLOR {\n float y = abs(t.x) * 9;\n int i = 0;\n"
     " while (i < 4) { if (y <= 1) break; y *= 0.5; i++; }\n return float4(y, i, 0, 1);\n}\n",
     [](const Fragment& f) {
         float y = std::fabs(T(f)[0]) * 9;
         int i = 0;
         while (i < 4) {
             if (y <= 1) break;
             y *= 0.5f;
             i++;
         }
         return Out{{y, float(i), 0, 1}};
     }},
    {"for without a step, the counter stepped last in the body, array read by it",
     "float4 main(float4 t : TEXCOORD0) : COLOR {\n float s = 0;\n"
     " for (int i = 0; i < 4;) { if (t[i] < -0.5) break; s += t[i] * (i + 1); i += 1; }\n return s;\n}\n",
     [](const Fragment& f) {
         float s = 0;
         for (int i = 0; i < 4;) {
             if (T(f)[i] < -0.5f) break;
             s += T(f)[i] * float(i + 1);
             i += 1;
         }
         return Out{{s, s, s, s}};
     }},
    {"the counter stepped on both sides of a continue and of an if on the data",
     "float4 main(float4 t : TEXCOORD0) : COLOR {\n float4 v = 0;\n int i = 0;\n"
     " while (i < 4) {\n  if (t[i] > 0.1) { v.x += i; i++; continue; }\n  if (t[i] < -0.2) i += 1; else i = i + 1;\n"
     "  v.y += i;\n }\n return v;\n}\n",
     [](const Fragment& f) {
         V v = {0, 0, 0, 0};
         int i = 0;
         while (i < 4) {
             if (T(f)[i] > 0.1f) {
                 v[0] += float(i);
                 i++;
                 continue;
             }
             i += 1;
             v[1] += float(i);
         }
         return Out{v};
     }},
    {"the counter stepped in both arms, one of which may break first",
     "float4 main(float4 t : TEXCOORD0) : COLOR {\n float4 v = 0;\n int i = 0;\n"
     " while (i < 4) {\n  if (t.x > 0.1) { if (t.y > 0.3) v.x += 1; else break; i++; } else i++;\n  v.y += i;\n }\n"
     " return v;\n}\n",
     [](const Fragment& f) {
         V v = {0, 0, 0, 0};
         int i = 0;
         while (i < 4) {
             if (T(f)[0] > 0.1f) {
                 if (T(f)[1] > 0.3f) v[0] += 1;
                 else break;
                 i++;
             } else {
                 i++;
             }
             v[1] += float(i);
         }
         return Out{v};
     }},
    {"while (true), left by a break on the counter or on the data",
     "float4 main(float4 t : TEXCOORD0) : COLOR {\n int i = 0;\n float s = 1;\n"
     " while (true) { if (i >= 3) break; if (s > 2) break; s += abs(t[i]); i++; }\n return float4(s, i, 0, 0);\n}\n",
     [](const Fragment& f) {
         int i = 0;
         float s = 1;
         while (true) {
             if (i >= 3) break;
             if (s > 2) break;
             s += std::fabs(T(f)[i]);
             i++;
         }
         return Out{{s, float(i), 0, 0}};
     }},
    {"the counter stepped by a function through inout, after a return in it",
     "float next(inout int i, float x) { i++; if (x > 0.4) return 1; return 0; }\n"
     "float4 main(float4 t : TEXCOORD0) : COLOR {\n float s = 0;\n int i = 0;\n"
     " do { s += next(i, t[i]); } while (i < 4);\n return s;\n}\n",
     [](const Fragment& f) {
         float s = 0;
         for (int i = 0; i < 4; i++) s += T(f)[i] > 0.4f ? 1.0f : 0.0f;
         return Out{{s, s, s, s}};
     }},
    {"every path leaving in the first iteration, the step never reached",
     "float4 main(float4 t : TEXCOORD0) : COLOR {\n float4 v = 0;\n int i = 0;\n"
     " do { v.x += 1; if (t.x > 0.1) { if (t.y < -0.5) return 7; break; } if (t.z > 0.3) v.y += 1; else return 5; break; i++; }"
     " while (i < 4);\n return v;\n}\n",
     [](const Fragment& f) {
         V v = {0, 0, 0, 0};
         int i = 0;
         do {
             v[0] += 1;
             if (T(f)[0] > 0.1f) {
                 if (T(f)[1] < -0.5f) return Out{{7, 7, 7, 7}};
                 break;
             }
             if (T(f)[2] > 0.3f) v[1] += 1;
             else return Out{{5, 5, 5, 5}};
             break;
             i++;
         } while (i < 4);
         return Out{v};
     }},
    {"a counter counted down past a return in the loop",
     "float4 main(float4 t : TEXCOORD0) : COLOR {\n int n = 7;\n float s = 0;\n"
     " do { n -= 2; if (t.y * n > 1.5) return float4(n, s, 1, 1); s += n; } while (n > 0);\n return float4(n, s, 0, 0);\n}\n",
     [](const Fragment& f) {
         int n = 7;
         float s = 0;
         do {
             n -= 2;
             if (T(f)[1] * float(n) > 1.5f) return Out{{float(n), s, 1, 1}};
             s += float(n);
         } while (n > 0);
         return Out{{float(n), s, 0, 0}};
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
        // Unoptimised, some exceed heat2d's limits; the driver runs them all.
        auto& l = options.limits;
        l.instructions = l.aluInstructions = l.texInstructions = l.texIndirections = 1024;
        l.temporaries = 256;
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

TEST_F(ControlFlow, LoopFormsRunAsManyTimesAsTheirControlSays) {
    if (IsSkipped() || HasFatalFailure()) return;
    for (const Case& c : kLoopForms) {
        SCOPED_TRACE(c.what);
        expectEveryPixel(c.source, c.expected);
    }
}

TEST(LoopCount, ACountThatDependsOnTheDataIsOneLocatedError) {
    const std::string head = "float4 main(float4 t : TEXCOORD0) : COLOR {\n float s = 0;\n int i = 0;\n";
    struct Refused {
        const char* what;
        std::string body;
        const char* error;
    };
    const Refused refused[] = {
        {"a bound from the data", " for (i = 0; i < t.x; i++) s += 1;\n", "test.cg:4:16: error: loop count is not known at compile time"},
        {"a counter stepped under a run-time condition", " while (i < 4) { if (t.x > 0) i++; s += 1; }\n",
         "test.cg:4:11: error: loop count is not known at compile time"},
        {"an extra step under a run-time condition", " for (; i < 4; i++) { if (t.x > 0) i++; s += 1; }\n",
         "test.cg:4:11: error: loop count is not known at compile time"},
        {"a counter stepped only on the continued paths", " do { if (t.y > 0) { i++; continue; } s += 1; } while (i < 4);\n",
         "test.cg:4:58: error: loop count is not known at compile time"},
        {"a loop left only by a break on the data", " while (true) { if (t.x > s) break; s += 1; }\n",
         "test.cg:4:2: error: loop runs more than 1024 iterations"},
        {"one loop past the bound", " for (int k = 0; k < 1025; k++) s += t.x;\n", "test.cg:4:2: error: loop runs more than 1024 iterations"},
        {"two loops past the bound together",
         " for (int k = 0; k < 600; k++) s += t.x;\n for (int k = 0; k < 600; k++) s += t.y;\n",
         "test.cg:5:2: error: loops run more than 1024 iterations in all"},
        {"a function's loop, called twice", "",
         "test.cg:1:33: error: loops run more than 1024 iterations in all"},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.what);
        std::string source = head + r.body + " return s;\n}\n";
        if (r.body.empty())
            source = "float f(float x) { float s = 0; for (int k = 0; k < 600; k++) s += x; return s; }\n"
                     "float4 main(float4 t : TEXCOORD0) : COLOR { return f(t.x) + f(t.y); }\n";
        EXPECT_EQ(constructtest::compileProgram(source).error, r.error) << source;
    }
}

}  // namespace
