#include "cg/builtins/builtins.h"

#include "cg/builtins/common.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace cgc {

namespace lib {

bool countIs(const Args& args, std::size_t n, std::string* why) {
    if (args.size() == n) return true;
    *why = "takes " + std::to_string(n) + (n == 1 ? " argument" : " arguments") + ", got " +
           std::to_string(args.size());
    return false;
}

std::string got(TypeTable& types, TypeId t) { return quoted(types.name(t)); }

std::string forArgument(std::size_t i, std::size_t count) {
    return count > 1 ? " for argument " + std::to_string(i + 1) : std::string();
}

ScalarKind promoted(TypeTable& types, const Args& args) {
    bool half = false, fixed = false;
    for (TypeId t : args) {
        if (!types.isNumeric(t)) continue;
        switch (types.info(t).scalar) {
            case ScalarKind::Half: half = true; break;
            case ScalarKind::Fixed: fixed = true; break;
            default: return ScalarKind::Float;
        }
    }
    return half ? ScalarKind::Half : fixed ? ScalarKind::Fixed : ScalarKind::Float;
}

int width(TypeTable& types, TypeId t) { return types.kind(t) == TypeKind::Vector ? types.info(t).cols : 1; }

bool common(TypeTable& types, const Args& args, TypeId* shape, std::string* why) {
    int narrowest = 0;  // 0: every argument is a scalar
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!types.isScalarOrVector(args[i])) {
            *why = "needs a scalar or vector" + forArgument(i, args.size()) + ", got " + got(types, args[i]);
            return false;
        }
        if (types.kind(args[i]) == TypeKind::Vector) {
            int n = types.info(args[i]).cols;
            narrowest = narrowest ? std::min(narrowest, n) : n;
        }
    }
    ScalarKind k = promoted(types, args);
    *shape = narrowest ? types.vector(k, narrowest) : types.scalar(k);
    return true;
}

bool outFits(TypeTable& types, const Args& args, std::size_t i, TypeId shape, std::string* why) {
    TypeId t = args[i];
    bool same = types.isScalarOrVector(t) && types.kind(t) == types.kind(shape) && width(types, t) == width(types, shape);
    if (!same) *why = "needs a " + types.name(shape) + " for its out argument " + std::to_string(i + 1) + ", got " + got(types, t);
    return same;
}

void fill(BuiltinSignature* sig, TypeId result, const std::vector<TypeId>& params) {
    sig->result = result;
    sig->params = params;
    sig->out.assign(params.size(), false);
}

Value valueOf(TypeId type, const Src& s) {
    Value v;
    v.type = type;
    v.regs.push_back(s);
    return v;
}

Value valueOf(TypeId type, std::vector<Src> regs) {
    Value v;
    v.type = type;
    v.regs = std::move(regs);
    return v;
}

Src constant(Builder& b, float x) { return b.constant(x); }

namespace {

bool sameComponents(const ir::Function& f, std::uint32_t def, int i, int j, int depth);

// Lane i of s and lane j of t certainly hold the same value.
bool sameLanes(const ir::Function& f, const Src& s, int i, const Src& t, int j, int depth) {
    if (s.def == ir::kNone || s.def != t.def || s.neg != t.neg) return false;
    return s.swz[i] == t.swz[j] || sameComponents(f, s.def, s.swz[i], t.swz[j], depth);
}

// Components i and j of an instruction's value are equal: a replicated
// result, equal constants, or per-component work on equal lanes (a float4
// spread from a scalar, a composition of repeated lanes).
bool sameComponents(const ir::Function& f, std::uint32_t def, int i, int j, int depth) {
    const ir::Inst& in = f.insts[def];
    if (ir::isScalar(in.op) || ir::isReduction(in.op)) return true;
    if (in.op == Op::Const) return in.imm[i] == in.imm[j];
    if (depth == 0) return false;
    if (in.op == Op::Vec) return sameLanes(f, in.src[i], i, in.src[j], j, depth - 1);
    if (!ir::isPerComponent(in.op)) return false;
    for (int k = 0; k < in.nsrc; ++k)
        if (!sameLanes(f, in.src[k], i, in.src[k], j, depth - 1)) return false;
    return true;
}

}  // namespace

Src each(Builder& b, Op op, const Src& a, int n, const Src& c) {
    const ir::Function& f = b.function();
    bool two = ir::sourceCount(op) == 2;
    Src lanes[4];
    for (int l = 0; l < n; ++l) {
        int same = 0;
        while (same < l && !(sameLanes(f, a, same, a, l, 6) && (!two || sameLanes(f, c, same, c, l, 6)))) ++same;
        lanes[l] = same < l ? lanes[same] : b.emit(op, Builder::lane(a, l), Builder::lane(c, l));
    }
    return n == 1 ? lanes[0] : b.compose(lanes);
}

Src dot(Builder& b, const Src& a, const Src& c, int n) {
    switch (n) {
        case 1: return b.emit(Op::Mul, Builder::lane(a, 0), Builder::lane(c, 0));
        case 2: {
            // A constant operand pads with a zero and takes one DP3; the other
            // operand's third lane repeats its first, so it stays defined.
            float k[4];
            for (int side = 0; side < 2; ++side) {
                const Src& konst = side ? c : a;
                const Src& other = side ? a : c;
                if (!b.constantOf(konst, k)) continue;
                static const int xyxx[4] = {0, 1, 0, 0};
                return b.emit(Op::Dp3, Builder::swizzle(other, xyxx), b.constant(k[0], k[1], 0, 0));
            }
            Src t = b.emit(Op::Mul, Builder::lane(a, 1), Builder::lane(c, 1));
            return b.emit(Op::Mad, Builder::lane(a, 0), Builder::lane(c, 0), t);
        }
        case 3: return b.emit(Op::Dp3, a, c);
        default: return b.emit(Op::Dp4, a, c);
    }
}

Src length(Builder& b, const Src& a, int n) {
    if (n == 1) return b.emit(Op::Abs, Builder::lane(a, 0));
    Src d = dot(b, a, a, n);
    return b.emit(Op::Rcp, b.emit(Op::Rsq, d));
}

bool isConstant(const Builder& b, const Src& s, int n, float k) {
    float v[4];
    if (!b.constantOf(s, v)) return false;
    for (int l = 0; l < n; ++l)
        if (v[l] != k) return false;
    return true;
}

Src truncate(Builder& b, const Src& a) {
    Src down = b.emit(Op::Flr, a);
    Src up = b.emit(Op::Flr, Builder::negate(a));  // -ceil(a)
    return b.emit(Op::Cmp, a, Builder::negate(up), down);
}

bool constants(const Builder& b, const Values& args, std::vector<std::vector<double>>* out) {
    out->clear();
    for (const Value& v : args) {
        std::vector<float> k;
        if (!b.constantOf(v, &k)) return false;
        out->emplace_back(k.begin(), k.end());
    }
    return true;
}

bool folded(Builder& b, TypeId type, const std::vector<double>& components, Value* result) {
    std::vector<float> k;
    for (double x : components) {
        float f = float(x);
        if (!std::isfinite(f)) return false;
        k.push_back(f);
    }
    *result = b.constantValue(type, k);
    return true;
}

}  // namespace lib

namespace {

struct Table {
    std::unordered_map<std::string_view, const Builtin*> byName;
    std::vector<std::string_view> names;

    Table() {
        for (const auto* part : {&lib::mathBuiltins(), &lib::geometryBuiltins(), &lib::textureBuiltins()})
            for (const Builtin& f : *part) {
                byName.emplace(f.name, &f);
                names.push_back(f.name);
            }
    }
};

const Table& table() {
    static const Table t;
    return t;
}

bool startsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

}  // namespace

const Builtin* findBuiltin(std::string_view name) {
    auto it = table().byName.find(name);
    return it == table().byName.end() ? nullptr : it->second;
}

std::vector<std::string_view> builtinNames() { return table().names; }

const char* unsupportedBuiltin(std::string_view name) {
    static const char* const derivatives = "derivatives are not available on this target";
    if (name == "ddx" || name == "ddy" || name == "fwidth") return derivatives;
    // Lookups, with or without a result-width prefix (f4tex2Dlod).
    if (name.size() > 2 && (name[0] == 'f' || name[0] == 'h' || name[0] == 'x') && name[1] >= '1' && name[1] <= '4')
        name.remove_prefix(2);
    if (!startsWith(name, "tex")) return nullptr;
    name.remove_prefix(3);
    if (startsWith(name, "BUF") || startsWith(name, "RBUF")) return "buffer textures are not available on this target";
    bool target = false;
    for (std::string_view t : {"1D", "2D", "3D", "RECT", "CUBE"})
        if (startsWith(name, t)) {
            name.remove_prefix(t.size());
            target = true;
            break;
        }
    if (!target) return nullptr;
    if (startsWith(name, "ARRAY")) return "texture arrays are not available on this target";
    if (startsWith(name, "MS")) return "multisample textures are not available on this target";
    if (startsWith(name, "cmp")) return "depth-compare lookups are not available on this target";
    if (startsWith(name, "proj")) name.remove_prefix(4);
    if (name == "lod") return "explicit level of detail is not available on this target";
    if (name == "grad") return derivatives;
    if (name == "fetch") return "texel fetches are not available on this target";
    if (name == "size") return "texture size queries are not available on this target";
    return nullptr;
}

}  // namespace cgc
