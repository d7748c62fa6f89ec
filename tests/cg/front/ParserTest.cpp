#include "cg/front/parser.h"

#include <gtest/gtest.h>

using namespace cgc;

TEST(Parser, smoke) {
    Sources sources;
    std::string text = "float4 main(float2 t : TEXCOORD0, uniform samplerRECT s) : COLOR { float4 a = texRECT(s, t); return a * 2 + 1; }";
    ast::Tree tree = parseSource(sources, text.data(), text.size(), "<string>", Options{});
    ASSERT_EQ(tree.items.size(), 1u);
}
