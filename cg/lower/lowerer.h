// The lowerer's state, shared by its parts: variables and predication
// (lower.cpp), statements (statements.cpp), expressions (expressions.cpp).
//
// Variables hold SSA values, one per register, with the lanes written so far.
// Branches are predicated by merging: each arm runs as a frame that records
// the variables it changed; the arms are then undone and every changed
// variable takes a select of the two arms' values against the condition.
// `return`, `break` and `continue` end a path: the frame keeps a predicate
// for each, and later writes to variables that outlive the ended scope keep
// their old value on the ended path.
//
// Each variable also knows which lanes some running path may have left
// unassigned, for the warning; an ended path carries its lanes to where it
// rejoins (the loop's end, the iteration's end, the function's end).
#pragma once

#include "cg/ir/eval.h"
#include "cg/lower/builder.h"
#include "cg/lower/lower.h"
#include "cg/sema/conversions.h"

#include <array>
#include <map>
#include <set>
#include <functional>
#include <tuple>
#include <string>
#include <unordered_map>
#include <vector>

namespace cgc::lowering {

using ir::Src;

// A condition as the code sees it: always, never, or a replicated 0/1 value
// (active where it is 1, or where it is 0 when inverted, so `!c` costs nothing).
struct Pred {
    enum Kind : std::uint8_t { True, False, Dyn };
    Kind kind = True;
    Src s;
    bool inverted = false;
    static Pred always() { return Pred{}; }
    static Pred never() { return Pred{False, Src{}, false}; }
};

struct VarState {
    std::vector<Src> regs;                 // def kNone: never written
    std::vector<std::uint8_t> assigned;    // lanes written on some path, per register
    std::vector<std::uint8_t> unset;       // lanes some running path has not written
    std::vector<Value::Unit> units;
    std::vector<bool> unitsAssigned;
};

struct Var {
    TypeId type = 0;
    std::string name;
    std::vector<std::uint8_t> widths;  // the lanes each register's value occupies
    int fn = 0;     // inlining depth it belongs to
    int loop = 0;   // 2k-1 in loop k's initialiser, 2k in its body, 0 outside loops
    int frame = -1;   // the frame it was declared in: changes there need no undoing
    bool live = false;
    int logged = -1;  // the frame that saved it last
};

// A part of a variable: whole registers (aggregates, matrices) or up to four
// scattered lanes (scalars, vectors, swizzles, matrix swizzles).
struct Place {
    int slot = -1;
    TypeId type = 0;
    bool scattered = false;
    int count = 0;
    int reg[4] = {0, 0, 0, 0}, lane[4] = {0, 0, 0, 0};
    int first = 0, unit = 0;
};

// Unassigned lanes, by variable, that ended paths carry to where they rejoin.
using Carried = std::map<int, std::vector<std::uint8_t>>;

struct Frame {
    enum Exit { Returned = 1, Broke = 2, Continued = 4 };
    int serial = 0;
    int fn = 0, loops = 0;  // the function and the loop depth its exits leave
    Pred cond;  // within the parent
    // Returned, broke, continued since the frame began: disjoint, since a
    // path ends once, so a break after a continue leaves the continued alone.
    Pred exits[3] = {Pred::never(), Pred::never(), Pred::never()};
    Pred ended = Pred::never();  // their union
    struct Saved {
        int slot;
        VarState before;
        int logged;
    };
    std::vector<Saved> saved;
    bool pathKnown = false;
    Pred path;  // where the frame runs, absolutely
    std::array<bool, 8> killKnown{};
    std::array<Pred, 8> kill;
    Carried carried[3];    // by exit, as exits[]
    bool stopped = false;  // every path that ran here was discarded: none runs on
};

struct ArmResult {
    std::vector<std::pair<int, VarState>> changed;
    Pred exits[3] = {Pred::never(), Pred::never(), Pred::never()};
    Carried carried[3];
    bool ended = false;  // every path that entered it left by an exit
    bool runs = true;    // some path still runs at its end
};

class Lowerer {
public:
    Lowerer(const ast::Tree& tree, const Analysis& analysis, TypeTable& types, const Options& options);
    Lowered run();

private:
    // ---- variables and predication (lower.cpp) ----
    int newVar(TypeId type, const std::string& name, int fn);
    void declare(int slot, int fn);
    void openScope() { scopeMarks_.push_back(scoped_.size()); }
    void closeScope();
    VarState unassigned(int slot) const;
    void commit(int slot, VarState next);
    void assignWhole(int slot, const Value& v);
    Pred killFor(int slot);
    bool dead() const;
    void exit(int which);
    void beginArm(Pred cond);
    ArmResult endArm();
    // offEnded: the paths off `cond` have ended (a loop's), so they leave no
    // lanes unassigned here.
    void merge(Pred cond, const ArmResult& a, const ArmResult* b, int exits, bool offEnded = false);
    void rejoin(const Carried& carried);
    void joinReturns();
    void warn(const Loc& loc, const std::string& what);
    Pred absolutePath();
    Pred frameAbsolute(std::size_t i);

    Pred predicate(const Src& boolean) const;
    Pred pAnd(Pred a, Pred b);
    Pred pOr(Pred a, Pred b) { return pNot(pAnd(pNot(a), pNot(b))); }
    static Pred pNot(Pred a);
    Pred pSelect(Pred c, Pred a, Pred b);
    Src materialize(Pred p);
    Src select(Pred c, const Src& a, const Src& b);

    // ---- what is known where the loops being unrolled still run (control.cpp) ----
    struct Fact {
        std::uint8_t lanes = 0;  // bit c: lane c holds value[c]
        float value[4] = {0, 0, 0, 0};
    };
    struct Memo {
        std::unordered_map<std::uint32_t, ir::Vec4> known;
        std::unordered_map<std::uint32_t, int> unknown;  // with the assumptions it was tried under
    };
    using Assumed = std::vector<std::pair<std::uint32_t, int>>;  // (def, lane) facts added
    void assume(const Pred& running, Assumed* added);
    void assumeLane(std::uint32_t def, int lane, float value, Assumed* added, int depth);
    void forget(const Assumed& added, bool learnt = true);  // learnt: memo_ used them
    void settle(const std::vector<int>& slots, Assumed* added);
    bool isBoolean(std::uint32_t def, int depth = 0);
    bool knownUnderAssumptions(const Src& s, float out[4]);
    bool knownOnEveryPath(const Src& s, float out[4]);
    enum class Split { Known, Impossible, Unknown };
    Split split(const Src& s, float out[4], int depth);
    bool valueOf(const Src& s, ir::Vec4* out, Memo& memo, int depth);
    bool evaluateAssuming(std::uint32_t def, ir::Vec4* out, Memo& memo, int depth);

    // ---- statements (statements.cpp) ----
    void statement(const ast::Stmt* s);
    void declaration(const ast::Stmt* s);
    Pred condition(const ast::Expr* e);
    void ifStatement(const ast::Stmt* s);
    void loop(const ast::Stmt* s);
    bool loopGoesOn(const ast::Expr* cond, Pred alive);
    void discard();
    void checkSize();
    Value callFunction(const ast::Expr* e, const CallInfo& call);
    void globals();
    void entry();
    Value entryValue(int symbol);
    Value uniformValue(TypeId type, int slot, int unit);
    Value inputValue(TypeId type, const std::string& semantic);
    void outputs(const Value* result);
    void emitOutput(const Value& v, bool depth);

    // ---- expressions (expressions.cpp) ----
    Value expr(const ast::Expr* e);
    Value exprInner(const ast::Expr* e);
    Value rvalue(const ast::Expr* e);
    Value convert(const Value& v, TypeId to);
    Src convertKind(const Src& s, ScalarKind from, ScalarKind to);
    Src truncate(const Src& s);
    Value initValue(const ast::Expr* init, TypeId type);
    Value unary(const ast::Expr* e);
    Value binary(const ast::Expr* e);
    Value assign(const ast::Expr* e);
    Value conditional(const ast::Expr* e);
    Value call(const ast::Expr* e);
    Value builtinCall(const ast::Expr* e, const CallInfo& call);
    Value construct(const ast::Expr* e, TypeId type);
    Value gather(TypeId type, const std::vector<Value>& parts);
    Value member(const ast::Expr* e);
    Value index(const ast::Expr* e);
    Src arithmetic(ast::Operator op, const Src& a, const Src& b, ScalarKind kind);
    Value perRegister(TypeId type, const Value& a, const Value* b, const std::function<Src(const Src&, const Src&)>& f);
    bool isPlace(const ast::Expr* e) const;
    Place place(const ast::Expr* e);
    int constantIndex(const ast::Expr* index, int bound, TypeId of);
    Src settled(const Src& s);
    Value read(const Place& p, const Loc& loc);
    void write(const Place& p, const Value& v);
    Value slice(const Value& v, TypeId part, int firstReg, int firstUnit);
    int width(TypeId t) const;
    Src shaped(const Src& s, TypeId t) const;
    Value scalarValue(TypeId type, const Src& s) const;

    const ast::Tree& tree_;
    const Analysis& analysis_;
    TypeTable& types_;
    const Options& options_;
    ir::Function function_;
    Builder b_;

    std::vector<Var> vars_;
    std::vector<VarState> states_;
    std::vector<int> scoped_;
    std::vector<std::size_t> scopeMarks_;
    std::vector<Frame> frames_;
    int serials_ = 0;
    int fnDepth_ = 0;
    int loops_ = 0;
    int loopLevel_ = 0;
    std::vector<int> returnSlots_;
    int unrolled_ = 0;
    std::size_t maxInstructions_;
    Loc statementLoc_;
    std::vector<Warning> warnings_;
    std::set<std::tuple<int, int, int, int, std::string>> warned_;

    // Loop conditions are decided on the paths where no break has happened:
    // the predicates of the loops being unrolled are known to be active there,
    // and so is every break condition they are made of.
    std::unordered_map<std::uint32_t, Fact> assumed_;
    std::vector<std::uint32_t> splitting_;  // the comparisons a case split has fixed
    Memo memo_;                // values under assumed_
    int assumptions_ = 0;      // bumped whenever assumed_ changes
    std::unordered_map<std::uint32_t, bool> booleans_;
    std::pair<std::uint32_t, int> blocked_{ir::kNone, 0};  // the first unknown comparison a value waited on
};

}  // namespace cgc::lowering
