// Superword-level parallelism: per-component instructions that do the same
// thing to the same values in different lanes become one instruction over
// the union of their lanes, the way an ARB programmer writes
// `ADD t, tc.xyxy, {-1, 0, 1, 0}` for two neighbours' coordinates.
//
// Two instructions join when they have the same op (MUL and ADD count as MAD:
// a*b + -0 and a*1 + b are exact, the zero's sign included) and the same
// saturate, and at every operand position either read the same value with
// the same sign (through any swizzle) or read constants, which merge lane by
// lane. Their used lanes must fit into four; the later one's components move
// into lanes the earlier one leaves free, and its readers follow. The merged
// instruction stands where the earlier one stood: its non-constant operands
// are the earlier one's, so every reader still comes after it.
//
// A value gathered in place by one VEC or OUTPUT costs no move there; two
// such values feeding different gathers, or one that does and one that does
// not, would trade the saved instruction for a move, so only values with the
// same gather (or none) join. A VEC lane that copies the value which another
// of its lanes' ADD, MUL or MAD (read by that VEC alone, with a constant
// factor and addend) works on becomes one more lane of that instruction, as
// x*1 + -0 or (-x)*-1 + -0, so the VEC is left with one source.
#include "cg/opt/passes.h"
#include "cg/opt/support.h"

#include <cstring>
#include <map>
#include <unordered_map>

namespace cgc::opt {

using namespace ir;

namespace {

constexpr std::uint32_t kConstant = kNone - 1;  // an operand position read from constants
constexpr std::uint32_t kMany = kNone - 1;      // read by more than one gather, or by arithmetic

int lanesIn(std::uint8_t mask) {
    int n = 0;
    for (; mask; mask &= std::uint8_t(mask - 1)) ++n;
    return n;
}

// An instruction in the form its family shares: MAD's three operands for
// ADD, MUL and MAD, the op's own otherwise; commutative operands ordered so
// that equal instructions look equal. A constant operand has def kConstant
// and its lane values in `value`.
struct Form {
    Op family = Op::Undef;
    int nsrc = 0;
    Src src[3];
    Vec4 value[3] = {};
};

Src constantSource() {
    Src s;
    s.def = kConstant;
    return s;
}

bool before(const Src& a, const Src& b) {
    if ((a.def == kConstant) != (b.def == kConstant)) return b.def == kConstant;  // values first
    if (a.def != b.def) return a.def < b.def;
    return a.neg < b.neg;
}

bool joinable(Op op, bool sat) {
    switch (op) {
        case Op::Add: case Op::Mul: case Op::Mad: case Op::Div: case Op::Min: case Op::Max: case Op::Slt:
        case Op::Sge: case Op::Cmp: case Op::Lrp: case Op::Abs: case Op::Flr: case Op::Frc:
            return true;
        case Op::Mov: return sat;  // a plain copy is propagation's
        default: return false;
    }
}

// False when an operand cannot take part: undefined, or an Undef.
bool formOf(const Function& f, const Inst& inst, Form* form) {
    Src given[3];
    Vec4 values[3] = {};
    const int n = inst.nsrc;
    for (int s = 0; s < n; ++s) {
        const Src& src = inst.src[s];
        if (src.def == kNone || f.insts[src.def].op == Op::Undef) return false;
        given[s] = constantRead(f, src, &values[s]) ? constantSource() : src;
    }
    auto set = [&](int p, const Src& s, const Vec4& v) {
        form->src[p] = s;
        form->value[p] = v;
    };
    auto order = [&](int a, int b) {
        if (before(form->src[b], form->src[a])) {
            std::swap(form->src[a], form->src[b]);
            std::swap(form->value[a], form->value[b]);
        }
    };
    const Vec4 one = {1, 1, 1, 1}, minusZero = {-0.0f, -0.0f, -0.0f, -0.0f};
    switch (inst.op) {
        case Op::Add:
            // a + b as a*1 + b, the value operand (or the lower one) multiplied.
            form->family = Op::Mad;
            form->nsrc = 3;
            set(0, given[0], values[0]);
            set(2, given[1], values[1]);
            order(0, 2);
            set(1, constantSource(), one);
            return true;
        case Op::Mul:
            form->family = Op::Mad;
            form->nsrc = 3;
            set(0, given[0], values[0]);
            set(1, given[1], values[1]);
            order(0, 1);
            set(2, constantSource(), minusZero);
            return true;
        default:
            form->family = inst.op;
            form->nsrc = n;
            for (int s = 0; s < n; ++s) set(s, given[s], values[s]);
            if (inst.op == Op::Mad || inst.op == Op::Min || inst.op == Op::Max) order(0, 1);
            return true;
    }
}

struct Key {
    std::uint32_t def[3];
    std::uint32_t gather;
    std::uint8_t family, sat, nsrc, neg[3];
    std::uint8_t spare[2];  // no padding, so memcmp sees only fields

    bool operator==(const Key& o) const { return std::memcmp(this, &o, sizeof *this) == 0; }
};

struct KeyHash {
    std::size_t operator()(const Key& k) const {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(&k);
        std::uint64_t h = 1469598103934665603ull;  // FNV-1a
        for (std::size_t i = 0; i < sizeof k; ++i) h = (h ^ p[i]) * 1099511628211ull;
        return std::size_t(h);
    }
};

Key keyOf(const Form& form, bool sat, std::uint32_t gather) {
    Key k;
    std::memset(&k, 0, sizeof k);
    k.family = std::uint8_t(form.family);
    k.sat = sat;
    k.nsrc = std::uint8_t(form.nsrc);
    k.gather = gather;
    for (int p = 0; p < 3; ++p) {
        k.def[p] = p < form.nsrc ? form.src[p].def : kNone;
        k.neg[p] = p < form.nsrc && form.src[p].def != kConstant && form.src[p].neg;
    }
    return k;
}

// For every value, the one VEC or OUTPUT that is its only reader (kNone when
// nothing reads it, kMany otherwise).
std::vector<std::uint32_t> gathers(const Function& f, const std::vector<std::uint8_t>& used) {
    std::vector<std::uint32_t> gather(f.insts.size(), kNone);
    for (std::uint32_t i = 0; i < f.insts.size(); ++i) {
        const Inst& inst = f.insts[i];
        if (!isSink(inst.op) && !used[i]) continue;
        const bool gathering = inst.op == Op::Vec || inst.op == Op::Output;
        for (int s = 0; s < inst.nsrc; ++s) {
            const std::uint32_t d = inst.src[s].def;
            if (d == kNone || !lanesRead(inst, s, used[i])) continue;
            const std::uint32_t mine = gathering ? i : kMany;
            gather[d] = gather[d] == kNone || gather[d] == mine ? mine : kMany;
        }
    }
    return gather;
}

// A value being built from several: its form with constants lane by lane.
struct Joined {
    Form form;
    Op op;
};

class Vectorizer {
public:
    explicit Vectorizer(Function& f)
        : f_(f), used_(usedComponents(f)), gather_(gathers(f, used_)), movedTo_(f.insts.size()) {}

    bool run() {
        for (std::uint32_t i = 0; i < f_.insts.size(); ++i) {
            Inst& inst = f_.insts[i];
            for (int s = 0; s < inst.nsrc; ++s) {
                Src& src = inst.src[s];
                if (src.def != kNone && movedTo_[src.def].def != kNone) src = composeRead(src, movedTo_[src.def]);
            }
            if (inst.op == Op::Vec) {
                joinCopies(i);
                continue;
            }
            if (!joinable(inst.op, inst.sat) || !used_[i] || used_[i] == 0xf) continue;
            Form form;
            if (!formOf(f_, inst, &form)) continue;
            const Key key = keyOf(form, inst.sat, gather_[i]);
            auto open = open_.find(key);
            if (open == open_.end()) {
                open_.emplace(key, i);
                continue;
            }
            const std::uint32_t h = open->second;
            if (lanesIn(used_[h]) + lanesIn(used_[i]) > 4) {
                if (lanesIn(used_[i]) < lanesIn(used_[h])) open->second = i;  // the roomier one stays open
                continue;
            }
            join(h, i, form);
            if (used_[h] == 0xf) open_.erase(open);
        }
        if (joined_.empty()) return false;
        NewConstants constants(f_);
        for (auto& [h, j] : joined_) write(h, j, constants);
        constants.commit();
        return true;
    }

private:
    Joined& joinedAt(std::uint32_t h) {
        auto it = joined_.find(h);
        if (it != joined_.end()) return it->second;
        Joined j;
        formOf(f_, f_.insts[h], &j.form);
        j.op = f_.insts[h].op;
        return joined_.emplace(h, j).first->second;
    }

    // Moves i's used components into lanes h leaves free (their own where
    // possible) and takes them into h.
    void join(std::uint32_t h, std::uint32_t i, const Form& form) {
        Joined& j = joinedAt(h);
        if (j.op != f_.insts[i].op) j.op = Op::Mad;
        std::uint8_t taken = used_[h];
        Src moved;
        moved.def = h;
        for (int k = 0; k < 4; ++k) {
            if (!(used_[i] >> k & 1)) continue;
            int lane = k;
            if (taken >> lane & 1)
                for (lane = 0; taken >> lane & 1; ++lane) {
                }
            taken |= std::uint8_t(1u << lane);
            moved.swz[k] = std::uint8_t(lane);
            for (int p = 0; p < form.nsrc; ++p) {
                if (form.src[p].def == kConstant) j.form.value[p][lane] = form.value[p][k];
                else j.form.src[p].swz[lane] = form.src[p].swz[k];
            }
        }
        used_[h] = taken;
        used_[i] = 0;
        movedTo_[i] = moved;
    }

    // VEC lanes copying the first operand of a MAD-like value with constant
    // factor and addend, which only this VEC reads, become lanes of that
    // value: x*1 + -0 is x, and (-x)*-1 + -0 is x too.
    void joinCopies(std::uint32_t v) {
        Inst& vec = f_.insts[v];
        for (int c = 0; c < 4; ++c) {
            const Src& lane = vec.src[c];
            if (!(used_[v] >> c & 1) || lane.def == kNone) continue;
            const Op op = f_.insts[lane.def].op;
            if (op == Op::Const || op == Op::Undef) continue;
            for (int d = 0; d < 4; ++d) {
                const std::uint32_t h = vec.src[d].def;
                if (d == c || h == kNone || h == lane.def || gather_[h] != v || used_[h] == 0xf) continue;
                const Inst& producer = f_.insts[h];
                if (producer.sat || (producer.op != Op::Add && producer.op != Op::Mul && producer.op != Op::Mad))
                    continue;
                Form form;
                auto known = joined_.find(h);
                if (known != joined_.end()) form = known->second.form;
                else if (!formOf(f_, producer, &form)) continue;
                if (form.src[0].def != lane.def || form.src[1].def != kConstant || form.src[2].def != kConstant)
                    continue;
                // The other sign takes a factor of -1, which an ADD has not.
                const bool flip = form.src[0].neg != lane.neg;
                Joined& into = joinedAt(h);
                if (flip && into.op == Op::Add) into.op = Op::Mad;
                int free = 0;
                while (used_[h] >> free & 1) ++free;
                into.form.src[0].swz[free] = lane.swz[c];
                into.form.value[1][free] = flip ? -1.0f : 1.0f;
                into.form.value[2][free] = -0.0f;
                used_[h] |= std::uint8_t(1u << free);
                vec.src[c].def = h;
                vec.src[c].neg = false;
                vec.src[c].swz[c] = std::uint8_t(free);
                break;
            }
        }
    }

    // The joined value as an instruction of its op again.
    void write(std::uint32_t h, const Joined& j, NewConstants& constants) {
        Inst& inst = f_.insts[h];
        const Form& form = j.form;
        auto operand = [&](int p) {
            if (form.src[p].def != kConstant) return form.src[p];
            Vec4 v = form.value[p];
            for (int c = 0; c < 4; ++c)
                if (!(used_[h] >> c & 1)) v[c] = 0;
            return constants.add(v, inst.origin);
        };
        int positions[3] = {0, 1, 2};
        inst.op = j.op;
        switch (j.op) {
            case Op::Add: positions[1] = 2; inst.nsrc = 2; break;
            case Op::Mul: inst.nsrc = 2; break;
            default: inst.nsrc = std::uint8_t(form.nsrc); break;
        }
        for (int s = 0; s < 4; ++s) inst.src[s] = s < inst.nsrc ? operand(positions[s]) : Src{};
        for (int s = 0; s < inst.nsrc; ++s) canonicalSwizzle(inst.src[s], used_[h]);
    }

    Function& f_;
    std::vector<std::uint8_t> used_;
    std::vector<std::uint32_t> gather_;
    std::vector<Src> movedTo_;  // def kNone: in place; else where each component went
    std::unordered_map<Key, std::uint32_t, KeyHash> open_;  // the value still taking lanes, by key
    std::map<std::uint32_t, Joined> joined_;  // by index, so new constants come in program order
};

}  // namespace

bool vectorize(Function& f) { return Vectorizer(f).run(); }

}  // namespace cgc::opt
