// Random programs through the whole compiler, on Mesa and in the IR
// interpreter, against the reference interpreter pixel by pixel. The figure
// (programs, pixels compared, excused as hinging on rounding, mismatches)
// is printed. HEAT2D_ORACLE_SEEDS=N runs N seeds instead of the fixed set,
// from HEAT2D_ORACLE_FIRST_SEED when that is set.
#include "cg/compiler.h"
#include "cg/ir/eval.h"
#include "fuzz/cross_check.h"
#include "fuzz/oracle_judge.h"
#include "fuzz/random_program.h"
#include "tests/cg/interp/OracleField.h"
#include "tests/support/GLTest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

struct Figure {
    int programs = 0, rejected = 0, failed = 0;
    oracle::Tally pixels;
    void print(const char* where) const {
        std::printf("random programs %s: %d programs (%d too large for the target), %ld pixels equal to the oracle, "
                    "%ld excused as hinging on rounding, %ld mismatched in %d programs\n",
                    where, programs, rejected, pixels.compared, pixels.excused, pixels.mismatched, failed);
    }
};

int seedCount(int fixed) {
    const char* n = std::getenv("HEAT2D_ORACLE_SEEDS");
#ifdef __SANITIZE_ADDRESS__
    fixed /= 5;  // the sanitizers' build runs the compiler and the checks many times slower
#endif
    return n ? std::atoi(n) : fixed;
}

std::uint64_t firstSeed(std::uint64_t fixed) {
    const char* n = std::getenv("HEAT2D_ORACLE_FIRST_SEED");
    return n ? std::strtoull(n, nullptr, 10) : fixed;
}

// Compiles seed's program; false when it cannot run on the target (too
// large), failing the test when it does not compile for any other reason.
bool compileSeed(std::uint64_t seed, std::string* text, cgc::Compiled* out, cgc::interp::Program* oracle) {
    *text = randprog::generate(seed);
    // What is judged is the code, not heat2d's limits: Mesa loads programs
    // far longer than those, so more of the generator's programs run.
    cgc::Options options;
    auto& l = options.limits;
    l.instructions = l.aluInstructions = l.texInstructions = l.texIndirections = 4096;
    l.temporaries = 256;
    *out = cgc::compile(*text, "random.cg", options);
    if (!out->ok) {
        const bool limit = out->error.find("this target allows") != std::string::npos ||
                           out->error.find("iterations") != std::string::npos ||
                           out->error.find("too large") != std::string::npos;
        EXPECT_TRUE(limit) << "seed " << seed << ": " << out->error << "\n" << *text;
        return false;
    }
    std::string error;
    EXPECT_TRUE(oracle->load(*text, "random.cg", {}, &error)) << error;
    return error.empty();
}

void report(Figure* figure, std::uint64_t seed, const std::string& text, const std::string& program, int i, int j,
            const std::string& why) {
    if (++figure->failed <= 5)
        ADD_FAILURE() << "seed " << seed << " pixel (" << i << ", " << j << "): " << why << "\n" << text << "\n" << program;
}

using RandomProgramsOnGL = FloatTargetTest;

// Each seed's program that compiles, with the oracle loaded; counted in figure.
template <class Check>
void forEachProgram(Figure* figure, int seeds, std::uint64_t first, Check check) {
    for (int s = 0; s < seeds; ++s) {
        const std::uint64_t seed = first + std::uint64_t(s);
        std::string text;
        cgc::Compiled compiled;
        cgc::interp::Program oracle;
        ++figure->programs;
        if (!compileSeed(seed, &text, &compiled, &oracle)) {
            ++figure->rejected;
            continue;
        }
        check(seed, text, compiled, oracle);
    }
}

TEST_F(RandomProgramsOnGL, matchTheOracleOnEveryPixelThatDoesNotHingeOnRounding) {
    Figure figure;
    forEachProgram(&figure, seedCount(100), firstSeed(1000), [&](std::uint64_t seed, const std::string& text,
                                                            const cgc::Compiled& compiled,
                                                            const cgc::interp::Program& oracle) {
        const cgtest::ArbRun run = oracletest::field(compiled.parameters);
        const cgtest::ArbResult gl = cgtest::runArb(compiled.text, run);
        ASSERT_TRUE(gl.loaded) << "seed " << seed << ": Mesa refused it: " << gl.error << "\n" << compiled.text;
        long before = figure.pixels.mismatched;
        for (int j = 0; j < run.height; ++j)
            for (int i = 0; i < run.width; ++i) {
                oracle::Pixel got;
                const cgtest::Rgba p = gl.pixel(i, j);
                std::copy(p.begin(), p.end(), got.rgba);
                got.killed = p == oracletest::kClear;
                const std::string why = oracle::judge(oracle, oracletest::inputsAt(run, i, j), got, &figure.pixels);
                if (!why.empty() && figure.pixels.mismatched == before + 1) report(&figure, seed, text, compiled.text, i, j, why);
            }
    });
    figure.print("on GL");
    EXPECT_EQ(figure.pixels.mismatched, 0);
    // The generator keeps away from thresholds: few pixels need excusing.
    EXPECT_LT(figure.pixels.excused, figure.pixels.compared / 5);
    EXPECT_LT(figure.rejected, figure.programs / 5);
}

// The same on the CPU, through the IR interpreter: lowering and the
// optimizer against the oracle without the back end, quick enough for
// thousands of seeds.
TEST(RandomProgramsInTheIRInterpreter, matchTheOracleBeforeAndAfterOptimisation) {
    Figure figure;
    forEachProgram(&figure, seedCount(150), firstSeed(50000), [&](std::uint64_t seed, const std::string& text,
                                                            const cgc::Compiled& compiled,
                                                            const cgc::interp::Program& oracle) {
        const crosscheck::Stages stages = crosscheck::runStages(text.data(), text.size(), "random.cg", {});
        ASSERT_EQ(stages.error, "");
        const cgtest::ArbRun run = oracletest::field(compiled.parameters);
        long before = figure.pixels.mismatched;
        for (const cgc::ir::Function* f : {&stages.before, &stages.after})
            for (int j = 0; j < run.height; ++j)
                for (int i = 0; i < run.width; ++i) {
                    const cgc::ir::Result r = cgc::ir::run(*f, cgtest::fragmentAt(run, i, j));
                    oracle::Pixel got;
                    std::copy(r.color.begin(), r.color.end(), got.rgba);
                    got.killed = r.killed;
                    const std::string why = oracle::judge(oracle, oracletest::inputsAt(run, i, j), got, &figure.pixels);
                    if (!why.empty() && figure.pixels.mismatched == before + 1)
                        report(&figure, seed, text, f == &stages.before ? "(unoptimised)" : "(optimised)", i, j, why);
                }
    });
    figure.print("in the IR interpreter");
    EXPECT_EQ(figure.pixels.mismatched, 0);
}

}  // namespace
