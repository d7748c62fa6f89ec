// Common-subexpression elimination by hashing, in one walk.
#include "cg/opt/passes.h"
#include "cg/opt/support.h"

#include <cstring>

namespace cgc::opt {

using namespace ir;

namespace {

// What decides an instruction's value in the lanes that are used: unread
// source lanes and unused constant components are blanked, so values that
// differ only there still match.
struct Key {
    std::uint32_t def[4];
    std::uint32_t imm[4];
    std::uint8_t swz[4][4];
    std::uint8_t neg[4];
    std::uint8_t op, sat, target, mask;
    std::uint16_t index, spare;  // spare: no padding, so memcmp sees only fields

    bool operator==(const Key& o) const { return std::memcmp(this, &o, sizeof *this) == 0; }
};

struct KeyHash {
    std::size_t operator()(const Key& k) const {
        // FNV-1a over the bytes.
        const unsigned char* p = reinterpret_cast<const unsigned char*>(&k);
        std::uint64_t h = 1469598103934665603ull;
        for (std::size_t i = 0; i < sizeof k; ++i) h = (h ^ p[i]) * 1099511628211ull;
        return std::size_t(h);
    }
};

bool commutative(Op op) {
    return op == Op::Add || op == Op::Mul || op == Op::Min || op == Op::Max || op == Op::Dp3 || op == Op::Dp4 ||
           op == Op::Mad;
}

// Orders two key sources, so commutative operands are keyed one way.
bool lessSource(const Key& k, int a, int b) {
    if (k.def[a] != k.def[b]) return k.def[a] < k.def[b];
    if (k.neg[a] != k.neg[b]) return k.neg[a] < k.neg[b];
    return std::memcmp(k.swz[a], k.swz[b], 4) < 0;
}

void swapSources(Key& k, int a, int b) {
    std::swap(k.def[a], k.def[b]);
    std::swap(k.neg[a], k.neg[b]);
    for (int c = 0; c < 4; ++c) std::swap(k.swz[a][c], k.swz[b][c]);
}

Key keyOf(const Inst& inst, std::uint8_t used) {
    Key k;
    std::memset(&k, 0, sizeof k);
    k.op = std::uint8_t(inst.op);
    k.sat = inst.sat;
    k.target = inst.target;
    k.index = inst.index;
    if (inst.op == Op::Const) {
        k.mask = used;
        for (int c = 0; c < 4; ++c)
            if (used >> c & 1) std::memcpy(&k.imm[c], &inst.imm[c], sizeof(float));
        return k;
    }
    for (int s = 0; s < 4; ++s) {
        k.def[s] = kNone;
        if (s >= inst.nsrc) continue;
        std::uint8_t lanes = lanesRead(inst, s, used);
        if (!lanes) continue;
        k.def[s] = inst.src[s].def;
        k.neg[s] = inst.src[s].neg;
        for (int c = 0; c < 4; ++c) k.swz[s][c] = lanes >> c & 1 ? inst.src[s].swz[c] : 4;
    }
    if (commutative(inst.op) && lessSource(k, 1, 0)) swapSources(k, 0, 1);
    return k;
}

}  // namespace

bool eliminateCommonSubexpressions(Function& f) {
    const std::vector<std::uint8_t> used = usedComponents(f);
    std::vector<std::uint32_t> sameAs(f.insts.size(), kNone);
    // Open addressing over the keys seen so far: a flat table stays fast
    // where a node per entry would not, at hundreds of thousands of values.
    std::vector<Key> keys;
    std::vector<std::uint32_t> owner;  // the instruction each key came from
    std::size_t capacity = 16;
    while (capacity < 2 * f.insts.size()) capacity *= 2;
    std::vector<std::uint32_t> table(capacity, kNone);  // index into keys
    const KeyHash hash;
    bool changed = false;
    for (std::size_t i = 0; i < f.insts.size(); ++i) {
        Inst& inst = f.insts[i];
        for (int s = 0; s < inst.nsrc; ++s) {
            std::uint32_t& def = inst.src[s].def;
            if (def != kNone && sameAs[def] != kNone) def = sameAs[def];
        }
        if (isSink(inst.op) || !used[i]) continue;
        const Key key = keyOf(inst, used[i]);
        std::size_t slot = hash(key) & (capacity - 1);
        while (table[slot] != kNone && !(keys[table[slot]] == key)) slot = (slot + 1) & (capacity - 1);
        if (table[slot] != kNone) {
            sameAs[i] = owner[table[slot]];
            changed = true;
        } else {
            table[slot] = std::uint32_t(keys.size());
            keys.push_back(key);
            owner.push_back(std::uint32_t(i));
        }
    }
    return changed;
}

}  // namespace cgc::opt
