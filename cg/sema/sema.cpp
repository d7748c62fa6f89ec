#include "cg/sema/sema.h"

#include "cg/sema/analyzer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace cgc {

namespace {

// No declared value may take more registers than this: past it a program
// could never fit the target, and lowering would only spend memory on it.
constexpr int kMaxRegisters = 4096;

}  // namespace

namespace sema {

Analyzer::Analyzer(const ast::Tree& tree, TypeTable& types, const Options& options)
    : tree_(tree), types_(types), options_(options) {}

const Analyzer::Entry* Analyzer::lookup(const std::string& name) const {
    for (auto scope = scopes_.rbegin(); scope != scopes_.rend(); ++scope) {
        auto it = scope->find(name);
        if (it != scope->end()) return &it->second;
    }
    return nullptr;
}

void Analyzer::declareName(const std::string& name, const Entry& entry, const Loc& loc) {
    if (name.empty()) return;
    if (!scopes_.back().emplace(name, entry).second) fail(loc, "redefinition of " + quoted(name));
}

std::vector<std::string_view> Analyzer::namesInScope(bool types) const {
    std::vector<std::string_view> names;
    for (const auto& scope : scopes_)
        for (const auto& [name, entry] : scope)
            if (entry.isType == types) names.push_back(name);
    std::sort(names.begin(), names.end());  // the same suggestion whatever the hash order
    return names;
}

int Analyzer::addSymbol(Symbol s) {
    out_.symbols.push_back(std::move(s));
    return int(out_.symbols.size() - 1);
}

Analysis Analyzer::run() {
    out_.exprs.resize(tree_.exprCount());
    pushScope();
    for (const ast::TopLevel& item : tree_.items) topLevel(item);
    auto found = functionsByName_.find(options_.entry);
    if (found != functionsByName_.end())
        for (int f : found->second)
            if (out_.functions[std::size_t(f)].definition) {
                out_.entry = f;
                break;
            }
    if (out_.entry < 0) fail(tree_.end, "no " + quoted(options_.entry) + " function");
    checkRecursion();
    entryInterface();
    return std::move(out_);
}

// ---- types ----

TypeId Analyzer::resolveType(const ast::TypeSpec& written) {
    if (written.structDef) return structType(*written.structDef);
    auto cached = builtinTypes_.find(written.name);
    if (cached != builtinTypes_.end()) return cached->second;
    TypeId t;
    if (types_.builtinType(written.name, &t)) return builtinTypes_[written.name] = t;
    const Entry* e = lookup(written.name);
    if (e && e->isType) return e->type;
    std::string what = "unknown type " + quoted(written.name);
    std::string best = nearest(written.name, namesInScope(true));
    if (!best.empty()) what += "; did you mean " + quoted(best) + "?";
    fail(written.loc, what);
}

TypeId Analyzer::structType(const ast::StructDef& def) {
    auto known = structs_.find(def.id);
    if (known != structs_.end()) return known->second;
    std::vector<StructMember> members;
    for (const ast::StructDef::Member& m : def.members) {
        for (const StructMember& other : members)
            if (other.name == m.declarator.name) fail(m.declarator.loc, "duplicate member " + quoted(other.name));
        TypeId t = declaredType(resolveType(m.type), m.declarator, nullptr);
        if (t == types_.voidType()) fail(m.declarator.loc, "member " + quoted(m.declarator.name) + " cannot be void");
        members.push_back({m.declarator.name, t, m.declarator.semantic.name, m.declarator.loc});
    }
    TypeId t = types_.newStruct(def.name, std::move(members), def.loc);
    structs_[def.id] = t;
    if (!def.name.empty()) declareName(def.name, Entry{true, -1, t}, def.loc);
    return t;
}

TypeId Analyzer::declaredType(TypeId base, const ast::Declarator& d, const ast::Expr* init) {
    TypeId t = base;
    for (std::size_t k = d.arraySizes.size(); k-- > 0;) {
        int size;
        if (d.arraySizes[k]) {
            size = arraySize(d.arraySizes[k]);
        } else if (k == 0 && init && init->kind == ast::Expr::InitList) {
            size = int(init->args.size());
            if (size == 0) fail(init->loc, "array " + quoted(d.name) + " cannot be empty");
        } else {
            fail(d.loc, "array " + quoted(d.name) + " needs a size");
        }
        if (t == types_.voidType()) fail(d.loc, "array " + quoted(d.name) + " of void");
        if (std::int64_t(size) * std::max(1, types_.registers(t)) > kMaxRegisters)
            fail(d.loc, quoted(d.name) + " is too large: at most " + std::to_string(kMaxRegisters) + " registers");
        t = types_.array(t, size);
    }
    return t;
}

int Analyzer::arraySize(const ast::Expr* size) {
    double v;
    // Tested as a double: converting one past any integer's range is undefined,
    // here and in constantNumber.
    if (!constantNumber(size, &v) || !std::isfinite(v) || v < 1 || v != std::floor(v))
        fail(size->loc, "array size must be a positive integer constant");
    if (v > kMaxRegisters) {
        char text[32];
        std::snprintf(text, sizeof text, "%.15g", v);
        fail(size->loc, std::string("array size ") + text + " is too large");
    }
    return int(v);
}

// A compile-time number for array sizes: literals, arithmetic, casts and
// const variables with such initialisers.
bool Analyzer::constantNumber(const ast::Expr* e, double* value, int depth) const {
    if (!e || depth > 64) return false;
    double a, b;
    switch (e->kind) {
        case ast::Expr::Literal: *value = e->number; return true;
        case ast::Expr::Unary:
            if (!constantNumber(e->args[0], &a, depth + 1)) return false;
            if (e->op == ast::Operator::Negate) *value = -a;
            else if (e->op == ast::Operator::Plus) *value = a;
            else return false;
            return true;
        case ast::Expr::Binary: {
            if (!constantNumber(e->args[0], &a, depth + 1) || !constantNumber(e->args[1], &b, depth + 1)) return false;
            bool integral = a == std::trunc(a) && b == std::trunc(b);
            switch (e->op) {
                case ast::Operator::Add: *value = a + b; return true;
                case ast::Operator::Sub: *value = a - b; return true;
                case ast::Operator::Mul: *value = a * b; return true;
                case ast::Operator::Div:
                    if (b == 0) return false;
                    *value = integral ? std::trunc(a / b) : a / b;
                    return true;
                default: return false;
            }
        }
        case ast::Expr::Cast: {
            if (!constantNumber(e->args[0], &a, depth + 1)) return false;
            bool toInt = e->type.name == "int";
            *value = toInt ? std::trunc(a) : a;
            return true;
        }
        case ast::Expr::Name: {
            const Entry* entry = lookup(e->name);
            if (!entry || entry->isType) return false;
            const Symbol& s = out_.symbols[std::size_t(entry->symbol)];
            if (!s.isConst || !s.declarator || !s.declarator->init) return false;
            return constantNumber(s.declarator->init, value, depth + 1);
        }
        default: return false;
    }
}

// ---- declarations ----

void Analyzer::topLevel(const ast::TopLevel& item) {
    switch (item.kind) {
        case ast::TopLevel::FunctionDecl: function(*item.function); break;
        case ast::TopLevel::Variables: globalVariables(*item.decl); break;
        case ast::TopLevel::StructDecl: resolveType(item.decl->type); break;
        case ast::TopLevel::TypedefDecl: typedefs(*item.decl); break;
    }
}

void Analyzer::typedefs(const ast::Stmt& decl) {
    TypeId base = resolveType(decl.type);
    for (const ast::Declarator& d : decl.declarators)
        declareName(d.name, Entry{true, -1, declaredType(base, d, nullptr)}, d.loc);
}

void Analyzer::globalVariables(const ast::Stmt& decl) {
    TypeId base = resolveType(decl.type);
    const ast::Qualifiers& q = decl.qualifiers;
    for (const ast::Declarator& d : decl.declarators) {
        Symbol s;
        s.name = d.name;
        s.loc = d.loc;
        s.type = declaredType(base, d, d.init);
        s.declarator = &d;
        s.isConst = q.isConst;
        if (s.type == types_.voidType()) fail(d.loc, "variable " + quoted(d.name) + " cannot be void");
        bool isUniform = q.isUniform || (!q.isStatic && !q.isConst);
        if (!d.semantic.name.empty())
            fail(d.semantic.loc, "global " + quoted(d.name) + " cannot take a semantic; inputs are parameters of " +
                                     quoted(options_.entry));
        if (isUniform) {
            s.kind = Symbol::Uniform;
            if (d.init) initializer(d.init, s.type, d.name);  // the runtime loads it with the program
        } else {
            s.kind = Symbol::Static;
            if (types_.samplers(s.type) > 0)
                fail(d.loc, "sampler " + quoted(d.name) + " must be a uniform, not static or const");
            if (q.isConst && !d.init) fail(d.loc, "const " + quoted(d.name) + " needs an initial value");
            if (d.init) initializer(d.init, s.type, d.name);
        }
        int symbol = addSymbol(std::move(s));
        declareName(d.name, Entry{false, symbol, 0}, d.loc);
        out_.declared[&d] = symbol;
        out_.globals.push_back(symbol);
        if (isUniform) addUniform(symbol);
    }
}

int Analyzer::declareFunction(const ast::Function& f) {
    FunctionInfo fi;
    fi.name = f.name;
    fi.declaration = &f;
    fi.result = resolveType(f.returnType);
    if (types_.kind(fi.result) == TypeKind::Sampler) fail(f.loc, "a function cannot return a sampler");
    for (const ast::Param& p : f.params) {
        // Calls pass every argument; only the entry's uniforms, which the
        // runtime sets, take a value of their own.
        if (p.declarator.init && !(p.qualifiers.isUniform && f.name == options_.entry))
            fail(p.declarator.init->loc, "parameter " + quoted(p.declarator.name) + " cannot have a default value");
        TypeId t = declaredType(resolveType(p.type), p.declarator, nullptr);
        if (t == types_.voidType()) fail(p.loc, "parameter cannot be void");
        fi.params.push_back(t);
        bool out = p.qualifiers.out;
        fi.in.push_back(p.qualifiers.in || !out);
        fi.out.push_back(out);
    }
    std::vector<int>& overloads = functionsByName_[f.name];
    for (int other : overloads) {
        FunctionInfo& o = out_.functions[std::size_t(other)];
        if (o.params != fi.params) continue;
        if (o.result != fi.result || o.out != fi.out || o.in != fi.in)
            fail(f.loc, quoted(f.name) + " is declared again with another result or parameter direction");
        return other;
    }
    out_.functions.push_back(std::move(fi));
    overloads.push_back(int(out_.functions.size() - 1));
    return overloads.back();
}

void Analyzer::function(const ast::Function& f) {
    int index = declareFunction(f);
    if (!f.body) return;
    if (out_.functions[std::size_t(index)].definition) fail(f.loc, "redefinition of " + quoted(f.name));
    out_.functions[std::size_t(index)].definition = &f;
    currentFunction_ = index;
    loops_ = 0;
    pushScope();
    for (std::size_t i = 0; i < f.params.size(); ++i) {
        const ast::Param& p = f.params[i];
        const FunctionInfo& fi = out_.functions[std::size_t(index)];
        Symbol s;
        s.kind = Symbol::Parameter;
        s.name = p.declarator.name;
        s.loc = p.declarator.loc;
        s.type = fi.params[i];
        s.isConst = p.qualifiers.isConst;
        s.in = fi.in[i];
        s.out = fi.out[i];
        s.function = index;
        s.declarator = &p.declarator;
        if (p.declarator.init) initializer(p.declarator.init, s.type, s.name);
        int symbol = addSymbol(std::move(s));
        out_.functions[std::size_t(index)].paramSymbols.push_back(symbol);
        out_.declared[&p.declarator] = symbol;
        declareName(p.declarator.name, Entry{false, symbol, 0}, p.declarator.loc);
    }
    statement(f.body);
    popScope();
    currentFunction_ = -1;
}

// ---- statements ----

void Analyzer::condition(const ast::Expr* e, const char* what) {
    TypeId t = expr(e);
    if (!types_.isNumeric(t) || !scalarLike(types_, t))
        fail(e->loc, std::string("condition of '") + what + "' must be a scalar, got " + typeName(t));
    convertTo(e, types_.scalar(ScalarKind::Bool));
}

void Analyzer::statement(const ast::Stmt* s) {
    switch (s->kind) {
        case ast::Stmt::ExprStmt: expr(s->expr); break;
        case ast::Stmt::Decl: localDeclaration(*s); break;
        case ast::Stmt::Typedef: typedefs(*s); break;
        case ast::Stmt::Block:
            pushScope();
            for (const ast::Stmt* b : s->body) statement(b);
            popScope();
            break;
        case ast::Stmt::If:
            condition(s->expr, "if");
            pushScope();
            statement(s->then);
            popScope();
            if (s->otherwise) {
                pushScope();
                statement(s->otherwise);
                popScope();
            }
            break;
        case ast::Stmt::For:
            pushScope();
            if (s->init) statement(s->init);
            if (s->expr) condition(s->expr, "for");
            if (s->step) expr(s->step);
            ++loops_;
            pushScope();
            statement(s->then);
            popScope();
            --loops_;
            popScope();
            break;
        case ast::Stmt::While:
        case ast::Stmt::DoWhile:
            if (s->kind == ast::Stmt::While) condition(s->expr, "while");
            ++loops_;
            pushScope();
            statement(s->then);
            popScope();
            --loops_;
            if (s->kind == ast::Stmt::DoWhile) condition(s->expr, "while");
            break;
        case ast::Stmt::Break:
        case ast::Stmt::Continue:
            if (loops_ == 0)
                fail(s->loc, std::string(s->kind == ast::Stmt::Break ? "'break'" : "'continue'") + " outside a loop");
            break;
        case ast::Stmt::Return: {
            const FunctionInfo& f = out_.functions[std::size_t(currentFunction_)];
            bool isVoid = f.result == types_.voidType();
            if (s->expr && isVoid) fail(s->expr->loc, quoted(f.name) + " returns void; 'return' takes no value here");
            if (!s->expr && !isVoid) fail(s->loc, quoted(f.name) + " must return a " + typeName(f.result));
            if (s->expr) {
                expr(s->expr);
                convertTo(s->expr, f.result, "in 'return'");
            }
            break;
        }
        case ast::Stmt::Discard:
        case ast::Stmt::Empty: break;
    }
}

void Analyzer::localDeclaration(const ast::Stmt& decl) {
    TypeId base = resolveType(decl.type);
    for (const ast::Declarator& d : decl.declarators) {
        Symbol s;
        s.kind = Symbol::Local;
        s.name = d.name;
        s.loc = d.loc;
        s.type = declaredType(base, d, d.init);
        s.isConst = decl.qualifiers.isConst;
        s.function = currentFunction_;
        s.declarator = &d;
        if (s.type == types_.voidType()) fail(d.loc, "variable " + quoted(d.name) + " cannot be void");
        if (s.isConst && !d.init) fail(d.loc, "const " + quoted(d.name) + " needs an initial value");
        // The initialiser sees the names outside, as `float4 c = c * 2;` means.
        if (d.init) initializer(d.init, s.type, d.name);
        int symbol = addSymbol(std::move(s));
        declareName(d.name, Entry{false, symbol, 0}, d.loc);
        out_.declared[&d] = symbol;
    }
}

void Analyzer::initializer(const ast::Expr* init, TypeId type, const std::string& name) {
    if (init->kind != ast::Expr::InitList) {
        expr(init);
        convertTo(init, type, [&] { return "in the initialisation of " + quoted(name); });
        return;
    }
    ExprInfo& list = info(init);
    list.type = list.converted = type;
    const TypeInfo t = types_.info(type);
    auto count = [&](std::size_t want) {
        if (init->args.size() != want)
            fail(init->loc, typeName(type) + " takes " + std::to_string(want) + " initialisers, got " +
                                std::to_string(init->args.size()));
    };
    switch (t.kind) {
        case TypeKind::Array:
            count(std::size_t(t.length));
            for (const ast::Expr* e : init->args) initializer(e, t.element, name);
            break;
        case TypeKind::Struct:
            count(t.members.size());
            for (std::size_t i = 0; i < t.members.size(); ++i) initializer(init->args[i], t.members[i].type, name);
            break;
        case TypeKind::Scalar:
        case TypeKind::Vector:
        case TypeKind::Matrix: {
            // Components in order; a matrix may take its rows as nested lists.
            int components = 0;
            for (const ast::Expr* e : init->args) {
                if (e->kind == ast::Expr::InitList) {
                    if (t.kind != TypeKind::Matrix) fail(e->loc, "nested initialiser list for a " + typeName(type));
                    initializer(e, types_.vector(t.scalar, t.cols), name);
                    components += t.cols;
                    continue;
                }
                TypeId et = expr(e);
                if (!types_.isNumeric(et)) fail(e->loc, "cannot initialise a " + typeName(type) + " with a " + typeName(et));
                convertTo(e, types_.withScalar(et, t.scalar));
                components += types_.components(et);
            }
            if (components != types_.components(type))
                fail(init->loc, typeName(type) + " needs " + std::to_string(types_.components(type)) +
                                    " components, got " + std::to_string(components));
            break;
        }
        default: fail(init->loc, "a " + typeName(type) + " cannot be initialised with a list");
    }
}

// Functions are inlined, so a call cycle has no end; it is reported at the
// call that closes it. Calls to functions never defined are reported too.
void Analyzer::checkRecursion() {
    std::size_t n = out_.functions.size();
    std::vector<std::vector<const CallSite*>> calls(n);
    for (const CallSite& c : callSites_) {
        if (!out_.functions[std::size_t(c.callee)].definition)
            fail(c.loc, quoted(out_.functions[std::size_t(c.callee)].name) + " is declared but never defined");
        if (c.caller >= 0) calls[std::size_t(c.caller)].push_back(&c);
    }
    std::vector<int> state(n, 0);  // 0 unseen, 1 on the path, 2 done
    for (std::size_t root = 0; root < n; ++root) {
        if (state[root]) continue;
        std::vector<std::pair<std::size_t, std::size_t>> path{{root, 0}};
        state[root] = 1;
        while (!path.empty()) {
            auto& [f, next] = path.back();
            if (next == calls[f].size()) {
                state[f] = 2;
                path.pop_back();
                continue;
            }
            const CallSite* c = calls[f][next++];
            std::size_t callee = std::size_t(c->callee);
            if (state[callee] == 1)
                fail(c->loc, "recursive call to " + quoted(out_.functions[callee].name) +
                                 ": functions are inlined on this target and cannot recurse");
            if (state[callee] == 0) {
                state[callee] = 1;
                path.push_back({callee, 0});
            }
        }
    }
}

}  // namespace sema

Analysis analyze(const ast::Tree& tree, TypeTable& types, const Options& options) {
    return sema::Analyzer(tree, types, options).run();
}

}  // namespace cgc
