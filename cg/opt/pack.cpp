// Packing constants into shared 4-component PARAM vectors.
#include "cg/opt/passes.h"
#include "cg/opt/support.h"

#include <cstring>
#include <unordered_map>

namespace cgc::opt {

using namespace ir;

namespace {

std::uint32_t bits(float x) {
    std::uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

struct Pack {
    std::uint32_t host;  // the earliest constant in it, which every reader follows
    float value[4] = {0, 0, 0, 0};
    std::uint8_t taken = 0;  // components holding a value

    int find(float x) const {
        for (int c = 0; c < 4; ++c)
            if ((taken >> c & 1) && bits(value[c]) == bits(x)) return c;
        return -1;
    }
};

// Where a constant's components went: component k now lives in component
// slot[k] of constant `host`, negated when `neg`.
struct Placement {
    std::uint32_t host = kNone;
    std::uint8_t slot[4] = {0, 1, 2, 3};
    bool neg = false;
    bool moves = false;  // readers must change
};

// Places the distinct values of a constant into a pack: each either found
// there or put into a free component. False when they do not fit.
bool place(Pack& pack, const Inst& k, std::uint8_t used, Placement* where) {
    Pack trial = pack;
    for (int c = 0; c < 4; ++c) {
        if (!(used >> c & 1)) continue;
        int slot = trial.find(k.imm[c]);
        if (slot < 0) {
            for (slot = 0; slot < 4 && (trial.taken >> slot & 1); ++slot) {
            }
            if (slot == 4) return false;
            trial.value[slot] = k.imm[c];
            trial.taken |= std::uint8_t(1u << slot);
        }
        where->slot[c] = std::uint8_t(slot);
    }
    where->host = pack.host;
    pack = trial;
    return true;
}

}  // namespace

bool packConstants(Function& f) {
    const std::vector<std::uint8_t> used = usedComponents(f);
    std::vector<Pack> packs;
    std::vector<Placement> placed(f.insts.size());
    // The pack that last took each value, for constants whose values are all
    // in one pack already.
    std::unordered_map<std::uint32_t, std::uint32_t> packOf;
    bool moved = false;
    for (std::size_t i = 0; i < f.insts.size(); ++i) {
        const Inst& k = f.insts[i];
        if (k.op != Op::Const || !used[i]) continue;
        int first = 0;
        while (!(used[i] >> first & 1)) ++first;
        bool oneValue = true;
        for (int c = first + 1; c < 4; ++c)
            if ((used[i] >> c & 1) && bits(k.imm[c]) != bits(k.imm[first])) oneValue = false;

        Placement where;
        std::size_t into = packs.size();  // the pack that takes it; packs.size(): a new one
        auto known = packOf.find(bits(k.imm[first]));
        if (known != packOf.end()) {
            Pack trial = packs[known->second];
            if (place(trial, k, used[i], &where) && trial.taken == packs[known->second].taken) into = known->second;
        }
        if (into == packs.size() && oneValue) {
            // One value: its negation in a pack serves as well.
            auto negative = packOf.find(bits(-k.imm[first]));
            if (negative != packOf.end()) {
                const Pack& pack = packs[negative->second];
                where.host = pack.host;
                where.neg = true;
                where.moves = true;
                for (std::uint8_t& slot : where.slot) slot = std::uint8_t(pack.find(-k.imm[first]));
                placed[i] = where;
                moved = true;
                continue;
            }
        }
        if (into == packs.size() && !packs.empty() && place(packs.back(), k, used[i], &where)) into = packs.size() - 1;
        if (into == packs.size()) {
            // A new pack hosted here; equal components share one slot.
            Pack pack;
            pack.host = std::uint32_t(i);
            place(pack, k, used[i], &where);
            packs.push_back(pack);
        }
        for (int c = 0; c < 4; ++c)
            if (used[i] >> c & 1) packOf[bits(k.imm[c])] = std::uint32_t(into);
        for (int c = 0; c < 4; ++c)
            if ((used[i] >> c & 1) && where.slot[c] != c) where.moves = true;
        where.moves = where.moves || where.host != i;
        placed[i] = where;
        moved = moved || where.moves;
    }
    for (const Pack& pack : packs)
        for (int c = 0; c < 4; ++c) f.insts[pack.host].imm[c] = pack.taken >> c & 1 ? pack.value[c] : 0.0f;
    if (!moved) return false;
    for (std::size_t i = 0; i < f.insts.size(); ++i) {
        Inst& inst = f.insts[i];
        for (int s = 0; s < inst.nsrc; ++s) {
            Src& src = inst.src[s];
            if (src.def == kNone || !placed[src.def].moves) continue;
            const Placement& where = placed[src.def];
            const std::uint8_t lanes = lanesRead(inst, s, used[i]);
            for (int c = 0; c < 4; ++c) src.swz[c] = where.slot[src.swz[c]];
            src.def = where.host;
            src.neg = src.neg != where.neg;
            canonicalSwizzle(src, lanes);
        }
    }
    return true;
}

}  // namespace cgc::opt
