// Clamps to [0, 1] into saturate.
#include "cg/opt/passes.h"
#include "cg/opt/support.h"

#include <cmath>

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
            return composeRead(p, inner.src[t]);
        }
    }
    return Src{};
}

// A clamp of a VEC that nothing else reads goes into its lanes when every
// lane can take it: a producer read only by this VEC saturates itself, and a
// constant is clamped. The back end then writes the lanes in place with no
// clamping copy after them. Lanes given new constants read past the end of
// the function until the commit, so each VEC is done at most once a walk.
bool saturateLanes(Function& f, std::uint32_t v, std::uint8_t lanes, const std::vector<std::uint32_t>& uses,
                   NewConstants& added, std::vector<bool>& done) {
    if (done[v]) return false;
    Inst& vec = f.insts[v];
    Vec4 clamped[4];
    bool moves[4] = {false, false, false, false};
    for (int c = 0; c < 4; ++c) {
        const Src& s = vec.src[c];
        if (!(lanes >> c & 1) || s.def == kNone) continue;
        const Inst& def = f.insts[s.def];
        Vec4 value;
        if (constantRead(f, s, &value)) {
            const float x = std::fmin(std::fmax(value[c], 0.0f), 1.0f);
            clamped[c] = Vec4{x, x, x, x};
            moves[c] = !(x == value[c]);
            continue;
        }
        if (s.neg) return false;
        if (def.sat || def.op == Op::Slt || def.op == Op::Sge) continue;  // already within [0, 1]
        if (!canCarrySaturate(def.op)) return false;
        std::uint32_t reads = 0;
        for (int d = 0; d < 4; ++d) reads += (lanes >> d & 1) && vec.src[d].def == s.def;
        if (uses[s.def] != reads) return false;
    }
    done[v] = true;
    for (int c = 0; c < 4; ++c) {
        Src& s = vec.src[c];
        if (!(lanes >> c & 1) || s.def == kNone) continue;
        Inst& def = f.insts[s.def];
        if (moves[c]) {
            s = added.add(clamped[c], vec.origin);
            for (auto& k : s.swz) k = std::uint8_t(c);
        } else if (def.op != Op::Const && def.op != Op::Slt && def.op != Op::Sge) {
            def.sat = true;
        }
    }
    return true;
}

}  // namespace

bool formSaturate(Function& f) {
    const std::vector<std::uint8_t> used = usedComponents(f);
    std::vector<std::uint32_t> uses = liveUseCounts(f, used);
    NewConstants added(f);
    std::vector<bool> done(f.insts.size(), false);
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
        if (inst.op == Op::Vec && inst.sat && saturateLanes(f, std::uint32_t(i), used[i], uses, added, done)) {
            inst.sat = false;
            changed = true;
        }
        // A saturated copy of a value read nowhere else: the value's own
        // instruction saturates instead, and the copy becomes plain.
        if (inst.op == Op::Mov && inst.sat && !inst.src[0].neg && uses[inst.src[0].def] == 1) {
            Inst& def = f.insts[inst.src[0].def];
            std::uint8_t read = 0;
            for (int c = 0; c < 4; ++c)
                if (used[i] >> c & 1) read |= std::uint8_t(1u << inst.src[0].swz[c]);
            if (def.op == Op::Vec && !def.sat ? !saturateLanes(f, inst.src[0].def, read, uses, added, done)
                                              : !canCarrySaturate(def.op))
                continue;
            if (def.op != Op::Vec) def.sat = true;
            inst.sat = false;
            changed = true;
        }
    }
    changed = changed || !added.empty();
    added.commit();
    return changed;
}

}  // namespace cgc::opt
