// Each pass on small functions: IR in, IR out, including the cases where a
// pass must leave the code alone.
#include "cg/ir/eval.h"
#include "cg/ir/ir.h"
#include "cg/opt/passes.h"

#include <gtest/gtest.h>

using namespace cgc;
using namespace cgc::ir;

namespace {

using Pass = bool (*)(Function&);

struct Row {
    const char* what;
    const char* in;
    const char* out;  // null: the pass must change nothing
};

Function parsed(const char* text) {
    Function f;
    std::string error;
    EXPECT_TRUE(parse(text, &f, &error)) << error << "\n" << text;
    return f;
}

// Runs the pass, then dead-code elimination so leftovers do not clutter the
// expectation, and compares the printed forms.
void check(Pass pass, const Row& row) {
    SCOPED_TRACE(row.what);
    Function f = parsed(row.in);
    const std::string before = print(f);
    const bool changed = pass(f);
    EXPECT_EQ(validate(f), "");
    if (!row.out) {
        EXPECT_FALSE(changed);
        EXPECT_EQ(print(f), before);
        return;
    }
    EXPECT_TRUE(changed);
    opt::eliminateDeadCode(f);
    EXPECT_EQ(print(f), print(parsed(row.out)));
}

TEST(ConstantFolding, foldsAndAppliesExactIdentities) {
    const Row rows[] = {
        {"all-constant sources", "%0 = CONST 1 2 3 4\n%1 = CONST 0.5\n%2 = ADD %0, %1.x\nOUTPUT color %2\n",
         "%0 = CONST 1.5 2.5 3.5 4.5\nOUTPUT color %0\n"},
        {"a chain folds in one walk", "%0 = CONST 2\n%1 = MUL %0, %0\n%2 = ADD %1, -%0.x\n%3 = RCP %2.y\nOUTPUT color %3\n",
         "%0 = CONST 0.5\nOUTPUT color %0\n"},
        {"a zero in an unused lane does not stop a division",
         "%0 = CONST 1 2 3 4\n%1 = CONST 2 0 0 0\n%2 = DIV %0, %1\nOUTPUT depth %2\n",
         "%0 = CONST 0.5 0 0 0\nOUTPUT depth %0\n"},
        {"saturate applies while folding", "%0 = CONST 2 -1 0.5 0\n%1 = MOV_SAT %0\nOUTPUT color %1\n",
         "%0 = CONST 1 0 0.5 0\nOUTPUT color %0\n"},
        {"x*1", "%0 = INPUT color0\n%1 = CONST 1\n%2 = MUL %1, %0\nOUTPUT color %2\n",
         "%0 = INPUT color0\n%1 = MOV %0\nOUTPUT color %1\n"},
        {"x*1 where only the used lane is 1", "%0 = INPUT color0\n%1 = CONST 1 7 7 7\n%2 = MUL %0, %1\nOUTPUT depth %2\n",
         "%0 = INPUT color0\n%1 = MOV %0\nOUTPUT depth %1\n"},
        {"x*-1 is a negated read, saturate kept",
         "%0 = INPUT color0\n%1 = CONST -1\n%2 = MUL_SAT %0.yxzw, %1\nOUTPUT color %2\n",
         "%0 = INPUT color0\n%1 = MOV_SAT -%0.yxzw\nOUTPUT color %1\n"},
        {"x+0", "%0 = INPUT color0\n%1 = CONST 0 0 0 5\n%2 = ADD %0, %1.x\nOUTPUT color %2\n",
         "%0 = INPUT color0\n%1 = MOV %0\nOUTPUT color %1\n"},
        {"division by a constant is a multiplication by its reciprocal",
         "%0 = INPUT color0\n%1 = CONST 4 -8 0.5 3\n%2 = DIV %0, %1\nOUTPUT color %2\n",
         "%0 = CONST 0.25 -0.125 2 0.333333343\n%1 = INPUT color0\n%2 = MUL %1, %0\nOUTPUT color %2\n"},
        {"division by -1", "%0 = INPUT color0\n%1 = CONST -1\n%2 = DIV %0, %1\nOUTPUT color %2\n",
         "%0 = INPUT color0\n%1 = MOV -%0\nOUTPUT color %1\n"},
        {"a MAD with constant factors", "%0 = INPUT color0\n%1 = CONST 2 3 4 5\n%2 = MAD %1, %1.y, %0\nOUTPUT color %2\n",
         "%0 = CONST 6 9 12 15\n%1 = INPUT color0\n%2 = ADD %0, %1\nOUTPUT color %2\n"},
        {"a MAD by -1", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CONST -1\n%3 = MAD %0, %2, %1\nOUTPUT color %3\n",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = ADD -%0, %1\nOUTPUT color %2\n"},
        {"a CMP on a constant that picks one side", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CONST -1 1 -1 -2\n"
         "%3 = CMP %2.xzwz, -%1, %0\nOUTPUT color %3\n",
         "%0 = INPUT color1\n%1 = MOV -%0\nOUTPUT color %1\n"},
        {"a CMP whose sources are equal", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CMP %1, %0.yxzw, %0.yxzw\n"
         "OUTPUT color %2\n",
         "%0 = INPUT color0\n%1 = MOV %0.yxzw\nOUTPUT color %1\n"},
        {"MIN of a value with itself", "%0 = INPUT color0\n%1 = MIN %0.x, %0.x\nOUTPUT color %1\n",
         "%0 = INPUT color0\n%1 = MOV %0.x\nOUTPUT color %1\n"},
        {"a VEC whose used lanes come from one value",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = VEC %0.y, %0.x, %1.z, %0.z\nOUTPUT color %2.xyww\n",
         "%0 = INPUT color0\n%1 = MOV %0.yxzz\nOUTPUT color %1.xyww\n"},
        {"saturating a comparison does nothing", "%0 = INPUT color0\n%1 = SGE_SAT %0, %0.x\n%2 = MOV_SAT %1\n"
         "OUTPUT color %2\n",
         "%0 = INPUT color0\n%1 = SGE %0, %0.x\n%2 = MOV %1\nOUTPUT color %2\n"},
        {"|-x| is |x|", "%0 = INPUT color0\n%1 = ABS -%0\nOUTPUT color %1\n",
         "%0 = INPUT color0\n%1 = ABS %0\nOUTPUT color %1\n"},
        {"a KIL that can never fire goes", "%0 = INPUT color0\n%1 = CONST 0 1 2 3\nKIL %1\nOUTPUT color %0\n",
         "%0 = INPUT color0\nOUTPUT color %0\n"},
        {"the reciprocal of a reciprocal square root's reciprocal is that root",
         "%0 = INPUT color0\n%1 = DP3 %0, %0\n%2 = RSQ %1.x\n%3 = RCP %2.x\n%4 = RCP -%3.y\nOUTPUT color %4\n",
         "%0 = INPUT color0\n%1 = DP3 %0, %0\n%2 = RSQ %1.x\n%3 = MOV -%2.x\nOUTPUT color %3\n"},
        {"a CMP on p < 0 is a CMP on p", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CONST 0\n%3 = SLT %0, %2.x\n"
         "%4 = CMP -%3, %0, %1\nOUTPUT color %4\n",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CMP %0, %0, %1\nOUTPUT color %2\n"},
        {"a CMP on 0 < p is a CMP on -p", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CONST 0 -0 0 0\n"
         "%3 = SLT %2.y, %0.wzyx\n%4 = CMP -%3.x, %0, %1\nOUTPUT color %4\n",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CMP -%0.w, %0, %1\nOUTPUT color %2\n"},
    };
    for (const Row& row : rows) check(opt::foldConstants, row);
}

TEST(ConstantFolding, leavesWhatWouldChangeANaNOrAnInfinity) {
    const Row rows[] = {
        {"x*0 is not 0 (x may be infinite)", "%0 = INPUT color0\n%1 = CONST 0\n%2 = MUL %0, %1\nOUTPUT color %2\n",
         nullptr},
        {"x-x is not 0", "%0 = INPUT color0\n%1 = ADD %0, -%0\nOUTPUT color %1\n", nullptr},
        {"a MAD by 0 keeps its product", "%0 = INPUT color0\n%1 = CONST 0\n%2 = MAD %0, %1, %0\nOUTPUT color %2\n",
         nullptr},
        {"LRP by 1 still reads the other end", "%0 = INPUT color0\n%1 = CONST 1\n%2 = LRP %1, %0, %0.y\n"
         "OUTPUT color %2\n", nullptr},
        {"a product that overflows", "%0 = CONST 1e30\n%1 = MUL %0, %0\nOUTPUT color %1\n", nullptr},
        {"0/0", "%0 = CONST 0\n%1 = DIV %0, %0\nOUTPUT color %1\n", nullptr},
        {"the logarithm of 0", "%0 = CONST 0\n%1 = LG2 %0\nOUTPUT color %1\n", nullptr},
        {"division by 0", "%0 = INPUT color0\n%1 = CONST 0 1 1 1\n%2 = DIV %0, %1\nOUTPUT color %2\n", nullptr},
        {"a reciprocal that would be infinite", "%0 = INPUT color0\n%1 = CONST 1e-39\n%2 = DIV %0, %1\n"
         "OUTPUT color %2\n", nullptr},
        {"a reciprocal that would lose precision", "%0 = INPUT color0\n%1 = CONST 3e38\n%2 = DIV %0, %1\n"
         "OUTPUT color %2\n", nullptr},
        {"a 1 only in unused lanes", "%0 = INPUT color0\n%1 = CONST 2 1 1 1\n%2 = MUL %0, %1\nOUTPUT depth %2\n",
         nullptr},
        {"a saturate of a negated comparison", "%0 = INPUT color0\n%1 = SGE %0, %0.x\n%2 = MOV_SAT -%1\n"
         "OUTPUT color %2\n", nullptr},
        {"a KIL that fires", "%0 = CONST 0 0 -1 0\nKIL %0\n", nullptr},
        {"a CMP on a constant that picks both sides", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CONST -1 1 -1 0\n"
         "%3 = CMP %2, %0, %1\nOUTPUT color %3\n", nullptr},
        {"the reciprocal of any other reciprocal, which may have left the normal range",
         "%0 = INPUT color0\n%1 = RCP %0.x\n%2 = RCP %1.x\nOUTPUT color %2\n", nullptr},
        {"a CMP on p >= 0, which a NaN fails", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CONST 0\n"
         "%3 = SGE %0, %2.x\n%4 = CMP -%3, %1, %0\nOUTPUT color %4\n", nullptr},
        {"a CMP on a comparison with 0.5", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CONST 0.5\n"
         "%3 = SLT %0, %2.x\n%4 = CMP -%3, %0, %1\nOUTPUT color %4\n", nullptr},
        {"a CMP on a comparison read unnegated", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CONST 0\n"
         "%3 = SLT %0, %2.x\n%4 = CMP %3, %0, %1\nOUTPUT color %4\n", nullptr},
    };
    for (const Row& row : rows) check(opt::foldConstants, row);
}

TEST(CopyPropagation, readsThroughCopiesAndCanonicalisesSwizzles) {
    const Row rows[] = {
        {"a MOV chain composes swizzles and signs",
         "%0 = INPUT color0\n%1 = MOV %0.yzwx\n%2 = MOV -%1.yzwx\nOUTPUT color %2\n",
         "%0 = INPUT color0\nOUTPUT color -%0.zwxy\n"},
        {"a scalar op's source reads one component",
         "%0 = INPUT color0\n%1 = RCP %0.yzwx\nOUTPUT color %1\n", "%0 = INPUT color0\n%1 = RCP %0.y\nOUTPUT color %1\n"},
        {"unread lanes become identity", "%0 = INPUT color0\n%1 = DP3 %0.xyzx, %0.xyzz\nOUTPUT color %1\n",
         "%0 = INPUT color0\n%1 = DP3 %0, %0\nOUTPUT color %1\n"},
        {"the depth output reads one lane", "%0 = INPUT color0\nOUTPUT depth %0.zxyw\n",
         "%0 = INPUT color0\nOUTPUT depth %0.z\n"},
        {"lanes of a VEC that come from one value",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = VEC -%0.y, -%0.x, %1.x, _\n%3 = ADD %2.xyxy, %1\n"
         "OUTPUT color %3\nOUTPUT depth %2.z\n",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = ADD -%0.yxyx, %1\nOUTPUT color %2\nOUTPUT depth %1.x\n"},
        {"a VEC of VECs flattens",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = VEC %0, %1, _, _\n%3 = VEC %1, %0, -%2.y, %2.x\nOUTPUT color %3\n",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = VEC %1.x, %0.y, -%1.y, %0.x\nOUTPUT color %2\n"},
    };
    for (const Row& row : rows) check(opt::propagateCopies, row);
}

TEST(CopyPropagation, leavesSaturatedCopies) {
    const Row rows[] = {
        {"a saturated MOV is a clamp, not a copy",
         "%0 = INPUT color0\n%1 = MOV_SAT %0.yxzw\n%2 = ADD %1, %0\nOUTPUT color %2\n", nullptr},
        {"a saturated VEC", "%0 = INPUT color0\n%1 = VEC_SAT %0.x, %0.y, %0.z, %0.x\n%2 = ADD %1, %0\nOUTPUT color %2\n",
         nullptr},
    };
    for (const Row& row : rows) check(opt::propagateCopies, row);
}

TEST(CommonSubexpressions, mergesEqualValues) {
    const Row rows[] = {
        {"the same ADD twice", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = ADD %0, %1\n%3 = ADD %0, %1\n"
         "%4 = MUL %2, %3\nOUTPUT color %4\n",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = ADD %0, %1\n%3 = MUL %2, %2\nOUTPUT color %3\n"},
        {"commutative operands in either order",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MAD %0, -%1.x, %0\n%3 = MAD -%1.x, %0, %0\n"
         "%4 = ADD %2, %3\nOUTPUT color %4\n",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MAD %0, -%1.x, %0\n%3 = ADD %2, %2\nOUTPUT color %3\n"},
        {"swizzles that differ only in unread lanes",
         "%0 = INPUT color0\n%1 = RCP %0.y\n%2 = RCP %0.yxxx\n%3 = ADD %1, %2\nOUTPUT color %3\n",
         "%0 = INPUT color0\n%1 = RCP %0.y\n%2 = ADD %1, %1\nOUTPUT color %2\n"},
        {"chains merge in one walk",
         "%0 = INPUT color0\n%1 = FLR %0\n%2 = FLR %0\n%3 = FRC %1\n%4 = FRC %2\n%5 = ADD %3, %4\nOUTPUT color %5\n",
         "%0 = INPUT color0\n%1 = FLR %0\n%2 = FRC %1\n%3 = ADD %2, %2\nOUTPUT color %3\n"},
        {"equal constants", "%0 = CONST 1 2 3 4\n%1 = INPUT color0\n%2 = CONST 1 2 3 4\n%3 = MUL %1, %0\n"
         "%4 = MAD %3, %2, %1\nOUTPUT color %4\n",
         "%0 = CONST 1 2 3 4\n%1 = INPUT color0\n%2 = MUL %1, %0\n%3 = MAD %2, %0, %1\nOUTPUT color %3\n"},
        {"the same lookup", "%0 = INPUT texcoord0\n%1 = TEX %0, 1 RECT\n%2 = TEX %0, 1 RECT\n%3 = ADD %1, %2\n"
         "OUTPUT color %3\n",
         "%0 = INPUT texcoord0\n%1 = TEX %0, 1 RECT\n%2 = ADD %1, %1\nOUTPUT color %2\n"},
    };
    for (const Row& row : rows) check(opt::eliminateCommonSubexpressions, row);
}

TEST(CommonSubexpressions, keepsValuesThatDiffer) {
    const Row rows[] = {
        {"different swizzles in used lanes",
         "%0 = INPUT color0\n%1 = ADD %0.xyzw, %0\n%2 = ADD %0.yxzw, %0\n%3 = MUL %1, %2\nOUTPUT color %3\n", nullptr},
        {"swizzles that differ in the last used lane",
         "%0 = INPUT color0\n%1 = MUL %0, %0\n%2 = MUL %0, %0.xyzx\n%3 = ADD %1, %2\nOUTPUT color %3\n", nullptr},
        {"different signs", "%0 = INPUT color0\n%1 = FLR %0\n%2 = FLR -%0\n%3 = MUL %1, %2\nOUTPUT color %3\n",
         nullptr},
        {"a saturated and a plain MUL", "%0 = INPUT color0\n%1 = MUL %0, %0\n%2 = MUL_SAT %0, %0\n%3 = ADD %1, %2\n"
         "OUTPUT color %3\n", nullptr},
        {"operands of a comparison swapped", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = SLT %0, %1\n%3 = SLT %1, %0\n"
         "%4 = ADD %2, %3\nOUTPUT color %4\n", nullptr},
        {"DPH is not commutative", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = DPH %0, %1\n%3 = DPH %1, %0\n"
         "%4 = ADD %2, %3\nOUTPUT color %4\n", nullptr},
        {"lookups on different units", "%0 = INPUT texcoord0\n%1 = TEX %0, 0 2D\n%2 = TEX %0, 1 2D\n%3 = ADD %1, %2\n"
         "OUTPUT color %3\n", nullptr},
        {"constants that differ in a used component", "%0 = CONST 1 2 3 4\n%1 = CONST 1 2 3 5\n%2 = ADD %0, %1\n"
         "OUTPUT color %2\n", nullptr},
        {"uniforms in different slots", "%0 = UNIFORM 0\n%1 = UNIFORM 1\n%2 = ADD %0, %1\nOUTPUT color %2\n", nullptr},
        {"two discards", "%0 = INPUT color0\nKIL %0\nKIL %0\n", nullptr},
    };
    for (const Row& row : rows) check(opt::eliminateCommonSubexpressions, row);
}

TEST(DeadCode, dropsWhatNoSinkReads) {
    Function f = parsed(
        "%0 = INPUT color0\n%1 = INPUT color1\n%2 = ADD %0, %1\n%3 = MUL %2, %2\n%4 = SLT %1, %0\nKIL -%4\n"
        "%6 = RCP %1.x\nOUTPUT color %0\n");
    EXPECT_TRUE(opt::eliminateDeadCode(f));
    EXPECT_EQ(print(f), print(parsed("%0 = INPUT color0\n%1 = INPUT color1\n%2 = SLT %1, %0\nKIL -%2\n"
                                     "OUTPUT color %0\n")));
    EXPECT_FALSE(opt::eliminateDeadCode(f));
}

TEST(MultiplyAdd, fusesAMulIntoItsAdd) {
    const Row rows[] = {
        {"ADD(MUL(a, b), c)", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MUL %0, %1.x\n%3 = ADD %2, %1\n"
         "OUTPUT color %3\n",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MAD %0, %1.x, %1\nOUTPUT color %2\n"},
        {"a subtracted product negates one factor",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MUL -%0, %1\n%3 = ADD %1, -%2\nOUTPUT color %3\n",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MAD %0, %1, %1\nOUTPUT color %2\n"},
        {"a swizzled read of the product",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MUL %0.yxzw, %1.x\n%3 = ADD %1, %2.wzyx\nOUTPUT color %3\n",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MAD %0.wzxy, %1.x, %1\nOUTPUT color %2\n"},
        {"the ADD's saturate goes on the MAD",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MUL %0, %1\n%3 = ADD_SAT %2, %1\nOUTPUT color %3\n",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MAD_SAT %0, %1, %1\nOUTPUT color %2\n"},
        {"a MUL read by two ADDs goes into both",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MUL %0, %1\n%3 = ADD %2, %1\n%4 = ADD %0, %2.x\n"
         "%5 = MUL %3, %4\nOUTPUT color %5\n",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MAD %0, %1, %1\n%3 = MAD %0.x, %1.x, %0\n%4 = MUL %2, %3\n"
         "OUTPUT color %4\n"},
    };
    for (const Row& row : rows) check(opt::fuseMultiplyAdd, row);
}

TEST(MultiplyAdd, aSharedProductStaysForItsOtherReaders) {
    const Row rows[] = {
        {"a MUL also read elsewhere", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MUL %0, %1\n%3 = ADD %2, %1\n"
         "%4 = RCP %2.x\n%5 = ADD %3, %4\nOUTPUT color %5\n",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MUL %0, %1\n%3 = MAD %0, %1, %1\n%4 = RCP %2.x\n"
         "%5 = ADD %3, %4\nOUTPUT color %5\n"},
        {"a MUL that is output too", "%0 = INPUT color0\n%1 = MUL %0, %0\n%2 = ADD %1, %0\nOUTPUT color %2\n"
         "OUTPUT depth %1\n",
         "%0 = INPUT color0\n%1 = MUL %0, %0\n%2 = MAD %0, %0, %0\nOUTPUT color %2\nOUTPUT depth %1\n"},
        {"of two products the one that then goes is taken",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MUL %0, %0\n%3 = MUL %1, %1\n%4 = ADD %2, %3\n"
         "%5 = MUL %2, %4\nOUTPUT color %5\n",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MUL %0, %0\n%3 = MAD %1, %1, %2\n%4 = MUL %2, %3\n"
         "OUTPUT color %4\n"},
    };
    for (const Row& row : rows) check(opt::fuseMultiplyAdd, row);
}

TEST(MultiplyAdd, neverFusesAcrossASaturate) {
    const Row rows[] = {
        {"a saturated MUL", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MUL_SAT %0, %1\n%3 = ADD %2, %1\n"
         "OUTPUT color %3\n", nullptr},
        {"a MUL added to itself", "%0 = INPUT color0\n%1 = MUL %0, %0\n%2 = ADD %1, %1\nOUTPUT color %2\n", nullptr},
    };
    for (const Row& row : rows) check(opt::fuseMultiplyAdd, row);
}

TEST(Saturate, clampsToTheUnitRangeBecomeSaturates) {
    const Row rows[] = {
        {"MIN(MAX(x, 0), 1) on x's own instruction",
         "%0 = INPUT color0\n%1 = CONST 0 1 0 0\n%2 = ADD %0, %0.x\n%3 = MAX %2, %1.x\n%4 = MIN %1.y, %3\n"
         "OUTPUT color %4\n",
         "%0 = INPUT color0\n%1 = ADD_SAT %0, %0.x\n%2 = MOV %1\nOUTPUT color %2\n"},
        {"MAX(MIN(x, 1), 0) through a swizzle",
         "%0 = INPUT color0\n%1 = CONST 1 0 0 0\n%2 = DP3 %0, %0\n%3 = MIN %2.x, %1.x\n%4 = MAX %3.yxzw, %1.y\n"
         "OUTPUT color %4\n",
         "%0 = INPUT color0\n%1 = DP3_SAT %0, %0\n%2 = MOV %1.x\nOUTPUT color %2\n"},
        {"x read elsewhere gets a saturated MOV",
         "%0 = INPUT color0\n%1 = CONST 0 1 0 0\n%2 = ADD %0, %0.x\n%3 = MAX %2, %1.x\n%4 = MIN %3, %1.y\n"
         "%5 = MUL %4, %2\nOUTPUT color %5\n",
         "%0 = INPUT color0\n%1 = ADD %0, %0.x\n%2 = MOV_SAT %1\n%3 = MUL %2, %1\nOUTPUT color %3\n"},
        {"an input cannot carry it", "%0 = INPUT color0\n%1 = CONST 0 1 0 0\n%2 = MAX %0, %1.x\n%3 = MIN %2, %1.y\n"
         "OUTPUT color %3\n",
         "%0 = INPUT color0\n%1 = MOV_SAT %0\nOUTPUT color %1\n"},
        {"a clamped VEC: its producers saturate and its constants are clamped",
         "%0 = INPUT color0\n%1 = CONST 3 -1 2 0\n%2 = MAD %0.x, %1.x, %1.y\n%3 = MUL %0.y, %1.z\n"
         "%4 = VEC %2.x, %3.x, %1.z, %1.w\n%5 = MOV_SAT %4\nOUTPUT color %5\n",
         "%0 = CONST 1 1 1 1\n%1 = INPUT color0\n%2 = CONST 3 -1 2 0\n%3 = MAD_SAT %1.x, %2.x, %2.y\n"
         "%4 = MUL_SAT %1.y, %2.z\n%5 = VEC %3.x, %4.x, %0.z, %2.w\n%6 = MOV %5\nOUTPUT color %6\n"},
        {"a saturated VEC of a comparison and a lookup",
         "%0 = INPUT texcoord0\n%1 = TEX %0, 0 2D\n%2 = CONST 0.5\n%3 = SLT %0, %2.x\n"
         "%4 = VEC_SAT %1.x, %3.y, %1.z, %1.w\nOUTPUT color %4\n",
         "%0 = INPUT texcoord0\n%1 = TEX_SAT %0, 0 2D\n%2 = CONST 0.5\n%3 = SLT %0, %2.x\n"
         "%4 = VEC %1.x, %3.y, %1.z, %1.w\nOUTPUT color %4\n"},
        {"a saturated copy of a value used once",
         "%0 = INPUT texcoord0\n%1 = TEX %0, 0 2D\n%2 = MOV_SAT %1.wzyx\nOUTPUT color %2\n",
         "%0 = INPUT texcoord0\n%1 = TEX_SAT %0, 0 2D\n%2 = MOV %1.wzyx\nOUTPUT color %2\n"},
    };
    for (const Row& row : rows) check(opt::formSaturate, row);
}

TEST(Saturate, leavesOtherClamps) {
    const Row rows[] = {
        {"a bound of 2", "%0 = INPUT color0\n%1 = CONST 0 2 0 0\n%2 = MAX %0, %1.x\n%3 = MIN %2, %1.y\n"
         "OUTPUT color %3\n", nullptr},
        {"the clamps the wrong way round", "%0 = INPUT color0\n%1 = CONST 0 1 0 0\n%2 = MAX %0, %1.y\n"
         "%3 = MIN %2, %1.x\nOUTPUT color %3\n", nullptr},
        {"a negated inner clamp", "%0 = INPUT color0\n%1 = CONST 0 1 0 0\n%2 = MAX %0, %1.x\n%3 = MIN -%2, %1.y\n"
         "OUTPUT color %3\n", nullptr},
        {"a bound that is 1 in only some used lanes", "%0 = INPUT color0\n%1 = CONST 0 1 0 0\n%2 = MAX %0, %1.x\n"
         "%3 = MIN %2, %1.yyyx\nOUTPUT color %3\n", nullptr},
        {"a saturated copy of a negated value", "%0 = INPUT color0\n%1 = FLR %0\n%2 = MOV_SAT -%1\nOUTPUT color %2\n",
         nullptr},
        {"a saturated copy of a value used twice", "%0 = INPUT color0\n%1 = FLR %0\n%2 = MOV_SAT %1\n%3 = ADD %2, %1\n"
         "OUTPUT color %3\n", nullptr},
        {"a clamped VEC with a negated lane", "%0 = INPUT color0\n%1 = FLR %0\n%2 = VEC %1.x, -%1.y, %1.z, %1.w\n"
         "%3 = MOV_SAT %2\nOUTPUT color %3\n", nullptr},
        {"a clamped VEC whose producer is read elsewhere", "%0 = INPUT color0\n%1 = FLR %0\n"
         "%2 = VEC %1.x, %1.y, %0.z, %1.w\n%3 = MOV_SAT %2\n%4 = ADD %3, %1\nOUTPUT color %4\n", nullptr},
        {"a clamped VEC of an input's lane", "%0 = INPUT color0\n%1 = FLR %0\n%2 = VEC %1.x, %1.y, %0.z, %1.w\n"
         "%3 = MOV_SAT %2\nOUTPUT color %3\n", nullptr},
    };
    for (const Row& row : rows) check(opt::formSaturate, row);
}

TEST(Vectorize, joinsWorkOnTheSameValuesInFreeLanes) {
    const Row rows[] = {
        {"two neighbours' coordinates in one ADD, read at .zwzw",
         "%0 = INPUT texcoord0\n%1 = CONST 1 0 0 0\n%2 = ADD %0, -%1\n%3 = TEX %2, 0 RECT\n%4 = ADD %0, %1\n"
         "%5 = TEX %4, 0 RECT\n%6 = ADD %3, %5\nOUTPUT color %6\n",
         "%0 = CONST -1 -0 1 0\n%1 = INPUT texcoord0\n%2 = ADD %1.xyxy, %0\n%3 = TEX %2, 0 RECT\n"
         "%4 = TEX %2.zwzw, 0 RECT\n%5 = ADD %3, %4\nOUTPUT color %5\n"},
        {"a VEC of a MUL and a MAD of one value: one MAD, the MUL adding -0",
         "%0 = INPUT color0\n%1 = CONST 2 -2 1 0\n%2 = MUL %0.x, %1.x\n%3 = MAD %0.x, %1.y, %1.z\n"
         "%4 = VEC %1.w, %2.x, %3.x, %1.z\nOUTPUT color %4\n",
         "%0 = CONST 2 -2 0 0\n%1 = CONST -0 1 0 0\n%2 = INPUT color0\n%3 = CONST 2 -2 1 0\n%4 = MAD %2.x, %0, %1\n"
         "%5 = VEC %3.w, %4.x, %4.y, %3.z\nOUTPUT color %5\n"},
        {"an ADD and a MUL by constants: a MAD multiplying by 1",
         "%0 = INPUT color0\n%1 = CONST 3 0.5 0 0\n%2 = ADD %0.x, %1.x\n%3 = MUL %0.y, %1.y\n%4 = MUL %2.x, %3.x\n"
         "OUTPUT color %4\n",
         "%0 = CONST 1 0.5 0 0\n%1 = CONST 3 -0 0 0\n%2 = INPUT color0\n%3 = MAD %2, %0, %1\n%4 = MUL %3.x, %3.y\n"
         "OUTPUT color %4\n"},
        {"comparisons of one value with several bounds",
         "%0 = INPUT color0\n%1 = CONST 0.25 0.5 0 0\n%2 = SLT %0.x, %1.x\n%3 = SLT %0.x, %1.y\n%4 = ADD %2.x, %3.x\n"
         "OUTPUT color %4\n",
         "%0 = CONST 0.25 0.5 0 0\n%1 = INPUT color0\n%2 = SLT %1.x, %0\n%3 = ADD %2.x, %2.y\nOUTPUT color %3\n"},
        {"a chain joins in one walk", "%0 = INPUT color0\n%1 = FLR %0.x\n%2 = FLR %0.y\n%3 = ABS %1.x\n%4 = ABS %2.x\n"
         "%5 = ADD %3.x, %4.x\nOUTPUT color %5\n",
         "%0 = INPUT color0\n%1 = FLR %0\n%2 = ABS %1\n%3 = ADD %2.x, %2.y\nOUTPUT color %3\n"},
        {"a copied lane joins a product by a constant as a product by 1",
         "%0 = INPUT color0\n%1 = CONST 0.5\n%2 = MUL %0, %1\n%3 = VEC %2.x, %2.y, %2.z, %0.w\nOUTPUT color %3\n",
         "%0 = CONST 0.5 0.5 0.5 1\n%1 = INPUT color0\n%2 = MUL %1, %0\n%3 = VEC %2.x, %2.y, %2.z, %2.w\n"
         "OUTPUT color %3\n"},
        {"a copied lane of the other sign joins as a product by -1",
         "%0 = INPUT texcoord0\n%1 = CONST 8 0 0 0\n%2 = ADD %1.x, -%0.x\n%3 = VEC %2.x, %0.y, _, _\n"
         "%4 = TEX %3, 0 RECT\nOUTPUT color %4\n",
         "%0 = CONST 1 -1 0 0\n%1 = CONST 8 -0 0 0\n%2 = INPUT texcoord0\n%3 = MAD -%2, %0, %1\n"
         "%4 = VEC %3.x, %3.y, _, _\n%5 = TEX %4, 0 RECT\nOUTPUT color %5\n"},
    };
    for (const Row& row : rows) check(opt::vectorize, row);
}

TEST(Vectorize, leavesWorkThatDiffersOrWouldCostMoves) {
    const Row rows[] = {
        {"an ADD and a MUL of two values", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = ADD %0.x, %1.x\n"
         "%3 = MUL %0.y, %1.y\n%4 = MUL %2.x, %3.x\nOUTPUT color %4\n", nullptr},
        {"operands from different values", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CONST 2\n%3 = MUL %0.x, %2\n"
         "%4 = MUL %1.x, %2\n%5 = ADD %3.x, %4.x\nOUTPUT color %5\n", nullptr},
        {"one value with both signs", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = ADD %0.x, %1\n%3 = ADD -%0.y, %1\n"
         "%4 = MUL %2.x, %3.x\nOUTPUT color %4\n", nullptr},
        {"a saturated and a plain MUL", "%0 = INPUT color0\n%1 = CONST 2 3 0 0\n%2 = MUL_SAT %0.x, %1.x\n"
         "%3 = MUL %0.x, %1.y\n%4 = ADD %2.x, %3.x\nOUTPUT color %4\n", nullptr},
        {"lanes that do not fit in four", "%0 = INPUT color0\n%1 = CONST 2 3 0 0\n%2 = MUL %0.xyzz, %1.x\n"
         "%3 = MUL %0.xyzz, %1.y\n%4 = ADD %2.xyzz, %3.xyzz\nOUTPUT color %4\n", nullptr},
        {"values gathered by different VECs", "%0 = INPUT color0\n%1 = CONST 2 3 0 0\n%2 = MUL %0.x, %1.x\n"
         "%3 = MUL %0.x, %1.y\n%4 = VEC %2.x, %1.z, %1.z, %1.z\n%5 = VEC %1.z, %3.x, %1.z, %1.z\n"
         "%6 = ADD %4, %5\nOUTPUT color %6\n", nullptr},
        {"a value gathered in place and one read by arithmetic", "%0 = INPUT color0\n%1 = CONST 2 3 0 0\n"
         "%2 = MUL %0.x, %1.x\n%3 = MUL %0.x, %1.y\n%4 = VEC %2.x, %1.z, %1.z, %1.z\n%5 = ADD %4, %3.x\n"
         "OUTPUT color %5\n", nullptr},
        {"scalar ops", "%0 = INPUT color0\n%1 = RCP %0.x\n%2 = RCP %0.y\n%3 = ADD %1.x, %2.x\nOUTPUT color %3\n",
         nullptr},
        {"a constant lane beside a product stays a constant", "%0 = INPUT color0\n%1 = CONST 2 1 0 0\n"
         "%2 = MUL %0, %1.x\n%3 = VEC %2.x, %2.y, %2.z, %1.y\nOUTPUT color %3\n", nullptr},
        {"a copied lane beside a product of two values", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MUL %0, %1\n"
         "%3 = VEC %2.x, %2.y, %2.z, %0.w\nOUTPUT color %3\n", nullptr},
        {"a copied lane of another value", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CONST 0.5\n%3 = MUL %0, %2\n"
         "%4 = VEC %3.x, %3.y, %3.z, %1.w\nOUTPUT color %4\n", nullptr},
    };
    for (const Row& row : rows) check(opt::vectorize, row);
}

TEST(Lerp, blendsWrittenOutBecomeLrp) {
    const Row rows[] = {
        {"x*t + y*(1 - t)", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CONST 1\n%3 = ADD %2, -%0.w\n"
         "%4 = MUL %1, %3.x\n%5 = MAD %0, %0.w, %4\nOUTPUT color %5\n",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = LRP %0.w, %0, %1\nOUTPUT color %2\n"},
        {"y*(1 - t) + x*t, the factors the other way round",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = UNIFORM 0\n%3 = CONST 1\n%4 = ADD -%2.x, %3\n%5 = MUL %2.x, %0\n"
         "%6 = MAD %4.x, %1, %5\nOUTPUT color %6\n",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = UNIFORM 0\n%3 = LRP %2.x, %0, %1\nOUTPUT color %3\n"},
        {"t + y*(1 - t) blends towards 1", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CONST 1\n%3 = ADD %2, -%0.w\n"
         "%4 = MAD_SAT %1.w, %3.x, %0.w\nOUTPUT color %4\n",
         "%0 = CONST 1 1 1 1\n%1 = INPUT color0\n%2 = INPUT color1\n%3 = LRP_SAT %1.w, %0, %2.w\nOUTPUT color %3\n"},
    };
    for (const Row& row : rows) check(opt::formLerp, row);
}

TEST(Lerp, leavesSumsThatAreNotBlends) {
    const Row rows[] = {
        {"the weights come from different values", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CONST 1\n"
         "%3 = ADD %2, -%1.w\n%4 = MUL %1, %3.x\n%5 = MAD %0, %0.w, %4\nOUTPUT color %5\n", nullptr},
        {"1 + t is no complement", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CONST 1\n%3 = ADD %2, %0.w\n"
         "%4 = MUL %1, %3.x\n%5 = MAD %0, %0.w, %4\nOUTPUT color %5\n", nullptr},
        {"2 - t is no complement", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CONST 2\n%3 = ADD %2, -%0.w\n"
         "%4 = MUL %1, %3.x\n%5 = MAD %0, %0.w, %4\nOUTPUT color %5\n", nullptr},
        {"a saturated product", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CONST 1\n%3 = ADD %2, -%0.w\n"
         "%4 = MUL_SAT %1, %3.x\n%5 = MAD %0, %0.w, %4\nOUTPUT color %5\n", nullptr},
        {"the weight read in other lanes", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = CONST 1\n%3 = ADD %2, -%0\n"
         "%4 = MUL %1, %3.x\n%5 = MAD %0, %0.w, %4\nOUTPUT color %5\n", nullptr},
    };
    for (const Row& row : rows) check(opt::formLerp, row);
}

TEST(ProjectiveLookups, aLookupAtAQuotientByWIsTxp) {
    const Row rows[] = {
        {"p.xy / p.w", "%0 = INPUT texcoord2\n%1 = DIV %0.xyyy, %0.w\n%2 = TEX %1, 0 RECT\nOUTPUT color %2\n",
         "%0 = INPUT texcoord2\n%1 = TXP %0.xyzw, 0 RECT\nOUTPUT color %1\n"},
        {"-p.zyx / -p.x on a 3D target", "%0 = INPUT texcoord2\n%1 = DIV -%0.zyxx, -%0.x\n%2 = TEX_SAT %1, 1 3D\n"
         "OUTPUT color %2\n",
         "%0 = INPUT texcoord2\n%1 = TXP_SAT -%0.zyxx, 1 3D\nOUTPUT color %1\n"},
    };
    for (const Row& row : rows) check(opt::formProjectiveLookups, row);
    const Row unchanged[] = {
        {"a cube map", "%0 = INPUT texcoord2\n%1 = DIV %0, %0.w\n%2 = TEX %1, 0 CUBE\nOUTPUT color %2\n", nullptr},
        {"divisors from two components", "%0 = INPUT texcoord2\n%1 = DIV %0, %0.wzzz\n%2 = TEX %1, 0 2D\n"
         "OUTPUT color %2\n", nullptr},
        {"a divisor from another value", "%0 = INPUT texcoord2\n%1 = INPUT texcoord1\n%2 = DIV %0, %1.w\n"
         "%3 = TEX %2, 0 2D\nOUTPUT color %3\n", nullptr},
        {"a negated numerator only", "%0 = INPUT texcoord2\n%1 = DIV -%0, %0.w\n%2 = TEX %1, 0 2D\nOUTPUT color %2\n",
         nullptr},
        {"a saturated quotient", "%0 = INPUT texcoord2\n%1 = DIV_SAT %0, %0.w\n%2 = TEX %1, 0 2D\nOUTPUT color %2\n",
         nullptr},
    };
    for (const Row& row : unchanged) check(opt::formProjectiveLookups, row);
}

TEST(Divisions, aDivisionByOneComponentIsAProductByItsReciprocal) {
    const Row rows[] = {
        {"by an input's component", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = DIV_SAT %0, %1.w\nOUTPUT color %2\n",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = RCP %1.w\n%3 = MUL_SAT %0, %2.x\nOUTPUT color %3\n"},
        {"by a reduction, read in every lane", "%0 = INPUT color0\n%1 = DP3 %0, %0\n%2 = DIV %0, -%1\n"
         "OUTPUT color %2\n",
         "%0 = INPUT color0\n%1 = DP3 %0, %0\n%2 = RCP -%1.x\n%3 = MUL %0, %2.x\nOUTPUT color %3\n"},
    };
    for (const Row& row : rows) check(opt::splitDivisions, row);
    const Row unchanged[] = {
        {"by several components", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = DIV %0, %1.xyyy\nOUTPUT color %2\n",
         nullptr},
        {"by a constant", "%0 = INPUT color0\n%1 = CONST 0 1 2 3\n%2 = DIV %0, %1.x\nOUTPUT color %2\n", nullptr},
    };
    for (const Row& row : unchanged) check(opt::splitDivisions, row);
}

TEST(Dots, sumsOfProductsOfComponentsBecomeOneDot) {
    const Row rows[] = {
        {"weights on three components", "%0 = INPUT color0\n%1 = CONST 0.3 0.6 0.1 0\n%2 = MUL %0.y, %1.y\n"
         "%3 = MAD %0.x, %1.x, %2.x\n%4 = MAD %0.z, %1.z, %3.x\nOUTPUT color %4\n",
         "%0 = CONST 0.6 0.3 0.1 0\n%1 = INPUT color0\n%2 = DP3 %1.yxzy, %0\nOUTPUT color %2\n"},
        {"a component's sign goes on its weight", "%0 = INPUT color0\n%1 = CONST 0.3 0.6 0.1 0\n%2 = MUL %0.y, %1.y\n"
         "%3 = MAD -%0.x, %1.x, %2.x\n%4 = MAD %0.z, %1.z, %3.x\nOUTPUT color %4\n",
         "%0 = CONST 0.6 -0.3 0.1 0\n%1 = INPUT color0\n%2 = DP3 %1.yxzy, %0\nOUTPUT color %2\n"},
        {"a sum of four components", "%0 = INPUT color0\n%1 = ADD %0.x, %0.y\n%2 = ADD %1.x, %0.z\n"
         "%3 = ADD_SAT %2.x, %0.w\nOUTPUT color %3\n",
         "%0 = CONST 1 1 1 1\n%1 = INPUT color0\n%2 = DP4_SAT %1.yxzw, %0\nOUTPUT color %2\n"},
        {"products of two values' components", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MUL %0.x, %1.z\n"
         "%3 = MAD %1.y, %0.y, %2.x\n%4 = MAD %0.z, %1.x, %3.x\nOUTPUT color %4\n",
         "%0 = INPUT color0\n%1 = INPUT color1\n%2 = DP3 %0.xyzx, %1.zyxz\nOUTPUT color %2\n"},
    };
    for (const Row& row : rows) check(opt::formDots, row);
    const Row unchanged[] = {
        {"two products", "%0 = INPUT color0\n%1 = CONST 0.3 0.6 0.1 0\n%2 = MUL %0.y, %1.y\n"
         "%3 = MAD %0.x, %1.x, %2.x\nOUTPUT color %3\n", nullptr},
        {"a partial sum read elsewhere", "%0 = INPUT color0\n%1 = CONST 0.3 0.6 0.1 0\n%2 = MUL %0.y, %1.y\n"
         "%3 = MAD %0.x, %1.x, %2.x\n%4 = MAD %0.z, %1.z, %3.x\n%5 = ADD %4, %3\nOUTPUT color %5\n", nullptr},
        {"components of three values", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = INPUT texcoord0\n"
         "%3 = MUL %0.x, %1.x\n%4 = MAD %0.y, %1.y, %3.x\n%5 = MAD %0.z, %2.z, %4.x\nOUTPUT color %5\n", nullptr},
        {"products of two values with mixed signs", "%0 = INPUT color0\n%1 = INPUT color1\n%2 = MUL %0.x, %1.y\n"
         "%3 = MAD -%0.y, %1.x, %2.x\n%4 = MAD %0.z, %1.z, %3.x\nOUTPUT color %4\n", nullptr},
        {"a sum that differs by lane", "%0 = INPUT color0\n%1 = ADD %0, %0.y\n%2 = ADD %1, %0.z\nOUTPUT color %2\n",
         nullptr},
    };
    for (const Row& row : unchanged) check(opt::formDots, row);
}

TEST(ConstantPacking, sharesVectorsBetweenConstants) {
    const Row rows[] = {
        {"two scalars in one vector",
         "%0 = INPUT color0\n%1 = CONST 0.5\n%2 = MUL %0, %1\n%3 = CONST 2\n%4 = ADD %2, %3\nOUTPUT color %4\n",
         "%0 = INPUT color0\n%1 = CONST 0.5 2 0 0\n%2 = MUL %0, %1.x\n%3 = ADD %2, %1.y\nOUTPUT color %3\n"},
        {"equal and negated values share a component",
         "%0 = INPUT color0\n%1 = CONST 0.5 3 0 0\n%2 = MUL %0, %1.xyxy\n%3 = CONST -3\n%4 = ADD %2, %3\n"
         "%5 = CONST 3 0.5 9 9\n%6 = MAD %4, %5.xyxy, %0\nOUTPUT color %6\n",
         "%0 = INPUT color0\n%1 = CONST 0.5 3 0 0\n%2 = MUL %0, %1.xyxy\n%3 = ADD %2, -%1.y\n"
         "%4 = MAD %3, %1.yxyx, %0\nOUTPUT color %4\n"},
        {"a constant that does not fit opens a new vector",
         "%0 = INPUT color0\n%1 = CONST 1 2 3 0\n%2 = CONST 4 5 6 0\n%3 = MAD %0, %1.xyzz, %2.xyzz\n"
         "%4 = CONST 7\n%5 = ADD %3, %4\nOUTPUT color %5\n",
         "%0 = INPUT color0\n%1 = CONST 1 2 3 0\n%2 = CONST 4 5 6 7\n%3 = MAD %0, %1.xyzz, %2.xyzz\n"
         "%4 = ADD %3, %2.w\nOUTPUT color %4\n"},
    };
    for (const Row& row : rows) check(opt::packConstants, row);
}

TEST(ConstantPacking, leavesPackedConstantsAlone) {
    const Row rows[] = {
        {"already one vector", "%0 = INPUT color0\n%1 = CONST 0.5 2 0 0\n%2 = MAD %0, %1.x, %1.y\nOUTPUT color %2\n",
         nullptr},
        {"four distinct values each", "%0 = INPUT color0\n%1 = CONST 1 2 3 4\n%2 = CONST 5 6 7 8\n"
         "%3 = MAD %0, %1, %2\nOUTPUT color %3\n", nullptr},
    };
    for (const Row& row : rows) check(opt::packConstants, row);
}

}  // namespace

namespace {

TEST(PassList, optimizeRunsEachPassInTurnUntilARoundChangesNothing) {
    Function f = parsed("%0 = INPUT texcoord0\n%1 = UNIFORM 0\n%2 = MUL %0, %1\n%3 = ADD %2, %1\nOUTPUT color %3\n");
    std::vector<std::string> order;
    std::vector<bool> roundChanged;
    opt::optimize(f, [&](const opt::Pass& pass, int round, bool changed, const Function& now) {
        order.push_back(pass.name);
        roundChanged.resize(std::size_t(round), false);
        roundChanged.back() = roundChanged.back() || changed;
        EXPECT_EQ(validate(now), "") << pass.name;
    });
    const std::vector<opt::Pass>& list = opt::passes();
    ASSERT_EQ(order.size(), roundChanged.size() * list.size());
    for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], list[i % list.size()].name) << i;
    EXPECT_TRUE(roundChanged.front()) << "the MUL and the ADD fuse";
    EXPECT_FALSE(roundChanged.back()) << "optimize stops after the first round that changes nothing";
    for (const opt::Pass& p : list) EXPECT_EQ(opt::findPass(p.name), &p) << p.name;
    EXPECT_EQ(opt::findPass("nosuch"), nullptr);
    EXPECT_TRUE(opt::checksIR()) << "test builds check the IR after every pass";
}

}  // namespace
