// Texture lookups: tex1D tex2D tex3D texRECT texCUBE, their projective and
// bias forms, and the spellings with a result-width prefix (f4tex2D,
// h3texRECTproj, x1tex1D). Each spelling is an entry of its own, made from
// one template, since an entry's functions know nothing but their arguments.
#include "cg/builtins/common.h"

#include <string>
#include <utility>

namespace cgc::lib {

namespace {

enum Mode { Plain, Proj, Bias };

const char* const kTargets[] = {"1D", "2D", "3D", "RECT", "CUBE"};  // ir::TexTarget and SamplerKind order
const char* const kSamplerNames[] = {"sampler1D", "sampler2D", "sampler3D", "samplerRECT", "samplerCUBE"};
const char* const kModes[] = {"", "proj", "bias"};
constexpr int kTargetCount = 5, kModeCount = 3, kPrefixCount = 13;  // none, f1..f4, h1..h4, x1..x4
constexpr int kVariants = kTargetCount * kModeCount * kPrefixCount;

struct Variant {
    int target, mode, prefix;
    static constexpr Variant of(int code) { return {code % kTargetCount, code / kTargetCount % kModeCount, code / (kTargetCount * kModeCount)}; }
    int components() const { return prefix == 0 ? 4 : (prefix - 1) % 4 + 1; }
    ScalarKind kind() const {
        if (prefix == 0) return ScalarKind::Float;
        static const ScalarKind kinds[] = {ScalarKind::Float, ScalarKind::Half, ScalarKind::Fixed};
        return kinds[(prefix - 1) / 4];
    }
    std::string name() const {
        std::string p;
        if (prefix) p = std::string(1, "fhx"[(prefix - 1) / 4]) + char('0' + components());
        return p + "tex" + kTargets[target] + kModes[mode];
    }
    // Coordinate widths the form takes: the first is what a scalar spreads to.
    std::vector<int> widths() const {
        static const int plain[] = {1, 2, 3, 2, 3};
        if (mode == Bias) return {4};
        if (mode == Plain) return {plain[target]};
        if (target == ir::Tex2D || target == ir::TexRect) return {3, 4};
        return {target == ir::Tex1D ? 2 : 4};
    }
};

std::string typeList(const std::vector<int>& widths) {
    std::string s;
    for (std::size_t i = 0; i < widths.size(); ++i)
        s += (i ? " or float" : "float") + std::to_string(widths[i]);
    return s;
}

bool lookupSignature(TypeTable& types, const Args& args, BuiltinSignature* sig, std::string* why, Variant v) {
    if (args.size() == 4 && v.mode != Bias) {
        *why = "with derivatives: derivatives are not available on this target";
        return false;
    }
    if (!countIs(args, 2, why)) return false;
    const TypeInfo& s = types.info(args[0]);
    if (s.kind != TypeKind::Sampler || int(s.sampler) != v.target) {
        *why = std::string("needs a ") + kSamplerNames[v.target] + ", got " + got(types, args[0]);
        return false;
    }
    std::vector<int> widths = v.widths();
    TypeId c = args[1];
    int w = 0;
    if (types.kind(c) == TypeKind::Scalar)
        w = widths[0];
    else if (types.kind(c) == TypeKind::Vector)
        for (int candidate : widths)
            if (types.info(c).cols == candidate) w = candidate;
    if (!w) {
        *why = "needs a " + typeList(widths) + " coordinate, got " + got(types, c);
        return false;
    }
    int n = v.components();
    TypeId result = n == 1 ? types.scalar(v.kind()) : types.vector(v.kind(), n);
    fill(sig, result, {args[0], w == 1 ? types.scalar(ScalarKind::Float) : types.vector(ScalarKind::Float, w)});
    return true;
}

Value lookupLower(Builder& b, const BuiltinSignature& sig, const Values& a, Variant v) {
    if (a[0].units.empty()) fail(b.place(), "the sampler argument has no texture unit");
    const Value::Unit& unit = a[0].units[0];
    Src coordinate = reg(a[1]);
    Op op = v.mode == Plain ? Op::Tex : v.mode == Bias ? Op::Txb : Op::Txp;
    if (v.mode == Proj) {
        // q goes to w, where TXP divides by it.
        int w = width(b.types(), sig.params[1]);
        static const int qInY[4] = {0, 1, 1, 1}, qInZ[4] = {0, 1, 2, 2};
        if (w == 2) coordinate = Builder::swizzle(coordinate, qInY);
        if (w == 3) coordinate = Builder::swizzle(coordinate, qInZ);
    }
    Src texel = b.lookup(op, coordinate, unit.unit, unit.target);
    return valueOf(sig.result, v.components() == 1 ? Builder::lane(texel, 0) : texel);
}

template <int Code>
bool signatureOf(TypeTable& types, const Args& args, BuiltinSignature* sig, std::string* why) {
    return lookupSignature(types, args, sig, why, Variant::of(Code));
}

template <int Code>
Value lowerOf(Builder& b, const BuiltinSignature& sig, const Values& args, std::vector<Value>*) {
    return lookupLower(b, sig, args, Variant::of(Code));
}

template <int... Codes>
std::vector<Builtin> entries(const std::vector<std::string>& names, std::integer_sequence<int, Codes...>) {
    return {Builtin{names[Codes].c_str(), signatureOf<Codes>, nullptr, lowerOf<Codes>}...};
}

}  // namespace

const std::vector<Builtin>& textureBuiltins() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        for (int code = 0; code < kVariants; ++code) n.push_back(Variant::of(code).name());
        return n;
    }();
    static const std::vector<Builtin> table = entries(names, std::make_integer_sequence<int, kVariants>{});
    return table;
}

}  // namespace cgc::lib
