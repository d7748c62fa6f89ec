// Functions that work component by component: arithmetic, rounding,
// exponentials, trigonometry and the classification tests.
#include "cg/builtins/common.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace cgc::lib {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLog2E = 1.44269504088896340736;
constexpr double kLn2 = 0.69314718055994530942;
constexpr double kLog10Of2 = 0.30102999566398119521;

// ---- Signatures -------------------------------------------------------------

// isnan and its kin: a bool of the argument's shape.
bool test(TypeTable& types, const Args& args, BuiltinSignature* sig, std::string* why) {
    TypeId shape;
    if (!countIs(args, 1, why) || !common(types, args, &shape, why)) return false;
    fill(sig, types.withScalar(shape, ScalarKind::Bool), {shape});
    return true;
}

// x, then out arguments of x's shape; the result is x's shape too unless
// the function gives nothing back (sincos).
template <std::size_t Outs, bool Void>
bool withOuts(TypeTable& types, const Args& args, BuiltinSignature* sig, std::string* why) {
    TypeId shape;
    if (!countIs(args, 1 + Outs, why) || !common(types, {args[0]}, &shape, why)) return false;
    std::vector<TypeId> params = {shape};
    for (std::size_t i = 1; i <= Outs; ++i) {
        if (!outFits(types, args, i, shape, why)) return false;
        params.push_back(args[i]);
    }
    fill(sig, Void ? types.voidType() : shape, params);
    for (std::size_t i = 1; i <= Outs; ++i) sig->out[i] = true;
    return true;
}

// ---- Folding references: the definitions, in double precision ----------------

double abs_(double x) { return std::fabs(x); }
double acos_(double x) { return std::acos(x); }
double asin_(double x) { return std::asin(x); }
double atan_(double x) { return std::atan(x); }
double atan2_(double y, double x) { return std::atan2(y, x); }
double ceil_(double x) { return std::ceil(x); }
double clamp_(double x, double lo, double hi) { return std::fmax(lo, std::fmin(hi, x)); }
double cos_(double x) { return std::cos(x); }
double cosh_(double x) { return std::cosh(x); }
double degrees_(double x) { return x * (180 / kPi); }
double exp_(double x) { return std::exp(x); }
double exp2_(double x) { return std::exp2(x); }
double floor_(double x) { return std::floor(x); }
double fmod_(double x, double y) { return std::fmod(x, y); }
double frac_(double x) { return x - std::floor(x); }
double isfinite_(double x) { return std::isfinite(x) ? 1 : 0; }
double isinf_(double x) { return std::isinf(x) ? 1 : 0; }
double isnan_(double x) { return std::isnan(x) ? 1 : 0; }
double ldexp_(double x, double n) { return x * std::exp2(n); }
double lerp_(double a, double b, double s) { return a + s * (b - a); }
double log_(double x) { return std::log(x); }
double log10_(double x) { return std::log10(x); }
double log2_(double x) { return std::log2(x); }
double max_(double a, double b) { return std::fmax(a, b); }
double min_(double a, double b) { return std::fmin(a, b); }
double pow_(double x, double y) { return std::pow(x, y); }
double radians_(double x) { return x * (kPi / 180); }
double round_(double x) { return std::floor(x + 0.5); }
double rsqrt_(double x) { return 1 / std::sqrt(x); }
double saturate_(double x) { return std::fmin(std::fmax(x, 0.0), 1.0); }
double sign_(double x) { return x > 0 ? 1 : x < 0 ? -1 : 0; }
double sin_(double x) { return std::sin(x); }
double sinh_(double x) { return std::sinh(x); }
double smoothstep_(double a, double b, double x) {
    double t = saturate_((x - a) / (b - a));
    return t * t * (3 - 2 * t);
}
double sqrt_(double x) { return std::sqrt(x); }
double step_(double a, double x) { return x >= a ? 1 : 0; }
double tan_(double x) { return std::tan(x); }
double tanh_(double x) { return std::tanh(x); }
double trunc_(double x) { return std::trunc(x); }

// ---- Lowerings ----------------------------------------------------------------

int lanes(Builder& b, const BuiltinSignature& sig) { return width(b.types(), sig.params[0]); }

template <Op O>
Value plain1(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return valueOf(sig.result, b.emit(O, reg(a[0])));
}

template <Op O>
Value plain2(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return valueOf(sig.result, b.emit(O, reg(a[0]), reg(a[1])));
}

template <Op O>
Value scalar1(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return valueOf(sig.result, each(b, O, reg(a[0]), lanes(b, sig)));
}

// x * k for a constant k.
template <const double* K>
Value scaled(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return valueOf(sig.result, b.emit(Op::Mul, reg(a[0]), constant(b, float(*K))));
}

constexpr double kToDegrees = 180 / kPi, kToRadians = kPi / 180;

Value ceilLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return valueOf(sig.result, Builder::negate(b.emit(Op::Flr, Builder::negate(reg(a[0])))));
}

Value saturateLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return valueOf(sig.result, b.emit(Op::Mov, reg(a[0]), {}, {}, true));
}

Value clampLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    int n = lanes(b, sig);
    if (isConstant(b, reg(a[1]), n, 0) && isConstant(b, reg(a[2]), n, 1))
        return valueOf(sig.result, b.emit(Op::Mov, reg(a[0]), {}, {}, true));
    return valueOf(sig.result, b.emit(Op::Max, b.emit(Op::Min, reg(a[0]), reg(a[2])), reg(a[1])));
}

Value lerpLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return valueOf(sig.result, b.emit(Op::Lrp, reg(a[2]), reg(a[1]), reg(a[0])));
}

Value stepLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return valueOf(sig.result, b.emit(Op::Sge, reg(a[1]), reg(a[0])));
}

Value signLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    Src zero = constant(b, 0);
    Src positive = b.emit(Op::Slt, zero, reg(a[0]));
    Src negative = b.emit(Op::Slt, reg(a[0]), zero);
    return valueOf(sig.result, b.emit(Op::Add, positive, Builder::negate(negative)));
}

Value truncLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return valueOf(sig.result, truncate(b, reg(a[0])));
}

// clip(x): discard where any component is below 0. KIL reads all four
// lanes, so the unused ones repeat the last used one.
bool clipSig(TypeTable& types, const Args& args, BuiltinSignature* sig, std::string* why) {
    TypeId shape;
    if (!countIs(args, 1, why) || !common(types, args, &shape, why)) return false;
    fill(sig, types.voidType(), {shape});
    return true;
}

Value clipLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    int n = lanes(b, sig);
    const int used[4] = {0, std::min(1, n - 1), std::min(2, n - 1), std::min(3, n - 1)};
    b.kill(Builder::swizzle(reg(a[0]), used));
    return valueOf(sig.result, std::vector<Src>{});
}

Value roundLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return valueOf(sig.result, b.emit(Op::Flr, b.emit(Op::Add, reg(a[0]), constant(b, 0.5f))));
}

Value sqrtLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    // 1/rsq rather than x*rsq: RSQ(0) is infinite and RCP brings it back to 0.
    int n = lanes(b, sig);
    return valueOf(sig.result, each(b, Op::Rcp, each(b, Op::Rsq, reg(a[0]), n), n));
}

Value expLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    Src x = b.emit(Op::Mul, reg(a[0]), constant(b, float(kLog2E)));
    return valueOf(sig.result, each(b, Op::Ex2, x, lanes(b, sig)));
}

template <const double* K>
Value logLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    Src l = each(b, Op::Lg2, reg(a[0]), lanes(b, sig));
    return valueOf(sig.result, b.emit(Op::Mul, l, constant(b, float(*K))));
}

Value powLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return valueOf(sig.result, each(b, Op::Pow, reg(a[0]), lanes(b, sig), reg(a[1])));
}

Value ldexpLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return valueOf(sig.result, b.emit(Op::Mul, reg(a[0]), each(b, Op::Ex2, reg(a[1]), lanes(b, sig))));
}

Value tanLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    int n = lanes(b, sig);
    return valueOf(sig.result, b.emit(Op::Div, each(b, Op::Sin, reg(a[0]), n), each(b, Op::Cos, reg(a[0]), n)));
}

Value fmodLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    // x - y*trunc(x/y): truncating toward zero keeps the sign of x.
    Src q = b.emit(Op::Div, reg(a[0]), reg(a[1]));
    return valueOf(sig.result, b.emit(Op::Mad, Builder::negate(truncate(b, q)), reg(a[1]), reg(a[0])));
}

Value modfLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>* outs) {
    Src whole = truncate(b, reg(a[0]));
    outs->resize(std::max<std::size_t>(outs->size(), 2));
    (*outs)[1] = valueOf(sig.params[1], whole);
    return valueOf(sig.result, b.emit(Op::Add, reg(a[0]), Builder::negate(whole)));
}

Value frexpLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>* outs) {
    // e = floor(log2 |x|) + 1 and m = x / 2^e, then one correction step either
    // way in case LG2 lands just off an integer at a power of two. Zero gives
    // zero for both, where the steps above give NaN.
    int n = lanes(b, sig);
    Src x = reg(a[0]);
    Src ax = b.emit(Op::Abs, x);
    Src e = b.emit(Op::Add, b.emit(Op::Flr, each(b, Op::Lg2, ax, n)), constant(b, 1));
    Src m = b.emit(Op::Mul, x, each(b, Op::Ex2, Builder::negate(e), n));
    Src am = b.emit(Op::Abs, m);
    Src high = b.emit(Op::Sge, am, constant(b, 1));
    Src low = b.emit(Op::Slt, am, constant(b, 0.5f));
    e = b.emit(Op::Add, b.emit(Op::Add, e, high), Builder::negate(low));
    m = b.emit(Op::Mul, m, b.emit(Op::Add, b.emit(Op::Mad, high, constant(b, -0.5f), constant(b, 1)), low));
    Src nonzero = Builder::negate(ax);  // below 0 exactly where x is not 0
    outs->resize(std::max<std::size_t>(outs->size(), 2));
    (*outs)[1] = valueOf(sig.params[1], b.emit(Op::Cmp, nonzero, e, constant(b, 0)));
    return valueOf(sig.result, b.emit(Op::Cmp, nonzero, m, constant(b, 0)));
}

Value sincosLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>* outs) {
    int n = lanes(b, sig);
    outs->resize(std::max<std::size_t>(outs->size(), 3));
    (*outs)[1] = valueOf(sig.params[1], each(b, Op::Sin, reg(a[0]), n));
    (*outs)[2] = valueOf(sig.params[2], each(b, Op::Cos, reg(a[0]), n));
    return valueOf(sig.result, std::vector<Src>{});
}

Value isnanLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    // x >= x fails only for NaN.
    Src ordered = b.emit(Op::Sge, reg(a[0]), reg(a[0]));
    return valueOf(sig.result, b.emit(Op::Add, Builder::negate(ordered), constant(b, 1)));
}

Value isinfLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return valueOf(sig.result, b.emit(Op::Slt, constant(b, FLT_MAX), b.emit(Op::Abs, reg(a[0]))));
}

Value isfiniteLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return valueOf(sig.result, b.emit(Op::Sge, constant(b, FLT_MAX), b.emit(Op::Abs, reg(a[0]))));
}

Value smoothstepLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    // t = sat(x/(b-a) - a/(b-a)): with constant edges one MAD_SAT.
    Src lo = reg(a[0]), hi = reg(a[1]), x = reg(a[2]);
    Src r = each(b, Op::Rcp, b.emit(Op::Add, hi, Builder::negate(lo)), lanes(b, sig));
    Src t = b.emit(Op::Mad, x, r, Builder::negate(b.emit(Op::Mul, lo, r)), true);
    Src u = b.emit(Op::Mad, t, constant(b, -2), constant(b, 3));
    return valueOf(sig.result, b.emit(Op::Mul, b.emit(Op::Mul, t, t), u));
}

// The hyperbolic functions are exact formulas over EX2, so as exact as EX2:
// measured through the interpreter in float against long double over
// [-10, 10], worst error 5.2e-7 for sinh and cosh (relative above 1,
// absolute below) and 1.8e-7 absolute for tanh.
Value sinhCosh(Builder& b, const BuiltinSignature& sig, const Values& a, bool cosh) {
    // e^x/2 and e^-x/2 as 2^(x log2 e - 1) and 2^(-x log2 e - 1).
    int n = lanes(b, sig);
    Src up = b.emit(Op::Mad, reg(a[0]), constant(b, float(kLog2E)), constant(b, -1));
    Src down = b.emit(Op::Mad, reg(a[0]), constant(b, float(-kLog2E)), constant(b, -1));
    Src eu = each(b, Op::Ex2, up, n), ed = each(b, Op::Ex2, down, n);
    return valueOf(sig.result, b.emit(Op::Add, eu, cosh ? ed : Builder::negate(ed)));
}

Value sinhLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return sinhCosh(b, sig, a, false);
}

Value coshLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    return sinhCosh(b, sig, a, true);
}

Value tanhLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    // 1 - 2/(e^2x + 1): an overflowing e^2x gives 1 and a vanishing one -1,
    // never inf/inf.
    int n = lanes(b, sig);
    Src e = each(b, Op::Ex2, b.emit(Op::Mul, reg(a[0]), constant(b, float(2 * kLog2E))), n);
    Src r = each(b, Op::Rcp, b.emit(Op::Add, e, constant(b, 1)), n);
    return valueOf(sig.result, b.emit(Op::Mad, r, constant(b, -2), constant(b, 1)));
}

// atan on [0, 1] as t*(c0 + c1 t^2 + c2 t^4), a minimax fit (Lawson's
// iteration on 4000 Chebyshev points): worst error 6.1e-4 in long double,
// 6.1e-4 measured through the interpreter in float over [-100, 100]; atan2
// shares it, 6.1e-4 around circles of radius 1e-3, 1 and 250.
const float kAtan[3] = {0.995357949f, -0.288690207f, 0.0793390092f};

Src atanOfRatio(Builder& b, const Src& t) {
    Src t2 = b.emit(Op::Mul, t, t);
    Src p = b.emit(Op::Mad, t2, constant(b, kAtan[2]), constant(b, kAtan[1]));
    p = b.emit(Op::Mad, t2, p, constant(b, kAtan[0]));
    return b.emit(Op::Mul, p, t);
}

// pi/2 - p where `flip` is below 0, else p.
Src complementWhere(Builder& b, const Src& flip, const Src& p, double whole) {
    return b.emit(Op::Cmp, flip, b.emit(Op::Add, Builder::negate(p), constant(b, float(whole))), p);
}

Value atanLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    // |x| > 1 reduces to pi/2 - atan(1/|x|); the sign comes back last.
    Src x = reg(a[0]);
    Src ax = b.emit(Op::Abs, x);
    Src one = constant(b, 1);
    Src t = b.emit(Op::Div, b.emit(Op::Min, ax, one), b.emit(Op::Max, ax, one));
    Src r = complementWhere(b, b.emit(Op::Add, one, Builder::negate(ax)), atanOfRatio(b, t), kPi / 2);
    return valueOf(sig.result, b.emit(Op::Cmp, x, Builder::negate(r), r));
}

Value atan2Lower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    // The angle of the octant from min/max of |y| and |x|, then reflected
    // into place; at the origin the ratio is 0/tiny, which gives 0.
    Src y = reg(a[0]), x = reg(a[1]);
    Src ay = b.emit(Op::Abs, y), ax = b.emit(Op::Abs, x);
    Src big = b.emit(Op::Max, b.emit(Op::Max, ax, ay), constant(b, 1e-30f));
    Src t = b.emit(Op::Div, b.emit(Op::Min, ax, ay), big);
    Src r = complementWhere(b, b.emit(Op::Add, ax, Builder::negate(ay)), atanOfRatio(b, t), kPi / 2);
    r = complementWhere(b, x, r, kPi);
    return valueOf(sig.result, b.emit(Op::Cmp, y, Builder::negate(r), r));
}

// acos on [0, 1] as sqrt(1 - x)*(c0 + c1 x + c2 x^2), a minimax fit as for
// atan: worst error 3.3e-4 in long double, 3.3e-4 measured through the
// interpreter in float over [-1, 1]; asin shares it.
const float kAcos[3] = {1.57047026f, -0.205497557f, 0.051389551f};

Src acosOfAbs(Builder& b, const Src& ax, int n) {
    Src root = each(b, Op::Rcp, each(b, Op::Rsq, b.emit(Op::Add, constant(b, 1), Builder::negate(ax)), n), n);
    Src p = b.emit(Op::Mad, ax, constant(b, kAcos[2]), constant(b, kAcos[1]));
    p = b.emit(Op::Mad, ax, p, constant(b, kAcos[0]));
    return b.emit(Op::Mul, root, p);
}

Value acosLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    Src x = reg(a[0]);
    Src r = acosOfAbs(b, b.emit(Op::Abs, x), lanes(b, sig));
    return valueOf(sig.result, complementWhere(b, x, r, kPi));  // acos(-x) = pi - acos(x)
}

Value asinLower(Builder& b, const BuiltinSignature& sig, const Values& a, std::vector<Value>*) {
    Src x = reg(a[0]);
    Src r = b.emit(Op::Add, Builder::negate(acosOfAbs(b, b.emit(Op::Abs, x), lanes(b, sig))), constant(b, float(kPi / 2)));
    return valueOf(sig.result, b.emit(Op::Cmp, x, Builder::negate(r), r));
}

constexpr double kLn2Value = kLn2, kLog10Of2Value = kLog10Of2;

}  // namespace

const std::vector<Builtin>& mathBuiltins() {
    static const std::vector<Builtin> table = {
        {"abs", same<1>, fold1<abs_>, plain1<Op::Abs>},
        {"acos", same<1>, fold1<acos_>, acosLower},
        {"asin", same<1>, fold1<asin_>, asinLower},
        {"atan", same<1>, fold1<atan_>, atanLower},
        {"atan2", same<2>, fold2<atan2_>, atan2Lower},
        {"ceil", same<1>, fold1<ceil_>, ceilLower},
        {"clamp", same<3>, fold3<clamp_>, clampLower},
        {"clip", clipSig, nullptr, clipLower},
        {"cos", same<1>, fold1<cos_>, scalar1<Op::Cos>},
        {"cosh", same<1>, fold1<cosh_>, coshLower},
        {"degrees", same<1>, fold1<degrees_>, scaled<&kToDegrees>},
        {"exp", same<1>, fold1<exp_>, expLower},
        {"exp2", same<1>, fold1<exp2_>, scalar1<Op::Ex2>},
        {"floor", same<1>, fold1<floor_>, plain1<Op::Flr>},
        {"fmod", same<2>, fold2<fmod_>, fmodLower},
        {"frac", same<1>, fold1<frac_>, plain1<Op::Frc>},
        {"frexp", withOuts<1, false>, nullptr, frexpLower},
        {"isfinite", test, fold1<isfinite_>, isfiniteLower},
        {"isinf", test, fold1<isinf_>, isinfLower},
        {"isnan", test, fold1<isnan_>, isnanLower},
        {"ldexp", same<2>, fold2<ldexp_>, ldexpLower},
        {"lerp", same<3>, fold3<lerp_>, lerpLower},
        {"log", same<1>, fold1<log_>, logLower<&kLn2Value>},
        {"log10", same<1>, fold1<log10_>, logLower<&kLog10Of2Value>},
        {"log2", same<1>, fold1<log2_>, scalar1<Op::Lg2>},
        {"max", same<2>, fold2<max_>, plain2<Op::Max>},
        {"min", same<2>, fold2<min_>, plain2<Op::Min>},
        {"modf", withOuts<1, false>, nullptr, modfLower},
        {"pow", same<2>, fold2<pow_>, powLower},
        {"radians", same<1>, fold1<radians_>, scaled<&kToRadians>},
        {"round", same<1>, fold1<round_>, roundLower},
        {"rsqrt", same<1>, fold1<rsqrt_>, scalar1<Op::Rsq>},
        {"saturate", same<1>, fold1<saturate_>, saturateLower},
        {"sign", same<1>, fold1<sign_>, signLower},
        {"sin", same<1>, fold1<sin_>, scalar1<Op::Sin>},
        {"sincos", withOuts<2, true>, nullptr, sincosLower},
        {"sinh", same<1>, fold1<sinh_>, sinhLower},
        {"smoothstep", same<3>, fold3<smoothstep_>, smoothstepLower},
        {"sqrt", same<1>, fold1<sqrt_>, sqrtLower},
        {"step", same<2>, fold2<step_>, stepLower},
        {"tan", same<1>, fold1<tan_>, tanLower},
        {"tanh", same<1>, fold1<tanh_>, tanhLower},
        {"trunc", same<1>, fold1<trunc_>, truncLower},
    };
    return table;
}

}  // namespace cgc::lib
