// The compiler over many mutated versions of valid programs: every run ends
// in generated text or one error line, never a crash or a hang.
#include "cg/compiler.h"
#include "tests/cg/Mutations.h"

#include <gtest/gtest.h>

namespace {

TEST(CgFuzz, MutatedProgramsCompileOrFailCleanly) {
    std::mt19937 random(20261207);
    std::vector<std::string> bases = cgtest::seeds();
    int compiled = 0, failed = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string source = cgtest::mutate(bases[std::size_t(i) % bases.size()], random);
        cgc::Compiled out = cgc::compile(source, "f.cg");
        if (out.ok) {
            ++compiled;
            ASSERT_EQ(out.text.rfind("!!ARBfp1.0\n", 0), 0u);
            ASSERT_GE(out.text.size(), 4u);
            ASSERT_EQ(out.text.substr(out.text.size() - 4), "END\n");
        } else {
            ++failed;
            ASSERT_EQ(out.error.rfind("f.cg:", 0), 0u) << out.error;
            ASSERT_NE(out.error.find(": error: "), std::string::npos) << out.error;
            ASSERT_EQ(out.error.find('\n'), std::string::npos) << out.error;
        }
    }
    // Both outcomes occur, or the mutations tested only one path.
    EXPECT_GT(compiled, 100);
    EXPECT_GT(failed, 100);
}

}  // namespace
