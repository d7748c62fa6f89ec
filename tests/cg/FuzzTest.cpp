// The compiler over many mutated versions of valid programs: every run ends
// in generated text or one located error line, never a crash or a hang, and
// the optimizer never changes what a program computes (on the CPU, by the
// fuzzer's own cross-check, which is itself checked here).
#include "cg/compiler.h"
#include "cg/ir/ir.h"
#include "fuzz/cross_check.h"
#include "tests/cg/Mutations.h"

#include <gtest/gtest.h>

namespace {

cgc::Options withIncludes() {
    cgc::Options options;
    options.readFile = crosscheck::readIncluded;
    return options;
}

TEST(CgFuzz, MutatedProgramsCompileOrFailWithOneLocatedLine) {
    std::mt19937 random(20261207);
    const std::vector<std::string> bases = cgtest::seeds();
    const cgc::Options options = withIncludes();
    const int runs = 20000;
    int compiled = 0, failed = 0;
    for (int i = 0; i < runs; ++i) {
        std::string source = cgtest::mutate(bases[std::size_t(i) % bases.size()], random);
        cgc::Compiled out = cgc::compile(source, "f.cg", options);
        if (out.ok) {
            ++compiled;
            ASSERT_EQ(out.text.rfind("!!ARBfp1.0\n", 0), 0u);
            ASSERT_GE(out.text.size(), 4u);
            ASSERT_EQ(out.text.substr(out.text.size() - 4), "END\n");
        } else {
            ++failed;
            ASSERT_TRUE(crosscheck::located(out.error)) << out.error << "\n" << source;
            ASSERT_EQ(out.error.find("internal"), std::string::npos) << out.error << "\n" << source;
            for (unsigned char c : out.error) ASSERT_TRUE(c >= 0x20 && c != 0x7f) << out.error;
        }
    }
    // Both outcomes are common, or the mutations tested only one path.
    EXPECT_GT(compiled, runs / 5);
    EXPECT_GT(failed, runs / 5);
}

TEST(CgFuzz, OptimisedProgramsComputeWhatUnoptimisedOnesDo) {
    std::mt19937 random(417);
    const std::vector<std::string> bases = cgtest::seeds();
    const std::vector<crosscheck::Fragment> field = crosscheck::designedField();
    const cgc::Options options = withIncludes();
    crosscheck::Tally tally;
    int checked = 0;
    for (int i = 0; i < 3000; ++i) {
        const std::string& base = bases[std::size_t(i) % bases.size()];
        std::string source = i < int(bases.size()) ? base : cgtest::mutate(base, random);
        crosscheck::Stages stages = crosscheck::runStages(source.data(), source.size(), "f.cg", options);
        if (!stages.error.empty()) continue;
        ++checked;
        ASSERT_EQ(crosscheck::compareOnCpu(stages.before, stages.after, field, &tally), "")
            << source << "\n--- before:\n" << cgc::ir::print(stages.before) << "--- after:\n"
            << cgc::ir::print(stages.after);
    }
    EXPECT_GT(checked, 600);
    // Nearly every pixel is compared, not excused as fragile.
    EXPECT_GT(tally.compared, 20 * tally.excused) << tally.compared << " compared, " << tally.excused << " excused";
}

cgc::ir::Function parsed(const std::string& text) {
    cgc::ir::Function f;
    std::string error;
    EXPECT_TRUE(cgc::ir::parse(text, &f, &error)) << error << "\n" << text;
    return f;
}

crosscheck::Fragment fragmentWith(const crosscheck::Vec4& texcoord, const crosscheck::Vec4& colour) {
    crosscheck::Fragment fragment = crosscheck::designedField()[0];
    fragment.inputs[cgc::ir::AttrTexCoord0] = texcoord;
    fragment.inputs[cgc::ir::AttrColor0] = colour;
    return fragment;
}

const std::string kInputs = "%0 = INPUT texcoord0\n%1 = INPUT color0\n";

// The cross-check must tell a wrong optimisation from one that differs only
// where rounding decides; in each row the raw results differ.
TEST(CgFuzz, CrossCheckCatchesWrongCodeAndExcusesRounding) {
    const std::string& t = kInputs;
    struct Case {
        const char* what;
        std::string before, after;
        crosscheck::Vec4 texcoord, colour;
        bool caught;
    } cases[] = {
        {"operands of a subtraction swapped", t + "%2 = ADD %0, -%1\nOUTPUT color %2\n",
         t + "%2 = ADD -%0, %1\nOUTPUT color %2\n", {1, 2, 3, 4}, {0.5f, 0.5f, 0.5f, 0.5f}, true},
        {"a constant off by a thousandth", t + "%2 = CONST 2\n%3 = MUL %0, %2\nOUTPUT color %3\n",
         t + "%2 = CONST 2.002\n%3 = MUL %0, %2\nOUTPUT color %3\n", {1, 2, 3, 4}, {}, true},
        {"a discard dropped", t + "KIL %0\nOUTPUT color %1\n", t + "OUTPUT color %1\n", {-1, 2, 3, 4}, {}, true},
        {"a lane read from the wrong component", t + "%2 = MAD %0, %1, %0\nOUTPUT color %2\n",
         t + "%2 = MAD %0, %1.xyzx, %0\nOUTPUT color %2\n", {1, 2, 3, 4}, {5, 6, 7, 8}, true},
        {"x / c as x * (1 / c) right at a floor's step",
         t + "%2 = CONST 1.1\n%3 = DIV %0, %2\n%4 = FLR %3\nOUTPUT color %4\n",
         t + "%2 = CONST 0.909090877\n%3 = MUL %0, %2\n%4 = FLR %3\nOUTPUT color %4\n", {16.5f, 0, 0, 0}, {}, false},
        {"x + 0 as x, where the sign of x = -0 decides an infinity",
         t + "%2 = CONST 0\n%3 = ADD %0, %2\n%4 = RCP %3\nOUTPUT color %4\n", t + "%2 = RCP %0\nOUTPUT color %2\n",
         {-0.0f, 1, 1, 1}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const cgc::ir::Function before = parsed(c.before), after = parsed(c.after);
        const crosscheck::Fragment fragment = fragmentWith(c.texcoord, c.colour);
        EXPECT_NE(crosscheck::differs(crosscheck::run(before, cgc::ir::usedComponents(before), fragment).result,
                                      crosscheck::run(after, cgc::ir::usedComponents(after), fragment).result),
                  "");
        EXPECT_EQ(crosscheck::compareOnCpu(before, after, {fragment}).empty(), !c.caught);
    }
}

// Fragile: where another rounding, a GPU's fused MAD or its handling of NaN
// may change the result. A GL difference there is excused.
TEST(CgFuzz, FragileWhereRoundingOrNaNOrOverflowDecides) {
    const std::string& t = kInputs;
    const std::string floorOfThird = t + "%2 = CONST 3\n%3 = DIV %0, %2\n%4 = FLR %3\nOUTPUT color %4\n";
    const std::string squareMinus = t + "%2 = MUL %0, %0\n%3 = ADD %2, -%1\nOUTPUT color %3\n";
    const std::string remainder = t + "%2 = CONST 4\n%3 = MUL %0, %2\n%4 = FLR %3\n%5 = CONST -0.25\n"
                                      "%6 = MAD %5, %4, %0\nOUTPUT color %6\n";
    const std::string logarithm = t + "%2 = LG2 %0.x\n%3 = MAX %2, %1\nOUTPUT color %3\n";
    struct Case {
        const char* what;
        std::string program;
        crosscheck::Vec4 texcoord, colour;
        bool fragile;
    } cases[] = {
        {"a floor right at its step", floorOfThird, {6, 6, 6, 6}, {}, true},
        {"a floor between steps", floorOfThird, {7, 7, 7, 7}, {}, false},
        {"a cancellation of large terms, which a GPU may reassociate", remainder, {1e6f, 1e6f, 1e6f, 1e6f}, {}, true},
        {"the same remainder of small terms", remainder, {0.375f, 0.375f, 0.375f, 0.375f}, {}, false},
        {"a product that overflows, where a MAD would not", squareMinus, {2e19f, 1, 1, 1}, {3e38f, 0, 0, 0}, true},
        {"a product in range", squareMinus, {3, 1, 1, 1}, {2, 0, 0, 0}, false},
        {"a NaN that MAX may drop or keep", logarithm, {-1, 0, 0, 0}, {0, 0, 0, 0}, true},
        {"a logarithm of a positive number", logarithm, {8, 0, 0, 0}, {0, 0, 0, 0}, false},
        {"a NaN in a lane nothing reads", t + "%2 = LG2 %0.y\n%3 = VEC %1.x, %2.y, %1.z, %1.w\n"
                                          "%4 = VEC %3.x, %1.y, %3.z, %3.w\nOUTPUT color %4\n",
         {1, -1, 0, 0}, {1, 2, 3, 4}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const cgc::ir::Function f = parsed(c.program);
        EXPECT_EQ(crosscheck::fragile(f, cgc::ir::usedComponents(f), fragmentWith(c.texcoord, c.colour)), c.fragile);
    }
}

}  // namespace
