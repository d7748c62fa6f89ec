// The interpreter's state for one run, shared by its statement, expression
// and built-in halves. Values are flat: a scalar is one double, a vector its
// components, a matrix its rows in order, arrays and structs their parts in
// order, and a sampler its texture unit.
#pragma once

#include "cg/front/ast.h"
#include "cg/interp/interp.h"
#include "cg/sema/sema.h"

#include <cmath>
#include <string>
#include <vector>

namespace cgc::interp {

struct Program::State {
    Sources sources;
    ast::Tree tree;
    TypeTable types;
    Analysis analysis;
};

struct Val {
    TypeId type = 0;
    std::vector<double> v;
};

// Where an assignment writes: components of one variable.
struct Place {
    int symbol = -1;
    std::vector<int> at;  // indices into the variable's components
    TypeId type = 0;
    std::string text;     // the target as a trace names it
};

struct Discarded {};
struct RunError {
    Loc loc;
    std::string what;
};

enum class Flow { Normal, Break, Continue, Return };

class Machine {
public:
    Machine(Program::State& state, const Inputs& inputs, const Trace& trace);
    Result run();

    // ---- shared with the built-ins ----
    int size(TypeId t);
    Val convert(const Val& x, TypeId to);
    Val value(const ast::Expr* e);  // evaluated and converted as its use asks
    Val builtin(const ast::Expr* e, const CallInfo& call);
    Vec4 sample(int unit, SamplerKind kind, int mode, const std::vector<double>& coordinate);
    // x moved by the run's noise, in units of `scale`; also notes overflow.
    double nudge(double x, double scale);
    double approximate(double x, double error);  // moved by up to `error` itself
    // Notes a decision taken `distance` from its threshold, on values of `scale`.
    void decide(double distance, double scale);
    void decideInteger(double x) { decide(x - std::round(x), x); }
    void wholeInFloat(double x);
    int texelIndex(double coordinate, int size, bool normalised);
    TypeTable& types;
    const Analysis& analysis;

private:
    Val eval(const ast::Expr* e);
    Val unary(const ast::Expr* e);
    Val binary(const ast::Expr* e);
    Val assign(const ast::Expr* e);
    Val conditional(const ast::Expr* e);
    Val construct(const ast::Expr* e);
    Val member(const ast::Expr* e);
    Val index(const ast::Expr* e);
    Val userCall(const ast::Expr* e, const CallInfo& call);
    int indexValue(const ast::Expr* e, int length);

    Place place(const ast::Expr* e);
    Val read(const Place& p);
    void write(const Place& p, const Val& v, const Loc& loc);
    std::vector<double>& storage(int symbol);

    Flow exec(const ast::Stmt* s);
    Flow loop(const ast::Stmt* s);
    void declare(const ast::Stmt* s);
    void enterEntry();
    void loadUniform(int symbol);
    void tick(const Loc& loc);

    Program::State& state_;
    const Inputs& inputs_;
    const Trace& trace_;
    std::vector<std::vector<double>> vars_;  // by symbol; no recursion, so one live instance each
    std::vector<int> sizes_;
    Val returned_;
    long steps_ = 0;
    std::uint64_t noiseState_ = 0;
    bool overflow_ = false;
    bool nearThreshold_ = false;
    bool approximated_ = false;
    int depth_ = 0;
};

std::string formatValue(TypeTable& types, const Val& v);

}  // namespace cgc::interp
