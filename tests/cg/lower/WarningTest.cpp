// A read of a variable, or of a component, that some path may leave
// unassigned is a warning beside a program that still compiles; where every
// path that gets there assigns it, or every other path has left, there is none.
#include "cg/compiler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The entry takes a texture coordinate c; `before` goes above it.
std::string entry(const std::string& body, const std::string& before = "") {
    return before + "float4 main(float2 c : TEXCOORD0) : COLOR {\n" + body + "\n}\n";
}

struct Row {
    const char* what;
    std::string source;
    std::vector<std::string> warnings;
};

const std::string kMaybe = ": warning: 'r' may be used before it is assigned";

const Row kRows[] = {
    // ---- warned ----
    {"assigned in one arm only", entry("  float4 r;\n  if (c.x > 3) r = 1;\n  return r;"), {"test.cg:4:10" + kMaybe}},
    {"a component assigned in one arm only", entry("  float4 r;\n  r.xy = 1;\n  if (c.x > 0) r.zw = 2;\n  return r.xyzx;"),
     {"test.cg:5:12" + kMaybe}},
    {"a break before the assignment", entry("  float r;\n  for (int i = 0; i < 4; i++) { if (c.x > i) break; r = i; }\n  return r;"),
     {"test.cg:4:10" + kMaybe}},
    {"a continue before the assignment, every iteration",
     entry("  float r;\n  for (int i = 0; i < 4; i++) { if (c.x > i) continue; r = i; }\n  return r;"), {"test.cg:4:10" + kMaybe}},
    {"assigned only where the loop breaks",
     entry("  float r;\n  for (int i = 0; i < 4; i++) if (c.x > i) { r = 1; break; }\n  return r;"), {"test.cg:4:10" + kMaybe}},
    {"a break beside an arm that discards",
     entry("  float r;\n  for (int i = 0; i < 4; i++) { if (c.x > i) break; else { r = 1; discard; } }\n  return r;"),
     {"test.cg:4:10" + kMaybe}},
    {"a struct member assigned in one arm", entry("  S s;\n  s.a = 1;\n  if (c.y > 0) s.b = 2;\n  return s.b;", "struct S { float a, b; };\n"),
     {"test.cg:6:12: warning: 's' may be used before it is assigned"}},
    {"a global a function assigns on one path",
     entry("  set(c.x);\n  return g;", "static float g;\nvoid set(float x) { if (x > 0) g = x; }\n"),
     {"test.cg:5:10: warning: 'g' may be used before it is assigned"}},
    {"an inout argument", entry("  float r;\n  if (c.x > 0) r = 1;\n  twice(r);\n  return r;", "void twice(inout float y) { y *= 2; }\n"),
     {"test.cg:5:9" + kMaybe}},
    {"a read in a loop, once for all its iterations",
     entry("  float r, s = 0;\n  if (c.x > 0) r = 1;\n  for (int i = 0; i < 3; i++) s += r;\n  return s;"), {"test.cg:4:36" + kMaybe}},
    {"a function that may fall off its end", entry("  return f(c.x);", "float f(float x) { if (x > 0) return 1; }\n"),
     {"test.cg:1:41: warning: 'f' may end without returning a value"}},
    {"main falling off its end", entry("  if (c.x > 0) return 1;"),
     {"test.cg:3:1: warning: 'main' may end without returning a value"}},
    // ---- not warned ----
    {"assigned in both arms", entry("  float4 r;\n  if (c.x > 3) r = 1; else r = 2;\n  return r;"), {}},
    {"assigned by parts in one arm, whole in the other",
     entry("  float4 r;\n  if (c.x > 3) { r.xy = 1; r.zw = 2; } else if (c.y > 0) r = 3; else r = 4;\n  return r;"), {}},
    {"components that every path assigns", entry("  float4 r;\n  r.xy = 1;\n  if (c.x > 0) r.zw = 2;\n  return r.xyxy;"), {}},
    {"a loop that surely assigns", entry("  float4 r;\n  for (int i = 0; i < 4; i++) r = i;\n  return r;"), {}},
    {"a do loop, left by a break after the assignment",
     entry("  float r;\n  int i = 0;\n  do { r = i; if (c.x > i) break; i++; } while (i < 3);\n  return r;"), {}},
    {"assigned on the way to each break and at the end of the iteration",
     entry("  float r;\n  for (int i = 0; i < 4; i++) { if (c.x > i) { r = 1; break; } r = 2; }\n  return r;"), {}},
    {"the other path discarded", entry("  float4 r;\n  if (c.x > 3) discard; else r = 1;\n  return r;"), {}},
    {"the other path returned", entry("  float4 r;\n  if (c.x > 3) return 0;\n  r = 1;\n  return r;"), {}},
    {"assigned through an out parameter", entry("  float r;\n  set(r);\n  return r;", "void set(out float y) { y = 2; }\n"), {}},
    {"an arm known when compiling", entry("  float r;\n  if (2 > 1) r = 1;\n  return r;"), {}},
    {"a function whose every path returns", entry("  return f(c.x);", "float f(float x) { if (x > 0) return 1; else return 2; }\n"), {}},
};

TEST(Warnings, AReadThatSomePathLeavesUnassignedIsWarnedOnceAndStillCompiles) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        for (bool optimize : {true, false}) {
            cgc::Options options;
            options.optimize = optimize;
            cgc::Compiled c = cgc::compile(row.source, "test.cg", options);
            EXPECT_TRUE(c.ok) << c.error << "\n" << row.source;
            EXPECT_EQ(c.warnings, row.warnings) << row.source;
        }
    }
}

TEST(Warnings, AReadBeforeAnyAssignmentStaysAnError) {
    cgc::Compiled c = cgc::compile(entry("  float4 r;\n  if (c.x > 3) return 0;\n  return r;"), "test.cg");
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.error, "test.cg:4:10: error: 'r' is used before it is assigned");
}

}  // namespace
