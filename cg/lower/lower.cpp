// The lowerer's variables, frames and predicates, and the entry point.
#include "cg/lower/lowerer.h"

#include "cg/ir/eval.h"

#include <algorithm>
#include <cmath>

namespace cgc {

namespace lowering {

namespace {

bool same(const Src& a, const Src& b) {
    return a.def == b.def && a.neg == b.neg && std::equal(a.swz, a.swz + 4, b.swz);
}

bool samePred(const Pred& a, const Pred& b) {
    if (a.kind != b.kind) return false;
    return a.kind != Pred::Dyn || (a.inverted == b.inverted && same(a.s, b.s));
}

}  // namespace

Lowerer::Lowerer(const ast::Tree& tree, const Analysis& analysis, TypeTable& types, const Options& options)
    : tree_(tree), analysis_(analysis), types_(types), options_(options), b_(function_, types) {
    maxInstructions_ = std::size_t(std::max(options.limits.instructions, 64)) * 8;
    vars_.resize(analysis.symbols.size());
    states_.resize(analysis.symbols.size());
    for (std::size_t i = 0; i < analysis.symbols.size(); ++i) {
        vars_[i].type = analysis.symbols[i].type;
        vars_[i].name = analysis.symbols[i].name;
    }
}

Lowered Lowerer::run() {
    frames_.push_back(Frame{});
    frames_.back().serial = serials_++;
    openScope();
    globals();
    entry();
    Lowered out;
    out.function = std::move(function_);
    out.parameters = analysis_.parameters;
    return out;
}

// ---- variables ----

int Lowerer::newVar(TypeId type, const std::string& name, int fn) {
    Var v;
    v.type = type;
    v.name = name;
    vars_.push_back(v);
    states_.emplace_back();
    int slot = int(vars_.size() - 1);
    declare(slot, fn);
    return slot;
}

void Lowerer::declare(int slot, int fn) {
    Var& v = vars_[std::size_t(slot)];
    v.fn = fn;
    v.loop = loopLevel_;
    v.frame = frames_.back().serial;
    v.live = true;
    if (v.widths.empty()) {
        // The lanes each register of the flattened type holds.
        types_.eachRegister(v.type, [&](TypeId part) {
            const TypeInfo& i = types_.info(part);
            if (i.kind == TypeKind::Scalar) v.widths.push_back(1);
            else if (i.kind == TypeKind::Vector) v.widths.push_back(std::uint8_t((1u << i.cols) - 1));
        });
    }
    states_[std::size_t(slot)] = unassigned(slot);
    scoped_.push_back(slot);
}

void Lowerer::closeScope() {
    std::size_t mark = scopeMarks_.back();
    scopeMarks_.pop_back();
    while (scoped_.size() > mark) {
        vars_[std::size_t(scoped_.back())].live = false;
        scoped_.pop_back();
    }
}

VarState Lowerer::unassigned(int slot) const {
    const Var& v = vars_[std::size_t(slot)];
    VarState s;
    s.regs.assign(v.widths.size(), Src{});
    s.assigned.assign(v.widths.size(), 0);
    int units = types_.samplers(v.type);
    s.units.assign(std::size_t(units), Value::Unit{});
    s.unitsAssigned.assign(std::size_t(units), false);
    return s;
}

// Every change of a variable comes through here: the frame saves the old
// state once, and a path that has ended keeps the old value.
void Lowerer::commit(int slot, VarState next) {
    Frame& f = frames_.back();
    Var& v = vars_[std::size_t(slot)];
    VarState& old = states_[std::size_t(slot)];
    Pred kill = killFor(slot);
    if (kill.kind != Pred::False) {
        for (std::size_t r = 0; r < next.regs.size(); ++r)
            if (old.assigned[r]) next.regs[r] = select(kill, old.regs[r], next.regs[r]);
        for (std::size_t u = 0; u < next.units.size(); ++u)
            if (old.unitsAssigned[u] && old.units[u].unit != next.units[u].unit)
                fail(b_.place(), "sampler " + quoted(v.name) + " is chosen at run time, which this target cannot do");
    }
    // A variable declared in this frame goes out of scope before it ends.
    if (v.logged != f.serial && v.frame != f.serial) {
        f.saved.push_back({slot, old, v.logged});
        v.logged = f.serial;
    }
    for (std::size_t r = 0; r < next.assigned.size(); ++r) next.assigned[r] |= old.assigned[r];
    for (std::size_t u = 0; u < next.unitsAssigned.size(); ++u)
        next.unitsAssigned[u] = next.unitsAssigned[u] || old.unitsAssigned[u];
    old = std::move(next);
}

void Lowerer::assignWhole(int slot, const Value& v) {
    VarState s;
    s.regs = v.regs;
    s.assigned = vars_[std::size_t(slot)].widths;
    s.units = v.units;
    s.unitsAssigned.assign(v.units.size(), true);
    commit(slot, std::move(s));
}

// Which ended paths a write to this variable must leave alone: a return
// ends everything outside the function, a break everything outside the
// loop, a continue everything outside the loop's body. The loop is the
// frame's: a write in an inner loop's head can follow an outer continue.
Pred Lowerer::killFor(int slot) {
    const Var& v = vars_[std::size_t(slot)];
    Frame& f = frames_.back();
    int mask = 0;
    if (v.fn < f.fn) {
        mask = Frame::Returned | Frame::Broke | Frame::Continued;
    } else if (v.fn == f.fn) {
        if (v.loop < 2 * f.loops - 1) mask |= Frame::Broke;
        if (v.loop < 2 * f.loops) mask |= Frame::Continued;
    }
    if (!f.killKnown[std::size_t(mask)]) {
        Pred k = Pred::never();
        for (int i = 0; i < 3; ++i)
            if (mask & (1 << i)) k = pOr(k, f.exits[i]);
        f.kill[std::size_t(mask)] = k;
        f.killKnown[std::size_t(mask)] = true;
    }
    return f.kill[std::size_t(mask)];
}

bool Lowerer::dead() const { return frames_.back().ended.kind == Pred::True; }

// Only the paths still running take this exit: one that continued earlier in
// the iteration has not broken out as well.
void Lowerer::exit(int which) {
    Frame& f = frames_.back();
    int i = which == Frame::Returned ? 0 : which == Frame::Broke ? 1 : 2;
    f.exits[i] = pOr(f.exits[i], pNot(f.ended));
    f.ended = Pred::always();
    f.killKnown.fill(false);
}

void Lowerer::beginArm(Pred cond) {
    Frame f;
    f.serial = serials_++;
    f.fn = fnDepth_;
    f.loops = loops_;
    f.cond = cond;
    frames_.push_back(std::move(f));
}

// Ends the innermost frame: what it changed is undone and handed back.
ArmResult Lowerer::endArm() {
    Frame f = std::move(frames_.back());
    frames_.pop_back();
    ArmResult result;
    for (std::size_t i = f.saved.size(); i-- > 0;) {
        Frame::Saved& s = f.saved[i];
        if (vars_[std::size_t(s.slot)].live) result.changed.push_back({s.slot, states_[std::size_t(s.slot)]});
        states_[std::size_t(s.slot)] = std::move(s.before);
        vars_[std::size_t(s.slot)].logged = s.logged;
    }
    for (int i = 0; i < 3; ++i) result.exits[i] = f.exits[i];
    return result;
}

// Joins one or two arms into the current frame: each changed variable takes
// cond ? a's value : b's value (b absent: the value before the arms).
void Lowerer::merge(Pred cond, const ArmResult& a, const ArmResult* b, int exits) {
    std::unordered_map<int, std::pair<const VarState*, const VarState*>> changed;
    std::vector<int> order;
    for (const auto& [slot, state] : a.changed) {
        if (!changed.count(slot)) order.push_back(slot);
        changed[slot].first = &state;
    }
    if (b)
        for (const auto& [slot, state] : b->changed) {
            if (!changed.count(slot)) order.push_back(slot);
            changed[slot].second = &state;
        }
    for (int slot : order) {
        const VarState& now = states_[std::size_t(slot)];
        const VarState& x = changed[slot].first ? *changed[slot].first : now;
        const VarState& y = changed[slot].second ? *changed[slot].second : now;
        VarState m = x;
        for (std::size_t r = 0; r < m.regs.size(); ++r) {
            m.regs[r] = select(cond, x.regs[r], y.regs[r]);
            m.assigned[r] = x.assigned[r] | y.assigned[r];
        }
        for (std::size_t u = 0; u < m.units.size(); ++u) {
            if (!y.unitsAssigned[u]) continue;
            if (x.unitsAssigned[u] && x.units[u].unit != y.units[u].unit && cond.kind == Pred::Dyn)
                fail(b_.place(), "sampler " + quoted(vars_[std::size_t(slot)].name) +
                                     " is chosen at run time, which this target cannot do");
            if (!x.unitsAssigned[u] || cond.kind == Pred::False) m.units[u] = y.units[u];
            m.unitsAssigned[u] = true;
        }
        commit(slot, std::move(m));
    }
    Frame& f = frames_.back();
    // The arms ran on paths this frame had already ended too; those stay as they ended.
    Pred running = pNot(f.ended);
    for (int i = 0; i < 3; ++i) {
        if (!(exits & (1 << i))) continue;
        Pred arm = pAnd(pSelect(cond, a.exits[i], b ? b->exits[i] : Pred::never()), running);
        if (arm.kind == Pred::False) continue;
        f.exits[i] = pOr(f.exits[i], arm);
        f.ended = pOr(f.ended, arm);
        f.killKnown.fill(false);
    }
}

// Where the code being lowered runs: every enclosing arm's condition, and
// no path ended before it.
Pred Lowerer::absolutePath() { return frameAbsolute(frames_.size() - 1); }

Pred Lowerer::frameAbsolute(std::size_t i) {
    Frame& f = frames_[i];
    if (!f.pathKnown) {
        f.path = i == 0 ? f.cond : pAnd(frameAbsolute(i - 1), f.cond);
        f.pathKnown = true;
    }
    return pAnd(f.path, pNot(f.ended));
}

// ---- predicates ----

Pred Lowerer::predicate(const Src& boolean) const {
    float k[4];
    if (b_.constantOf(boolean, k)) return k[0] != 0 ? Pred::always() : Pred::never();
    Pred p;
    p.kind = Pred::Dyn;
    p.s = Builder::lane(boolean, 0);
    return p;
}

Pred Lowerer::pNot(Pred a) {
    if (a.kind == Pred::True) return Pred::never();
    if (a.kind == Pred::False) return Pred::always();
    a.inverted = !a.inverted;
    return a;
}

Pred Lowerer::pAnd(Pred a, Pred b) {
    if (a.kind == Pred::False || b.kind == Pred::False) return Pred::never();
    if (a.kind == Pred::True) return b;
    if (b.kind == Pred::True || samePred(a, b)) return a;
    if (a.inverted != b.inverted && same(a.s, b.s)) return Pred::never();
    Pred r;
    r.kind = Pred::Dyn;
    if (!a.inverted && !b.inverted) {
        r.s = Builder::lane(b_.emit(ir::Op::Mul, a.s, b.s), 0);
    } else if (a.inverted && b.inverted) {
        // Active where both are 0: inactive where their maximum is 1.
        r.s = Builder::lane(b_.emit(ir::Op::Max, a.s, b.s), 0);
        r.inverted = true;
    } else {
        const Pred& on = a.inverted ? b : a;
        const Pred& off = a.inverted ? a : b;
        r.s = Builder::lane(b_.emit(ir::Op::Cmp, Builder::negate(off.s), b_.constant(0), on.s), 0);
    }
    return r;
}

Pred Lowerer::pSelect(Pred c, Pred a, Pred b) {
    if (samePred(a, b)) return a;
    if (c.kind == Pred::True) return a;
    if (c.kind == Pred::False) return b;
    if (a.kind == Pred::True) return pOr(c, b);
    if (a.kind == Pred::False) return pAnd(pNot(c), b);
    if (b.kind == Pred::True) return pOr(pNot(c), a);
    if (b.kind == Pred::False) return pAnd(c, a);
    Pred r;
    r.kind = Pred::Dyn;
    r.s = Builder::lane(select(c, materialize(a), materialize(b)), 0);
    return r;
}

Src Lowerer::materialize(Pred p) {
    if (p.kind != Pred::Dyn) return b_.constant(p.kind == Pred::True ? 1.0f : 0.0f);
    if (!p.inverted) return p.s;
    return Builder::lane(b_.emit(ir::Op::Add, Builder::negate(p.s), b_.constant(1)), 0);
}

// c ? a : b, lane by lane; an unwritten side takes the other.
Src Lowerer::select(Pred c, const Src& a, const Src& b) {
    if (same(a, b) || b.def == ir::kNone || c.kind == Pred::True) return a;
    if (a.def == ir::kNone || c.kind == Pred::False) return b;
    float ka[4], kb[4];
    if (b_.constantOf(a, ka) && b_.constantOf(b, kb) && std::equal(ka, ka + 4, kb)) return a;
    const Src& on = c.inverted ? b : a;
    const Src& off = c.inverted ? a : b;
    return b_.emit(ir::Op::Cmp, Builder::negate(c.s), on, off);
}

// The value of s on the path where the loops being unrolled are still
// running: their predicates read as active.
bool Lowerer::knownUnderAssumptions(const Src& s, float out[4]) {
    if (s.def == ir::kNone) return false;
    ir::Vec4 v;
    if (!evaluateAssuming(s.def, &v, 0)) {
        auto a = assumed_.find(s.def);
        if (a == assumed_.end()) return false;
        for (int c = 0; c < 4; ++c)
            if (s.swz[c] != a->second.first) return false;
        for (int c = 0; c < 4; ++c) out[c] = s.neg ? -a->second.second : a->second.second;
        return true;
    }
    ir::Vec4 r = ir::read(s, v);
    for (int c = 0; c < 4; ++c) out[c] = r[c];
    return true;
}

bool Lowerer::evaluateAssuming(std::uint32_t def, ir::Vec4* out, int depth) {
    auto hit = known_.find(def);
    if (hit != known_.end()) {
        *out = hit->second;
        return true;
    }
    auto miss = unknown_.find(def);
    if (miss != unknown_.end() && miss->second == assumptions_) return false;
    auto unknown = [&] {
        unknown_[def] = assumptions_;
        return false;
    };
    if (depth > 4096) return unknown();
    const ir::Inst& inst = function_.insts[def];
    if (inst.op == ir::Op::Const) {
        *out = ir::Vec4{inst.imm[0], inst.imm[1], inst.imm[2], inst.imm[3]};
        return true;
    }
    if (ir::isLeaf(inst.op) || ir::isTexture(inst.op) || ir::isSink(inst.op)) return unknown();
    ir::Vec4 sources[4];
    // A select whose sides agree needs no condition.
    if (inst.op == ir::Op::Cmp && inst.src[1].def != ir::kNone && inst.src[2].def != ir::kNone) {
        ir::Vec4 x, y;
        if (evaluateAssuming(inst.src[1].def, &x, depth + 1) && evaluateAssuming(inst.src[2].def, &y, depth + 1)) {
            ir::Vec4 a = ir::read(inst.src[1], x), b = ir::read(inst.src[2], y);
            if (a == b) {
                if (inst.sat)
                    for (float& v : a) v = std::fmin(std::fmax(v, 0.0f), 1.0f);
                known_[def] = *out = a;
                return true;
            }
        }
    }
    for (int i = 0; i < inst.nsrc; ++i) {
        const Src& s = inst.src[i];
        if (s.def == ir::kNone) {
            sources[i] = ir::Vec4{0, 0, 0, 0};
            continue;
        }
        auto a = assumed_.find(s.def);
        ir::Vec4 v;
        if (a != assumed_.end()) {
            // Only the predicate's own lane is known.
            bool lanesKnown = true;
            for (int c = 0; c < 4; ++c) lanesKnown = lanesKnown && s.swz[c] == a->second.first;
            if (!lanesKnown) return unknown();
            v.fill(0);
            v[std::size_t(a->second.first)] = a->second.second;
        } else if (!evaluateAssuming(s.def, &v, depth + 1)) {
            return unknown();
        }
        sources[i] = ir::read(s, v);
    }
    if (!ir::evaluate(inst, sources, out)) return unknown();
    known_[def] = *out;
    return true;
}

}  // namespace lowering

Lowered lower(const ast::Tree& tree, const Analysis& analysis, TypeTable& types, const Options& options) {
    return lowering::Lowerer(tree, analysis, types, options).run();
}

}  // namespace cgc
