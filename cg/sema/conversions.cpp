#include "cg/sema/conversions.h"

#include <algorithm>

namespace cgc {

namespace {

int rank(ScalarKind k) {
    switch (k) {
        case ScalarKind::Bool: return 0;
        case ScalarKind::Int: return 1;
        case ScalarKind::Fixed: return 2;
        case ScalarKind::Half: return 3;
        case ScalarKind::Float: return 4;
    }
    return 4;
}

}  // namespace

bool scalarLike(const TypeTable& types, TypeId t) {
    const TypeInfo& i = types.info(t);
    return i.kind == TypeKind::Scalar || (i.kind == TypeKind::Vector && i.cols == 1);
}

Fit implicitFit(const TypeTable& types, TypeId from, TypeId to) {
    if (from == to) return Fit::Exact;
    if (!types.isNumeric(from) || !types.isNumeric(to)) return Fit::None;
    const TypeInfo& f = types.info(from);
    const TypeInfo& t = types.info(to);
    // As in C++, a truth value promotes to int only; anything else widens toward float.
    bool widens = f.scalar == ScalarKind::Bool ? t.scalar == ScalarKind::Int : rank(t.scalar) > rank(f.scalar);
    Fit kind = f.scalar == t.scalar ? Fit::Exact : widens ? Fit::Promote : Fit::Kind;
    if (scalarLike(types, from)) {
        if (scalarLike(types, to)) return kind == Fit::Exact && f.kind != t.kind ? Fit::Promote : kind;
        return Fit::Broadcast;
    }
    if (f.kind == TypeKind::Vector) {
        if (t.kind == TypeKind::Vector && t.cols == f.cols) return kind;
        if (t.kind == TypeKind::Scalar || (t.kind == TypeKind::Vector && t.cols < f.cols)) return Fit::Truncate;
        return Fit::None;
    }
    // A matrix.
    if (t.kind != TypeKind::Matrix || t.rows > f.rows || t.cols > f.cols) return Fit::None;
    return t.rows == f.rows && t.cols == f.cols ? kind : Fit::Truncate;
}

bool castable(const TypeTable& types, TypeId from, TypeId to) {
    if (implicitFit(types, from, to) != Fit::None) return true;
    if (!types.isNumeric(from) || !types.isNumeric(to)) return false;
    TypeKind f = types.kind(from), t = types.kind(to);
    bool reshape = (f == TypeKind::Matrix) != (t == TypeKind::Matrix);
    return reshape && types.components(from) == types.components(to);
}

ScalarKind arithmeticKind(ScalarKind a, ScalarKind b) {
    ScalarKind k = rank(a) >= rank(b) ? a : b;
    // true + true is 2: arithmetic on truth values counts in int.
    return k == ScalarKind::Bool ? ScalarKind::Int : k;
}

bool commonShape(TypeTable& types, TypeId a, TypeId b, ScalarKind kind, TypeId* out) {
    const TypeInfo ia = types.info(a);
    const TypeInfo ib = types.info(b);
    if (scalarLike(types, b) && !(ia.kind == TypeKind::Scalar && ib.kind == TypeKind::Vector)) {
        *out = types.withScalar(a, kind);
        return true;
    }
    if (scalarLike(types, a)) {
        *out = types.withScalar(b, kind);
        return true;
    }
    if (ia.kind == TypeKind::Vector && ib.kind == TypeKind::Vector) {
        *out = types.vector(kind, std::min(ia.cols, ib.cols));
        return true;
    }
    if (ia.kind == TypeKind::Matrix && ib.kind == TypeKind::Matrix && ia.rows == ib.rows && ia.cols == ib.cols) {
        *out = types.withScalar(a, kind);
        return true;
    }
    return false;
}

}  // namespace cgc
