// What the parts of the built-in table share: argument-shape rules for the
// signatures, lane helpers for the lowerings, and double-precision folding.
#pragma once

#include "cg/builtins/builtins.h"

#include <cstddef>
#include <string>
#include <vector>

namespace cgc::lib {

using ir::Op;
using ir::Src;
using Args = std::vector<TypeId>;
using Values = std::vector<Value>;

// ---- Signatures -----------------------------------------------------------

bool countIs(const Args& args, std::size_t n, std::string* why);
std::string got(TypeTable& types, TypeId t);  // the type quoted for a message
// " for argument i" where a function takes several, "" where it takes one.
std::string forArgument(std::size_t i, std::size_t count);
// float/half/fixed as the arguments ask; int and bool compute in float.
ScalarKind promoted(TypeTable& types, const Args& args);
// Components of one register of a scalar or vector: scalars count 1.
int width(TypeTable& types, TypeId t);

// Arguments that combine component by component: each a scalar or vector;
// scalars spread over the vectors, which shorten to the narrowest of them.
bool common(TypeTable& types, const Args& args, TypeId* shape, std::string* why);
// Out argument i must take a value of `shape`: the same scalar or vector
// shape, any numeric kind.
bool outFits(TypeTable& types, const Args& args, std::size_t i, TypeId shape, std::string* why);
void fill(BuiltinSignature* sig, TypeId result, const std::vector<TypeId>& params);

// N arguments combined component by component, the result of their shape.
template <std::size_t N>
bool same(TypeTable& types, const Args& args, BuiltinSignature* sig, std::string* why) {
    TypeId shape;
    if (!countIs(args, N, why) || !common(types, args, &shape, why)) return false;
    fill(sig, shape, std::vector<TypeId>(N, shape));
    return true;
}

// ---- Lowering -------------------------------------------------------------

inline Src reg(const Value& v, std::size_t i = 0) { return v.regs[i]; }
Value valueOf(TypeId type, const Src& s);
Value valueOf(TypeId type, std::vector<Src> regs);
Src constant(Builder& b, float x);
// A scalar op (RCP, RSQ, EX2, LG2, POW, SIN, COS) over lanes 0..n-1, once per
// distinct lane, composed; a single lane stays replicated.
Src each(Builder& b, Op op, const Src& a, int n, const Src& c = Src{});
// a . b over n lanes, replicated.
Src dot(Builder& b, const Src& a, const Src& c, int n);
// |a| over n lanes (DP, RSQ, RCP: zero at zero), replicated.
Src length(Builder& b, const Src& a, int n);
// Lanes 0..n-1 of s all read one constant equal to k.
bool isConstant(const Builder& b, const Src& s, int n, float k);
// trunc(a), toward zero.
Src truncate(Builder& b, const Src& a);

// ---- Folding --------------------------------------------------------------

// Every argument's components when all are constants.
bool constants(const Builder& b, const Values& args, std::vector<std::vector<double>>* out);
// The value of `type` from double components rounded to float; false when
// one is not finite.
bool folded(Builder& b, TypeId type, const std::vector<double>& components, Value* result);

template <double (*F)(double)>
bool fold1(Builder& b, const BuiltinSignature& sig, const Values& args, Value* result) {
    std::vector<std::vector<double>> k;
    if (!constants(b, args, &k)) return false;
    std::vector<double> r;
    for (double x : k[0]) r.push_back(F(x));
    return folded(b, sig.result, r, result);
}

template <double (*F)(double, double)>
bool fold2(Builder& b, const BuiltinSignature& sig, const Values& args, Value* result) {
    std::vector<std::vector<double>> k;
    if (!constants(b, args, &k) || k[0].size() != k[1].size()) return false;
    std::vector<double> r;
    for (std::size_t i = 0; i < k[0].size(); ++i) r.push_back(F(k[0][i], k[1][i]));
    return folded(b, sig.result, r, result);
}

template <double (*F)(double, double, double)>
bool fold3(Builder& b, const BuiltinSignature& sig, const Values& args, Value* result) {
    std::vector<std::vector<double>> k;
    if (!constants(b, args, &k) || k[0].size() != k[1].size() || k[0].size() != k[2].size()) return false;
    std::vector<double> r;
    for (std::size_t i = 0; i < k[0].size(); ++i) r.push_back(F(k[0][i], k[1][i], k[2][i]));
    return folded(b, sig.result, r, result);
}

// ---- The table's parts ----------------------------------------------------

const std::vector<Builtin>& mathBuiltins();
const std::vector<Builtin>& geometryBuiltins();
const std::vector<Builtin>& textureBuiltins();

}  // namespace cgc::lib
