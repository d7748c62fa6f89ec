// The standard library as its definitions say, in double precision, and
// texture lookups on the CPU textures a run is given.
#include "cg/interp/machine.h"

#include <cfloat>
#include <cmath>
#include <string_view>
#include <utility>

namespace cgc::interp {

namespace {

constexpr double kPi = 3.14159265358979323846;

using Vec = std::vector<double>;

double dot(const Vec& a, const Vec& b) {
    double s = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) s += a[i] * b[i];
    return s;
}

// Component-wise functions of one, two and three arguments.
double one(std::string_view f, double x) {
    if (f == "abs") return std::fabs(x);
    if (f == "acos") return std::acos(x);
    if (f == "asin") return std::asin(x);
    if (f == "atan") return std::atan(x);
    if (f == "ceil") return std::ceil(x);
    if (f == "cos") return std::cos(x);
    if (f == "cosh") return std::cosh(x);
    if (f == "degrees") return x * (180 / kPi);
    if (f == "exp") return std::exp(x);
    if (f == "exp2") return std::exp2(x);
    if (f == "floor") return std::floor(x);
    if (f == "frac") return x - std::floor(x);
    if (f == "isfinite") return std::isfinite(x) && std::fabs(x) <= FLT_MAX;
    if (f == "isinf") return std::isinf(x) || (std::isfinite(x) && std::fabs(x) > FLT_MAX);
    if (f == "isnan") return std::isnan(x);
    if (f == "log") return std::log(x);
    if (f == "log10") return std::log10(x);
    if (f == "log2") return std::log2(x);
    if (f == "radians") return x * (kPi / 180);
    if (f == "round") return std::floor(x + 0.5);
    if (f == "rsqrt") return 1 / std::sqrt(x);
    if (f == "saturate") return std::fmin(std::fmax(x, 0.0), 1.0);
    if (f == "sign") return x > 0 ? 1 : x < 0 ? -1 : 0;
    if (f == "sin") return std::sin(x);
    if (f == "sinh") return std::sinh(x);
    if (f == "sqrt") return std::sqrt(x);
    if (f == "tan") return std::tan(x);
    if (f == "tanh") return std::tanh(x);
    if (f == "trunc") return std::trunc(x);
    return NAN;
}

double two(std::string_view f, double a, double b) {
    if (f == "atan2") return std::atan2(a, b);
    if (f == "fmod") return std::fmod(a, b);
    if (f == "ldexp") return a * std::exp2(b);
    if (f == "max") return std::fmax(a, b);
    if (f == "min") return std::fmin(a, b);
    if (f == "pow") return std::pow(a, b);
    if (f == "step") return b >= a ? 1 : 0;
    return NAN;
}

double three(std::string_view f, double a, double b, double c) {
    if (f == "clamp") return std::fmax(b, std::fmin(c, a));
    if (f == "lerp") return a + c * (b - a);
    if (f == "smoothstep") {
        double t = std::fmin(std::fmax((c - a) / (b - a), 0.0), 1.0);
        return t * t * (3 - 2 * t);
    }
    return NAN;
}

double determinant(const Vec& m, int n) {
    if (n == 1) return m[0];
    double s = 0;
    for (int j = 0; j < n; ++j) {
        Vec minor;
        for (int r = 1; r < n; ++r)
            for (int c = 0; c < n; ++c)
                if (c != j) minor.push_back(m[std::size_t(r * n + c)]);
        s += (j % 2 ? -1 : 1) * m[std::size_t(j)] * determinant(minor, n - 1);
    }
    return s;
}

// A lookup's spelling: [fhx]N prefix, "tex", target, then "", "proj" or "bias".
int lookupMode(std::string_view name) {
    if (name.size() > 2 && name[0] != 't') name.remove_prefix(2);
    if (name.substr(0, 3) != "tex") return -1;
    if (name.size() >= 4 && name.substr(name.size() - 4) == "proj") return 1;
    if (name.size() >= 4 && name.substr(name.size() - 4) == "bias") return 2;
    return 0;
}

}  // namespace

Val Machine::builtin(const ast::Expr* e, const CallInfo& call) {
    const BuiltinSignature& sig = call.signature;
    const std::string_view f = call.builtin->name;
    std::size_t n = e->args.size();
    std::vector<Val> a(n);
    std::vector<Place> places(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (i < sig.out.size() && sig.out[i]) places[i] = place(e->args[i]);
        else a[i] = value(e->args[i]);
    }
    Val r{sig.result, {}};
    auto writeOut = [&](std::size_t i, const Vec& v) {
        write(places[i], convert(Val{sig.params[i], v}, places[i].type), e->loc);
    };

    // Where a built-in jumps, the argument must keep clear of the jump.
    for (std::size_t i = 0; i < a[0].v.size(); ++i) {
        double x = a[0].v[i];
        if (f == "floor" || f == "ceil" || f == "frac" || f == "trunc" || f == "modf") decideInteger(x);
        else if (f == "round") decideInteger(x + 0.5);
        else if (f == "sign" || f == "clip") decide(x, 1e-3);
        else if (f == "step") decide(a[1].v[i] - x, std::fmax(std::fabs(x), std::fabs(a[1].v[i])));
        else if (f == "fmod") decideInteger(x / a[1].v[i]);
        else if (f == "frexp" && x != 0) decideInteger(std::log2(std::fabs(x)));
        // On the cut a zero's sign picks the side, and targets drop it.
        else if (f == "atan2" && a[1].v[i] < 0) decide(x == 0 ? 1e-30 : x, a[1].v[i]);
    }
    if (f == "lit") decide(std::fmin(std::fabs(a[0].v[0]), std::fabs(a[1].v[0])), 1e-3);
    if (f == "faceforward") decide(dot(a[2].v, a[1].v), 1);
    if (f == "refract") {
        double c = dot(a[0].v, a[1].v), eta = a[2].v[0];
        decide(1 - eta * eta * (1 - c * c), 1);
    }

    auto compute = [&]() -> Val {
        if (int mode = lookupMode(f); mode >= 0) {
            const TypeInfo& s = types.info(sig.params[0]);
            Vec4 t = sample(int(a[0].v[0]), s.sampler, mode, a[1].v);
            r.v.assign(t.begin(), t.begin() + size(sig.result));
            return r;
        }
        if (f == "clip") {
            for (double x : a[0].v)
                if (x < 0) throw Discarded{};
            return r;
        }
        if (f == "sincos" || f == "modf" || f == "frexp") {
            Vec first, second;
            for (double x : a[0].v) {
                if (f == "sincos") {
                    first.push_back(nudge(std::sin(x), 8 * std::fmax(1.0, std::fabs(x))));
                    second.push_back(nudge(std::cos(x), 8 * std::fmax(1.0, std::fabs(x))));
                } else if (f == "modf") {
                    first.push_back(x - std::trunc(x));
                    second.push_back(std::trunc(x));
                } else {
                    int exponent = 0;
                    first.push_back(std::frexp(x, &exponent));
                    second.push_back(x == 0 ? 0 : exponent);
                }
            }
            if (f == "sincos") {
                writeOut(1, first);
                writeOut(2, second);
                return r;
            }
            writeOut(1, second);
            r.v = first;
            return r;
        }
        if (f == "all" || f == "any") {
            bool all = true, any = false;
            for (double x : a[0].v) {
                all = all && x != 0;
                any = any || x != 0;
            }
            r.v = {f == "all" ? double(all) : double(any)};
            return r;
        }
        if (f == "dot") return Val{sig.result, {dot(a[0].v, a[1].v)}};
        if (f == "length") return Val{sig.result, {std::sqrt(dot(a[0].v, a[0].v))}};
        if (f == "distance") {
            Vec d;
            for (std::size_t i = 0; i < a[0].v.size(); ++i) d.push_back(a[0].v[i] - a[1].v[i]);
            return Val{sig.result, {std::sqrt(dot(d, d))}};
        }
        if (f == "normalize") {
            double l = std::sqrt(dot(a[0].v, a[0].v));
            for (double x : a[0].v) r.v.push_back(x / l);
            return r;
        }
        if (f == "cross") {
            const Vec &x = a[0].v, &y = a[1].v;
            r.v = {x[1] * y[2] - x[2] * y[1], x[2] * y[0] - x[0] * y[2], x[0] * y[1] - x[1] * y[0]};
            return r;
        }
        if (f == "reflect") {
            double d = dot(a[1].v, a[0].v);
            for (std::size_t i = 0; i < a[0].v.size(); ++i) r.v.push_back(a[0].v[i] - 2 * d * a[1].v[i]);
            return r;
        }
        if (f == "refract") {
            const Vec &in = a[0].v, &normal = a[1].v;
            double eta = a[2].v[0], cosi = -dot(in, normal);
            double k = 1 - eta * eta * (1 - cosi * cosi);
            for (std::size_t i = 0; i < in.size(); ++i)
                r.v.push_back(k > 0 ? eta * in[i] + (eta * cosi - std::sqrt(k)) * normal[i] : 0.0);
            return r;
        }
        if (f == "faceforward") {
            bool facing = dot(a[2].v, a[1].v) < 0;
            for (double x : a[0].v) r.v.push_back(facing ? x : -x);
            return r;
        }
        if (f == "lit") {
            double l = a[0].v[0], h = a[1].v[0], m = a[2].v[0];
            r.v = {1, l < 0 ? 0 : l, l < 0 || h < 0 ? 0 : std::pow(h, m), 1};
            return r;
        }
        if (f == "mul") {
            const TypeInfo &A = types.info(sig.params[0]), &C = types.info(sig.params[1]);
            // A vector on the left is one row, on the right one column.
            int rows = A.kind == TypeKind::Matrix ? A.rows : 1, inner = A.cols;
            int cols = C.kind == TypeKind::Matrix ? C.cols : 1;
            bool column = C.kind != TypeKind::Matrix;
            for (int i = 0; i < rows; ++i)
                for (int j = 0; j < cols; ++j) {
                    double s = 0;
                    for (int m = 0; m < inner; ++m)
                        s += a[0].v[std::size_t(i * inner + m)] * a[1].v[std::size_t(column ? m : m * cols + j)];
                    r.v.push_back(s);
                }
            return r;
        }
        if (f == "transpose") {
            const TypeInfo& m = types.info(sig.params[0]);
            for (int j = 0; j < m.cols; ++j)
                for (int i = 0; i < m.rows; ++i) r.v.push_back(a[0].v[std::size_t(i * m.cols + j)]);
            return r;
        }
        if (f == "determinant") return Val{sig.result, {determinant(a[0].v, types.info(sig.params[0]).rows)}};

        std::size_t lanes = a[0].v.size();
        for (std::size_t i = 0; i < lanes; ++i) {
            if (n == 1) r.v.push_back(one(f, a[0].v[i]));
            else if (n == 2) r.v.push_back(two(f, a[0].v[i], a[1].v[i]));
            else r.v.push_back(three(f, a[0].v[i], a[1].v[i], a[2].v[i]));
        }
        return r;
    };
    r = compute();
    // What the target computes approximately moves by its error; the rest
    // by float rounding of its largest term.
    double big = 0, x = 0;
    for (std::size_t i = 0; i < n; ++i)
        for (double c : a[i].v) big = std::fmax(big, std::fabs(c));
    if (n > 0 && !a[0].v.empty()) x = std::fabs(a[0].v[0]);
    for (double& c : r.v) {
        if (f == "atan" || f == "atan2") c = approximate(c, 6.1e-4);
        else if (f == "asin" || f == "acos") c = approximate(c, 3.3e-4);
        else if (f == "sin" || f == "cos") c = nudge(c, 8 * std::fmax(1.0, x));
        else if (f == "tan") c = nudge(c, 8 * (1 + c * c) * std::fmax(1.0, x));
        else if (f == "exp" || f == "exp2" || f == "pow" || f == "sinh" || f == "cosh" || f == "ldexp" || f == "lit")
            c = nudge(c, 16 * std::fabs(c) + (f == "sinh" || f == "lit" ? 16 : 0));
        else if (f == "tanh") c = nudge(c, 16);
        else if (f == "log" || f == "log2" || f == "log10") c = nudge(c, 16 * std::fmax(1.0, std::fabs(c)));
        else if (f == "dot" || f == "mul" || f == "cross" || f == "reflect" || f == "refract" || f == "lerp" ||
                 f == "distance" || f == "length" || f == "normalize" || f == "faceforward" || f == "smoothstep")
            c = nudge(c, 4 * (std::fabs(c) + big * big + big));
        else if (f == "determinant") c = nudge(c, 4 * (std::fabs(c) + big * big * big * big));
        else if (f == "fmod" || f == "sqrt" || f == "rsqrt" || f == "degrees" || f == "radians" || f == "modf" ||
                 f == "frexp")
            c = nudge(c, std::fabs(c) + (f == "fmod" || f == "modf" ? big : 0));
        else nudge(c, 0);  // exact on the target too: only an overflow to note
    }
    return r;
}

// ---- textures ----

namespace {

}  // namespace

// A texel boundary is a threshold: the coordinate moves as rounding may move it.
int Machine::texelIndex(double coordinate, int size, bool normalised) {
    double x = normalised ? coordinate * size : coordinate;
    x = nudge(x, 8 * std::fmax(1.0, std::fabs(x)));
    if (x > 0 && x < size) decideInteger(x);
    // Far outside, a driver's conversion to a texel address may overflow
    // rather than clamp.
    if (!(std::fabs(x) < 1e6)) decide(1e-30, 1);
    if (!(x >= 0)) return 0;
    if (x >= size) return size - 1;
    return int(x);
}

Vec4 Machine::sample(int unit, SamplerKind kind, int mode, const std::vector<double>& coordinate) {
    auto it = inputs_.textures.find(unit);
    if (it == inputs_.textures.end() || it->second.kind != kind || it->second.texels.empty()) return {0, 0, 0, 1};
    const Texture& t = it->second;
    Vec c = coordinate;
    c.resize(4, 0.0);
    if (mode == 1) {
        // The last component given divides the others.
        double q = coordinate.back();
        for (std::size_t k = 0; k + 1 < coordinate.size(); ++k) c[k] /= q;
    }
    auto at = [&](int x, int y, int z, int face) {
        std::size_t i = std::size_t(((face * t.depth + z) * t.height + y) * t.width + x);
        return i < t.texels.size() ? t.texels[i] : Vec4{0, 0, 0, 1};
    };
    switch (kind) {
        case SamplerKind::Sampler1D: return at(texelIndex(c[0], t.width, true), 0, 0, 0);
        case SamplerKind::Sampler2D: return at(texelIndex(c[0], t.width, true), texelIndex(c[1], t.height, true), 0, 0);
        case SamplerKind::SamplerRect:
            return at(texelIndex(c[0], t.width, false), texelIndex(c[1], t.height, false), 0, 0);
        case SamplerKind::Sampler3D:
            return at(texelIndex(c[0], t.width, true), texelIndex(c[1], t.height, true), texelIndex(c[2], t.depth, true), 0);
        case SamplerKind::SamplerCube: {
            // The major axis picks the face, the other two place the texel, as GL's table has it.
            double x = c[0], y = c[1], z = c[2], sc, tc, ma;
            // Even an exact tie between axes: GL leaves the face of a tie to the driver.
            for (auto [p, q] : {std::pair{x, y}, {y, z}, {x, z}}) {
                if (std::fabs(p) == std::fabs(q)) decide(1e-30, 1);
                decide(std::fabs(p) - std::fabs(q), std::fmax(std::fabs(p), std::fabs(q)));
            }
            int face;
            if (std::fabs(x) >= std::fabs(y) && std::fabs(x) >= std::fabs(z)) {
                face = x < 0 ? 1 : 0, ma = std::fabs(x), sc = x < 0 ? z : -z, tc = -y;
            } else if (std::fabs(y) >= std::fabs(z)) {
                face = y < 0 ? 3 : 2, ma = std::fabs(y), sc = x, tc = y < 0 ? -z : z;
            } else {
                face = z < 0 ? 5 : 4, ma = std::fabs(z), sc = z < 0 ? -x : x, tc = -y;
            }
            return at(texelIndex((sc / ma + 1) * 0.5, t.width, true), texelIndex((tc / ma + 1) * 0.5, t.height, true), 0, face);
        }
    }
    return {0, 0, 0, 1};
}

}  // namespace cgc::interp
