// Expressions: values through conversions, operators, calls, constructors,
// and the places (parts of variables) that assignments write.
#include "cg/lower/lowerer.h"

#include <cmath>
#include <cstdio>
#include <string_view>

namespace cgc::lowering {

using ast::Expr;
using ast::Operator;
using ir::Op;

int Lowerer::width(TypeId t) const {
    const TypeInfo& i = types_.info(t);
    switch (i.kind) {
        case TypeKind::Scalar: return 1;
        case TypeKind::Vector:
        case TypeKind::Matrix: return i.cols;
        default: return 4;
    }
}

// Lanes past a value's width repeat its last lane, so nothing downstream
// counts them as read.
Src Lowerer::shaped(const Src& s, TypeId t) const {
    int n = width(t);
    if (n >= 4 || s.def == ir::kNone) return s;
    Src r = s;
    for (int c = n; c < 4; ++c) r.swz[c] = s.swz[n - 1];
    return r;
}

Value Lowerer::scalarValue(TypeId type, const Src& s) const {
    Value v;
    v.type = type;
    v.regs.push_back(shaped(s, type));
    return v;
}

Value Lowerer::slice(const Value& v, TypeId part, int firstReg, int firstUnit) {
    Value r;
    r.type = part;
    int regs = types_.registers(part), units = types_.samplers(part);
    r.regs.assign(v.regs.begin() + firstReg, v.regs.begin() + firstReg + regs);
    r.units.assign(v.units.begin() + firstUnit, v.units.begin() + firstUnit + units);
    return r;
}

// ---- conversions ----

Src Lowerer::truncate(const Src& s) {
    Src f = b_.emit(Op::Flr, b_.emit(Op::Abs, s));
    return b_.emit(Op::Cmp, s, Builder::negate(f), f);
}

Src Lowerer::convertKind(const Src& s, ScalarKind from, ScalarKind to) {
    if (from == to || s.def == ir::kNone) return s;
    bool fromReal = from == ScalarKind::Float || from == ScalarKind::Half || from == ScalarKind::Fixed;
    if (to == ScalarKind::Int && fromReal) return truncate(s);
    if (to == ScalarKind::Bool && from != ScalarKind::Bool)
        return b_.emit(Op::Slt, b_.constant(0), b_.emit(Op::Abs, s));
    return s;
}

Value Lowerer::convert(const Value& v, TypeId to) {
    if (v.type == to) return v;
    Value r;
    r.type = to;
    if (!types_.isNumeric(v.type) || !types_.isNumeric(to)) {
        r.regs = v.regs;
        r.units = v.units;
        return r;
    }
    const TypeInfo f = types_.info(v.type);
    const TypeInfo t = types_.info(to);
    // The components of the source in order, for reshaping.
    auto component = [&](int k) {
        if (f.kind == TypeKind::Matrix) return Builder::lane(v.regs[std::size_t(k / f.cols)], k % f.cols);
        return Builder::lane(v.regs[0], f.kind == TypeKind::Scalar ? 0 : k);
    };
    auto gatherLanes = [&](int first, int n) {
        Src lanes[4];
        for (int c = 0; c < n; ++c) lanes[c] = component(first + c);
        return b_.compose(lanes);
    };
    std::vector<Src> regs;
    if (t.kind == TypeKind::Matrix) {
        for (int row = 0; row < t.rows; ++row) {
            if (f.kind == TypeKind::Matrix) regs.push_back(v.regs[std::size_t(row)]);
            else if (scalarLike(types_, v.type)) regs.push_back(Builder::lane(v.regs[0], 0));
            else regs.push_back(gatherLanes(row * t.cols, t.cols));
        }
    } else if (f.kind == TypeKind::Matrix && t.kind == TypeKind::Vector && t.cols > 1) {
        regs.push_back(gatherLanes(0, t.cols));
    } else if (f.kind == TypeKind::Matrix || t.kind == TypeKind::Scalar) {
        regs.push_back(component(0));
    } else {
        regs.push_back(v.regs[0]);  // a scalar spreads, a vector shortens: the same register
    }
    TypeId row = t.kind == TypeKind::Matrix ? types_.vector(t.scalar, t.cols) : to;
    for (Src& s : regs) r.regs.push_back(shaped(convertKind(s, f.scalar, t.scalar), row));
    return r;
}

Value Lowerer::rvalue(const Expr* e) { return convert(expr(e), analysis_.of(e).converted); }

// ---- expressions ----

Value Lowerer::expr(const Expr* e) {
    b_.at(e->loc);
    return exprByKind(e);
}

Value Lowerer::exprByKind(const Expr* e) {
    TypeId type = analysis_.of(e).type;
    switch (e->kind) {
        case Expr::Literal: return scalarValue(type, b_.constant(float(e->number)));
        case Expr::Name: return read(place(e), e->loc);
        case Expr::Unary: return unary(e);
        case Expr::Binary: return binary(e);
        case Expr::Assign: return assign(e);
        case Expr::Conditional: return conditional(e);
        case Expr::Call: return call(e);
        case Expr::Construct: return construct(e, type);
        case Expr::Cast: {
            Value v = rvalue(e->args[0]);
            v.type = type;
            return v;
        }
        case Expr::Member: return member(e);
        case Expr::Index: return index(e);
        case Expr::InitList: return initValue(e, type);
    }
    return Value{};
}

Value Lowerer::perRegister(TypeId type, const Value& a, const Value* b,
                           const std::function<Src(const Src&, const Src&)>& f) {
    Value r;
    r.type = type;
    TypeId row = types_.kind(type) == TypeKind::Matrix ? types_.vector(types_.info(type).scalar, types_.info(type).cols) : type;
    for (std::size_t i = 0; i < a.regs.size(); ++i) r.regs.push_back(shaped(f(a.regs[i], b ? b->regs[i] : Src{}), row));
    return r;
}

Value Lowerer::unary(const Expr* e) {
    const ExprInfo& info = analysis_.of(e);
    switch (e->op) {
        case Operator::Negate:
            return perRegister(info.type, rvalue(e->args[0]), nullptr, [&](const Src& x, const Src&) {
                float k[4];
                // A constant's negation is a constant, so loop bounds and indices stay foldable.
                if (b_.constantOf(x, k)) return b_.constant(-k[0], -k[1], -k[2], -k[3]);
                return Builder::negate(x);
            });
        case Operator::Plus: return rvalue(e->args[0]);
        case Operator::Not:
            return perRegister(info.type, rvalue(e->args[0]), nullptr,
                               [&](const Src& x, const Src&) { return b_.emit(Op::Add, Builder::negate(x), b_.constant(1)); });
        default: break;
    }
    bool increment = e->op == Operator::PreInc || e->op == Operator::PostInc;
    bool prefix = e->op == Operator::PreInc || e->op == Operator::PreDec;
    Place p = place(e->args[0]);
    Value old = read(p, e->args[0]->loc);
    Value next = perRegister(info.type, old, nullptr,
                             [&](const Src& x, const Src&) { return b_.emit(Op::Add, x, b_.constant(increment ? 1.0f : -1.0f)); });
    write(p, next);
    return prefix ? next : old;
}

// Int division truncates; the quotient is nudged up by a few units in the
// last place first, so an exact quotient computed through a reciprocal
// (6 * rcp(3) = 1.9999999) does not truncate one short.
Src Lowerer::arithmetic(Operator op, const Src& a, const Src& b, ScalarKind kind) {
    auto intQuotient = [&]() {
        Src q = b_.emit(Op::Div, a, b);
        return truncate(b_.emit(Op::Mul, q, b_.constant(1.0f + 1.0f / 1048576.0f)));
    };
    switch (op) {
        case Operator::Add:
        case Operator::AddAssign: return b_.emit(Op::Add, a, b);
        case Operator::Sub:
        case Operator::SubAssign: return b_.emit(Op::Add, a, Builder::negate(b));
        case Operator::Mul:
        case Operator::MulAssign: return b_.emit(Op::Mul, a, b);
        case Operator::Div:
        case Operator::DivAssign:
            if (kind == ScalarKind::Int) return intQuotient();
            return b_.emit(Op::Div, a, b);
        case Operator::Mod:
        case Operator::ModAssign: {
            // a - b * trunc(a / b), the sign of a as fmod has it.
            Src t = kind == ScalarKind::Int ? intQuotient() : truncate(b_.emit(Op::Div, a, b));
            return b_.emit(Op::Mad, Builder::negate(b), t, a);
        }
        default: break;
    }
    return Src{};
}

Value Lowerer::binary(const Expr* e) {
    if (e->op == Operator::Comma) {
        expr(e->args[0]);
        return rvalue(e->args[1]);
    }
    const ExprInfo& info = analysis_.of(e);
    Value a = rvalue(e->args[0]);
    Value b = rvalue(e->args[1]);
    ScalarKind kind = types_.info(info.operand).scalar;
    std::function<Src(const Src&, const Src&)> f;
    switch (e->op) {
        case Operator::Lt: f = [&](const Src& x, const Src& y) { return b_.emit(Op::Slt, x, y); }; break;
        case Operator::Gt: f = [&](const Src& x, const Src& y) { return b_.emit(Op::Slt, y, x); }; break;
        case Operator::Le: f = [&](const Src& x, const Src& y) { return b_.emit(Op::Sge, y, x); }; break;
        case Operator::Ge: f = [&](const Src& x, const Src& y) { return b_.emit(Op::Sge, x, y); }; break;
        case Operator::Eq:
        case Operator::Ne:
            f = [&](const Src& x, const Src& y) {
                float k[4];
                bool zero = b_.constantOf(y, k) && k[0] == 0 && k[1] == 0 && k[2] == 0 && k[3] == 0;
                Src d = b_.emit(Op::Abs, zero ? x : b_.emit(Op::Add, x, Builder::negate(y)));
                // |x - y| <= 0 is equality.
                return e->op == Operator::Eq ? b_.emit(Op::Sge, b_.constant(0), d) : b_.emit(Op::Slt, b_.constant(0), d);
            };
            break;
        case Operator::LogicalAnd: f = [&](const Src& x, const Src& y) { return b_.emit(Op::Mul, x, y); }; break;
        case Operator::LogicalOr: f = [&](const Src& x, const Src& y) { return b_.emit(Op::Max, x, y); }; break;
        default: f = [&](const Src& x, const Src& y) { return arithmetic(e->op, x, y, kind); }; break;
    }
    Value r = perRegister(info.operand, a, &b, f);
    r.type = info.type;
    return r;
}

Value Lowerer::assign(const Expr* e) {
    const ExprInfo& info = analysis_.of(e);
    Place p = place(e->args[0]);
    if (e->op == Operator::Assign) {
        Value v = rvalue(e->args[1]);
        write(p, v);
        return v;
    }
    Value rhs = rvalue(e->args[1]);
    Value old = convert(read(p, e->args[0]->loc), info.operand);
    ScalarKind kind = types_.info(info.operand).scalar;
    Value r = perRegister(info.operand, old, &rhs, [&](const Src& x, const Src& y) { return arithmetic(e->op, x, y, kind); });
    Value next = convert(r, info.type);
    write(p, next);
    return next;
}

Value Lowerer::conditional(const Expr* e) {
    const ExprInfo& info = analysis_.of(e);
    Src c = rvalue(e->args[0]).regs[0];
    Value a = rvalue(e->args[1]);
    Value b = rvalue(e->args[2]);
    float k[4];
    if (b_.constantOf(c, k)) {
        int n = types_.isNumeric(info.type) ? width(info.type) : 1;
        bool all = true, none = true;
        for (int i = 0; i < n; ++i) (k[i] != 0 ? none : all) = false;
        if (all) return a;
        if (none) return b;
    }
    if (a.units.size() && (a.units.size() != b.units.size() ||
                           !std::equal(a.units.begin(), a.units.end(), b.units.begin(),
                                       [](const Value::Unit& x, const Value::Unit& y) { return x.unit == y.unit; })))
        fail(e->loc, "a sampler chosen at run time is not available on this target");
    Pred p;
    p.kind = Pred::Dyn;
    p.s = c;  // a vector condition picks lane by lane
    Value r = perRegister(info.type, a, &b, [&](const Src& x, const Src& y) { return select(p, x, y); });
    r.units = a.units;
    return r;
}

Value Lowerer::call(const Expr* e) {
    const ExprInfo& info = analysis_.of(e);
    if (info.ref < 0) return construct(e, info.type);
    checkSize();
    const CallInfo& c = analysis_.calls[std::size_t(info.ref)];
    return c.builtin ? builtinCall(e, c) : callFunction(e, c);
}

Value Lowerer::builtinCall(const Expr* e, const CallInfo& call) {
    const BuiltinSignature& sig = call.signature;
    std::size_t n = e->args.size();
    std::vector<Value> args(n);
    std::vector<Place> places(n);
    bool anyOut = false;
    for (std::size_t i = 0; i < n; ++i) {
        bool out = i < sig.out.size() && sig.out[i];
        if (!out) {
            args[i] = rvalue(e->args[i]);
            continue;
        }
        anyOut = true;
        places[i] = place(e->args[i]);
        // An out argument arrives holding its current value, where it has one.
        const VarState& st = states_[std::size_t(places[i].slot)];
        bool written = true;
        if (places[i].scattered)
            for (int k = 0; k < places[i].count; ++k)
                written = written && (st.assigned[std::size_t(places[i].reg[k])] >> places[i].lane[k] & 1);
        else
            written = false;
        if (written) {
            args[i] = convert(read(places[i], e->args[i]->loc), sig.params[i]);
        } else {
            args[i].type = sig.params[i];
            for (int r = 0; r < types_.registers(sig.params[i]); ++r) args[i].regs.push_back(b_.undef());
        }
    }
    b_.at(e->loc);
    if (std::string_view(call.builtin->name) == "clip") {
        // Like discard, clip kills only on the paths that reach it: elsewhere
        // its argument reads as 0, which kills nothing.
        Pred p = absolutePath();
        if (p.kind == Pred::False) return Value{sig.result, {}, {}};
        args[0].regs[0] = select(p, args[0].regs[0], b_.constant(0));
    }
    Value result;
    if (!anyOut && call.builtin->fold && call.builtin->fold(b_, sig, args, &result)) return result;
    std::vector<Value> outs(n);
    result = call.builtin->lower(b_, sig, args, &outs);
    result.type = sig.result;
    for (std::size_t i = 0; i < n; ++i) {
        if (!(i < sig.out.size() && sig.out[i]) || outs[i].regs.empty()) continue;
        if (!outs[i].type) outs[i].type = sig.params[i];
        write(places[i], convert(outs[i], analysis_.of(e->args[i]).type));
    }
    return result;
}

// Components of the parts, in order, into the registers of a number type.
Value Lowerer::gather(TypeId type, const std::vector<Value>& parts) {
    std::vector<Src> components;
    for (const Value& part : parts) {
        const TypeInfo& p = types_.info(part.type);
        int rows = p.kind == TypeKind::Matrix ? p.rows : 1;
        int cols = p.kind == TypeKind::Scalar ? 1 : p.cols;
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) components.push_back(Builder::lane(part.regs[std::size_t(r)], c));
    }
    const TypeInfo t = types_.info(type);
    Value v;
    v.type = type;
    int rows = t.kind == TypeKind::Matrix ? t.rows : 1;
    int cols = t.kind == TypeKind::Scalar ? 1 : t.cols;
    TypeId row = t.kind == TypeKind::Matrix ? types_.vector(t.scalar, t.cols) : type;
    for (int r = 0; r < rows; ++r) {
        Src lanes[4];
        for (int c = 0; c < cols; ++c) lanes[c] = components[std::size_t(r * cols + c)];
        v.regs.push_back(shaped(cols == 1 ? lanes[0] : b_.compose(lanes), row));
    }
    return v;
}

Value Lowerer::construct(const Expr* e, TypeId type) {
    std::vector<Value> parts;
    for (const Expr* a : e->args) parts.push_back(rvalue(a));
    b_.at(e->loc);
    if (types_.kind(type) != TypeKind::Struct) return gather(type, parts);
    Value v;
    v.type = type;
    for (const Value& p : parts) {
        v.regs.insert(v.regs.end(), p.regs.begin(), p.regs.end());
        v.units.insert(v.units.end(), p.units.begin(), p.units.end());
    }
    return v;
}

Value Lowerer::initValue(const Expr* init, TypeId type) {
    if (init->kind != Expr::InitList) return rvalue(init);
    const TypeInfo t = types_.info(type);
    Value v;
    v.type = type;
    auto append = [&](const Value& part) {
        v.regs.insert(v.regs.end(), part.regs.begin(), part.regs.end());
        v.units.insert(v.units.end(), part.units.begin(), part.units.end());
    };
    switch (t.kind) {
        case TypeKind::Array:
            for (const Expr* e : init->args) append(initValue(e, t.element));
            return v;
        case TypeKind::Struct:
            for (std::size_t i = 0; i < init->args.size(); ++i) append(initValue(init->args[i], t.members[i].type));
            return v;
        default: {
            std::vector<Value> parts;
            for (const Expr* e : init->args)
                parts.push_back(e->kind == Expr::InitList ? initValue(e, types_.vector(t.scalar, t.cols)) : rvalue(e));
            return gather(type, parts);
        }
    }
}

// ---- members and indices ----

bool Lowerer::isPlace(const Expr* e) const {
    switch (e->kind) {
        case Expr::Name: return true;
        case Expr::Member:
        case Expr::Index: return isPlace(e->args[0]);
        default: return false;
    }
}

Value Lowerer::member(const Expr* e) {
    if (isPlace(e)) return read(place(e), e->loc);
    const ExprInfo& info = analysis_.of(e);
    const Access& a = analysis_.accesses[std::size_t(info.ref)];
    Value base = rvalue(e->args[0]);
    const TypeInfo& t = types_.info(base.type);
    switch (a.kind) {
        case Access::Field: {
            int regs = 0, units = 0;
            for (int m = 0; m < a.member; ++m) {
                regs += types_.registers(t.members[std::size_t(m)].type);
                units += types_.samplers(t.members[std::size_t(m)].type);
            }
            return slice(base, info.type, regs, units);
        }
        case Access::Swizzle: {
            int lanes[4];
            for (int c = 0; c < 4; ++c) lanes[c] = a.components[c < a.count ? c : a.count - 1];
            return scalarValue(info.type, Builder::swizzle(base.regs[0], lanes));
        }
        case Access::MatrixSwizzle: {
            Src lanes[4];
            for (int c = 0; c < a.count; ++c)
                lanes[c] = Builder::lane(base.regs[a.components[c] / 4], a.components[c] % 4);
            return scalarValue(info.type, a.count == 1 ? lanes[0] : b_.compose(lanes));
        }
    }
    return Value{};
}

Value Lowerer::index(const Expr* e) {
    if (isPlace(e)) return read(place(e), e->loc);
    const ExprInfo& info = analysis_.of(e);
    Value base = rvalue(e->args[0]);
    const TypeInfo t = types_.info(base.type);
    switch (t.kind) {
        case TypeKind::Array: {
            int k = constantIndex(e->args[1], t.length, base.type);
            return slice(base, t.element, k * types_.registers(t.element), k * types_.samplers(t.element));
        }
        case TypeKind::Vector:
            return scalarValue(info.type, Builder::lane(base.regs[0], constantIndex(e->args[1], t.cols, base.type)));
        default: {
            int k = constantIndex(e->args[1], t.rows, base.type);
            return scalarValue(info.type, base.regs[std::size_t(k)]);
        }
    }
}

int Lowerer::constantIndex(const Expr* index, int bound, TypeId of) {
    Src s = rvalue(index).regs[0];
    float k[4];
    // Inside a loop that may have broken off, the index matters only where it has not.
    if (!knownOnEveryPath(s, k))
        fail(index->loc, "array index must be a compile-time constant");
    if (!(k[0] >= 0 && k[0] < float(bound))) {
        // Shown as an int only where one holds it: converting -1e30 is undefined.
        char shown[32];
        if (std::fabs(k[0]) < 1e9f) std::snprintf(shown, sizeof shown, "%d", int(k[0]));
        else std::snprintf(shown, sizeof shown, "%.9g", double(k[0]));
        fail(index->loc, "index " + std::string(shown) + " is out of range for a " + quoted(types_.name(of)));
    }
    return int(k[0]);
}

Place Lowerer::place(const Expr* e) {
    const ExprInfo& info = analysis_.of(e);
    auto whole = [&](Place p) {
        // A scalar or vector is addressed by its lanes, anything else by registers.
        if (types_.isScalarOrVector(p.type)) {
            p.scattered = true;
            p.count = width(p.type);
            for (int c = 0; c < p.count; ++c) {
                p.reg[c] = p.first;
                p.lane[c] = c;
            }
        }
        return p;
    };
    switch (e->kind) {
        case Expr::Name: {
            Place p;
            p.slot = info.ref;
            p.type = info.type;
            return whole(p);
        }
        case Expr::Member: {
            Place p = place(e->args[0]);
            const Access& a = analysis_.accesses[std::size_t(info.ref)];
            Place q = p;
            q.type = info.type;
            if (a.kind == Access::Field) {
                const TypeInfo& t = types_.info(p.type);
                for (int m = 0; m < a.member; ++m) {
                    q.first += types_.registers(t.members[std::size_t(m)].type);
                    q.unit += types_.samplers(t.members[std::size_t(m)].type);
                }
                return whole(q);
            }
            q.scattered = true;
            q.count = a.count;
            for (int c = 0; c < a.count; ++c) {
                if (a.kind == Access::Swizzle) {
                    q.reg[c] = p.reg[a.components[c]];
                    q.lane[c] = p.lane[a.components[c]];
                } else {
                    q.reg[c] = p.first + a.components[c] / 4;
                    q.lane[c] = a.components[c] % 4;
                }
            }
            return q;
        }
        case Expr::Index: {
            Place p = place(e->args[0]);
            const TypeInfo t = types_.info(p.type);
            Place q = p;
            q.type = info.type;
            if (t.kind == TypeKind::Array) {
                int k = constantIndex(e->args[1], t.length, p.type);
                q.first += k * types_.registers(t.element);
                q.unit += k * types_.samplers(t.element);
                return whole(q);
            }
            if (t.kind == TypeKind::Vector) {
                int k = constantIndex(e->args[1], t.cols, p.type);
                q.count = 1;
                q.reg[0] = p.reg[k];
                q.lane[0] = p.lane[k];
                return q;
            }
            q.first += constantIndex(e->args[1], t.rows, p.type);
            q.scattered = false;
            return whole(q);
        }
        default: break;
    }
    return Place{};
}

// Inside a loop that may have broken off, a value that is constant where it
// has not (a counter) is that constant: elsewhere nothing it feeds is kept.
Src Lowerer::settled(const Src& s) {
    float k[4];
    if (assumed_.empty() || s.def == ir::kNone || b_.constantOf(s, k) || !knownUnderAssumptions(s, k)) return s;
    return b_.constant(k[0], k[1], k[2], k[3]);
}

Value Lowerer::read(const Place& p, const Loc& loc) {
    const Var& v = vars_[std::size_t(p.slot)];
    const VarState& st = states_[std::size_t(p.slot)];
    auto unassignedRead = [&]() { fail(loc, quoted(v.name) + " is used before it is assigned"); };
    // Written on some path but not on every one that runs here.
    auto maybeUnassigned = [&]() {
        if (!frames_.back().stopped) warn(loc, quoted(v.name) + " may be used before it is assigned");
    };
    if (p.scattered) {
        bool oneRegister = true, unset = false;
        for (int i = 0; i < p.count; ++i) {
            if (!(st.assigned[std::size_t(p.reg[i])] >> p.lane[i] & 1)) unassignedRead();
            unset = unset || (st.unset[std::size_t(p.reg[i])] >> p.lane[i] & 1);
            oneRegister = oneRegister && p.reg[i] == p.reg[0];
        }
        if (unset) maybeUnassigned();
        if (oneRegister) {
            int lanes[4];
            for (int c = 0; c < 4; ++c) lanes[c] = p.lane[c < p.count ? c : p.count - 1];
            return scalarValue(p.type, settled(Builder::swizzle(st.regs[std::size_t(p.reg[0])], lanes)));
        }
        Src lanes[4];
        for (int c = 0; c < p.count; ++c) lanes[c] = Builder::lane(st.regs[std::size_t(p.reg[c])], p.lane[c]);
        return scalarValue(p.type, b_.compose(lanes));
    }
    int regs = types_.registers(p.type), units = types_.samplers(p.type);
    bool unset = false;
    for (int r = p.first; r < p.first + regs; ++r) {
        if ((st.assigned[std::size_t(r)] & v.widths[std::size_t(r)]) != v.widths[std::size_t(r)]) unassignedRead();
        unset = unset || st.unset[std::size_t(r)] != 0;
    }
    if (unset) maybeUnassigned();
    for (int u = p.unit; u < p.unit + units; ++u)
        if (!st.unitsAssigned[std::size_t(u)]) unassignedRead();
    Value r;
    r.type = p.type;
    for (int i = p.first; i < p.first + regs; ++i) r.regs.push_back(settled(st.regs[std::size_t(i)]));
    r.units.assign(st.units.begin() + p.unit, st.units.begin() + p.unit + units);
    return r;
}

void Lowerer::write(const Place& p, const Value& value) {
    const Var& v = vars_[std::size_t(p.slot)];
    VarState next = states_[std::size_t(p.slot)];
    if (p.scattered) {
        Src val = value.regs[0];
        if (val.def == ir::kNone) return;
        for (int i = 0; i < p.count; ++i) {
            int reg = p.reg[i];
            bool first = true;
            for (int j = 0; j < i; ++j) first = first && p.reg[j] != reg;
            if (!first) continue;
            // The register's lanes: the written ones from the value, the rest as they were.
            Src lanes[4];
            const Src& old = next.regs[std::size_t(reg)];
            for (int c = 0; c < 4; ++c)
                if ((next.assigned[std::size_t(reg)] & v.widths[std::size_t(reg)]) >> c & 1) lanes[c] = old;
            for (int j = i; j < p.count; ++j) {
                if (p.reg[j] != reg) continue;
                lanes[p.lane[j]] = Builder::lane(val, j);
                next.assigned[std::size_t(reg)] |= std::uint8_t(1u << p.lane[j]);
                next.unset[std::size_t(reg)] &= std::uint8_t(~(1u << p.lane[j]));
            }
            next.regs[std::size_t(reg)] = b_.compose(lanes);
        }
    } else {
        for (std::size_t r = 0; r < value.regs.size(); ++r) {
            if (value.regs[r].def == ir::kNone) continue;
            next.regs[std::size_t(p.first) + r] = value.regs[r];
            next.assigned[std::size_t(p.first) + r] = v.widths[std::size_t(p.first) + r];
            next.unset[std::size_t(p.first) + r] = 0;
        }
        for (std::size_t u = 0; u < value.units.size(); ++u) {
            next.units[std::size_t(p.unit) + u] = value.units[u];
            next.unitsAssigned[std::size_t(p.unit) + u] = true;
        }
    }
    commit(p.slot, std::move(next));
}

}  // namespace cgc::lowering
