#include "cg/checker.h"

#include "cg/lexer.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace cgc {

namespace {

struct Builtin {
    const char* name;
    int arity;
    enum Shape { Texture, Componentwise, Dot } shape;
    Type::Base sampler;  // Texture only
};

// One texture unit per sampler. Drivers reject a program that names a unit
// past their count (Mesa's llvmpipe has 32), and 16 is what every GL 3 offers.
const int kMaxSamplers = 16;
// One program.local slot per uniform; Mesa takes 2048.
const int kMaxUniforms = 256;

const Builtin kBuiltins[] = {
    {"texRECT", 2, Builtin::Texture, Type::SamplerRect},
    {"f4texRECT", 2, Builtin::Texture, Type::SamplerRect},
    {"tex2D", 2, Builtin::Texture, Type::Sampler2D},
    {"f4tex2D", 2, Builtin::Texture, Type::Sampler2D},
    {"min", 2, Builtin::Componentwise, Type::Void},
    {"max", 2, Builtin::Componentwise, Type::Void},
    {"clamp", 3, Builtin::Componentwise, Type::Void},
    {"saturate", 1, Builtin::Componentwise, Type::Void},
    {"abs", 1, Builtin::Componentwise, Type::Void},
    {"lerp", 3, Builtin::Componentwise, Type::Void},
    {"dot", 2, Builtin::Dot, Type::Void},
    {"floor", 1, Builtin::Componentwise, Type::Void},
    {"frac", 1, Builtin::Componentwise, Type::Void},
};

std::string upper(std::string s) {
    for (char& c : s) c = char(std::toupper((unsigned char)c));
    return s;
}

// Component numbers of a swizzle or write mask, or false when the letters
// are not all from xyzw or all from rgba.
bool components(const std::string& text, int* select) {
    if (text.empty() || text.size() > 4) return false;
    const char* sets[] = {"xyzw", "rgba"};
    for (const char* set : sets) {
        bool ok = true;
        for (std::size_t i = 0; i < text.size() && ok; ++i) {
            const char* p = std::strchr(set, text[i]);
            ok = p && *p;
            if (ok) select[i] = int(p - set);
        }
        if (ok) return true;
    }
    return false;
}

float component(const Expr& e, int i) { return e.value[e.type.width == 1 ? 0 : i]; }

class Checker {
public:
    Checker(Program& program, const std::string& name) : prog_(program), name_(name) {}

    Checked run() {
        scopes_.emplace_back();
        for (GlobalConst& g : prog_.globals) global(g);
        scopes_.emplace_back();
        for (Param& p : prog_.params) parameter(p);
        returnsValue_ = prog_.returnType.base != Type::Void;
        if (returnsValue_) {
            if (!prog_.returnType.isFloat()) error(prog_.mainLoc, "'main' must return a float type");
            if (prog_.returnSemantic.empty())
                error(prog_.mainLoc, "'main' returns a value but has no ': COLOR' semantic");
            if (!isColorOutput(prog_.returnSemantic))
                error(prog_.returnSemanticLoc, "'main' can only return to COLOR, not '" + prog_.returnSemantic + "'");
            if (out_.output) error(out_.output->loc, "'main' both returns a colour and has output '" + out_.output->name + "'");
        } else {
            if (!prog_.returnSemantic.empty())
                error(prog_.returnSemanticLoc, "a 'void' main takes no semantic");
            if (!out_.output) error(prog_.mainLoc, "'main' has no COLOR output");
        }
        statement(*prog_.body);
        if (returnsValue_ && !returned_) error(prog_.mainLoc, "'main' must return a value");
        if (out_.output && !out_.output->written)
            error(out_.output->loc, "output '" + out_.output->name + "' is never written");
        return std::move(out_);
    }

private:
    [[noreturn]] void error(const Loc& at, const std::string& what) { fail(name_, at.line, at.col, what); }

    static bool isColorOutput(const std::string& semantic) {
        std::string s = upper(semantic);
        return s == "COLOR" || s == "COLOR0";
    }

    Symbol* declare(Symbol::Kind kind, const std::string& name, const Type& type, const Loc& loc) {
        for (Symbol* s : scopes_.back())
            if (s->name == name)
                error(loc, "'" + name + "' is already declared at line " + std::to_string(s->loc.line));
        auto sym = std::make_unique<Symbol>();
        sym->kind = kind;
        sym->name = name;
        sym->type = type;
        sym->loc = loc;
        Symbol* raw = sym.get();
        out_.symbols.push_back(std::move(sym));
        scopes_.back().push_back(raw);
        return raw;
    }

    Symbol* lookup(const std::string& name) {
        for (auto scope = scopes_.rbegin(); scope != scopes_.rend(); ++scope)
            for (auto s = scope->rbegin(); s != scope->rend(); ++s)
                if ((*s)->name == name) return *s;
        return nullptr;
    }

    void global(GlobalConst& g) {
        expr(*g.init);
        convert(*g.init, g.type, "'" + g.name + "'");
        if (!g.init->isConst) error(g.init->loc, "initialiser of '" + g.name + "' is not constant");
        Symbol* s = declare(Symbol::Constant, g.name, g.type, g.loc);
        s->readOnly = true;
        setValue(*s, *g.init);
        g.symbol = s;
    }

    void setValue(Symbol& s, const Expr& init) {
        s.hasValue = true;
        for (int i = 0; i < 4; ++i) s.value[i] = component(init, std::min(i, init.type.width - 1));
    }

    void parameter(Param& p) {
        if (p.qualifier == Param::Uniform) {
            if (!p.semantic.empty()) error(p.semanticLoc, "uniform '" + p.name + "' takes no semantic");
            bool sampler = p.type.isSampler();
            if (sampler && samplers_ == kMaxSamplers)
                error(p.loc, "too many samplers ('" + p.name + "'): at most " + std::to_string(kMaxSamplers));
            if (!sampler && locals_ == kMaxUniforms)
                error(p.loc, "too many uniforms ('" + p.name + "'): at most " + std::to_string(kMaxUniforms));
            Symbol* s = declare(sampler ? Symbol::Sampler : Symbol::Uniform, p.name, p.type, p.loc);
            s->readOnly = true;
            s->slot = sampler ? samplers_++ : locals_++;
            out_.parameters.push_back(s);
            p.symbol = s;
            return;
        }
        if (p.type.isSampler()) error(p.loc, "sampler '" + p.name + "' must be 'uniform'");
        if (p.semantic.empty())
            error(p.loc, std::string(p.qualifier == Param::Out ? "output" : "input") + " '" + p.name + "' needs a semantic");
        std::string sem = upper(p.semantic);
        if (p.qualifier == Param::Out) {
            if (!isColorOutput(sem)) error(p.semanticLoc, "output semantic '" + p.semantic + "' is not supported");
            if (out_.output) error(p.loc, "'" + p.name + "' writes COLOR, which '" + out_.output->name + "' already writes");
            Symbol* s = declare(Symbol::Output, p.name, p.type, p.loc);
            out_.output = s;
            p.symbol = s;
            return;
        }
        std::string input;
        if (sem == "TEXCOORD") input = "fragment.texcoord[0]";
        else if (sem.size() == 9 && sem.compare(0, 8, "TEXCOORD") == 0 && sem[8] >= '0' && sem[8] <= '7')
            input = "fragment.texcoord[" + sem.substr(8) + "]";
        else if (sem == "COLOR" || sem == "COLOR0") input = "fragment.color";
        else if (sem == "COLOR1") input = "fragment.color.secondary";
        else error(p.semanticLoc, "input semantic '" + p.semantic + "' is not supported");
        Symbol* s = declare(Symbol::Input, p.name, p.type, p.loc);
        s->readOnly = true;
        s->input = input;
        p.symbol = s;
    }

    void statement(Stmt& s) {
        switch (s.kind) {
            case Stmt::Empty: return;
            case Stmt::Block:
                scopes_.emplace_back();
                for (auto& inner : s.body) statement(*inner);
                scopes_.pop_back();
                return;
            case Stmt::Decl:
                if (!s.type.isFloat()) error(s.loc, "samplers can only be uniform parameters of 'main'");
                for (Declarator& d : s.decls) {
                    if (d.init) {
                        expr(*d.init);
                        convert(*d.init, s.type, "'" + d.name + "'");
                    } else if (s.isConst) {
                        error(d.loc, "constant '" + d.name + "' needs an initial value");
                    }
                    Symbol* sym = declare(Symbol::Local, d.name, s.type, d.loc);
                    sym->readOnly = s.isConst;
                    if (s.isConst && d.init->isConst) setValue(*sym, *d.init);
                    d.symbol = sym;
                }
                return;
            case Stmt::Return:
                if (returnsValue_ && !s.value) error(s.loc, "'main' must return a value");
                if (!returnsValue_ && s.value) error(s.value->loc, "a 'void' main returns no value");
                if (s.value) {
                    expr(*s.value);
                    convert(*s.value, prog_.returnType, "the return value");
                }
                returned_ = true;
                return;
            case Stmt::Assign:
                assignment(s);
                return;
        }
    }

    void assignment(Stmt& s) {
        Expr* target = s.target.get();
        Expr* name = target->kind == Expr::Swizzle ? target->args[0].get() : target;
        if (name->kind != Expr::Name) error(target->loc, "cannot assign to this expression");
        expr(*target);
        Symbol* sym = name->symbol;
        if (sym->readOnly) {
            const char* what = sym->kind == Symbol::Uniform || sym->kind == Symbol::Sampler ? "uniform"
                               : sym->kind == Symbol::Input ? "input" : "constant";
            error(target->loc, std::string("cannot assign to ") + what + " '" + sym->name + "'");
        }
        if (target->kind == Expr::Swizzle) {
            int n = target->type.width;
            for (int i = 0; i < n; ++i)
                for (int j = 0; j < i; ++j)
                    if (target->select[i] == target->select[j])
                        error(target->loc, "write mask '." + target->name + "' repeats a component");
        }
        expr(*s.value);
        if (s.op == '=') {
            convert(*s.value, target->type, "'" + sym->name + "'");
        } else {
            const Type& v = s.value->type;
            if (!v.isFloat() || (v.width != 1 && v.width != target->type.width))
                error(s.value->loc, "cannot apply '" + std::string(1, char(s.op)) + "=' to '" +
                                        typeName(target->type) + "' and '" + typeName(v) + "'");
            if (s.op == '/' && s.value->isConst)
                for (int i = 0; i < v.width; ++i)
                    if (s.value->value[i] == 0) error(s.value->loc, "division by zero");
            if (s.op == '/' && s.value->isConst) reciprocalFits(*s.value, s.value->loc);
        }
        sym->written = true;
    }

    // An initial value or assigned value: the same type, or a scalar that fills it.
    void convert(Expr& e, const Type& to, const std::string& what) {
        if (e.type == to || (e.type.isFloat() && e.type.width == 1 && to.isFloat())) return;
        error(e.loc, "cannot convert '" + typeName(e.type) + "' to '" + typeName(to) + "' for " + what);
    }

    void requireFloat(const Expr& e) {
        if (e.type.isFloat()) return;
        if (e.type.isSampler())
            error(e.loc, "sampler '" + e.name + "' can only be passed to a texture lookup");
        error(e.loc, "a value is expected here");
    }

    void finish(Expr& e) {
        for (int i = 0; i < e.type.width; ++i)
            if (!std::isfinite(e.value[i])) error(e.loc, "constant expression overflows");
    }

    // Division by a constant becomes a product with its reciprocal, folded
    // here: the reciprocal of a number near zero is no finite float.
    void reciprocalFits(const Expr& divisor, const Loc& at) {
        for (int i = 0; i < divisor.type.width; ++i)
            if (!std::isfinite(1.0f / divisor.value[i]))
                error(at, "division by a constant too close to zero");
    }

    bool allConst(const Expr& e) {
        for (const auto& a : e.args)
            if (!a->isConst) return false;
        return true;
    }

    void expr(Expr& e) {
        switch (e.kind) {
            case Expr::Number:
                e.type = floatType(1);
                e.isConst = true;
                e.value[0] = float(e.number);
                finish(e);
                return;
            case Expr::Name: {
                Symbol* s = lookup(e.name);
                if (!s) error(e.loc, "'" + e.name + "' is not declared");
                e.symbol = s;
                e.type = s->type;
                if (s->hasValue) {
                    e.isConst = true;
                    std::copy(s->value, s->value + 4, e.value);
                }
                return;
            }
            case Expr::Unary: {
                Expr& a = *e.args[0];
                expr(a);
                requireFloat(a);
                e.type = a.type;
                if ((e.isConst = a.isConst))
                    for (int i = 0; i < 4; ++i) e.value[i] = e.op == '-' ? -a.value[i] : a.value[i];
                return;
            }
            case Expr::Binary: binary(e); return;
            case Expr::Swizzle: swizzle(e); return;
            case Expr::Call: call(e); return;
            case Expr::Construct: construct(e); return;
            case Expr::Cast: cast(e); return;
        }
    }

    void binary(Expr& e) {
        Expr& a = *e.args[0];
        Expr& b = *e.args[1];
        expr(a);
        expr(b);
        requireFloat(a);
        requireFloat(b);
        int wa = a.type.width, wb = b.type.width;
        if (wa != wb && wa != 1 && wb != 1)
            error(e.loc, "operands of '" + std::string(1, char(e.op)) + "' have types '" + typeName(a.type) +
                             "' and '" + typeName(b.type) + "'");
        e.type = floatType(std::max(wa, wb));
        if (e.op == '/' && b.isConst)
            for (int i = 0; i < wb; ++i)
                if (b.value[i] == 0) error(e.loc, "division by zero");
        if (!(e.isConst = a.isConst && b.isConst)) {
            if (e.op == '/' && b.isConst) reciprocalFits(b, e.loc);
            return;
        }
        for (int i = 0; i < e.type.width; ++i) {
            float x = component(a, i), y = component(b, i);
            e.value[i] = e.op == '+' ? x + y : e.op == '-' ? x - y : e.op == '*' ? x * y : x / y;
        }
        finish(e);
    }

    void swizzle(Expr& e) {
        Expr& a = *e.args[0];
        expr(a);
        requireFloat(a);
        if (!components(e.name, e.select)) error(e.loc, "invalid swizzle '." + e.name + "'");
        int n = int(e.name.size());
        for (int i = 0; i < n; ++i)
            if (e.select[i] >= a.type.width)
                error(e.loc, "swizzle '." + e.name + "' is out of range for '" + typeName(a.type) + "'");
        e.type = floatType(n);
        if ((e.isConst = a.isConst))
            for (int i = 0; i < n; ++i) e.value[i] = a.value[e.select[i]];
    }

    void construct(Expr& e) {
        int total = 0;
        for (auto& a : e.args) {
            expr(*a);
            requireFloat(*a);
            total += a->type.width;
        }
        if (total != e.target.width)
            error(e.loc, "'" + typeName(e.target) + "' needs " + std::to_string(e.target.width) +
                             " components, got " + std::to_string(total));
        e.type = e.target;
        if (!(e.isConst = allConst(e))) return;
        int k = 0;
        for (auto& a : e.args)
            for (int i = 0; i < a->type.width; ++i) e.value[k++] = a->value[i];
    }

    void cast(Expr& e) {
        Expr& a = *e.args[0];
        expr(a);
        requireFloat(a);
        if (a.type.width != 1 && a.type.width < e.target.width)
            error(e.loc, "cannot cast '" + typeName(a.type) + "' to '" + typeName(e.target) + "'");
        e.type = e.target;
        if ((e.isConst = a.isConst))
            for (int i = 0; i < 4; ++i) e.value[i] = component(a, std::min(i, std::max(a.type.width - 1, 0)));
    }

    void call(Expr& e) {
        const Builtin* b = nullptr;
        for (const Builtin& candidate : kBuiltins)
            if (e.name == candidate.name) b = &candidate;
        if (!b) {
            if (lookup(e.name)) error(e.loc, "'" + e.name + "' is not a function");
            error(e.loc, "'" + e.name + "' is not a built-in function (user functions are not supported)");
        }
        if (int(e.args.size()) != b->arity)
            error(e.loc, "'" + e.name + "' takes " + std::to_string(b->arity) + " argument" +
                             (b->arity == 1 ? "" : "s") + ", got " + std::to_string(e.args.size()));
        if (b->shape == Builtin::Texture) {
            Expr& s = *e.args[0];
            Type want{b->sampler, 1};
            if (s.kind != Expr::Name) error(s.loc, "'" + e.name + "' needs a " + typeName(want) + " parameter");
            expr(s);
            if (s.type != want)
                error(s.loc, "'" + e.name + "' needs a " + typeName(want) + ", '" + s.name + "' is " + typeName(s.type));
            Expr& coord = *e.args[1];
            expr(coord);
            requireFloat(coord);
            if (coord.type.width != 2)
                error(coord.loc, "'" + e.name + "' needs float2 coordinates, got '" + typeName(coord.type) + "'");
            e.type = floatType(4);
            return;
        }
        int width = 1;
        for (auto& a : e.args) {
            expr(*a);
            requireFloat(*a);
            width = std::max(width, a->type.width);
        }
        if (b->shape == Builtin::Dot) {
            if (e.args[0]->type != e.args[1]->type)
                error(e.loc, "'dot' needs two vectors of one type, got '" + typeName(e.args[0]->type) +
                                 "' and '" + typeName(e.args[1]->type) + "'");
            e.type = floatType(1);
        } else {
            for (auto& a : e.args)
                if (a->type.width != 1 && a->type.width != width)
                    error(a->loc, "arguments of '" + e.name + "' have different sizes");
            e.type = floatType(width);
        }
        if (!(e.isConst = allConst(e))) return;
        fold(e);
        finish(e);
    }

    static void fold(Expr& e) {
        const std::string& f = e.name;
        auto arg = [&](int a, int i) { return component(*e.args[std::size_t(a)], i); };
        if (f == "dot") {
            float sum = 0;
            for (int i = 0; i < e.args[0]->type.width; ++i) sum += arg(0, i) * arg(1, i);
            e.value[0] = sum;
            return;
        }
        for (int i = 0; i < e.type.width; ++i) {
            float x = arg(0, i);
            float& r = e.value[i];
            if (f == "min") r = std::min(x, arg(1, i));
            else if (f == "max") r = std::max(x, arg(1, i));
            else if (f == "clamp") r = std::min(std::max(x, arg(1, i)), arg(2, i));
            else if (f == "saturate") r = std::min(std::max(x, 0.0f), 1.0f);
            else if (f == "abs") r = std::fabs(x);
            else if (f == "lerp") r = x + arg(2, i) * (arg(1, i) - x);
            else if (f == "floor") r = std::floor(x);
            else if (f == "frac") r = x - std::floor(x);
        }
    }

    Program& prog_;
    const std::string& name_;
    Checked out_;
    std::vector<std::vector<Symbol*>> scopes_;
    int samplers_ = 0, locals_ = 0;
    bool returnsValue_ = false;
    bool returned_ = false;
};

}  // namespace

Checked check(Program& program, const std::string& sourceName) { return Checker(program, sourceName).run(); }

}  // namespace cgc
