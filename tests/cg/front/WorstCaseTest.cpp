// Hostile inputs up to the runtime's 16 MiB file limit: each must parse or
// fail with one located line within a few seconds, in bounded memory.
#include "FrontTestSupport.h"

#include "cg/front/files.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <ctime>

using namespace cgc;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kSlowdown = 6;
constexpr bool kMeasureMemory = false;
#else
constexpr double kSlowdown = 1;
constexpr bool kMeasureMemory = true;
#endif
constexpr double kSecondsAllowed = 5 * kSlowdown;
constexpr long kPeakMiBAllowed = 1536;

struct Outcome {
    std::string error;  // "" when it parsed
    double seconds = 0;
    std::size_t functions = 0;
};

Outcome run(const std::string& text) {
    Sources sources;
    Outcome out;
    // Processor time, not wall time: the machine may be shared.
    auto cpu = [] {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
    };
    double start = cpu();
    try {
        ast::Tree tree = parseSource(sources, text.data(), text.size(), "big.cg", Options{});
        out.functions = tree.functionCount();
    } catch (const CompileError& e) {
        out.error = sources.format(e.loc, e.what);
    }
    out.seconds = cpu() - start;
    return out;
}

long peakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// Repeats `line` until the text is just under `size` (the runtime's limit).
std::string fill(const std::string& head, const std::string& line, const std::string& tail,
                 std::size_t size = kMaxSourceBytes) {
    std::string text = head;
    text.reserve(size);
    while (text.size() + line.size() + tail.size() <= size) text += line;
    return text + tail;
}

void expectBounded(const char* what, const Outcome& outcome) {
    EXPECT_LT(outcome.seconds, kSecondsAllowed) << what;
    if (kMeasureMemory) {
        EXPECT_LT(peakMiB(), kPeakMiBAllowed) << what;
    }
    testing::Test::RecordProperty(std::string(what) + "_ms", int(outcome.seconds * 1000));
}

const char* const kMain = "float4 main(float4 x : TEXCOORD0) : COLOR {\n";

}  // namespace

TEST(WorstCase, sixteenMegabytesOfOneLineDefinesParse) {
    std::string text;
    text.reserve(kMaxSourceBytes);
    for (int i = 0; text.size() < kMaxSourceBytes - 100; ++i)
        text += "#define M" + std::to_string(i) + " " + std::to_string(i) + "\n";
    text += "float4 main() : COLOR { return M1 + M5000; }\n";
    ASSERT_LE(text.size(), kMaxSourceBytes);
    Outcome outcome = run(text);
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(outcome.functions, 1u);
    expectBounded("defines", outcome);
}

TEST(WorstCase, statementsParseUpToTheTokenBudgetAndFailPastIt) {
    Outcome small = run(fill(kMain, "    x = x * 0.5 + 1.0;\n", "    return x;\n}\n", kMaxSourceBytes / 4));
    EXPECT_EQ(small.error, "");
    expectBounded("statements_4MiB", small);

    Outcome big = run(fill(kMain, "    x = x * 0.5 + 1.0;\n", "    return x;\n}\n"));
    EXPECT_EQ(big.error, "big.cg:262144:17: error: the program is longer than 2097152 tokens");
    expectBounded("statements_16MiB", big);
}

TEST(WorstCase, aMacroDoublingAtEachOfThirtyLevelsStopsAtTheBudget) {
    std::string text = "#define DOUBLE0 x = x + 1;\n";
    for (int i = 1; i <= 30; ++i)
        text += "#define DOUBLE" + std::to_string(i) + " DOUBLE" + std::to_string(i - 1) + " DOUBLE" +
                std::to_string(i - 1) + "\n";
    Outcome outcome = run(text + kMain + "    DOUBLE30\n    return x;\n}\n");
    EXPECT_EQ(outcome.error, "big.cg:33:5: error: macro 'DOUBLE30' expands past 2097152 tokens");
    expectBounded("doubling", outcome);

    // Doubling into nothing produces no tokens, yet each expansion counts.
    text = "#define E0\n";
    for (int i = 1; i <= 30; ++i)
        text += "#define E" + std::to_string(i) + " E" + std::to_string(i - 1) + " E" + std::to_string(i - 1) + "\n";
    outcome = run(text + "E30");
    EXPECT_EQ(outcome.error, "big.cg:32:1: error: macro 'E30' expands past 2097152 tokens");
    expectBounded("doubling_empty", outcome);
}

TEST(WorstCase, deepConditionalNestingParses) {
    const std::size_t depth = kMaxSourceBytes / 16;
    std::string open, close;
    for (std::size_t i = 0; i < depth; ++i) open += "#if 1\n";
    for (std::size_t i = 0; i < depth; ++i) close += "#endif\n";
    Outcome taken = run(open + "float4 main() : COLOR { return 1; }\n" + close);
    EXPECT_EQ(taken.error, "");
    EXPECT_EQ(taken.functions, 1u);
    expectBounded("if_taken", taken);

    std::string skipped = "#if 0\n" + open.substr(6) + "#else\n" + close.substr(7) + "#endif\n";
    Outcome outcome = run(skipped + "float4 main() : COLOR { return 1; }\n");
    EXPECT_EQ(outcome.error, "");
    expectBounded("if_skipped", outcome);
}

TEST(WorstCase, deepNestingFailsAtTheBoundWithoutReadingOn) {
    const std::size_t half = kMaxSourceBytes / 2 - 64;
    struct Case {
        const char* what;
        std::string text;
        const char* error = "nesting is too deep";
    } cases[] = {
        {"parentheses", "float4 main() : COLOR { return " + std::string(half, '(') + std::string(half, ')') + "; }"},
        {"blocks", "float4 main() : COLOR " + std::string(half, '{') + std::string(half, '}')},
        {"initialisers", "float x[1] = " + std::string(half, '{') + std::string(half, '}') + ";"},
        {"prefix_operators", "float4 main() : COLOR { return " + std::string(half * 2 - 64, '!') + "1; }"},
        {"operator_chain", fill("float4 main() : COLOR { return 1", "+1", "; }"), "expression is too complex"},
    };
    for (const Case& c : cases) {
        Outcome outcome = run(c.text);
        EXPECT_TRUE(fronttest::isErrorAt(outcome.error, "big.cg", c.error)) << c.what << ": " << outcome.error;
        expectBounded(c.what, outcome);
    }
}

TEST(WorstCase, longDirectivesCountAgainstTheBudget) {
    struct Case {
        const char* what;
        std::string text;
    } cases[] = {
        {"define_body", fill("#define BODY", " a", "\n")},
        {"redefinitions", fill("", "#define A a b c d e f g h\n", "")},
        {"condition", fill("#if 1", " +1", "\n#endif\n")},
    };
    for (const Case& c : cases) {
        Outcome outcome = run(c.text);
        EXPECT_TRUE(fronttest::isErrorAt(outcome.error, "big.cg", "the program is longer than 2097152 tokens"))
            << c.what << ": " << outcome.error;
        expectBounded(c.what, outcome);
    }
}

TEST(WorstCase, aHugeMacroArgumentOrNameStaysBounded) {
    Outcome argument = run(fill("#define F(x) x\nfloat4 main() : COLOR { return F(", "1,", "1); }"));
    EXPECT_EQ(argument.error, "big.cg:2:32: error: macro 'F' expands past 2097152 tokens");
    expectBounded("argument", argument);

    Outcome name = run("float4 main() : COLOR { " + std::string(kMaxSourceBytes - 100, 'a') + " x; }");
    EXPECT_EQ(name.error, "big.cg:1:25: error: unknown type name '" + std::string(60, 'a') + "\xe2\x80\xa6'");
    expectBounded("name", name);
}
