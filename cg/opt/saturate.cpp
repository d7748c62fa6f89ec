// Clamps to [0, 1] into saturate.
#include "cg/opt/passes.h"
#include "cg/opt/support.h"

namespace cgc::opt {

using namespace ir;

namespace {

// Ops whose own instruction can carry the saturate for a reader. A VEC is
// split into several moves by the back end, so it keeps its clamp apart.
bool canCarrySaturate(Op op) { return !isLeaf(op) && !isSink(op) && op != Op::Vec; }

// Whether lanes `lanes` of source s of inst read the constant k.
bool readsConstant(const Function& f, const Inst& inst, int s, std::uint8_t lanes, float k) {
    Vec4 v;
    return constantRead(f, inst.src[s], &v) && allLanesEqual(v, lanes, k);
}

// The x of outer(inner(x, innerBound), outerBound), read through outer's
// source, when outer and inner are the clamp pair; def kNone otherwise.
Src clampedValue(const Function& f, const Inst& outer, std::uint8_t used, std::uint32_t* innerIndex) {
    const bool minOutside = outer.op == Op::Min;
    const float outerBound = minOutside ? 1.0f : 0.0f, innerBound = minOutside ? 0.0f : 1.0f;
    const Op innerOp = minOutside ? Op::Max : Op::Min;
    for (int s = 0; s < 2; ++s) {
        if (!readsConstant(f, outer, 1 - s, used, outerBound)) continue;
        const Src& p = outer.src[s];
        if (p.neg) continue;
        const Inst& inner = f.insts[p.def];
        if (inner.op != innerOp) continue;
        // The inner clamp's lanes that outer reads.
        std::uint8_t innerLanes = 0;
        for (int c = 0; c < 4; ++c)
            if (used >> c & 1) innerLanes |= std::uint8_t(1u << p.swz[c]);
        for (int t = 0; t < 2; ++t) {
            if (!readsConstant(f, inner, 1 - t, innerLanes, innerBound)) continue;
            *innerIndex = p.def;
            return through(p, inner.src[t]);
        }
    }
    return Src{};
}

}  // namespace

bool formSaturate(Function& f) {
    const std::vector<std::uint8_t> used = usedComponents(f);
    std::vector<std::uint32_t> uses = liveUseCounts(f, used);
    bool changed = false;
    for (std::size_t i = 0; i < f.insts.size(); ++i) {
        Inst& inst = f.insts[i];
        if (!used[i]) continue;
        if (inst.op == Op::Min || inst.op == Op::Max) {
            std::uint32_t inner = kNone;
            const Src x = clampedValue(f, inst, used[i], &inner);
            if (x.def == kNone) continue;
            inst.op = Op::Mov;
            inst.nsrc = 1;
            inst.sat = true;
            inst.src[0] = x;
            inst.src[1] = Src{};
            // The clamp pair's reads move to this MOV.
            ++uses[x.def];
            if (--uses[inner] == 0) --uses[x.def];
            changed = true;
        }
        // A saturated copy of a value read nowhere else: the value's own
        // instruction saturates instead, and the copy becomes plain.
        if (inst.op == Op::Mov && inst.sat && !inst.src[0].neg && uses[inst.src[0].def] == 1) {
            Inst& def = f.insts[inst.src[0].def];
            if (!canCarrySaturate(def.op)) continue;
            def.sat = true;
            inst.sat = false;
            changed = true;
        }
    }
    return changed;
}

}  // namespace cgc::opt
