// What the lowerer knows about values on the paths that the loops being
// unrolled still run: a loop's condition and the array indices in its body
// need only be constant there. The paths that have broken out are off, so
// every break condition reads as not taken; a value that still waits on a
// run-time comparison is tried with the comparison taken both ways.
#include "cg/lower/lowerer.h"

#include "cg/ir/eval.h"

#include <algorithm>
#include <cmath>

namespace cgc::lowering {

namespace {

// Case splits one question may make: 2^8 evaluations at most.
constexpr int kMaxSplits = 8;
// Chains longer than this are not followed (each unrolled iteration adds a link).
constexpr int kMaxDepth = 4096;

}  // namespace

// Records that `running` is active on the paths still in the loop, and what
// follows for the comparisons it is made of.
void Lowerer::assume(const Pred& running, Assumed* added) {
    if (running.kind != Pred::Dyn || running.s.neg) return;
    std::size_t before = added->size();
    float value = running.inverted ? 0.0f : 1.0f;
    assumeLane(running.s.def, running.s.swz[0], value, added, 0);
    if (added->size() != before) ++assumptions_;
}

// def's lane is `value` (0 or 1) there; what its sources must then be, for
// the shapes predicates are made of: max (or), product (and), select, 1 - p.
void Lowerer::assumeLane(std::uint32_t def, int lane, float value, Assumed* added, int depth) {
    Fact& fact = assumed_[def];
    if (fact.lanes >> lane & 1) return;
    fact.lanes |= std::uint8_t(1u << lane);
    fact.value[lane] = value;
    added->push_back({def, lane});
    if (depth > kMaxDepth) return;
    const ir::Inst inst = function_.insts[def];
    if (inst.sat) return;
    // The lane of source i's value read at `lane`, where that value is a
    // boolean read as it is (negated: read as -p); -1 otherwise.
    auto boolean = [&](int i, bool negated) {
        const Src& s = inst.src[i];
        return s.def != ir::kNone && s.neg == negated && isBoolean(s.def) ? int(s.swz[lane]) : -1;
    };
    auto set = [&](int i, bool negated, float v) {
        int l = boolean(i, negated);
        if (l >= 0) assumeLane(inst.src[i].def, l, v, added, depth + 1);
    };
    auto constant = [&](int i, float* k) {
        float c[4];
        if (inst.src[i].def == ir::kNone || !b_.constantOf(inst.src[i], c)) return false;
        *k = c[lane];
        return true;
    };
    float k;
    switch (inst.op) {
        case ir::Op::Mov: set(0, false, value); break;
        case ir::Op::Max:
            if (value == 0) set(0, false, 0), set(1, false, 0);
            break;
        case ir::Op::Min:
            if (value == 1) set(0, false, 1), set(1, false, 1);
            break;
        case ir::Op::Mul:
            if (value == 1 && boolean(0, false) >= 0 && boolean(1, false) >= 0) set(0, false, 1), set(1, false, 1);
            break;
        case ir::Op::Cmp:  // -p < 0 ? a : b, p a boolean
            if (constant(1, &k) && k != value) {
                set(0, true, 0);
                set(2, false, value);
            } else if (constant(2, &k) && k != value) {
                set(0, true, 1);
                set(1, false, value);
            }
            break;
        case ir::Op::Add:  // 1 - p
            for (int i = 0; i < 2; ++i)
                if (constant(1 - i, &k) && k == 1) set(i, true, 1 - value);
            break;
        default: break;
    }
}

void Lowerer::forget(const Assumed& added, bool learnt) {
    for (const auto& [def, lane] : added) {
        auto f = assumed_.find(def);
        f->second.lanes &= std::uint8_t(~(1u << lane));
        if (!f->second.lanes) assumed_.erase(f);
    }
    if (added.empty() || !learnt) return;
    memo_ = Memo{};
    ++assumptions_;
}

// The loop's control variables, where one value holds on every path still in
// the loop, are that value for the rest of it: the next iteration's question
// then starts from there rather than from the first iteration's comparisons.
void Lowerer::settle(const std::vector<int>& slots, Assumed* added) {
    std::size_t before = added->size();
    for (int slot : slots) {
        if (std::size_t(slot) >= vars_.size() || !vars_[std::size_t(slot)].live) continue;
        const VarState& st = states_[std::size_t(slot)];
        for (std::size_t r = 0; r < st.regs.size(); ++r) {
            const Src x = st.regs[r];
            float k[4];
            if (x.def == ir::kNone || b_.constantOf(x, k) || knownUnderAssumptions(x, k) || !knownOnEveryPath(x, k))
                continue;
            // Every lane the register reads was found, the unused ones too:
            // a scalar's readers take all four.
            Fact& f = assumed_[x.def];
            for (int c = 0; c < 4; ++c) {
                int lane = x.swz[c];
                if (f.lanes >> lane & 1) continue;
                f.lanes |= std::uint8_t(1u << lane);
                f.value[lane] = x.neg ? -k[c] : k[c];
                added->push_back({x.def, lane});
            }
            if (!f.lanes) assumed_.erase(x.def);
        }
    }
    if (added->size() != before) ++assumptions_;
}

// Whether every lane of def is 0 or 1 whatever the inputs: comparisons, and
// what predicates build from them.
bool Lowerer::isBoolean(std::uint32_t def, int depth) {
    auto hit = booleans_.find(def);
    if (hit != booleans_.end()) return hit->second;
    if (depth > kMaxDepth) return false;
    const ir::Inst& inst = function_.insts[def];
    auto source = [&](int i, bool negated) {
        const Src& s = inst.src[i];
        return s.def != ir::kNone && s.neg == negated && isBoolean(s.def, depth + 1);
    };
    auto ones = [&](int i) {
        float k[4];
        return inst.src[i].def != ir::kNone && b_.constantOf(inst.src[i], k) &&
               std::all_of(k, k + 4, [](float x) { return x == 1; });
    };
    bool r = false;
    switch (inst.op) {
        case ir::Op::Slt:
        case ir::Op::Sge: r = true; break;
        case ir::Op::Const:
            r = std::all_of(inst.imm, inst.imm + 4, [](float x) { return x == 0 || x == 1; });
            break;
        case ir::Op::Mov: r = source(0, false); break;
        case ir::Op::Max:
        case ir::Op::Min:
        case ir::Op::Mul: r = source(0, false) && source(1, false); break;
        case ir::Op::Cmp: r = source(1, false) && source(2, false); break;
        case ir::Op::Add: r = (source(0, true) && ones(1)) || (ones(0) && source(1, true)); break;
        case ir::Op::Vec: r = source(0, false) && source(1, false) && source(2, false) && source(3, false); break;
        default: break;
    }
    booleans_[def] = r;
    return r;
}

bool Lowerer::knownUnderAssumptions(const Src& s, float out[4]) {
    ir::Vec4 v;
    if (s.def == ir::kNone || !valueOf(s, &v, memo_, 0)) return false;
    std::copy(v.begin(), v.end(), out);
    return true;
}

// The value where the code being lowered runs, if the same on every path
// there. Beyond the loops' facts, every enclosing arm's condition holds and
// no exit of its frames was taken: a value computed here is kept nowhere
// else. Where the counter changes under a run-time condition whose arms
// agree (`if (c) { i++; continue; } i++;`), trying both arms shows it.
bool Lowerer::knownOnEveryPath(const Src& s, float out[4]) {
    if (b_.constantOf(s, out) || knownUnderAssumptions(s, out)) return true;
    if (s.def == ir::kNone) return false;
    Assumed here;
    for (const Frame& f : frames_)
        for (Pred p : {f.cond, pNot(f.ended)})
            if (p.kind == Pred::Dyn && !p.s.neg && isBoolean(p.s.def))
                assumeLane(p.s.def, p.s.swz[0], p.inverted ? 0.0f : 1.0f, &here, 0);
    Split known = split(s, out, 0);
    // Only this question saw these facts: memo_ learnt nothing from them.
    forget(here, false);
    // Every combination contradicts what holds here: no path gets here (an
    // arm whose condition folds to false only once its parts are known), and
    // any value will do.
    if (known == Split::Impossible) std::fill(out, out + 4, 0.0f);
    return known != Split::Unknown;
}

Lowerer::Split Lowerer::split(const Src& s, float out[4], int depth) {
    Memo memo;
    blocked_ = {ir::kNone, 0};
    ir::Vec4 v;
    if (valueOf(s, &v, memo, 0)) {
        // A combination under which a fact computes otherwise is no path's.
        if (depth > 0)
            for (const auto& [def, fact] : assumed_) {
                ir::Vec4 w;
                if (std::find(splitting_.begin(), splitting_.end(), def) != splitting_.end() ||
                    !evaluateAssuming(def, &w, memo, 0))
                    continue;
                for (int c = 0; c < 4; ++c)
                    if ((fact.lanes >> c & 1) && w[std::size_t(c)] != fact.value[c]) return Split::Impossible;
            }
        std::copy(v.begin(), v.end(), out);
        return Split::Known;
    }
    if (blocked_.first == ir::kNone || depth >= kMaxSplits) return Split::Unknown;
    const auto [def, lane] = blocked_;
    Split result = Split::Impossible;
    for (float taken : {0.0f, 1.0f}) {
        Fact& f = assumed_[def];
        f.lanes |= std::uint8_t(1u << lane);
        f.value[lane] = taken;
        float r[4];
        splitting_.push_back(def);
        Split one = split(s, r, depth + 1);
        splitting_.pop_back();
        Fact& g = assumed_[def];
        g.lanes &= std::uint8_t(~(1u << lane));
        if (!g.lanes) assumed_.erase(def);
        if (one == Split::Unknown) return one;
        if (one == Split::Impossible) continue;
        if (result == Split::Known && !std::equal(out, out + 4, r)) return Split::Unknown;
        std::copy(r, r + 4, out);
        result = Split::Known;
    }
    return result;
}

// A source's value: from the facts where they hold every lane it reads, else
// from its definition.
bool Lowerer::valueOf(const Src& s, ir::Vec4* out, Memo& memo, int depth) {
    auto a = assumed_.find(s.def);
    if (a != assumed_.end()) {
        bool known = true;
        ir::Vec4 v{};
        for (int c = 0; c < 4; ++c) {
            known = known && (a->second.lanes >> s.swz[c] & 1);
            v[std::size_t(s.swz[c])] = a->second.value[s.swz[c]];
        }
        if (known) {
            *out = ir::read(s, v);
            return true;
        }
    }
    ir::Vec4 v;
    if (!evaluateAssuming(s.def, &v, memo, depth)) {
        bool oneLane = std::all_of(s.swz, s.swz + 4, [&](std::uint8_t c) { return c == s.swz[0]; });
        if (blocked_.first == ir::kNone && oneLane && isBoolean(s.def)) blocked_ = {s.def, s.swz[0]};
        return false;
    }
    *out = ir::read(s, v);
    return true;
}

bool Lowerer::evaluateAssuming(std::uint32_t def, ir::Vec4* out, Memo& memo, int depth) {
    auto hit = memo.known.find(def);
    if (hit != memo.known.end()) {
        *out = hit->second;
        return true;
    }
    auto miss = memo.unknown.find(def);
    if (miss != memo.unknown.end() && miss->second == assumptions_) return false;
    auto unknown = [&] {
        memo.unknown[def] = assumptions_;
        return false;
    };
    if (depth > kMaxDepth) return unknown();
    const ir::Inst& inst = function_.insts[def];
    if (inst.op == ir::Op::Const) {
        *out = ir::Vec4{inst.imm[0], inst.imm[1], inst.imm[2], inst.imm[3]};
        return true;
    }
    if (ir::isLeaf(inst.op) || ir::isTexture(inst.op) || ir::isSink(inst.op)) return unknown();
    ir::Vec4 sources[4];
    // A select whose sides agree needs no condition.
    if (inst.op == ir::Op::Cmp && inst.src[1].def != ir::kNone && inst.src[2].def != ir::kNone) {
        ir::Vec4 a, b;
        if (valueOf(inst.src[1], &a, memo, depth + 1) && valueOf(inst.src[2], &b, memo, depth + 1) && a == b) {
            if (inst.sat)
                for (float& v : a) v = std::fmin(std::fmax(v, 0.0f), 1.0f);
            memo.known[def] = *out = a;
            return true;
        }
    }
    for (int i = 0; i < inst.nsrc; ++i) {
        const Src& s = inst.src[i];
        if (s.def == ir::kNone) {
            sources[i] = ir::Vec4{0, 0, 0, 0};
            continue;
        }
        if (!valueOf(s, &sources[i], memo, depth + 1)) return unknown();
    }
    if (!ir::evaluate(inst, sources, out)) return unknown();
    memo.known[def] = *out;
    return true;
}

}  // namespace cgc::lowering
