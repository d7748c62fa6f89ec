// Statements and expressions, run as written: a branch takes one arm, a loop
// runs until its condition fails or it breaks, a call runs its body with
// its own parameters, and discard ends the fragment.
#include "cg/interp/machine.h"

#include "cg/sema/conversions.h"

#include <cmath>

namespace cgc::interp {

using ast::Expr;
using ast::Operator;
using ast::Stmt;

namespace {

// Far beyond what any program the target accepts runs; a bound so a
// program edited into an endless loop still gives an answer.
constexpr long kMaxSteps = 4'000'000;
constexpr int kMaxCallDepth = 256;

bool isReal(ScalarKind k) { return k == ScalarKind::Float || k == ScalarKind::Half || k == ScalarKind::Fixed; }

double toKind(double x, ScalarKind from, ScalarKind to) {
    if (to == ScalarKind::Int && isReal(from)) return std::trunc(x);
    if (to == ScalarKind::Bool && from != ScalarKind::Bool) return x != 0 ? 1 : 0;
    return x;
}

}  // namespace

Machine::Machine(Program::State& state, const Inputs& inputs, const Trace& trace)
    : types(state.types), analysis(state.analysis), state_(state), inputs_(inputs), trace_(trace) {
    vars_.resize(analysis.symbols.size());
    noiseState_ = inputs.noiseSeed;
}

double Machine::nudge(double x, double scale) {
    if (std::fabs(x) > 1e30) overflow_ = true;
    if (inputs_.noise <= 0 || !std::isfinite(x)) return x;
    // splitmix64: a uniform step in [-1, 1]
    std::uint64_t z = (noiseState_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    z ^= z >> 31;
    double u = inputs_.noiseSign ? inputs_.noiseSign : double(z >> 11) / double(1ull << 52) - 1;
    return x + u * inputs_.noise * std::fabs(scale);
}

// An exact tie is left to the nudged runs: it is mostly a value meeting
// itself or a whole number, which the target decides the same way, and
// where rounding made it the nudges move it.
void Machine::decide(double distance, double scale) {
    if (std::isnan(distance) || (distance != 0 && std::fabs(distance) <= 1e-5 * std::fmax(std::fabs(scale), 1e-3)))
        nearThreshold_ = true;
}

// An int is a float: past 2^24 it no longer holds every whole number, and
// truncation, / and % on it are the float's, not the integer's.
void Machine::wholeInFloat(double x) {
    if (!(std::fabs(x) <= 16777216.0)) nearThreshold_ = true;
}

double Machine::approximate(double x, double error) {
    approximated_ = true;
    return inputs_.noise > 0 ? nudge(x, error / inputs_.noise) : nudge(x, 0);
}

int Machine::size(TypeId t) {
    if (t >= sizes_.size()) sizes_.resize(std::size_t(t) + 1, -1);
    if (sizes_[t] >= 0) return sizes_[t];
    const TypeInfo& i = types.info(t);
    int n = 0;
    switch (i.kind) {
        case TypeKind::Scalar: case TypeKind::Sampler: n = 1; break;
        case TypeKind::Vector: n = i.cols; break;
        case TypeKind::Matrix: n = i.rows * i.cols; break;
        case TypeKind::Array: n = i.length * size(i.element); break;
        case TypeKind::Struct:
            for (const StructMember& m : i.members) n += size(m.type);
            break;
        case TypeKind::Void: break;
    }
    if (t >= sizes_.size()) sizes_.resize(std::size_t(t) + 1, -1);
    sizes_[t] = n;
    return n;
}

// ---- conversions ----

Val Machine::convert(const Val& x, TypeId to) {
    if (x.type == to || !types.isNumeric(x.type) || !types.isNumeric(to)) return Val{to, x.v};
    const TypeInfo f = types.info(x.type), t = types.info(to);
    Val r{to, {}};
    int n = size(to);
    if (x.v.size() == 1) {
        r.v.assign(std::size_t(n), x.v[0]);  // a scalar spreads
    } else if (f.kind == TypeKind::Matrix && t.kind == TypeKind::Matrix) {
        for (int i = 0; i < t.rows; ++i)
            for (int j = 0; j < t.cols; ++j) r.v.push_back(x.v[std::size_t(i * f.cols + j)]);
    } else {
        // A vector shortens; a cast reshapes a vector into a matrix and back.
        r.v.assign(x.v.begin(), x.v.begin() + std::min<std::ptrdiff_t>(n, std::ptrdiff_t(x.v.size())));
    }
    for (double& c : r.v) {
        if (t.scalar == ScalarKind::Int && isReal(f.scalar)) decideInteger(c);
        if (t.scalar == ScalarKind::Int) wholeInFloat(c);
        if (t.scalar == ScalarKind::Bool && f.scalar != ScalarKind::Bool && c != 0) decide(c, 1e-3);
        c = toKind(c, f.scalar, t.scalar);
    }
    return r;
}

Val Machine::value(const Expr* e) {
    Val v = eval(e);
    return convert(v, analysis.of(e).converted);
}

// ---- places ----

std::vector<double>& Machine::storage(int symbol) {
    std::vector<double>& s = vars_[std::size_t(symbol)];
    std::size_t n = std::size_t(size(analysis.symbols[std::size_t(symbol)].type));
    if (s.size() != n) s.assign(n, 0.0);
    return s;
}

int Machine::indexValue(const Expr* e, int length) {
    double k = value(e).v[0];
    if (!(k >= 0 && k < length))
        throw RunError{e->loc, "index " + formatNumber(k) + " is out of range [0, " + std::to_string(length) + ")"};
    return int(k);
}

Place Machine::place(const Expr* e) {
    const ExprInfo& info = analysis.of(e);
    switch (e->kind) {
        case Expr::Name: {
            Place p;
            p.symbol = info.ref;
            p.type = analysis.symbols[std::size_t(info.ref)].type;
            p.text = e->name;
            int n = int(storage(p.symbol).size());
            for (int i = 0; i < n; ++i) p.at.push_back(i);
            return p;
        }
        case Expr::Member: {
            Place base = place(e->args[0]);
            const TypeInfo& t = types.info(base.type);
            const Access& a = analysis.accesses[std::size_t(info.ref)];
            Place p{base.symbol, {}, info.type, base.text + "." + e->name};
            if (a.kind == Access::Field) {
                int first = 0;
                for (int m = 0; m < a.member; ++m) first += size(t.members[std::size_t(m)].type);
                int n = size(t.members[std::size_t(a.member)].type);
                p.at.assign(base.at.begin() + first, base.at.begin() + first + n);
            } else {
                for (int i = 0; i < a.count; ++i) {
                    int c = a.components[i];
                    if (a.kind == Access::MatrixSwizzle) c = c / 4 * t.cols + c % 4;
                    p.at.push_back(base.at[std::size_t(c)]);
                }
            }
            return p;
        }
        case Expr::Index: {
            Place base = place(e->args[0]);
            const TypeInfo& t = types.info(base.type);
            int length = t.kind == TypeKind::Array ? t.length : t.kind == TypeKind::Matrix ? t.rows : t.cols;
            int k = indexValue(e->args[1], length);
            int n = size(info.type);
            Place p{base.symbol, {}, info.type, base.text + "[" + std::to_string(k) + "]"};
            p.at.assign(base.at.begin() + k * n, base.at.begin() + (k + 1) * n);
            return p;
        }
        default: break;
    }
    throw RunError{e->loc, "not assignable"};  // analysis refuses these
}

Val Machine::read(const Place& p) {
    std::vector<double>& s = storage(p.symbol);
    Val v{p.type, {}};
    for (int i : p.at) v.v.push_back(s[std::size_t(i)]);
    return v;
}

void Machine::write(const Place& p, const Val& v, const Loc& loc) {
    std::vector<double>& s = storage(p.symbol);
    for (std::size_t i = 0; i < p.at.size() && i < v.v.size(); ++i) s[std::size_t(p.at[i])] = v.v[i];
    if (trace_) trace_(loc, p.text, formatValue(types, Val{p.type, v.v}));
}

// ---- expressions ----

Val Machine::eval(const Expr* e) {
    const ExprInfo& info = analysis.of(e);
    switch (e->kind) {
        case Expr::Literal: return Val{info.type, {e->number}};
        case Expr::Name: {
            std::vector<double>& s = storage(info.ref);
            return Val{info.type, s};
        }
        case Expr::Unary: return unary(e);
        case Expr::Binary: return binary(e);
        case Expr::Assign: return assign(e);
        case Expr::Conditional: return conditional(e);
        case Expr::Call:
        case Expr::Construct: {
            if (info.ref < 0) return construct(e);
            const CallInfo& call = analysis.calls[std::size_t(info.ref)];
            return call.builtin ? builtin(e, call) : userCall(e, call);
        }
        case Expr::Cast: return value(e->args[0]);
        case Expr::Member: return member(e);
        case Expr::Index: return index(e);
        case Expr::InitList: {
            Val r{info.type, {}};
            for (const Expr* a : e->args) {
                Val part = value(a);
                r.v.insert(r.v.end(), part.v.begin(), part.v.end());
            }
            return r;
        }
    }
    throw RunError{e->loc, "unknown expression"};
}

Val Machine::unary(const Expr* e) {
    const ExprInfo& info = analysis.of(e);
    switch (e->op) {
        case Operator::Not: {
            Val a = value(e->args[0]);
            for (double& x : a.v) x = x != 0 ? 0 : 1;
            return a;
        }
        case Operator::Negate: {
            Val a = value(e->args[0]);
            for (double& x : a.v) x = -x;
            return a;
        }
        case Operator::Plus: return value(e->args[0]);
        default: break;
    }
    Place p = place(e->args[0]);
    Val old = read(p), next = old;
    bool up = e->op == Operator::PreInc || e->op == Operator::PostInc;
    for (double& x : next.v) x += up ? 1 : -1;
    write(p, next, e->loc);
    bool prefix = e->op == Operator::PreInc || e->op == Operator::PreDec;
    return Val{info.type, prefix ? next.v : old.v};
}

namespace {

// How far float rounding may move a + b, a * b: a sum by ulps of its
// larger term, since the target may reassociate.
double roundingScale(Operator op, double a, double b, double r) {
    switch (op) {
        case Operator::Add: case Operator::AddAssign: case Operator::Sub: case Operator::SubAssign:
            return std::fmax(std::fabs(a), std::fabs(b));
        case Operator::Mul: case Operator::MulAssign: case Operator::Div: case Operator::DivAssign: return std::fabs(r);
        case Operator::Mod: case Operator::ModAssign: return std::fabs(r) + std::fabs(a);
        default: return 0;
    }
}

// A float sum, difference or product whose exact value is a float comes out
// exact on the target too; a quotient goes through a reciprocal and may not.
bool exactInFloat(Operator op, double a, double b, double r) {
    switch (op) {
        case Operator::Add: case Operator::AddAssign: case Operator::Sub: case Operator::SubAssign:
        case Operator::Mul: case Operator::MulAssign:
            return double(float(a)) == a && double(float(b)) == b && double(float(r)) == r;
        default: return false;
    }
}

double arithmetic(Operator op, double a, double b, ScalarKind kind) {
    switch (op) {
        case Operator::Add: case Operator::AddAssign: return a + b;
        case Operator::Sub: case Operator::SubAssign: return a - b;
        case Operator::Mul: case Operator::MulAssign: return a * b;
        case Operator::Div: case Operator::DivAssign: return kind == ScalarKind::Int ? std::trunc(a / b) : a / b;
        case Operator::Mod: case Operator::ModAssign:
            if (kind == ScalarKind::Int) return a - b * std::trunc(a / b);
            return std::fmod(a, b);
        case Operator::Lt: return a < b;
        case Operator::Le: return a <= b;
        case Operator::Gt: return a > b;
        case Operator::Ge: return a >= b;
        case Operator::Eq: return a == b;
        case Operator::Ne: return a != b;
        case Operator::LogicalAnd: return a != 0 && b != 0;
        case Operator::LogicalOr: return a != 0 || b != 0;
        default: return 0;
    }
}

}  // namespace

Val Machine::binary(const Expr* e) {
    const ExprInfo& info = analysis.of(e);
    if (e->op == Operator::Comma) {
        eval(e->args[0]);
        return value(e->args[1]);
    }
    // Both sides run: && and || work per component and do not short-circuit.
    Val a = value(e->args[0]), b = value(e->args[1]);
    ScalarKind kind = types.info(info.operand).scalar;
    Val r{info.type, {}};
    bool real = isReal(types.info(info.type).scalar);
    bool compares = e->op >= Operator::Lt && e->op <= Operator::Ne && isReal(kind);
    for (std::size_t i = 0; i < a.v.size() && i < b.v.size(); ++i) {
        double x = arithmetic(e->op, a.v[i], b.v[i], kind);
        if (compares) decide(a.v[i] - b.v[i], std::fmax(std::fabs(a.v[i]), std::fabs(b.v[i])));
        if (kind == ScalarKind::Int && (e->op == Operator::Div || e->op == Operator::Mod))
            wholeInFloat(a.v[i]), wholeInFloat(a.v[i] / b.v[i]);
        r.v.push_back(real && !exactInFloat(e->op, a.v[i], b.v[i], x) ? nudge(x, roundingScale(e->op, a.v[i], b.v[i], x)) : x);
    }
    return r;
}

Val Machine::assign(const Expr* e) {
    const ExprInfo& info = analysis.of(e);
    Place p = place(e->args[0]);
    Val next;
    if (e->op == Operator::Assign) {
        next = value(e->args[1]);
    } else {
        Val old = convert(read(p), info.operand);
        Val b = value(e->args[1]);
        ScalarKind kind = types.info(info.operand).scalar;
        Val r{info.operand, {}};
        bool real = isReal(kind);
        for (std::size_t i = 0; i < old.v.size() && i < b.v.size(); ++i) {
            double x = arithmetic(e->op, old.v[i], b.v[i], kind);
            if (kind == ScalarKind::Int && (e->op == Operator::DivAssign || e->op == Operator::ModAssign))
                wholeInFloat(old.v[i]), wholeInFloat(old.v[i] / b.v[i]);
            r.v.push_back(real && !exactInFloat(e->op, old.v[i], b.v[i], x) ? nudge(x, roundingScale(e->op, old.v[i], b.v[i], x)) : x);
        }
        next = convert(r, info.type);
    }
    write(p, next, e->loc);
    return next;
}

Val Machine::conditional(const Expr* e) {
    const ExprInfo& info = analysis.of(e);
    Val c = value(e->args[0]);
    Val a = value(e->args[1]), b = value(e->args[2]);
    if (c.v.size() == 1) return c.v[0] != 0 ? a : b;
    Val r{info.type, {}};
    for (std::size_t i = 0; i < a.v.size(); ++i) r.v.push_back(c.v[i] != 0 ? a.v[i] : b.v[i]);
    return r;
}

Val Machine::construct(const Expr* e) {
    Val r{analysis.of(e).type, {}};
    for (const Expr* a : e->args) {
        Val part = value(a);
        r.v.insert(r.v.end(), part.v.begin(), part.v.end());
    }
    return r;
}

Val Machine::member(const Expr* e) {
    const ExprInfo& info = analysis.of(e);
    Val base = value(e->args[0]);
    const TypeInfo& t = types.info(base.type);
    const Access& a = analysis.accesses[std::size_t(info.ref)];
    Val r{info.type, {}};
    if (a.kind == Access::Field) {
        std::size_t first = 0;
        for (int m = 0; m < a.member; ++m) first += std::size_t(size(t.members[std::size_t(m)].type));
        r.v.assign(base.v.begin() + std::ptrdiff_t(first),
                   base.v.begin() + std::ptrdiff_t(first) + size(t.members[std::size_t(a.member)].type));
        return r;
    }
    for (int i = 0; i < a.count; ++i) {
        int c = a.components[i];
        if (a.kind == Access::MatrixSwizzle) c = c / 4 * t.cols + c % 4;
        r.v.push_back(base.v[std::size_t(c)]);
    }
    return r;
}

Val Machine::index(const Expr* e) {
    const ExprInfo& info = analysis.of(e);
    Val base = value(e->args[0]);
    const TypeInfo& t = types.info(base.type);
    int length = t.kind == TypeKind::Array ? t.length : t.kind == TypeKind::Matrix ? t.rows : t.cols;
    int k = indexValue(e->args[1], length);
    int n = size(info.type);
    return Val{info.type, std::vector<double>(base.v.begin() + k * n, base.v.begin() + (k + 1) * n)};
}

Val Machine::userCall(const Expr* e, const CallInfo& call) {
    const FunctionInfo& f = analysis.functions[std::size_t(call.function)];
    if (!f.definition) throw RunError{e->loc, "'" + f.name + "' has no body"};
    std::size_t n = e->args.size();
    std::vector<Val> args(n);
    std::vector<Place> places(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (f.out[i]) {
            places[i] = place(e->args[i]);
            args[i] = f.in[i] ? convert(read(places[i]), f.params[i]) : Val{f.params[i], std::vector<double>(std::size_t(size(f.params[i])), 0.0)};
        } else {
            args[i] = value(e->args[i]);
        }
    }
    if (++depth_ > kMaxCallDepth) throw RunError{e->loc, "calls nest too deeply"};
    for (std::size_t i = 0; i < n; ++i) storage(f.paramSymbols[i]) = args[i].v;
    Val saved = std::move(returned_);
    returned_ = Val{f.result, {}};
    exec(f.definition->body);
    Val result = std::move(returned_);
    returned_ = std::move(saved);
    --depth_;
    for (std::size_t i = 0; i < n; ++i)
        if (f.out[i]) {
            Val out{f.params[i], storage(f.paramSymbols[i])};
            write(places[i], convert(out, places[i].type), e->loc);
        }
    if (result.v.size() != std::size_t(size(f.result))) result.v.assign(std::size_t(size(f.result)), 0.0);
    return result;
}

// ---- statements ----

void Machine::tick(const Loc& loc) {
    if (++steps_ > kMaxSteps) throw RunError{loc, "the program runs more than " + std::to_string(kMaxSteps) + " steps"};
}

void Machine::declare(const Stmt* s) {
    for (const ast::Declarator& d : s->declarators) {
        auto it = analysis.declared.find(&d);
        if (it == analysis.declared.end()) continue;
        std::vector<double>& v = storage(it->second);
        if (!d.init) {
            std::fill(v.begin(), v.end(), 0.0);
            continue;
        }
        Val init = value(d.init);
        v = init.v;
        v.resize(std::size_t(size(analysis.symbols[std::size_t(it->second)].type)), 0.0);
        if (trace_) trace_(d.loc, d.name, formatValue(types, Val{analysis.symbols[std::size_t(it->second)].type, v}));
    }
}

Flow Machine::exec(const Stmt* s) {
    tick(s->loc);
    switch (s->kind) {
        case Stmt::ExprStmt: eval(s->expr); return Flow::Normal;
        case Stmt::Decl: declare(s); return Flow::Normal;
        case Stmt::Block:
            for (const Stmt* b : s->body) {
                Flow f = exec(b);
                if (f != Flow::Normal) return f;
            }
            return Flow::Normal;
        case Stmt::If:
            if (value(s->expr).v[0] != 0) return exec(s->then);
            return s->otherwise ? exec(s->otherwise) : Flow::Normal;
        case Stmt::For: case Stmt::While: case Stmt::DoWhile: return loop(s);
        case Stmt::Break: return Flow::Break;
        case Stmt::Continue: return Flow::Continue;
        case Stmt::Return:
            if (s->expr) returned_ = value(s->expr);
            return Flow::Return;
        case Stmt::Discard: throw Discarded{};
        case Stmt::Typedef: case Stmt::Empty: return Flow::Normal;
    }
    return Flow::Normal;
}

Flow Machine::loop(const Stmt* s) {
    if (s->kind == Stmt::For && s->init) exec(s->init);
    bool first = true;
    for (;;) {
        bool test = s->kind != Stmt::DoWhile || !first;
        first = false;
        if (test && s->expr && value(s->expr).v[0] == 0) return Flow::Normal;
        tick(s->loc);
        Flow f = exec(s->then);
        if (f == Flow::Break) return Flow::Normal;
        if (f == Flow::Return) return f;
        if (s->kind == Stmt::For && s->step) eval(s->step);
    }
}

}  // namespace cgc::interp
