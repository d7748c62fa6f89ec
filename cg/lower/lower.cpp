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
    out.warnings = std::move(warnings_);
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
    s.unset = v.widths;
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
    s.unset.assign(s.assigned.size(), 0);
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
    if (!f.stopped)
        for (int slot : scoped_) {
            const std::vector<std::uint8_t>& unset = states_[std::size_t(slot)].unset;
            if (std::all_of(unset.begin(), unset.end(), [](std::uint8_t m) { return m == 0; })) continue;
            std::vector<std::uint8_t>& into = f.carried[i][slot];
            into.resize(unset.size());
            for (std::size_t r = 0; r < unset.size(); ++r) into[r] |= unset[r];
        }
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
    f.stopped = frames_.back().stopped;
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
    for (int i = 0; i < 3; ++i) {
        result.exits[i] = f.exits[i];
        result.carried[i] = std::move(f.carried[i]);
    }
    result.ended = f.ended.kind == Pred::True;
    result.runs = !result.ended && !f.stopped;
    return result;
}

// Joins one or two arms into the current frame: each changed variable takes
// cond ? a's value : b's value (b absent: the value before the arms).
void Lowerer::merge(Pred cond, const ArmResult& a, const ArmResult* b, int exits, bool offEnded) {
    bool aRuns = a.runs && cond.kind != Pred::False;
    bool bRuns = (b ? b->runs : !offEnded) && cond.kind != Pred::True;
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
            m.unset[r] = std::uint8_t((aRuns ? x.unset[r] : 0) | (bRuns ? y.unset[r] : 0));
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
    // Paths that ended in an arm rejoin later even where none runs on here.
    for (int i = 0; i < 3; ++i) {
        if (!(exits & (1 << i))) continue;
        for (const ArmResult* arm : {&a, b}) {
            if (!arm) continue;
            for (const auto& [slot, lanes] : arm->carried[i]) {
                std::vector<std::uint8_t>& into = f.carried[i][slot];
                into.resize(lanes.size());
                for (std::size_t r = 0; r < lanes.size(); ++r) into[r] |= lanes[r];
            }
        }
    }
    if (!aRuns && !bRuns && !offEnded) f.stopped = true;
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
    // Arms that every path left end the frame, though their predicates may
    // not fold to that (`if (a) { if (b) return; break; } else break;`).
    const int all = Frame::Returned | Frame::Broke | Frame::Continued;
    bool gone = cond.kind == Pred::True    ? a.ended
                : cond.kind == Pred::False ? b && b->ended
                                           : a.ended && b && b->ended;
    if (exits == all && gone && f.ended.kind != Pred::True) {
        f.ended = Pred::always();
        f.killKnown.fill(false);
    }
}

// Ended paths come back (at a loop's or an iteration's end) with the lanes
// they left unassigned.
void Lowerer::rejoin(const Carried& carried) {
    for (const auto& [slot, lanes] : carried) {
        if (!vars_[std::size_t(slot)].live) continue;
        VarState next = states_[std::size_t(slot)];
        bool more = false;
        for (std::size_t r = 0; r < lanes.size(); ++r) {
            more = more || (lanes[r] & ~next.unset[r]);
            next.unset[r] |= lanes[r];
        }
        if (more) commit(slot, std::move(next));
    }
}

// At a function's end, the paths that returned come back: what outlives the
// function is unassigned where they or the paths falling off the end left it.
void Lowerer::joinReturns() {
    Frame& f = frames_.back();
    bool runs = f.ended.kind != Pred::True && !f.stopped;
    Carried returned = std::move(f.carried[0]);
    for (int slot : std::vector<int>(scoped_)) {
        if (vars_[std::size_t(slot)].fn >= fnDepth_) continue;
        VarState next = states_[std::size_t(slot)];
        auto r = returned.find(slot);
        for (std::size_t k = 0; k < next.unset.size(); ++k)
            next.unset[k] = std::uint8_t((runs ? next.unset[k] : 0) | (r != returned.end() ? r->second[k] : 0));
        if (next.unset != states_[std::size_t(slot)].unset) commit(slot, std::move(next));
    }
}

void Lowerer::warn(const Loc& loc, const std::string& what) {
    if (warned_.insert({loc.file, loc.line, loc.col, loc.expansion, what}).second) warnings_.push_back({loc, what});
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

}  // namespace lowering

Lowered lower(const ast::Tree& tree, const Analysis& analysis, TypeTable& types, const Options& options) {
    return lowering::Lowerer(tree, analysis, types, options).run();
}

}  // namespace cgc
