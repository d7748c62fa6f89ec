#include "cg/opt/support.h"

namespace cgc::opt {

using namespace ir;

Src composeRead(const Src& reader, const Src& to) {
    Src s;
    s.def = to.def;
    for (int c = 0; c < 4; ++c) s.swz[c] = to.swz[reader.swz[c]];
    s.neg = reader.neg != to.neg;
    return s;
}

bool sameRead(const Src& a, const Src& b, std::uint8_t lanes) {
    if (a.def != b.def || a.neg != b.neg) return false;
    for (int c = 0; c < 4; ++c)
        if ((lanes >> c & 1) && a.swz[c] != b.swz[c]) return false;
    return true;
}

bool constantRead(const Function& f, const Src& s, Vec4* out) {
    if (s.def == kNone || f.insts[s.def].op != Op::Const) return false;
    const Inst& k = f.insts[s.def];
    for (int c = 0; c < 4; ++c) (*out)[c] = s.neg ? -k.imm[s.swz[c]] : k.imm[s.swz[c]];
    return true;
}

bool allLanesEqual(const Vec4& v, std::uint8_t lanes, float x) {
    for (int c = 0; c < 4; ++c)
        if ((lanes >> c & 1) && !(v[c] == x)) return false;
    return lanes != 0;
}

std::vector<std::uint32_t> liveUseCounts(const Function& f, const std::vector<std::uint8_t>& used) {
    std::vector<std::uint32_t> uses(f.insts.size(), 0);
    for (std::size_t i = 0; i < f.insts.size(); ++i) {
        const Inst& inst = f.insts[i];
        if (!isSink(inst.op) && !used[i]) continue;
        for (int s = 0; s < inst.nsrc; ++s)
            if (inst.src[s].def != kNone && lanesRead(inst, s, used[i])) ++uses[inst.src[s].def];
    }
    return uses;
}

void canonicalSwizzle(Src& s, std::uint8_t lanes) {
    if (!lanes) return;
    bool identity = true, single = true;
    int first = -1;
    for (int c = 0; c < 4; ++c) {
        if (!(lanes >> c & 1)) continue;
        if (first < 0) first = s.swz[c];
        identity = identity && s.swz[c] == c;
        single = single && s.swz[c] == first;
    }
    const bool oneLane = (lanes & (lanes - 1)) == 0;  // read as a scalar: print it as one
    for (int c = 0; c < 4; ++c) {
        if (identity && !oneLane) s.swz[c] = std::uint8_t(c);
        else if (single) s.swz[c] = std::uint8_t(first);
        else if (!(lanes >> c & 1)) s.swz[c] = std::uint8_t(c);
    }
}

Src NewConstants::add(const Vec4& value, const Loc& origin) {
    Inst k;
    k.op = Op::Const;
    for (int c = 0; c < 4; ++c) k.imm[c] = value[c];
    k.origin = origin;
    added_.push_back(k);
    Src s;
    s.def = base_ + std::uint32_t(added_.size() - 1);
    return s;
}

void NewConstants::commit() {
    if (added_.empty()) return;
    const std::uint32_t shift = std::uint32_t(added_.size());
    std::vector<Inst> insts = std::move(added_);
    insts.reserve(shift + f_.insts.size());
    for (Inst& inst : f_.insts) {
        for (int s = 0; s < inst.nsrc; ++s) {
            std::uint32_t& def = inst.src[s].def;
            if (def != kNone) def = def >= base_ ? def - base_ : def + shift;
        }
        insts.push_back(inst);
    }
    f_.insts = std::move(insts);
    added_.clear();
    base_ = std::uint32_t(f_.insts.size());
}

}  // namespace cgc::opt
