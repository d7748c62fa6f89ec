// Every built-in against a C++ reference, on the interpreter: each case runs
// once lowered (arguments as uniforms) and once folded (arguments as
// constants). The tables are BuiltinCases.h's, which the GL tests run too.
#include "tests/cg/builtins/BuiltinCases.h"

#include <gtest/gtest.h>

using namespace builtintest;

namespace {

bool finiteArgs(const std::vector<Arg>& args) {
    for (const Arg& a : args)
        for (float x : a.values)
            if (!std::isfinite(x)) return false;
    return true;
}

void expectComponents(const Components& got, const std::vector<double>& want, Tolerance t, const std::string& ir) {
    ASSERT_EQ(got.size(), want.size()) << ir;
    for (std::size_t i = 0; i < want.size(); ++i)
        EXPECT_TRUE(close(got[i], want[i], t)) << "component " << i << ": got " << got[i] << ", want " << want[i] << "\n"
                                               << ir;
}

void expectTable(const std::vector<Case>& cases) {
    for (const Case& k : cases)
        for (Mode mode : {Mode::Lowered, Mode::Constant}) {
            if (mode == Mode::Constant && !finiteArgs(k.args)) continue;  // no constant spells them
            SCOPED_TRACE(describe(k.fn, k.args) + (mode == Mode::Lowered ? " lowered" : " with constant arguments"));
            Call c = call(k.fn, k.args, mode);
            ASSERT_TRUE(c.ok) << c.why;
            ASSERT_EQ(c.fault, "");
            expectComponents(c.result, k.want, k.tolerance, c.ir);
        }
}

TEST(BuiltinValues, roundingFunctionsAtIntegersAndHalves) { expectTable(roundingCases()); }
TEST(BuiltinValues, signIsZeroAtZeroAndOneForTinyValues) { expectTable(signCases()); }
TEST(BuiltinValues, rootsExponentialsAndLogarithms) { expectTable(exponentialCases()); }
TEST(BuiltinValues, trigonometryAndAngles) { expectTable(trigonometryCases()); }
TEST(BuiltinValues, inverseTrigonometryWithinItsApproximationInEveryQuadrant) { expectTable(inverseTrigonometryCases()); }
TEST(BuiltinValues, hyperbolicFunctionsThroughTheirExponentials) { expectTable(hyperbolicCases()); }
TEST(BuiltinValues, binaryFunctionsAtTheirEdgesAndWithScalarsSpread) { expectTable(binaryCases()); }
TEST(BuiltinValues, ternaryFunctionsInsideAndOutsideTheirRanges) { expectTable(ternaryCases()); }
TEST(BuiltinValues, classificationOfNaNAndInfinity) { expectTable(classificationCases()); }
TEST(BuiltinValues, reductionsOverEveryWidth) { expectTable(reductionCases()); }
TEST(BuiltinValues, geometryFunctionsFollowTheirDefinitions) { expectTable(geometryCases()); }
TEST(BuiltinValues, matrixProductsTransposesAndDeterminants) { expectTable(matrixCases()); }

TEST(BuiltinValues, outArgumentsReceiveTheirParts) {
    for (const OutCase& k : outCases()) {
        std::vector<Arg> args = {k.x};
        for (std::size_t i = 0; i < k.outs.size(); ++i) args.push_back({k.x.type, Components(k.x.values.size(), 0.0f)});
        SCOPED_TRACE(describe(k.fn, args));
        Call c = call(k.fn, args);
        ASSERT_TRUE(c.ok) << c.why;
        ASSERT_EQ(c.fault, "");
        expectComponents(c.result, k.result, {1e-6, 1e-6}, c.ir);
        for (std::size_t i = 0; i < k.outs.size(); ++i) expectComponents(c.outs[i + 1], k.outs[i], {1e-6, 1e-6}, c.ir);
    }
}

TEST(BuiltinValues, clipDiscardsWhereAUsedComponentIsNegative) {
    for (const ClipCase& k : clipCases()) {
        SCOPED_TRACE(describe("clip", {k.x}));
        Call c = call("clip", {k.x}, Mode::Lowered, -1.0f);  // unused lanes negative: reading one kills
        ASSERT_TRUE(c.ok) << c.why;
        ASSERT_EQ(c.fault, "");
        EXPECT_EQ(c.killed, k.killed) << c.ir;
        EXPECT_EQ(c.resultType, "void");
    }
}

TEST(BuiltinValues, lookupsSampleTheirUnitAndTargetWithTheirCoordinate) {
    for (const LookupCase& k : lookupCases()) {
        std::vector<Arg> args = {{k.sampler, {}}, k.coordinate};
        SCOPED_TRACE(describe(k.fn, args));
        Call c = call(k.fn, args);
        ASSERT_TRUE(c.ok) << c.why;
        ASSERT_EQ(c.fault, "");
        expectComponents(c.result, k.want, kExact, c.ir);
        ASSERT_FALSE(c.lookups.empty());
        EXPECT_EQ(c.lookups[0].op, k.op);
        EXPECT_EQ(c.lookups[0].unit, 3);  // the sampler's own unit (the harness gives argument 1 unit 3)
        if (k.op == cgc::ir::Op::Txb) {
            EXPECT_EQ(c.lookups[0].coordinate[3], k.coordinate.values[3]) << "the bias";
        }
        cgc::TypeTable types;
        cgc::TypeId sampler;
        ASSERT_TRUE(types.builtinType(k.sampler, &sampler));
        EXPECT_EQ(int(c.lookups[0].target), int(types.info(sampler).sampler));
    }
}

}  // namespace
