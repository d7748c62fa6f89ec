// Dot products written out: a sum of three or four products of one value's
// components with another's (or with constants), such as
// 0.299*c.r + 0.587*c.g + 0.114*c.b, or c.r + c.g + c.b, becomes one DP3
// or DP4. After multiply-add fusion such a sum is a chain of MADs and ADDs
// ending in a MUL or a plain component.
#include "cg/opt/passes.h"
#include "cg/opt/support.h"

namespace cgc::opt {

using namespace ir;

namespace {

// One side of a product: a component of a value, or a constant.
struct Side {
    std::uint32_t def = kNone;  // kNone: the constant `value`
    int component = 0;
    bool neg = false;
    float value = 0;
};

struct Term {
    Side a, b;
};

class Chain {
public:
    Chain(const Function& f, const std::vector<std::uint32_t>& uses) : f_(f), uses_(uses) {}

    // The terms of the sum at instruction i, read at lane `lane`; false when
    // it is not a sum of three or four products.
    // The terms come innermost first, the order in which the chain adds them.
    bool collect(std::uint32_t i, int lane, std::vector<Term>* terms) {
        terms_.clear();
        if (!node(f_.insts[i], lane, false, true)) return false;
        terms->assign(terms_.rbegin(), terms_.rend());
        return terms_.size() == 3 || terms_.size() == 4;
    }

private:
    Side side(const Src& s, int lane, bool neg) const {
        Side x;
        Vec4 v;
        const bool negated = s.neg != neg;
        if (constantRead(f_, s, &v)) {
            x.value = neg ? -v[lane] : v[lane];
            return x;
        }
        x.def = s.def;
        x.component = s.swz[lane];
        x.neg = negated;
        return x;
    }

    Side one() const {
        Side x;
        x.value = 1;
        return x;
    }

    // Whether the value read by s can be taken apart: a sum or product read
    // only here, not saturated.
    bool opens(const Src& s) const {
        if (s.def == kNone) return false;
        const Inst& inst = f_.insts[s.def];
        return (inst.op == Op::Mad || inst.op == Op::Add || inst.op == Op::Mul) && !inst.sat && uses_[s.def] == 1;
    }

    bool node(const Inst& inst, int lane, bool neg, bool top) {
        if (terms_.size() > 4) return false;
        switch (inst.op) {
            case Op::Mul:
                terms_.push_back({side(inst.src[0], lane, neg), side(inst.src[1], lane, false)});
                return !top;
            case Op::Mad:
                terms_.push_back({side(inst.src[0], lane, neg), side(inst.src[1], lane, false)});
                return next(inst.src[2], lane, neg);
            case Op::Add: {
                const int deeper = opens(inst.src[0]) ? 0 : 1;
                terms_.push_back({side(inst.src[1 - deeper], lane, neg), one()});
                return next(inst.src[deeper], lane, neg);
            }
            default: return false;
        }
    }

    bool next(const Src& s, int lane, bool neg) {
        if (!opens(s)) {
            terms_.push_back({side(s, lane, neg), one()});
            return true;
        }
        return node(f_.insts[s.def], s.swz[lane], neg != s.neg, false);
    }

    const Function& f_;
    const std::vector<std::uint32_t>& uses_;
    std::vector<Term> terms_;
};

bool sameValue(const Side& a, const Side& b) { return a.def == b.def && a.neg == b.neg; }

}  // namespace

bool formDots(Function& f) {
    const std::vector<std::uint8_t> used = usedComponents(f);
    const std::vector<std::uint32_t> uses = liveUseCounts(f, used);
    NewConstants added(f);
    Chain chain(f, uses);
    bool changed = false;
    std::vector<Term> terms;
    // Outermost sums first, so that a sum of four is not taken as three.
    for (std::uint32_t i = std::uint32_t(f.insts.size()); i-- > 0;) {
        Inst& inst = f.insts[i];
        if ((inst.op != Op::Mad && inst.op != Op::Add) || !used[i]) continue;
        // Every used lane must read the same components, so that the sum is
        // one scalar.
        int lane = 0;
        while (!(used[i] >> lane & 1)) ++lane;
        bool scalar = true;
        for (int s = 0; s < inst.nsrc; ++s)
            for (int c = 0; c < 4; ++c)
                scalar = scalar && (!(used[i] >> c & 1) || inst.src[s].swz[c] == inst.src[s].swz[lane]);
        if (!scalar || !chain.collect(i, lane, &terms)) continue;

        // Each term as (value side, other side): a constant goes second and
        // takes the value side's sign; two values go as the first term put them.
        Side x, y;
        bool constants = terms[0].a.def == kNone || terms[0].b.def == kNone, fits = true;
        Vec4 weights = {0, 0, 0, 0};
        std::uint8_t swzX[4] = {0, 1, 2, 3}, swzY[4] = {0, 1, 2, 3};
        for (std::size_t t = 0; t < terms.size() && fits; ++t) {
            Side a = terms[t].a, b = terms[t].b;
            if (a.def == kNone) std::swap(a, b);
            if (a.def == kNone || (b.def == kNone) != constants) {
                fits = false;
                break;
            }
            if (constants) {
                weights[t] = a.neg ? -b.value : b.value;
                a.neg = false;
            } else if (t > 0 && !(sameValue(a, x) && sameValue(b, y))) {
                std::swap(a, b);
            }
            if (t == 0) x = a, y = b;
            fits = sameValue(a, x) && (constants || sameValue(b, y));
            swzX[t] = std::uint8_t(a.component);
            swzY[t] = std::uint8_t(b.component);
        }
        if (!fits) continue;
        Src sx;
        sx.def = x.def;
        sx.neg = x.neg;
        Src sy = constants ? added.add(weights, inst.origin) : Src{};
        if (!constants) {
            sy.def = y.def;
            sy.neg = y.neg;
        }
        for (int c = 0; c < 4; ++c) {
            sx.swz[c] = swzX[c < int(terms.size()) ? c : 0];
            if (!constants) sy.swz[c] = swzY[c < int(terms.size()) ? c : 0];
        }
        inst.op = terms.size() == 3 ? Op::Dp3 : Op::Dp4;
        inst.nsrc = 2;
        inst.src[0] = sx;
        inst.src[1] = sy;
        inst.src[2] = Src{};
        changed = true;
    }
    changed = changed || !added.empty();
    added.commit();
    return changed;
}

}  // namespace cgc::opt
