// Blends written out by hand, x*t + y*(1 - t), into one LRP: the IR's LRP is
// defined as exactly that expression. After multiply-add fusion the sum is a
// MAD of one product added to the other, or to t itself when x is 1
// (t + y*(1 - t), the alpha of "over").
#include "cg/opt/passes.h"
#include "cg/opt/support.h"

namespace cgc::opt {

using namespace ir;

namespace {

// The t of a value 1 - t read through `s` in the lanes `lanes`: s reads an
// unsaturated ADD of a constant 1 and a negated value.
bool oneMinus(const Function& f, const Src& s, std::uint8_t lanes, Src* t) {
    if (s.neg || s.def == kNone) return false;
    const Inst& add = f.insts[s.def];
    if (add.op != Op::Add || add.sat) return false;
    for (int k = 0; k < 2; ++k) {
        Vec4 one;
        const Src constant = composeRead(s, add.src[k]);
        if (!constantRead(f, constant, &one) || !allLanesEqual(one, lanes, 1.0f)) continue;
        Src value = composeRead(s, add.src[1 - k]);
        if (!value.neg || value.def == kNone || f.insts[value.def].op == Op::Const) return false;
        value.neg = false;
        *t = value;
        return true;
    }
    return false;
}

// The factors of a product read through `s`: an unsaturated MUL.
bool product(const Function& f, const Src& s, Src* a, Src* b) {
    if (s.def == kNone) return false;
    const Inst& mul = f.insts[s.def];
    if (mul.op != Op::Mul || mul.sat) return false;
    *a = composeRead(s, mul.src[0]);
    Src plain = s;
    plain.neg = false;  // the sign stays on the first factor
    *b = composeRead(plain, mul.src[1]);
    return true;
}

}  // namespace

bool formLerp(Function& f) {
    const std::vector<std::uint8_t> used = usedComponents(f);
    NewConstants added(f);
    bool changed = false;
    for (std::size_t i = 0; i < f.insts.size(); ++i) {
        Inst& inst = f.insts[i];
        if (inst.op != Op::Mad || !used[i]) continue;
        const std::uint8_t lanes = used[i];
        // MAD(y, 1 - t, z) with the factors either way round, z being x*t or t.
        bool formed = false;
        for (int u = 0; u < 2 && !formed; ++u) {
            Src t;
            if (!oneMinus(f, inst.src[u], lanes, &t)) continue;
            const Src y = inst.src[1 - u], z = inst.src[2];
            Src x, tz;
            if (sameRead(z, t, lanes)) {
                x = added.add(Vec4{1, 1, 1, 1}, inst.origin);
                tz = z;
            } else {
                Src a, b;
                if (!product(f, z, &a, &b)) continue;
                if (sameRead(b, t, lanes)) x = a, tz = b;
                else if (sameRead(a, t, lanes)) x = b, tz = a;
                else continue;
            }
            inst.op = Op::Lrp;
            inst.src[0] = tz;
            inst.src[1] = x;
            inst.src[2] = y;
            formed = true;
        }
        // MAD(x, t, y*(1 - t)) with the factors of either product either way round.
        for (int k = 0; k < 2 && !formed; ++k) {
            Src a, b;
            if (!product(f, inst.src[2], &a, &b)) break;
            const Src* sides[2] = {&a, &b};
            for (int side = 0; side < 2 && !formed; ++side) {
                Src t;
                if (!oneMinus(f, *sides[side], lanes, &t) || !sameRead(inst.src[k], t, lanes)) continue;
                const Src x = inst.src[1 - k], y = *sides[1 - side];
                inst.op = Op::Lrp;
                inst.src[0] = t;
                inst.src[1] = x;
                inst.src[2] = y;
                formed = true;
            }
        }
        changed = changed || formed;
    }
    changed = changed || !added.empty();
    added.commit();
    return changed;
}

}  // namespace cgc::opt
