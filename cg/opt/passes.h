// The optimizer: passes over the SSA IR in the manner of QBE and Mesa's NIR.
// Each pass returns whether it changed anything; optimize repeats them until
// none does. Every pass keeps what the function computes (within float
// rounding: a division becomes a multiplication by a reciprocal, as the back
// end would make it anyway, and a blend or a sum of products written out
// becomes the LRP or DP3 that a GPU rounds its own way), keeps SSA order and
// runs in time linear in the function's size.
//
// Two differences from IEEE arithmetic are accepted, as on the GPUs these
// programs run on: the sign of a zero (x + 0 becomes x), and what a NaN
// turns into at a clamp (MAX(MIN(x, 1), 0) becomes a saturate, which maps
// NaN to 0 where the clamp gives 1).
#pragma once

#include "cg/ir/ir.h"

#include <functional>
#include <vector>

namespace cgc::opt {

// Instructions whose sources are all constants become constants (never a NaN
// or an infinity), and the identities that are exact in IEEE arithmetic are
// applied: x*1, x*-1, x+0, x/c as x*(1/c), 1/(1/rsq(x)) as rsq(x) (whose
// values are never where a reciprocal leaves the normal range), a MAD with
// constant factors, MIN/MAX/CMP of equal sources, a CMP on a constant that
// picks one side, a CMP on -SLT(p, 0) or -SLT(0, p) as a CMP on p or -p, a
// VEC whose lanes come from one value, a saturate of a value already in
// [0, 1], a KIL that never fires.
bool foldConstants(ir::Function& f);

// A DIV whose divisor reads one component (other than a constant's) becomes
// a MUL by an RCP of it, which is what the back end makes of it, so that the
// reciprocal can be shared and the product fused.
bool splitDivisions(ir::Function& f);

// Reads through MOVs without saturate and through VEC lanes, composing
// swizzles and negation; lanes a source does not read get a canonical
// swizzle (identity, or its one read component repeated).
bool propagateCopies(ir::Function& f);

// Merges instructions that compute the same value in every lane that is
// used; commutative operands are matched in either order.
bool eliminateCommonSubexpressions(ir::Function& f);

// Drops instructions that no KIL or OUTPUT depends on.
bool eliminateDeadCode(ir::Function& f);

// ADD(MUL(a, b), c) becomes MAD(a, b, c); the MUL goes when every use of it
// is such an ADD, and stays for its other readers otherwise. A saturated MUL
// is never fused.
bool fuseMultiplyAdd(ir::Function& f);

// MIN(MAX(x, 0), 1) and MAX(MIN(x, 1), 0) become a saturate, put on x's own
// instruction when the clamp is its only use.
bool formSaturate(ir::Function& f);

// Merges constants whose used components fit together into one 4-component
// constant (one PARAM), reusing equal and negated values.
bool packConstants(ir::Function& f);

// Per-component instructions of one op (ADD and MUL counting as MAD) whose
// used lanes fit together, and whose operands are the same values with the
// same signs or constants, become one instruction over the union of lanes;
// readers read the lanes their value moved to. A VEC lane copying the value
// such an instruction multiplies becomes one of its lanes.
bool vectorize(ir::Function& f);

// MAD(y, 1 - t, x*t), MAD(x, t, y*(1 - t)) and MAD(y, 1 - t, t) become
// LRP(t, x, y) (x = 1 in the last), which is defined as that sum.
bool formLerp(ir::Function& f);

// A sum of three or four products of components of one value with
// components of another, or with constants (a chain of MAD and ADD ending in
// a MUL or a plain component), becomes a DP3 or DP4 adding in the same order.
bool formDots(ir::Function& f);

// A TEX (other than a cube map's) whose coordinate lanes are one value's
// lanes divided by one of its components (a DIV, or a MUL by an RCP) becomes
// a TXP of that value.
bool formProjectiveLookups(ir::Function& f);

// The passes by name ("fold", "dce", ...), in the order each round of
// optimize runs them.
struct Pass {
    const char* name;
    bool (*run)(ir::Function& f);
};
const std::vector<Pass>& passes();
const Pass* findPass(const char* name);

// Told of each pass optimize runs: the round (from 1), and whether it changed f.
using PassObserver = std::function<void(const Pass& pass, int round, bool changed, const ir::Function& f)>;

// Every pass, in rounds, to a fixed point (with a cap on rounds). Where the
// IR is checked (debug and test builds), a pass that leaves it malformed
// throws std::logic_error naming the pass.
void optimize(ir::Function& f, const PassObserver& observer = {});

// Whether optimize checks the IR after each pass.
bool checksIR();

}  // namespace cgc::opt
