// The IR's text form: what print writes parse reads back bit for bit, and
// every malformed line is refused with its line number.
#include "cg/ir/ir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace cgc::ir;

namespace {

Function parsed(const std::string& text) {
    Function f;
    std::string error;
    EXPECT_TRUE(parse(text, &f, &error)) << error << "\n" << text;
    return f;
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(IrText, printedProgramsReadBackUnchanged) {
    const char* programs[] = {
        "%0 = INPUT texcoord0\n%1 = TEX %0, 0 RECT\nOUTPUT color %1\n",
        "%0 = CONST 0.5 1 0 -2\n%1 = UNIFORM 3\n%2 = ADD %1.xyxy, -%0.x\n%3 = MUL_SAT %2, %0\nOUTPUT color %3\n",
        "%0 = INPUT wpos\n%1 = INPUT fog\n%2 = VEC %0.x, %1.x, _, _\n%3 = MAD -%2.yxwz, %0, -%1\n"
        "KIL -%3\n%5 = TXP %3, 7 CUBE\n%6 = TXB_SAT %5.wzyx, 15 1D\nOUTPUT depth %6.z\nOUTPUT color %5\n",
        "%0 = UNDEF\n%1 = INPUT color1\n%2 = CMP %1, %1.w, -%1.z\n%3 = LRP %2, %1, %2\n%4 = DP4 %3, %3\n"
        "%5 = XPD %1, %2\n%6 = LIT %5\n%7 = DST %6, %5\n%8 = RCP %7.y\n%9 = POW %8.x, %7.w\nOUTPUT color %9\n",
    };
    for (const char* text : programs) {
        Function f = parsed(text);
        EXPECT_EQ(print(f), text);
    }
}

TEST(IrText, constantsKeepEveryBit) {
    const float awkward[] = {0.1f, -0.0f, 1e-38f, 1.4e-45f, 3.4028235e38f, -1.17549435e-38f, 16777217.0f, 1.0f / 3};
    Function f;
    for (float x : awkward) {
        Inst k;
        k.op = Op::Const;
        for (float& c : k.imm) c = x;
        k.imm[3] = -x;
        f.add(k);
    }
    Function back = parsed(print(f));
    ASSERT_EQ(back.insts.size(), f.insts.size());
    for (std::size_t i = 0; i < f.insts.size(); ++i)
        for (int c = 0; c < 4; ++c)
            EXPECT_TRUE(sameBits(back.insts[i].imm[c], f.insts[i].imm[c])) << print(f);
}

TEST(IrText, swizzlesPrintShortestAndReadAsWritten) {
    struct Case {
        const char* written;
        std::uint8_t swz[4];
        const char* printed;
    } cases[] = {
        {"%0", {0, 1, 2, 3}, "%0"},
        {"%0.xyzw", {0, 1, 2, 3}, "%0"},
        {"%0.z", {2, 2, 2, 2}, "%0.z"},
        {"%0.wwww", {3, 3, 3, 3}, "%0.w"},
        {"%0.xxyy", {0, 0, 1, 1}, "%0.xxyy"},
        {"-%0.wzyx", {3, 2, 1, 0}, "-%0.wzyx"},
    };
    for (const Case& c : cases) {
        Function f = parsed(std::string("%0 = INPUT color0\n%1 = MOV ") + c.written + "\n");
        const Src& s = f.insts[1].src[0];
        for (int lane = 0; lane < 4; ++lane) EXPECT_EQ(s.swz[lane], c.swz[lane]) << c.written;
        EXPECT_EQ(s.neg, c.written[0] == '-') << c.written;
        EXPECT_EQ(print(f), std::string("%0 = INPUT color0\n%1 = MOV ") + c.printed + "\n");
    }
}

TEST(IrText, blankLinesCommentsAndOneNumberConstantsAreAccepted) {
    Function f = parsed("\n  # a comment\n%0 = CONST 2   # splat\n\n   OUTPUT color %0\n");
    ASSERT_EQ(f.insts.size(), 2u);
    for (float x : f.insts[0].imm) EXPECT_EQ(x, 2.0f);
    EXPECT_EQ(f.insts[1].op, Op::Output);
}

TEST(IrText, malformedTextIsRefusedWithItsLine) {
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"%0 = FOO %1\n", "line 1: unknown op 'FOO'"},
        {"%0 = INPUT color0\n%2 = MOV %0\n", "line 2: this is instruction 1, numbered %2"},
        {"%0 = INPUT color0\n%1 MOV %0\n", "line 2: expected '=' after %1"},
        {"%0 = INPUT color9\n", "line 1: unknown input 'color9'"},
        {"%0 = INPUT color0\n%1 = ADD %0\n", "line 2: ADD takes 2 sources"},
        {"%0 = INPUT color0\n%1 = ADD %0, %0, %0\n", "line 2: unexpected text after the instruction"},
        {"%0 = INPUT color0\n%1 = MOV %0.xyz\n", "line 2: a swizzle has 1 or 4 of x, y, z, w, not 'xyz'"},
        {"%0 = INPUT color0\n%1 = MOV %0.rgba\n", "line 2: a swizzle has 1 or 4 of x, y, z, w, not 'rgba'"},
        {"%0 = INPUT color0\n%1 = MOV _\n", "line 2: '_' (no value) is only allowed in VEC lanes"},
        {"%0 = INPUT color0\n%1 = MOV 0\n", "line 2: expected a source such as %1 or -%2.xy"},
        {"%0 = CONST 1 2 x 4\n", "line 1: 'x' is not a number"},
        {"%0 = CONST 1 2\n", "line 1: expected a number"},
        {"%0 = INPUT color0\n%1 = TEX %0, 0 2DARRAY\n", "line 2: unknown texture target '2DARRAY' (1D, 2D, 3D, RECT or CUBE)"},
        {"%0 = INPUT color0\n%1 = TEX %0 0 2D\n", "line 2: expected ', unit target' after the coordinate"},
        {"%0 = INPUT color0\nOUTPUT stencil %0\n", "line 2: unknown output 'stencil' (color or depth)"},
        {"%0 = INPUT color0\n%1 = KIL %0\n", "line 2: KIL defines no value"},
        {"%0 = INPUT color0\nMOV %0\n", "line 2: MOV needs '%n =' before it"},
        {"%0 = UNIFORM x\n", "line 1: expected a uniform slot number"},
        // Structural faults are validate's messages.
        {"%0 = INPUT color0\n%1 = ADD %0, %2\n%2 = MOV %0\n", "%1 (ADD): reads %2, which is not defined before it"},
        {"%0 = INPUT color0\nKIL %0\n%2 = MOV %1\n", "%2 (MOV): reads %1, which has no value"},
        {"%0 = CONST 1 inf 0 0\n", "%0 (CONST): a constant that is not finite"},
        {"%0 = INPUT_SAT color0\n", "%0 (INPUT): saturate on an op that computes no value"},
    };
    for (const auto& c : cases) {
        Function f;
        std::string error;
        EXPECT_FALSE(parse(c.text, &f, &error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

TEST(IrValidate, findsFaultsThatTextCannotSpell) {
    auto base = [] {
        Function f;
        Inst in;
        in.op = Op::Input;
        f.add(in);
        Inst add;
        add.op = Op::Add;
        add.nsrc = 2;
        add.src[0].def = 0;
        add.src[1].def = 0;
        f.add(add);
        return f;
    };
    struct Case {
        void (*spoil)(Function&);
        const char* error;
    } cases[] = {
        {[](Function&) {}, ""},
        {[](Function& f) { f.insts[1].nsrc = 3; }, "%1 (ADD): has 3 sources, needs 2"},
        {[](Function& f) { f.insts[1].src[1].def = kNone; }, "%1 (ADD): source 1 is missing"},
        {[](Function& f) { f.insts[1].src[0].def = 1; }, "%1 (ADD): reads %1, which is not defined before it"},
        {[](Function& f) { f.insts[1].src[0].swz[2] = 4; }, "%1 (ADD): source 0 has a swizzle past w"},
        {[](Function& f) { f.insts[0].index = 12; }, "%0 (INPUT): unknown input 12"},
        {[](Function& f) { f.insts[1].op = Op::Output, f.insts[1].nsrc = 1, f.insts[1].index = 2; },
         "%1 (OUTPUT): unknown output 2"},
        {[](Function& f) { f.insts[1].op = Op::Tex, f.insts[1].nsrc = 1, f.insts[1].target = 5; },
         "%1 (TEX): unknown texture target 5"},
        {[](Function& f) { f.insts[1].op = Op::Kil, f.insts[1].nsrc = 1, f.insts[1].sat = true; },
         "%1 (KIL): saturate on an op that computes no value"},
        {[](Function& f) { f.insts[0].op = Op::Const, f.insts[0].imm[2] = std::nanf(""); },
         "%0 (CONST): a constant that is not finite"},
    };
    for (const Case& c : cases) {
        Function f = base();
        c.spoil(f);
        EXPECT_EQ(validate(f), c.error);
    }
}

}  // namespace
