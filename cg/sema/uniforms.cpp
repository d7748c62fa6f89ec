// Uniforms as the runtime sees them: parameters with their registers and
// texture units, and the initial values it loads with the program. An
// initial value must be known when compiling: literals, arithmetic,
// constructors, casts, initialiser lists and const globals.
#include "cg/sema/analyzer.h"

#include <cmath>

namespace cgc::sema {

namespace {

[[noreturn]] void notConstant(const ast::Expr* e, const std::string& name) {
    fail(e->loc, "the initial value of uniform " + quoted(name) +
                     " must be known when compiling: literals, arithmetic, constructors and const values");
}

double convertScalar(double v, ScalarKind to) {
    if (to == ScalarKind::Int) return std::trunc(v);
    if (to == ScalarKind::Bool) return v != 0 ? 1 : 0;
    return v;
}

}  // namespace

void Analyzer::addUniform(int symbol) {
    Symbol& s = out_.symbols[std::size_t(symbol)];
    s.slot = nextSlot_;
    s.unit = nextUnit_;
    std::vector<double> values;
    if (s.declarator && s.declarator->init) {
        if (types_.samplers(s.type) > 0)
            fail(s.declarator->init->loc, "sampler " + quoted(s.name) + " cannot have an initial value");
        initialComponents(s.declarator->init, s.type, s.name, &values, 0);
    }
    std::size_t at = 0;
    uniformLeaves(s.name, s.type, s.loc, values.empty() ? nullptr : &values, &at);
}

// The scalars of a constant of `type`, in register order: array elements and
// struct members in turn, a matrix row by row.
void Analyzer::initialComponents(const ast::Expr* e, TypeId type, const std::string& name, std::vector<double>* out,
                                 int depth) const {
    if (depth > kMaxDepth) fail(e->loc, "initial value of " + quoted(name) + " is nested too deeply");
    if (e->kind != ast::Expr::InitList) {
        constantValue(e, name, out, depth + 1);
        return;
    }
    const TypeInfo& t = types_.info(type);
    for (std::size_t i = 0; i < e->args.size(); ++i) {
        const ast::Expr* arg = e->args[i];
        TypeId part = type;
        if (t.kind == TypeKind::Array) part = t.element;
        else if (t.kind == TypeKind::Struct) part = t.members[i].type;
        else if (arg->kind == ast::Expr::InitList) part = types_.vector(t.scalar, t.cols);
        else part = out_.of(arg).converted;
        initialComponents(arg, part, name, out, depth + 1);
    }
}

// The value of a constant expression after its use's conversion.
void Analyzer::constantValue(const ast::Expr* e, const std::string& name, std::vector<double>* out, int depth) const {
    if (depth > kMaxDepth) fail(e->loc, "initial value of " + quoted(name) + " is nested too deeply");
    const ExprInfo& i = out_.of(e);
    const TypeInfo& own = types_.info(i.type);
    std::vector<double> v;
    auto operand = [&](const ast::Expr* a) {
        std::vector<double> x;
        constantValue(a, name, &x, depth + 1);
        return x;
    };
    switch (e->kind) {
        case ast::Expr::Literal: v.push_back(e->number); break;
        case ast::Expr::Name: {
            if (i.ref < 0) notConstant(e, name);
            const Symbol& s = out_.symbols[std::size_t(i.ref)];
            if (s.kind != Symbol::Static || !s.isConst || !s.declarator || !s.declarator->init) notConstant(e, name);
            initialComponents(s.declarator->init, s.type, name, &v, depth + 1);
            break;
        }
        case ast::Expr::Unary:
            if (e->op != ast::Operator::Negate && e->op != ast::Operator::Plus) notConstant(e, name);
            v = operand(e->args[0]);
            if (e->op == ast::Operator::Negate)
                for (double& x : v) x = -x;
            break;
        case ast::Expr::Binary: {
            const std::vector<double> a = operand(e->args[0]), b = operand(e->args[1]);
            const bool integral = types_.info(i.operand ? i.operand : i.type).scalar == ScalarKind::Int;
            const std::size_t n = std::max(a.size(), b.size());
            for (std::size_t k = 0; k < n; ++k) {
                const double x = a[a.size() == 1 ? 0 : k], y = b[b.size() == 1 ? 0 : k];
                switch (e->op) {
                    case ast::Operator::Add: v.push_back(x + y); break;
                    case ast::Operator::Sub: v.push_back(x - y); break;
                    case ast::Operator::Mul: v.push_back(x * y); break;
                    case ast::Operator::Div:
                        if (integral && y == 0) fail(e->loc, "division by zero in the initial value of " + quoted(name));
                        v.push_back(integral ? std::trunc(x / y) : x / y);
                        break;
                    default: notConstant(e, name);
                }
            }
            break;
        }
        case ast::Expr::Construct:
            if (i.ref >= 0 || own.kind == TypeKind::Struct) notConstant(e, name);  // a call, or a struct
            for (const ast::Expr* a : e->args) {
                std::vector<double> x = operand(a);
                v.insert(v.end(), x.begin(), x.end());
            }
            break;
        case ast::Expr::Cast: v = operand(e->args[0]); break;
        case ast::Expr::Member: {
            if (i.ref < 0) notConstant(e, name);
            const Access& a = out_.accesses[std::size_t(i.ref)];
            if (a.kind == Access::Field) notConstant(e, name);
            const std::vector<double> whole = operand(e->args[0]);
            const int cols = types_.info(out_.of(e->args[0]).type).cols;
            for (int k = 0; k < a.count; ++k) {
                const int c = a.components[k];
                const std::size_t at = std::size_t(a.kind == Access::Swizzle ? c : c / 4 * cols + c % 4);
                v.push_back(at < whole.size() ? whole[at] : whole[0]);
            }
            break;
        }
        default: notConstant(e, name);
    }
    // To the expression's own type, then to the type its use wants: a scalar
    // spreads, a longer vector is cut, int truncates and bool is 0 or 1.
    for (TypeId to : {i.type, i.converted ? i.converted : i.type}) {
        if (!types_.isNumeric(to)) notConstant(e, name);
        const std::size_t n = std::size_t(types_.components(to));
        if (v.size() == 1 && n > 1) v.assign(n, v[0]);
        if (v.size() > n) v.resize(n);
        if (v.size() != n) notConstant(e, name);
        for (double& x : v) x = convertScalar(x, types_.info(to).scalar);
    }
    out->insert(out->end(), v.begin(), v.end());
}

// Parameters as the runtime finds them by name: numbers by whole variable
// (a matrix or array of numbers is one parameter of several registers),
// structs and arrays of anything else by their leaves. `values`, when given,
// holds the whole uniform's initial scalars; *at is where this part's begin.
void Analyzer::uniformLeaves(const std::string& name, TypeId type, const Loc& loc, const std::vector<double>* values,
                             std::size_t* at) {
    const TypeInfo& info = types_.info(type);
    TypeId element = type;
    while (types_.kind(element) == TypeKind::Array) element = types_.info(element).element;
    if (info.kind == TypeKind::Sampler) {
        if (nextUnit_ >= options_.limits.textureUnits)
            fail(loc, "too many samplers (" + quoted(name) + "): at most " + std::to_string(options_.limits.textureUnits));
        ParameterInfo p;
        p.name = name;
        p.typeName = types_.name(type);
        p.kind = ParameterInfo::Sampler;
        p.target = int(info.sampler);  // SamplerKind and ir::TexTarget share their order
        p.slot = nextUnit_++;
        out_.parameters.push_back(p);
        return;
    }
    if (types_.isNumeric(element)) {
        int registers = types_.registers(type);
        if (nextSlot_ + registers > options_.limits.localParameters)
            fail(loc, "too many uniforms (" + quoted(name) + "): at most " +
                          std::to_string(options_.limits.localParameters));
        ParameterInfo p;
        p.name = name;
        p.typeName = types_.name(type);
        p.components = types_.kind(element) == TypeKind::Scalar ? 1 : types_.info(element).cols;
        p.slot = nextSlot_;
        p.slots = registers;
        if (values) {
            p.initial.assign(4 * std::size_t(registers), 0.0f);
            for (int r = 0; r < registers; ++r)
                for (int c = 0; c < p.components && *at < values->size(); ++c)
                    p.initial[std::size_t(4 * r + c)] = float((*values)[(*at)++]);
        }
        nextSlot_ += registers;
        out_.parameters.push_back(p);
        return;
    }
    if (info.kind == TypeKind::Array) {
        for (int i = 0; i < info.length; ++i)
            uniformLeaves(name + "[" + std::to_string(i) + "]", info.element, loc, values, at);
    } else if (info.kind == TypeKind::Struct) {
        for (const StructMember& m : info.members) uniformLeaves(name + "." + m.name, m.type, loc, values, at);
    }
}

}  // namespace cgc::sema
