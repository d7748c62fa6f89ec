// Which values convert to which types, and the type an operator computes in.
// All numbers compute in float on this target, so a conversion only costs
// code into int (truncation) or bool (non-zero test); the rest is shape.
#pragma once

#include "cg/types/types.h"

namespace cgc {

// How well an argument fits a parameter, best first; overloads compare these.
enum class Fit : int {
    Exact = 0,
    Promote = 1,    // same shape, a wider scalar kind (int to float, half to float)
    Kind = 2,       // same shape, another scalar kind (float to int, float to bool)
    Broadcast = 3,  // a scalar spread over a vector or matrix
    Truncate = 4,   // a vector or matrix cut to fewer components
    None = 5,
};

// The implicit conversion from one type to another, as assignment,
// initialisation, arguments and return values apply it.
Fit implicitFit(const TypeTable& types, TypeId from, TypeId to);

// What a cast `(to)from` accepts: the implicit conversions, plus reshaping
// between vectors and matrices of as many components.
bool castable(const TypeTable& types, TypeId from, TypeId to);

// The scalar kind arithmetic on a and b computes in.
ScalarKind arithmeticKind(ScalarKind a, ScalarKind b);

// The common shape of two numeric operands with the given scalar kind: a
// scalar spreads over the other operand, two vectors meet at the shorter.
// False when the shapes do not combine (a vector and a matrix, matrices of
// different sizes).
bool commonShape(TypeTable& types, TypeId a, TypeId b, ScalarKind kind, TypeId* out);

// A scalar, or a vector of one: both act as a scalar next to a larger operand.
bool scalarLike(const TypeTable& types, TypeId t);

// The scalar kind of a numeric type.
inline ScalarKind kindOf(const TypeTable& types, TypeId t) { return types.info(t).scalar; }

}  // namespace cgc
