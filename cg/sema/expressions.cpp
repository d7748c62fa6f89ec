// The types of expressions, the conversions their uses apply, and the
// function or built-in each call runs.
#include "cg/sema/analyzer.h"

#include <algorithm>

namespace cgc::sema {

using ast::Expr;
using ast::Operator;

namespace {

bool bitwise(Operator op) {
    switch (op) {
        case Operator::BitAnd: case Operator::BitOr: case Operator::BitXor: case Operator::Shl: case Operator::Shr:
        case Operator::AndAssign: case Operator::OrAssign: case Operator::XorAssign: case Operator::ShlAssign:
        case Operator::ShrAssign: case Operator::BitNot: return true;
        default: return false;
    }
}

bool comparison(Operator op) {
    switch (op) {
        case Operator::Lt: case Operator::Le: case Operator::Gt: case Operator::Ge: case Operator::Eq:
        case Operator::Ne: return true;
        default: return false;
    }
}

// Lanes a swizzle picks: xyzw or rgba, never mixed; false when the name is
// no swizzle of a vector of n.
bool parseSwizzle(const std::string& name, int n, Access* a) {
    static const char* const sets[] = {"xyzw", "rgba"};
    if (name.empty() || name.size() > 4) return false;
    for (const char* set : sets) {
        std::string_view letters(set);
        bool ok = true;
        for (std::size_t i = 0; i < name.size() && ok; ++i) {
            std::size_t lane = letters.find(name[i]);
            ok = lane != std::string_view::npos && int(lane) < n;
            if (ok) a->components[i] = std::uint8_t(lane);
        }
        if (ok) {
            a->kind = Access::Swizzle;
            a->count = int(name.size());
            return true;
        }
    }
    return false;
}

// `_m01_m10` (from 0) or `_12_21` (from 1), up to four elements.
bool parseMatrixSwizzle(const std::string& name, int rows, int cols, Access* a) {
    std::size_t i = 0;
    int count = 0;
    while (i < name.size()) {
        if (name[i] != '_' || count == 4) return false;
        ++i;
        int base = 1;
        if (i < name.size() && name[i] == 'm') {
            base = 0;
            ++i;
        }
        if (i + 2 > name.size() || name[i] < '0' || name[i] > '9' || name[i + 1] < '0' || name[i + 1] > '9') return false;
        int r = name[i] - '0' - base, c = name[i + 1] - '0' - base;
        if (r < 0 || r >= rows || c < 0 || c >= cols) return false;
        a->components[count++] = std::uint8_t(r * 4 + c);
        i += 2;
    }
    a->kind = Access::MatrixSwizzle;
    a->count = count;
    return count > 0;
}

}  // namespace

TypeId Analyzer::expr(const Expr* e) {
    // The parser bounds the tree's height; this guards hand-built trees.
    if (++depth_ > kMaxDepth) fail(e->loc, "expression nests too deeply");
    TypeId t = exprByKind(e);
    --depth_;
    ExprInfo& i = info(e);
    i.type = i.converted = t;
    return t;
}

TypeId Analyzer::exprByKind(const Expr* e) {
    switch (e->kind) {
        case Expr::Literal: return literal(e);
        case Expr::Name: return name(e);
        case Expr::Unary: return unary(e);
        case Expr::Binary: return binary(e);
        case Expr::Assign: return assign(e);
        case Expr::Conditional: return conditional(e);
        case Expr::Call: return call(e);
        case Expr::Construct: {
            std::vector<TypeId> args;
            for (const Expr* a : e->args) args.push_back(expr(a));
            return construct(e, resolveType(e->type), args);
        }
        case Expr::Cast: return cast(e);
        case Expr::Member: return member(e);
        case Expr::Index: return index(e);
        case Expr::InitList: fail(e->loc, "initialiser lists are only allowed in declarations");
    }
    fail(e->loc, "unknown expression");
}

void Analyzer::cannotConvert(const Expr* e, TypeId to, const std::string& context) {
    fail(e->loc, "cannot convert " + typeName(info(e).type) + " to " + typeName(to) + (context.empty() ? "" : " " + context));
}

TypeId Analyzer::literal(const Expr* e) {
    switch (e->literal) {
        case Expr::IntLiteral: return types_.scalar(ScalarKind::Int);
        case Expr::HalfLiteral: return types_.scalar(ScalarKind::Half);
        case Expr::FixedLiteral: return types_.scalar(ScalarKind::Fixed);
        case Expr::BoolLiteral: return types_.scalar(ScalarKind::Bool);
        case Expr::FloatLiteral: break;
    }
    return types_.scalar(ScalarKind::Float);
}

TypeId Analyzer::name(const Expr* e) {
    const Entry* entry = lookup(e->name);
    if (!entry) {
        if (functionsByName_.count(e->name)) fail(e->loc, "function " + quoted(e->name) + " used as a value");
        std::string what = quoted(e->name) + " is not declared";
        std::string best = nearest(e->name, namesInScope(false));
        if (!best.empty()) what += "; did you mean " + quoted(best) + "?";
        fail(e->loc, what);
    }
    if (entry->isType) fail(e->loc, "type name " + quoted(e->name) + " used as a value");
    info(e).ref = entry->symbol;
    return out_.symbols[std::size_t(entry->symbol)].type;
}

void Analyzer::badOperands(const Expr* e, TypeId a, TypeId b) {
    fail(e->loc, std::string("invalid operands to '") + ast::spelling(e->op) + "': " + typeName(a) + " and " + typeName(b));
}

TypeId Analyzer::unary(const Expr* e) {
    if (bitwise(e->op))
        fail(e->loc, std::string("operator '") + ast::spelling(e->op) + "' is not available on this target");
    const Expr* a = e->args[0];
    TypeId t = expr(a);
    auto op = [e] { return std::string("'") + ast::spelling(e->op) + "'"; };
    if (!types_.isNumeric(t)) fail(e->loc, "operator " + op() + " needs a number, got " + typeName(t));
    ExprInfo& i = info(e);
    switch (e->op) {
        case Operator::Not: i.operand = types_.withScalar(t, ScalarKind::Bool); break;
        case Operator::Negate:
        case Operator::Plus: {
            ScalarKind k = kindOf(types_, t);
            i.operand = types_.withScalar(t, arithmeticKind(k, k));
            break;
        }
        default:  // ++ and --
            requireAssignable(a, [&] { return "operand of " + op(); });
            if (kindOf(types_, t) == ScalarKind::Bool) fail(e->loc, "operator " + op() + " needs a number, got " + typeName(t));
            i.operand = t;
            return t;
    }
    convertTo(a, i.operand);
    return i.operand;
}

TypeId Analyzer::numericOperands(const Expr* e, const Expr* a, const Expr* b, TypeId ta, TypeId tb) {
    if (!types_.isNumeric(ta) || !types_.isNumeric(tb)) badOperands(e, ta, tb);
    ScalarKind k = kindOf(types_, ta), kb = kindOf(types_, tb);
    ScalarKind kind = e->op == Operator::LogicalAnd || e->op == Operator::LogicalOr ? ScalarKind::Bool
                      : k == ScalarKind::Bool && kb == ScalarKind::Bool && comparison(e->op) ? ScalarKind::Bool
                                                                                              : arithmeticKind(k, kb);
    TypeId shape;
    if (!commonShape(types_, ta, tb, kind, &shape)) badOperands(e, ta, tb);
    if (a) convertTo(a, shape);
    convertTo(b, shape);
    return shape;
}

TypeId Analyzer::binary(const Expr* e) {
    if (bitwise(e->op))
        fail(e->loc, std::string("operator '") + ast::spelling(e->op) + "' is not available on this target");
    const Expr* a = e->args[0];
    const Expr* b = e->args[1];
    TypeId ta = expr(a), tb = expr(b);
    if (e->op == Operator::Comma) return tb;
    TypeId shape = numericOperands(e, a, b, ta, tb);
    info(e).operand = shape;
    if (comparison(e->op)) return types_.withScalar(shape, ScalarKind::Bool);
    return shape;
}

TypeId Analyzer::assign(const Expr* e) {
    if (bitwise(e->op))
        fail(e->loc, std::string("operator '") + ast::spelling(e->op) + "' is not available on this target");
    const Expr* lhs = e->args[0];
    const Expr* rhs = e->args[1];
    TypeId tl = expr(lhs);
    requireAssignable(lhs, [e] { return std::string("left side of '") + ast::spelling(e->op) + "'"; });
    TypeId tr = expr(rhs);
    ExprInfo& i = info(e);
    if (e->op == Operator::Assign) {
        convertTo(rhs, tl, "in assignment");
        i.operand = tl;
        return tl;
    }
    i.operand = numericOperands(e, nullptr, rhs, tl, tr);
    if (implicitFit(types_, i.operand, tl) == Fit::None)
        fail(e->loc, "cannot convert " + typeName(i.operand) + " to " + typeName(tl) + " in assignment");
    return tl;
}

TypeId Analyzer::conditional(const Expr* e) {
    const Expr* c = e->args[0];
    TypeId tc = expr(c);
    if (!types_.isScalarOrVector(tc)) fail(c->loc, "condition of '?:' must be a scalar or vector, got " + typeName(tc));
    TypeId ta = expr(e->args[1]), tb = expr(e->args[2]);
    if (!types_.isNumeric(ta) || !types_.isNumeric(tb)) {
        if (ta != tb) badOperands(e, ta, tb);
        if (!scalarLike(types_, tc)) fail(c->loc, "a " + typeName(ta) + " is chosen by a scalar condition, not " + typeName(tc));
        convertTo(c, types_.scalar(ScalarKind::Bool));
        return ta;
    }
    ScalarKind ka = kindOf(types_, ta), kb = kindOf(types_, tb);
    ScalarKind kind = ka == ScalarKind::Bool && kb == ScalarKind::Bool ? ScalarKind::Bool : arithmeticKind(ka, kb);
    TypeId shape;
    if (!commonShape(types_, ta, tb, kind, &shape)) badOperands(e, ta, tb);
    // A vector condition picks component by component: the result takes its shape.
    if (!scalarLike(types_, tc) && !commonShape(types_, shape, tc, kind, &shape)) badOperands(e, shape, tc);
    convertTo(e->args[1], shape);
    convertTo(e->args[2], shape);
    convertTo(c, scalarLike(types_, tc) ? types_.scalar(ScalarKind::Bool) : types_.withScalar(shape, ScalarKind::Bool));
    return shape;
}

std::string Analyzer::signatureText(const std::string& fn, const std::vector<TypeId>& args) const {
    std::string text = fn + "(";
    for (std::size_t i = 0; i < args.size(); ++i) text += (i ? ", " : "") + types_.name(args[i]);
    return quoted(text + ")");
}

TypeId Analyzer::call(const Expr* e) {
    std::vector<TypeId> args;
    for (const Expr* a : e->args) args.push_back(expr(a));
    const Entry* entry = lookup(e->name);
    if (entry && entry->isType) return construct(e, entry->type, args);
    auto user = functionsByName_.find(e->name);
    if (user != functionsByName_.end()) {
        TypeId result;
        if (userCall(e, user->second, args, &result)) return result;
    }
    if (const Builtin* builtin = findBuiltin(e->name)) {
        CallInfo call;
        call.builtin = builtin;
        std::string why;
        if (!builtin->signature(types_, args, &call.signature, &why)) fail(e->loc, quoted(e->name) + " " + why);
        for (std::size_t i = 0; i < args.size(); ++i) {
            bool out = i < call.signature.out.size() && call.signature.out[i];
            if (out) {
                requireAssignable(e->args[i], [&] { return "out argument " + std::to_string(i + 1) + " of " + quoted(e->name); });
                if (implicitFit(types_, call.signature.params[i], args[i]) == Fit::None)
                    fail(e->args[i]->loc, "cannot convert " + typeName(call.signature.params[i]) + " to " +
                                              typeName(args[i]) + " for out argument " + std::to_string(i + 1));
            }
            convertTo(e->args[i], call.signature.params[i]);
        }
        out_.calls.push_back(std::move(call));
        info(e).ref = int(out_.calls.size() - 1);
        return out_.calls.back().signature.result;
    }
    if (user != functionsByName_.end())
        fail(e->loc, "no matching function for call to " + signatureText(e->name, args));
    if (const char* reason = unsupportedBuiltin(e->name)) fail(e->loc, quoted(e->name) + ": " + reason);
    if (entry) fail(e->loc, quoted(e->name) + " is not a function");
    std::vector<std::string_view> names = builtinNames();
    for (const auto& [fn, overloads] : functionsByName_) names.push_back(fn);
    std::sort(names.begin(), names.end());
    std::string what = "unknown function " + quoted(e->name);
    std::string best = nearest(e->name, names);
    if (!best.empty()) what += "; did you mean " + quoted(best) + "?";
    fail(e->loc, what);
}

// Overloads: the one candidate that fits each argument at least as well as
// every other candidate does; exact matches therefore win over conversions.
bool Analyzer::userCall(const Expr* e, const std::vector<int>& candidates, const std::vector<TypeId>& args,
                        TypeId* result) {
    struct Viable {
        int function;
        std::vector<Fit> fits;
    };
    std::vector<Viable> viable;
    for (int c : candidates) {
        const FunctionInfo& f = out_.functions[std::size_t(c)];
        if (f.params.size() != args.size()) continue;
        Viable v{c, {}};
        for (std::size_t i = 0; i < args.size() && v.fits.size() == i; ++i) {
            Fit fit = f.in[i] ? implicitFit(types_, args[i], f.params[i]) : implicitFit(types_, f.params[i], args[i]);
            if (f.out[i] && implicitFit(types_, f.params[i], args[i]) == Fit::None) fit = Fit::None;
            if (fit != Fit::None) v.fits.push_back(fit);
        }
        if (v.fits.size() == args.size()) viable.push_back(std::move(v));
    }
    if (viable.empty()) return false;
    auto atLeastAsGood = [](const Viable& a, const Viable& b) {
        for (std::size_t i = 0; i < a.fits.size(); ++i)
            if (a.fits[i] > b.fits[i]) return false;
        return true;
    };
    const Viable* best = nullptr;
    for (const Viable& v : viable) {
        bool beatsAll = true;
        for (const Viable& o : viable) beatsAll = beatsAll && (&o == &v || atLeastAsGood(v, o));
        if (beatsAll && !best) best = &v;
    }
    if (!best || std::count_if(viable.begin(), viable.end(), [&](const Viable& o) { return atLeastAsGood(o, *best); }) > 1) {
        std::vector<const Viable*> tied;
        for (const Viable& v : viable) {
            bool beaten = false;
            for (const Viable& o : viable) beaten = beaten || (&o != &v && atLeastAsGood(o, v) && !atLeastAsGood(v, o));
            if (!beaten) tied.push_back(&v);
        }
        auto text = [&](const Viable* v) {
            return signatureText(e->name, out_.functions[std::size_t(v->function)].params);
        };
        fail(e->loc, "call to " + quoted(e->name) + " is ambiguous: " + text(tied[0]) + " and " +
                         text(tied.size() > 1 ? tied[1] : &viable[1]) + " fit equally well");
    }
    const FunctionInfo& f = out_.functions[std::size_t(best->function)];
    CallInfo call;
    call.function = best->function;
    call.signature.result = f.result;
    call.signature.params = f.params;
    call.signature.out = f.out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (f.out[i])
            requireAssignable(e->args[i], [&] { return "out argument " + std::to_string(i + 1) + " of " + quoted(e->name); });
        if (f.in[i]) convertTo(e->args[i], f.params[i]);
    }
    out_.calls.push_back(std::move(call));
    info(e).ref = int(out_.calls.size() - 1);
    callSites_.push_back({currentFunction_, best->function, e->loc});
    *result = f.result;
    return true;
}

TypeId Analyzer::construct(const Expr* e, TypeId type, const std::vector<TypeId>& args) {
    const TypeInfo t = types_.info(type);
    if (t.kind == TypeKind::Struct) {
        if (args.size() != t.members.size())
            fail(e->loc, typeName(type) + " takes " + std::to_string(t.members.size()) + " values, got " +
                             std::to_string(args.size()));
        for (std::size_t i = 0; i < args.size(); ++i) convertTo(e->args[i], t.members[i].type);
        return type;
    }
    if (!types_.isNumeric(type)) fail(e->loc, "a " + typeName(type) + " cannot be constructed");
    int components = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!types_.isNumeric(args[i]))
            fail(e->args[i]->loc, "a " + typeName(type) + " cannot be made from a " + typeName(args[i]));
        components += types_.components(args[i]);
        convertTo(e->args[i], types_.withScalar(args[i], t.scalar));
    }
    if (components != types_.components(type))
        fail(e->loc, typeName(type) + " needs " + std::to_string(types_.components(type)) + " components, got " +
                         std::to_string(components));
    return type;
}

TypeId Analyzer::cast(const Expr* e) {
    TypeId to = resolveType(e->type);
    TypeId from = expr(e->args[0]);
    if (!castable(types_, from, to)) fail(e->loc, "cannot cast " + typeName(from) + " to " + typeName(to));
    info(e->args[0]).converted = to;
    return to;
}

TypeId Analyzer::member(const Expr* e) {
    TypeId base = expr(e->args[0]);
    const TypeInfo& t = types_.info(base);
    Access a;
    TypeId result = 0;
    switch (t.kind) {
        case TypeKind::Struct: {
            std::vector<std::string_view> names;
            for (std::size_t m = 0; m < t.members.size(); ++m) {
                names.push_back(t.members[m].name);
                if (t.members[m].name == e->name) {
                    a.member = int(m);
                    result = t.members[m].type;
                }
            }
            if (!result) {
                std::string what = typeName(base) + " has no member " + quoted(e->name);
                std::string best = nearest(e->name, names);
                if (!best.empty()) what += "; did you mean " + quoted(best) + "?";
                fail(e->loc, what);
            }
            break;
        }
        case TypeKind::Scalar:
        case TypeKind::Vector:
            if (!parseSwizzle(e->name, t.kind == TypeKind::Scalar ? 1 : t.cols, &a))
                fail(e->loc, "invalid swizzle " + quoted(e->name) + " of a " + typeName(base));
            result = a.count == 1 ? types_.scalar(t.scalar) : types_.vector(t.scalar, a.count);
            break;
        case TypeKind::Matrix:
            if (!parseMatrixSwizzle(e->name, t.rows, t.cols, &a))
                fail(e->loc, "invalid matrix swizzle " + quoted(e->name) + " of a " + typeName(base));
            result = a.count == 1 ? types_.scalar(t.scalar) : types_.vector(t.scalar, a.count);
            break;
        default: fail(e->loc, "a " + typeName(base) + " has no member " + quoted(e->name));
    }
    out_.accesses.push_back(a);
    info(e).ref = int(out_.accesses.size() - 1);
    return result;
}

TypeId Analyzer::index(const Expr* e) {
    TypeId base = expr(e->args[0]);
    const Expr* i = e->args[1];
    TypeId ti = expr(i);
    if (!types_.isNumeric(ti) || !scalarLike(types_, ti)) fail(i->loc, "an index must be a scalar, got " + typeName(ti));
    convertTo(i, types_.scalar(ScalarKind::Int));
    const TypeInfo& t = types_.info(base);
    switch (t.kind) {
        case TypeKind::Array: return t.element;
        case TypeKind::Vector: return types_.scalar(t.scalar);
        case TypeKind::Matrix: return types_.vector(t.scalar, t.cols);
        default: fail(e->loc, "a " + typeName(base) + " cannot be indexed");
    }
}

bool Analyzer::assignable(const Expr* e, std::string* why) const {
    switch (e->kind) {
        case Expr::Name: {
            const Symbol& s = out_.symbols[std::size_t(out_.exprs[e->id].ref)];
            if (s.isConst) *why = quoted(s.name) + " is const";
            return !s.isConst;
        }
        case Expr::Member: {
            const Access& a = out_.accesses[std::size_t(out_.exprs[e->id].ref)];
            if (a.kind != Access::Field)
                for (int i = 0; i < a.count; ++i)
                    for (int j = 0; j < i; ++j)
                        if (a.components[i] == a.components[j]) {
                            *why = "swizzle " + quoted(e->name) + " repeats a component";
                            return false;
                        }
            return assignable(e->args[0], why);
        }
        case Expr::Index: return assignable(e->args[0], why);
        default: return false;
    }
}


}  // namespace cgc::sema
