// Functions over whole vectors and matrices: reductions, geometry, lighting,
// the bool reductions, and the matrix products.
#include "cg/builtins/common.h"

#include <cmath>

namespace cgc::lib {

namespace {

using Vec = std::vector<double>;

bool isVector(TypeTable& types, TypeId t) { return types.kind(t) == TypeKind::Vector; }
bool isMatrix(TypeTable& types, TypeId t) { return types.kind(t) == TypeKind::Matrix; }

TypeId scalarOf(TypeTable& types, TypeId shape) { return types.scalar(types.info(shape).scalar); }

// ---- Signatures -------------------------------------------------------------

// The arguments' common shape, reduced to a scalar (dot, length, distance).
template <std::size_t N>
bool reduction(TypeTable& types, const Args& args, BuiltinSignature* sig, std::string* why) {
    TypeId shape;
    if (!countIs(args, N, why) || !common(types, args, &shape, why)) return false;
    fill(sig, scalarOf(types, shape), std::vector<TypeId>(N, shape));
    return true;
}

bool crossSig(TypeTable& types, const Args& args, BuiltinSignature* sig, std::string* why) {
    if (!countIs(args, 2, why)) return false;
    for (std::size_t i = 0; i < 2; ++i)
        if (!types.isScalarOrVector(args[i]) || (isVector(types, args[i]) && types.info(args[i]).cols < 3)) {
            *why = "needs a 3-component vector" + forArgument(i, 2) + ", got " + got(types, args[i]);
            return false;
        }
    TypeId v3 = types.vector(promoted(types, args), 3);
    fill(sig, v3, {v3, v3});
    return true;
}

bool isScalarLike(TypeTable& types, TypeId t) {
    return types.kind(t) == TypeKind::Scalar || (isVector(types, t) && types.info(t).cols == 1);
}

bool refractSig(TypeTable& types, const Args& args, BuiltinSignature* sig, std::string* why) {
    TypeId shape;
    if (!countIs(args, 3, why) || !common(types, {args[0], args[1]}, &shape, why)) return false;
    if (!isScalarLike(types, args[2])) {
        *why = "needs a scalar for argument 3, got " + got(types, args[2]);
        return false;
    }
    fill(sig, shape, {shape, shape, types.scalar(promoted(types, args))});
    return true;
}

bool litSig(TypeTable& types, const Args& args, BuiltinSignature* sig, std::string* why) {
    if (!countIs(args, 3, why)) return false;
    for (std::size_t i = 0; i < 3; ++i)
        if (!isScalarLike(types, args[i])) {
            *why = "needs a scalar" + forArgument(i, 3) + ", got " + got(types, args[i]);
            return false;
        }
    ScalarKind k = promoted(types, args);
    TypeId s = types.scalar(k);
    fill(sig, types.vector(k, 4), {s, s, s});
    return true;
}

// all, any: the argument as bools, one bool back.
bool boolReduction(TypeTable& types, const Args& args, BuiltinSignature* sig, std::string* why) {
    if (!countIs(args, 1, why)) return false;
    if (!types.isScalarOrVector(args[0])) {
        *why = "needs a scalar or vector, got " + got(types, args[0]);
        return false;
    }
    fill(sig, types.scalar(ScalarKind::Bool), {types.withScalar(args[0], ScalarKind::Bool)});
    return true;
}

bool mulSig(TypeTable& types, const Args& args, BuiltinSignature* sig, std::string* why) {
    if (!countIs(args, 2, why)) return false;
    TypeId a = args[0], c = args[1];
    ScalarKind k = promoted(types, args);
    const TypeInfo &A = types.info(a), &C = types.info(c);
    std::string both = "cannot multiply a " + got(types, a) + " by a " + got(types, c);
    if (isMatrix(types, a) && isVector(types, c)) {
        if (C.cols < A.cols) {
            *why = both + ": the matrix has " + std::to_string(A.cols) + " columns, the vector " +
                   std::to_string(C.cols) + (C.cols == 1 ? " component" : " components");
            return false;
        }
        fill(sig, types.vector(k, A.rows), {types.matrix(k, A.rows, A.cols), types.vector(k, A.cols)});
        return true;
    }
    if (isVector(types, a) && isMatrix(types, c)) {
        if (A.cols < C.rows) {
            *why = both + ": the vector has " + std::to_string(A.cols) + (A.cols == 1 ? " component" : " components") +
                   ", the matrix " + std::to_string(C.rows) + " rows";
            return false;
        }
        fill(sig, types.vector(k, C.cols), {types.vector(k, C.rows), types.matrix(k, C.rows, C.cols)});
        return true;
    }
    if (isMatrix(types, a) && isMatrix(types, c)) {
        if (A.cols != C.rows) {
            *why = both + ": the first has " + std::to_string(A.cols) + " columns, the second " +
                   std::to_string(C.rows) + " rows";
            return false;
        }
        fill(sig, types.matrix(k, A.rows, C.cols), {types.matrix(k, A.rows, A.cols), types.matrix(k, C.rows, C.cols)});
        return true;
    }
    *why = "needs a matrix and a vector or two matrices, got " + got(types, a) + " and " + got(types, c);
    return false;
}

bool transposeSig(TypeTable& types, const Args& args, BuiltinSignature* sig, std::string* why) {
    if (!countIs(args, 1, why)) return false;
    if (!isMatrix(types, args[0])) {
        *why = "needs a matrix, got " + got(types, args[0]);
        return false;
    }
    const TypeInfo& m = types.info(args[0]);
    ScalarKind k = promoted(types, args);
    fill(sig, types.matrix(k, m.cols, m.rows), {types.matrix(k, m.rows, m.cols)});
    return true;
}

bool determinantSig(TypeTable& types, const Args& args, BuiltinSignature* sig, std::string* why) {
    if (!countIs(args, 1, why)) return false;
    const TypeInfo& m = types.info(args[0]);
    if (!isMatrix(types, args[0]) || m.rows != m.cols) {
        *why = "needs a square matrix, got " + got(types, args[0]);
        return false;
    }
    ScalarKind k = promoted(types, args);
    fill(sig, types.scalar(k), {types.matrix(k, m.rows, m.cols)});
    return true;
}

// ---- Folding --------------------------------------------------------------------

double dotOf(const Vec& a, const Vec& b) {
    double s = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) s += a[i] * b[i];
    return s;
}

template <Vec (*F)(const std::vector<Vec>& k)>
bool foldWith(Builder& b, const BuiltinSignature& sig, const Values& args, Value* result) {
    std::vector<Vec> k;
    return constants(b, args, &k) && folded(b, sig.result, F(k), result);
}

Vec dotF(const std::vector<Vec>& k) { return {dotOf(k[0], k[1])}; }
Vec lengthF(const std::vector<Vec>& k) { return {std::sqrt(dotOf(k[0], k[0]))}; }
Vec distanceF(const std::vector<Vec>& k) {
    Vec d;
    for (std::size_t i = 0; i < k[0].size(); ++i) d.push_back(k[0][i] - k[1][i]);
    return {std::sqrt(dotOf(d, d))};
}
Vec normalizeF(const std::vector<Vec>& k) {
    Vec r;
    double n = std::sqrt(dotOf(k[0], k[0]));
    for (double x : k[0]) r.push_back(x / n);
    return r;
}
Vec crossF(const std::vector<Vec>& k) {
    const Vec &a = k[0], &b = k[1];
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Vec reflectF(const std::vector<Vec>& k) {
    const Vec &i = k[0], &n = k[1];
    double d = dotOf(n, i);
    Vec r;
    for (std::size_t c = 0; c < i.size(); ++c) r.push_back(i[c] - 2 * d * n[c]);
    return r;
}
Vec refractF(const std::vector<Vec>& k) {
    const Vec &i = k[0], &n = k[1];
    double eta = k[2][0], cosi = -dotOf(i, n);
    double cost2 = 1 - eta * eta * (1 - cosi * cosi);
    Vec r;
    for (std::size_t c = 0; c < i.size(); ++c)
        r.push_back(cost2 > 0 ? eta * i[c] + (eta * cosi - std::sqrt(cost2)) * n[c] : 0.0);
    return r;
}
Vec faceforwardF(const std::vector<Vec>& k) {
    Vec r;
    bool facing = dotOf(k[2], k[1]) < 0;
    for (double x : k[0]) r.push_back(facing ? x : -x);
    return r;
}
Vec litF(const std::vector<Vec>& k) {
    double l = k[0][0], h = k[1][0], m = k[2][0];
    return {1, l < 0 ? 0 : l, l < 0 || h < 0 ? 0 : std::pow(h, m), 1};
}
Vec allF(const std::vector<Vec>& k) {
    for (double x : k[0])
        if (x == 0) return {0};
    return {1};
}
Vec anyF(const std::vector<Vec>& k) {
    for (double x : k[0])
        if (x != 0) return {1};
    return {0};
}

// Components row-major, as Builder::constantOf gives them.
bool mulFold(Builder& b, const BuiltinSignature& sig, const Values& args, Value* result) {
    std::vector<Vec> k;
    if (!constants(b, args, &k)) return false;
    TypeTable& types = b.types();
    const TypeInfo &A = types.info(sig.params[0]), &C = types.info(sig.params[1]);
    // Both as matrices: a vector on the left is one row, on the right one column.
    int ar = A.kind == TypeKind::Matrix ? A.rows : 1, ac = A.cols;
    int cc = C.kind == TypeKind::Matrix ? C.cols : 1;
    bool columnOnRight = C.kind != TypeKind::Matrix;
    Vec r;
    for (int i = 0; i < ar; ++i)
        for (int j = 0; j < cc; ++j) {
            double s = 0;
            for (int m = 0; m < ac; ++m) s += k[0][i * ac + m] * (columnOnRight ? k[1][m] : k[1][m * cc + j]);
            r.push_back(s);
        }
    return folded(b, sig.result, r, result);
}

double det(const Vec& m, int n) {
    if (n == 1) return m[0];
    double s = 0;
    for (int j = 0; j < n; ++j) {
        Vec minor;
        for (int r = 1; r < n; ++r)
            for (int c = 0; c < n; ++c)
                if (c != j) minor.push_back(m[r * n + c]);
        s += (j % 2 ? -1 : 1) * m[j] * det(minor, n - 1);
    }
    return s;
}

bool determinantFold(Builder& b, const BuiltinSignature& sig, const Values& args, Value* result) {
    std::vector<Vec> k;
    if (!constants(b, args, &k)) return false;
    return folded(b, sig.result, {det(k[0], b.types().info(sig.params[0]).rows)}, result);
}

// ---- Lowerings ------------------------------------------------------------------

int lanes(Builder& b, TypeId t) { return width(b.types(), t); }

Value dotLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return valueOf(sig.result, dot(b, reg(a[0]), reg(a[1]), lanes(b, sig.params[0])));
}

Value lengthLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return valueOf(sig.result, length(b, reg(a[0]), lanes(b, sig.params[0])));
}

Value distanceLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    Src d = b.emit(Op::Add, reg(a[0]), Builder::negate(reg(a[1])));
    return valueOf(sig.result, length(b, d, lanes(b, sig.params[0])));
}

Value normalizeLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    Src v = reg(a[0]);
    Src r = b.emit(Op::Rsq, dot(b, v, v, lanes(b, sig.params[0])));
    return valueOf(sig.result, b.emit(Op::Mul, v, r));
}

Value crossLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return valueOf(sig.result, b.emit(Op::Xpd, reg(a[0]), reg(a[1])));
}

Value reflectLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    // i - 2 (n.i) n
    Src i = reg(a[0]), n = reg(a[1]);
    Src twice = b.emit(Op::Mul, dot(b, n, i, lanes(b, sig.params[0])), constant(b, 2));
    return valueOf(sig.result, b.emit(Op::Mad, Builder::negate(twice), n, i));
}

Value refractLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    // k = 1 - eta^2 (1 - (n.i)^2); eta i - (eta (n.i) + sqrt k) n where k > 0, else 0.
    Src i = reg(a[0]), n = reg(a[1]), eta = reg(a[2]);
    Src d = dot(b, n, i, lanes(b, sig.params[0]));
    Src k = b.emit(Op::Mad, b.emit(Op::Mul, eta, eta), b.emit(Op::Mad, d, d, constant(b, -1)), constant(b, 1));
    Src root = b.emit(Op::Rcp, b.emit(Op::Rsq, k));
    Src along = b.emit(Op::Mad, eta, d, root);
    Src t = b.emit(Op::Mad, Builder::negate(along), n, b.emit(Op::Mul, eta, i));
    return valueOf(sig.result, b.emit(Op::Cmp, Builder::negate(k), t, constant(b, 0)));
}

Value faceforwardLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    Src n = reg(a[0]);
    Src d = dot(b, reg(a[2]), reg(a[1]), lanes(b, sig.params[0]));
    return valueOf(sig.result, b.emit(Op::Cmp, d, n, Builder::negate(n)));
}

Value litLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    // Per its definition rather than ARB's LIT, which differs where NdotL is 0
    // (LIT gives no specular) and clamps the exponent to 128.
    Src l = Builder::lane(reg(a[0]), 0), h = Builder::lane(reg(a[1]), 0), m = Builder::lane(reg(a[2]), 0);
    Src zero = constant(b, 0), one = constant(b, 1);
    Src diffuse = b.emit(Op::Max, l, zero);
    Src specular = b.emit(Op::Cmp, h, zero, b.emit(Op::Pow, h, m));
    specular = b.emit(Op::Cmp, l, zero, specular);
    Src lanes4[4] = {one, diffuse, specular, one};
    return valueOf(sig.result, b.compose(lanes4));
}

// Bools are 0 or 1 here, so all is a product or a full count, any a maximum
// or a non-zero count.
Value boolReduce(Builder& b, const BuiltinSignature& sig, const Values& a, bool all) {
    Src v = reg(a[0]);
    int n = lanes(b, sig.params[0]);
    if (n == 1) return valueOf(sig.result, Builder::lane(v, 0));
    if (n == 2) return valueOf(sig.result, b.emit(all ? Op::Mul : Op::Max, Builder::lane(v, 0), Builder::lane(v, 1)));
    Src count = b.emit(n == 3 ? Op::Dp3 : Op::Dp4, v, constant(b, 1));
    return valueOf(sig.result, all ? b.emit(Op::Sge, count, constant(b, float(n)))
                                   : b.emit(Op::Slt, constant(b, 0), count));
}

Value allLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return boolReduce(b, sig, a, true);
}

Value anyLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return boolReduce(b, sig, a, false);
}

// sum over i of v[i] * rows[i]: a MUL then a MAD per further row.
Src combineRows(Builder& b, const Src& v, const std::vector<Src>& rows) {
    Src t = b.emit(Op::Mul, Builder::lane(v, 0), rows[0]);
    for (std::size_t i = 1; i < rows.size(); ++i) t = b.emit(Op::Mad, Builder::lane(v, int(i)), rows[i], t);
    return t;
}

Value mulLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    TypeTable& types = b.types();
    const TypeInfo &A = types.info(sig.params[0]), &C = types.info(sig.params[1]);
    if (A.kind == TypeKind::Matrix && C.kind == TypeKind::Vector) {
        // A column on the right: one dot product per row.
        Src lanes4[4];
        for (int r = 0; r < A.rows; ++r) lanes4[r] = dot(b, reg(a[0], r), reg(a[1]), A.cols);
        return valueOf(sig.result, A.rows == 1 ? lanes4[0] : b.compose(lanes4));
    }
    if (A.kind == TypeKind::Vector) return valueOf(sig.result, combineRows(b, reg(a[0]), a[1].regs));
    std::vector<Src> rows;
    for (int r = 0; r < A.rows; ++r) rows.push_back(combineRows(b, reg(a[0], r), a[1].regs));
    return valueOf(sig.result, rows);
}

Value transposeLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    const TypeInfo& m = b.types().info(sig.params[0]);
    std::vector<Src> rows;
    for (int c = 0; c < m.cols; ++c) {
        Src lanes4[4];
        for (int r = 0; r < m.rows; ++r) lanes4[r] = Builder::lane(reg(a[0], r), c);
        rows.push_back(m.rows == 1 ? lanes4[0] : b.compose(lanes4));
    }
    return valueOf(sig.result, rows);
}

Src view(const Src& s, int x, int y, int z, int w) {
    const int l[4] = {x, y, z, w};
    return Builder::swizzle(s, l);
}

Value determinantLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    int n = b.types().info(sig.params[0]).rows;
    auto row = [&](int r) { return reg(a[0], r); };
    auto cross2 = [&](const Src& p, const Src& q, const Src& pq, const Src& qp) {
        // p*q - pq*qp, lane by lane
        return b.emit(Op::Mad, p, q, Builder::negate(b.emit(Op::Mul, pq, qp)));
    };
    switch (n) {
        case 1: return valueOf(sig.result, Builder::lane(row(0), 0));
        case 2: {
            Src r0 = row(0), r1 = row(1);
            return valueOf(sig.result, cross2(Builder::lane(r0, 0), Builder::lane(r1, 1), Builder::lane(r0, 1),
                                              Builder::lane(r1, 0)));
        }
        case 3: return valueOf(sig.result, b.emit(Op::Dp3, row(0), b.emit(Op::Xpd, row(1), row(2))));
        default: {
            // Laplace expansion along the 2x2 minors of rows 0-1 and rows 2-3:
            // det = a01 b23 - a02 b13 + a03 b12 + a12 b03 - a13 b02 + a23 b01,
            // with the lower minors arranged (and signed) to meet the upper
            // ones lane by lane.
            Src r0 = row(0), r1 = row(1), r2 = row(2), r3 = row(3);
            Src upper = cross2(view(r0, 0, 0, 0, 1), view(r1, 1, 2, 3, 2), view(r0, 1, 2, 3, 2), view(r1, 0, 0, 0, 1));
            Src upper2 = cross2(view(r0, 1, 2, 1, 2), view(r1, 3, 3, 3, 3), view(r0, 3, 3, 3, 3), view(r1, 1, 2, 1, 2));
            Src lower = cross2(view(r2, 2, 3, 1, 0), view(r3, 3, 1, 2, 3), view(r2, 3, 1, 2, 3), view(r3, 2, 3, 1, 0));
            Src lower2 = cross2(view(r2, 2, 0, 2, 0), view(r3, 0, 1, 0, 1), view(r2, 0, 1, 0, 1), view(r3, 2, 0, 2, 0));
            Src d = b.emit(Op::Dp4, upper, lower);
            d = b.emit(Op::Mad, Builder::lane(upper2, 0), Builder::lane(lower2, 0), d);
            return valueOf(sig.result, b.emit(Op::Mad, Builder::lane(upper2, 1), Builder::lane(lower2, 1), d));
        }
    }
}

}  // namespace

const std::vector<Builtin>& geometryBuiltins() {
    static const std::vector<Builtin> table = {
        {"all", boolReduction, foldWith<allF>, allLower},
        {"any", boolReduction, foldWith<anyF>, anyLower},
        {"cross", crossSig, foldWith<crossF>, crossLower},
        {"determinant", determinantSig, determinantFold, determinantLower},
        {"distance", reduction<2>, foldWith<distanceF>, distanceLower},
        {"dot", reduction<2>, foldWith<dotF>, dotLower},
        {"faceforward", same<3>, foldWith<faceforwardF>, faceforwardLower},
        {"length", reduction<1>, foldWith<lengthF>, lengthLower},
        {"lit", litSig, foldWith<litF>, litLower},
        {"mul", mulSig, mulFold, mulLower},
        {"normalize", same<1>, foldWith<normalizeF>, normalizeLower},
        {"reflect", same<2>, foldWith<reflectF>, reflectLower},
        {"refract", refractSig, foldWith<refractF>, refractLower},
        {"transpose", transposeSig, nullptr, transposeLower},
    };
    return table;
}

}  // namespace cgc::lib
