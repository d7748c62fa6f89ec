// Statements: declarations, predicated branches, unrolled loops, inlined
// calls, return, break, continue and discard.
#include "cg/lower/lowerer.h"

#include <algorithm>

namespace cgc::lowering {

namespace {

// The closing brace of a block, whose end lies just past it.
Loc closingBrace(const ast::Stmt* block) {
    Loc loc = block->end;
    if (loc.col > 1) --loc.col;
    return loc;
}

// Inlined calls nest no deeper than this: a longer chain is no fragment
// program a person writes, and lowering recurses once per level.
constexpr int kMaxCallDepth = 64;

}  // namespace

void Lowerer::checkSize() {
    if (function_.insts.size() > maxInstructions_)
        fail(statementLoc_, "the program is too large for this target (over " + std::to_string(maxInstructions_) +
                                " instructions before optimisation)");
}

void Lowerer::statement(const ast::Stmt* s) {
    if (dead()) return;
    statementLoc_ = s->loc;
    b_.at(s->loc);
    checkSize();
    switch (s->kind) {
        case ast::Stmt::ExprStmt: expr(s->expr); break;
        case ast::Stmt::Decl: declaration(s); break;
        case ast::Stmt::Typedef:
        case ast::Stmt::Empty: break;
        case ast::Stmt::Block:
            openScope();
            for (const ast::Stmt* inner : s->body) {
                if (dead()) break;
                statement(inner);
            }
            closeScope();
            break;
        case ast::Stmt::If: ifStatement(s); break;
        case ast::Stmt::For:
        case ast::Stmt::While:
        case ast::Stmt::DoWhile: loop(s); break;
        case ast::Stmt::Break: exit(Frame::Broke); break;
        case ast::Stmt::Continue: exit(Frame::Continued); break;
        case ast::Stmt::Return:
            if (s->expr) assignWhole(returnSlots_.back(), rvalue(s->expr));
            exit(Frame::Returned);
            break;
        case ast::Stmt::Discard: discard(); break;
    }
}

void Lowerer::declaration(const ast::Stmt* s) {
    for (const ast::Declarator& d : s->declarators) {
        int slot = analysis_.declared.at(&d);
        declare(slot, fnDepth_);
        if (!d.init) continue;
        b_.at(d.loc);
        assignWhole(slot, initValue(d.init, vars_[std::size_t(slot)].type));
    }
}

Pred Lowerer::condition(const ast::Expr* e) {
    if (e->kind == ast::Expr::Unary && e->op == ast::Operator::Not) return negated(condition(e->args[0]));
    return predicate(rvalue(e).regs[0]);
}

void Lowerer::ifStatement(const ast::Stmt* s) {
    Pred c = condition(s->expr);
    auto arm = [&](const ast::Stmt* body) {
        openScope();
        statement(body);
        closeScope();
    };
    if (c.kind != Pred::Dyn) {
        const ast::Stmt* taken = c.kind == Pred::True ? s->then : s->otherwise;
        if (taken) arm(taken);
        return;
    }
    beginArm(c);
    arm(s->then);
    ArmResult then = endArm();
    if (!s->otherwise) {
        merge(c, then, nullptr, Frame::Returned | Frame::Broke | Frame::Continued);
        return;
    }
    beginArm(negated(c));
    arm(s->otherwise);
    ArmResult otherwise = endArm();
    merge(c, then, &otherwise, Frame::Returned | Frame::Broke | Frame::Continued);
}

// Whether another iteration runs. The condition is evaluated where the
// loop's earlier iterations have not broken out; there it must be a constant.
bool Lowerer::loopGoesOn(const ast::Expr* cond, Pred alive) {
    beginArm(alive);
    Src c = rvalue(cond).regs[0];
    ArmResult sideEffects = endArm();
    merge(alive, sideEffects, nullptr, Frame::Returned, true);
    float k[4];
    bool nowhere = false;
    if (knownOnEveryPath(c, k, &nowhere)) return !nowhere && k[0] != 0;
    fail(cond->loc, "loop count is not known at compile time");
}

// Unrolled: each iteration (and each step) runs under `alive`, the paths that
// have not left the loop, so a dynamic break turns the rest off. The count is
// what the control gives on the paths that have not broken out: the most it
// can run.
void Lowerer::loop(const ast::Stmt* s) {
    int outerLevel = loopLevel_;
    ++loops_;
    loopLevel_ = 2 * loops_ - 1;
    openScope();
    if (s->kind == ast::Stmt::For && s->init) statement(s->init);
    Pred alive = Pred::always(), ended = Pred::never();
    Assumed assumedHere;
    std::vector<int> control;  // the variables the condition reads
    std::vector<const ast::Expr*> pending;
    if (s->expr) pending.push_back(s->expr);
    while (!pending.empty()) {
        const ast::Expr* e = pending.back();
        pending.pop_back();
        if (e->kind == ast::Expr::Name && analysis_.of(e).ref >= 0) control.push_back(analysis_.of(e).ref);
        for (const ast::Expr* a : e->args)
            if (a) pending.push_back(a);
    }
    Carried broke;
    for (int iteration = 0;; ++iteration) {
        if (s->expr && !(s->kind == ast::Stmt::DoWhile && iteration == 0)) {
            statementLoc_ = s->expr->loc;
            b_.at(s->expr->loc);
            if (iteration > 0) settle(control, &assumedHere);
            if (!loopGoesOn(s->expr, alive)) break;
        }
        if (++unrolled_ > kMaxUnrolledIterations) {
            const std::string most = std::to_string(kMaxUnrolledIterations);
            fail(s->loc, iteration >= kMaxUnrolledIterations ? "loop runs more than " + most + " iterations"
                                                              : "loops run more than " + most + " iterations in all");
        }
        beginArm(alive);
        loopLevel_ = 2 * loops_;
        openScope();
        statement(s->then);
        closeScope();
        loopLevel_ = 2 * loops_ - 1;
        ArmResult body = endArm();
        merge(alive, body, nullptr, Frame::Returned, true);
        rejoin(body.carried[2]);
        for (const auto& [slot, lanes] : body.carried[1]) {
            std::vector<std::uint8_t>& into = broke[slot];
            into.resize(lanes.size());
            for (std::size_t r = 0; r < lanes.size(); ++r) into[r] |= lanes[r];
        }
        if (body.ended) {
            // Only the paths that continued go on; said so, since the exits'
            // union need not fold to the whole iteration.
            alive = both(alive, body.exits[2]);
            ended = negated(alive);
        } else {
            ended = either(ended, either(body.exits[0], body.exits[1]));
            alive = negated(ended);
        }
        if (alive.kind == Pred::False || dead()) break;
        assume(alive, &assumedHere);
        if (s->kind == ast::Stmt::For && s->step) {
            statementLoc_ = s->step->loc;
            beginArm(alive);
            expr(s->step);
            ArmResult step = endArm();
            merge(alive, step, nullptr, 0, true);
        }
        checkSize();
    }
    rejoin(broke);
    forget(assumedHere);
    closeScope();
    --loops_;
    loopLevel_ = outerLevel;
}

void Lowerer::discard() {
    Pred p = absolutePath();
    frames_.back().stopped = true;
    if (p.kind == Pred::False) return;
    if (p.kind == Pred::True) {
        b_.kill(b_.constant(-1));
        return;
    }
    b_.kill(Builder::negate(materialize(p)));
}

Value Lowerer::callFunction(const ast::Expr* e, const CallInfo& call) {
    const FunctionInfo& fi = analysis_.functions[std::size_t(call.function)];
    if (fnDepth_ > kMaxCallDepth)
        fail(e->loc, "calls nest too deeply (more than " + std::to_string(kMaxCallDepth) + " functions)");
    std::size_t n = fi.params.size();
    std::vector<Value> in(n);
    std::vector<Place> places(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (fi.out[i]) {
            places[i] = place(e->args[i]);
            if (fi.in[i]) in[i] = convert(read(places[i], e->args[i]->loc), fi.params[i]);
        } else {
            in[i] = rvalue(e->args[i]);
        }
    }
    b_.at(e->loc);
    // The result and out parameters belong to the caller's depth, so the
    // callee's returns leave them as they were on the paths that returned.
    int result = fi.result != types_.voidType() ? newVar(fi.result, fi.name, fnDepth_) : -1;
    int savedLoops = loops_, savedLevel = loopLevel_;
    beginArm(Pred::always());
    ++fnDepth_;
    loops_ = loopLevel_ = 0;
    frames_.back().fn = fnDepth_;
    frames_.back().loops = 0;
    openScope();
    for (std::size_t i = 0; i < n; ++i) {
        int slot = fi.paramSymbols[i];
        declare(slot, fi.out[i] ? fnDepth_ - 1 : fnDepth_);
        if (fi.in[i]) assignWhole(slot, in[i]);
    }
    returnSlots_.push_back(result);
    statement(fi.definition->body);
    returnSlots_.pop_back();
    joinReturns();
    // Its returns end the function only; a discard ends the caller's paths too.
    bool discarded = frames_.back().stopped;
    std::vector<VarState> outs;
    for (std::size_t i = 0; i < n; ++i)
        if (fi.out[i]) outs.push_back(states_[std::size_t(fi.paramSymbols[i])]);
    Value r;
    r.type = fi.result;
    if (result >= 0) {
        const VarState& st = states_[std::size_t(result)];
        if (std::all_of(st.assigned.begin(), st.assigned.end(), [](std::uint8_t a) { return a == 0; }) &&
            st.units.empty())
            fail(closingBrace(fi.definition->body), quoted(fi.name) + " ends without returning a value");
        if (!discarded && std::any_of(st.unset.begin(), st.unset.end(), [](std::uint8_t m) { return m != 0; }))
            warn(closingBrace(fi.definition->body), quoted(fi.name) + " may end without returning a value");
        r.regs = st.regs;
        r.units = st.units;
        vars_[std::size_t(result)].live = false;
    }
    closeScope();
    --fnDepth_;
    loops_ = savedLoops;
    loopLevel_ = savedLevel;
    ArmResult body = endArm();
    body.runs = !discarded;
    merge(Pred::always(), body, nullptr, 0);
    b_.at(e->loc);
    for (std::size_t i = 0, k = 0; i < n; ++i) {
        if (!fi.out[i]) continue;
        const VarState& st = outs[k++];
        Value v;
        v.type = fi.params[i];
        v.regs = st.regs;
        v.units = st.units;
        write(places[i], convert(v, analysis_.of(e->args[i]).type));
    }
    return r;
}

// ---- the entry ----

void Lowerer::globals() {
    for (int symbol : analysis_.globals) {
        const Symbol& s = analysis_.symbols[std::size_t(symbol)];
        declare(symbol, 0);
        b_.at(s.loc);
        statementLoc_ = s.loc;
        if (s.kind == Symbol::Uniform)
            assignWhole(symbol, uniformValue(s.type, s.slot, s.unit));
        else if (s.declarator && s.declarator->init)
            assignWhole(symbol, initValue(s.declarator->init, s.type));
    }
}

Value Lowerer::uniformValue(TypeId type, int slot, int unit) {
    Value v;
    v.type = type;
    types_.eachRegister(type, [&](TypeId part) {
        const TypeInfo& i = types_.info(part);
        if (i.kind == TypeKind::Sampler) v.units.push_back({unit++, ir::TexTarget(int(i.sampler))});
        else {
            const Src u = b_.uniform(slot++);
            // The runtime hands a bool over as 0 or 1: loop questions may
            // split on it as on a comparison.
            if (i.scalar == ScalarKind::Bool) booleans_[u.def] = true;
            v.regs.push_back(shaped(u, part));
        }
    });
    return v;
}

Value Lowerer::inputValue(TypeId type, const std::string& semantic) {
    return scalarValue(type, b_.input(ir::Attr(inputAttribute(semantic))));
}

Value Lowerer::entryValue(int symbol) {
    const Symbol& s = analysis_.symbols[std::size_t(symbol)];
    if (s.kind == Symbol::Uniform) return uniformValue(s.type, s.slot, s.unit);
    if (!s.semantic.empty()) return inputValue(s.type, s.semantic);
    Value v;
    v.type = s.type;
    for (const StructMember& m : types_.info(s.type).members) v.regs.push_back(inputValue(m.type, m.semantic).regs[0]);
    return v;
}

void Lowerer::entry() {
    const FunctionInfo& fi = analysis_.functions[std::size_t(analysis_.entry)];
    const ast::Function& f = *fi.definition;
    b_.at(f.loc);
    // The entry runs as a call at depth 1; its result and out parameters
    // belong to depth 0 and so survive its returns.
    int result = fi.result != types_.voidType() ? newVar(fi.result, fi.name, 0) : -1;
    beginArm(Pred::always());
    fnDepth_ = 1;
    frames_.back().fn = 1;
    openScope();
    for (int symbol : fi.paramSymbols) {
        const Symbol& s = analysis_.symbols[std::size_t(symbol)];
        b_.at(s.loc);
        bool output = s.kind == Symbol::Output;
        declare(symbol, output ? 0 : 1);
        if (!output) assignWhole(symbol, entryValue(symbol));
    }
    returnSlots_.push_back(result);
    statement(f.body);
    returnSlots_.pop_back();
    joinReturns();
    Value resultValue;
    if (result >= 0) {
        const VarState& st = states_[std::size_t(result)];
        if (std::all_of(st.assigned.begin(), st.assigned.end(), [](std::uint8_t a) { return a == 0; }))
            fail(closingBrace(f.body), quoted(fi.name) + " ends without returning a value");
        if (!frames_.back().stopped && std::any_of(st.unset.begin(), st.unset.end(), [](std::uint8_t m) { return m != 0; }))
            warn(closingBrace(f.body), quoted(fi.name) + " may end without returning a value");
        resultValue.type = fi.result;
        resultValue.regs = st.regs;
    }
    b_.at(f.body->end);
    outputs(result >= 0 ? &resultValue : nullptr);
    closeScope();
    endArm();
    fnDepth_ = 0;
}

void Lowerer::outputs(const Value* result) {
    for (const EntryOutput& o : analysis_.outputs) {
        Value v;
        if (o.where == EntryOutput::Result || o.where == EntryOutput::ResultMember) {
            v = *result;
        } else {
            const VarState& st = states_[std::size_t(o.symbol)];
            v.type = vars_[std::size_t(o.symbol)].type;
            v.regs = st.regs;
        }
        if (o.member >= 0) {
            const TypeInfo& t = types_.info(v.type);
            int first = 0;
            for (int m = 0; m < o.member; ++m) first += types_.registers(t.members[std::size_t(m)].type);
            Src s = v.regs[std::size_t(first)];
            v = Value{};
            v.type = t.members[std::size_t(o.member)].type;
            v.regs.push_back(s);
        }
        if (v.regs[0].def == ir::kNone) continue;  // never written: left as GL leaves it
        emitOutput(v, o.depth);
    }
}

void Lowerer::emitOutput(const Value& v, bool depth) {
    Src s = convert(v, types_.withScalar(v.type, ScalarKind::Float)).regs[0];
    if (depth) {
        b_.output(ir::OutDepth, Builder::lane(s, 0));
        return;
    }
    int n = width(v.type);
    if (n > 1 && n < 4) {
        // A colour of two or three components is opaque, its missing channels 0.
        Src lanes[4];
        Src fill = b_.constant(0, 0, 0, 1);
        for (int c = 0; c < 4; ++c) lanes[c] = c < n ? s : fill;
        s = b_.compose(lanes);
    }
    b_.output(ir::OutColor, s);
}

}  // namespace cgc::lowering
