// The analyzer's state, shared by its declaration and expression halves.
#pragma once

#include "cg/sema/conversions.h"
#include "cg/sema/sema.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace cgc::sema {

// Expression trees deeper than this are refused (the parser already bounds
// them lower); analysis recurses over them.
constexpr int kMaxDepth = 4096;

class Analyzer {
public:
    Analyzer(const ast::Tree& tree, TypeTable& types, const Options& options);
    Analysis run();

private:
    // ---- scopes ----
    struct Entry {
        bool isType = false;
        int symbol = -1;
        TypeId type = 0;
    };
    void pushScope() { scopes_.emplace_back(); }
    void popScope() { scopes_.pop_back(); }
    const Entry* lookup(const std::string& name) const;
    void declareName(const std::string& name, const Entry& entry, const Loc& loc);
    std::vector<std::string_view> namesInScope(bool types) const;

    // ---- types (sema.cpp) ----
    TypeId resolveType(const ast::TypeSpec& written);
    TypeId structType(const ast::StructDef& def);
    TypeId declaredType(TypeId base, const ast::Declarator& d, const ast::Expr* init);
    int arraySize(const ast::Expr* size);
    std::string typeName(TypeId t) const { return quoted(types_.name(t)); }

    // ---- declarations and statements (sema.cpp) ----
    void topLevel(const ast::TopLevel& item);
    void globalVariables(const ast::Stmt& decl);
    void function(const ast::Function& f);
    int declareFunction(const ast::Function& f);
    void statement(const ast::Stmt* s);
    void localDeclaration(const ast::Stmt& decl);
    void typedefs(const ast::Stmt& decl);
    void condition(const ast::Expr* e, const char* what);
    int addSymbol(Symbol s);
    void initializer(const ast::Expr* init, TypeId type, const std::string& name);
    // ---- uniforms and their initial values (uniforms.cpp) ----
    void addUniform(int symbol);
    void uniformLeaves(const std::string& name, TypeId type, const Loc& loc, const std::vector<double>* values,
                       std::size_t* at);
    void initialComponents(const ast::Expr* e, TypeId type, const std::string& name, std::vector<double>* out,
                           int depth) const;
    void constantValue(const ast::Expr* e, const std::string& name, std::vector<double>* out, int depth) const;
    void checkRecursion();

    // ---- the entry's interface (interface.cpp) ----
    void entryInterface();
    void entryParameter(const ast::Param& p, int symbol);
    void entryOutputs(const FunctionInfo& entry);
    bool outputIsDepth(const std::string& semantic, const Loc& loc, TypeId type);

    // ---- expressions (expressions.cpp) ----
    TypeId expr(const ast::Expr* e);
    TypeId exprByKind(const ast::Expr* e);
    // Messages are built only on failure: these run for every expression.
    void convertTo(const ast::Expr* e, TypeId to, const char* context = "") {
        convertTo(e, to, [context] { return std::string(context); });
    }
    template <class Context>
    void convertTo(const ast::Expr* e, TypeId to, Context context) {
        ExprInfo& i = info(e);
        if (i.type != to && implicitFit(types_, i.type, to) == Fit::None) cannotConvert(e, to, context());
        i.converted = to;
    }
    [[noreturn]] void cannotConvert(const ast::Expr* e, TypeId to, const std::string& context);
    TypeId literal(const ast::Expr* e);
    TypeId name(const ast::Expr* e);
    TypeId unary(const ast::Expr* e);
    TypeId binary(const ast::Expr* e);
    TypeId assign(const ast::Expr* e);
    TypeId conditional(const ast::Expr* e);
    TypeId call(const ast::Expr* e);
    bool userCall(const ast::Expr* e, const std::vector<int>& candidates, const std::vector<TypeId>& args,
                  TypeId* result);
    TypeId construct(const ast::Expr* e, TypeId type, const std::vector<TypeId>& args);
    TypeId cast(const ast::Expr* e);
    TypeId member(const ast::Expr* e);
    TypeId index(const ast::Expr* e);
    bool assignable(const ast::Expr* e, std::string* why) const;
    template <class What>
    void requireAssignable(const ast::Expr* e, What what) {
        std::string why;
        if (!assignable(e, &why)) fail(e->loc, what() + " is not assignable" + (why.empty() ? "" : " (" + why + ")"));
    }
    TypeId numericOperands(const ast::Expr* e, const ast::Expr* a, const ast::Expr* b, TypeId ta, TypeId tb);
    [[noreturn]] void badOperands(const ast::Expr* e, TypeId a, TypeId b);
    ExprInfo& info(const ast::Expr* e) { return out_.exprs[e->id]; }
    std::string signatureText(const std::string& name, const std::vector<TypeId>& args) const;
    bool constantNumber(const ast::Expr* e, double* value, int depth = 0) const;

    const ast::Tree& tree_;
    TypeTable& types_;
    const Options& options_;
    Analysis out_;

    std::vector<std::unordered_map<std::string, Entry>> scopes_;
    std::unordered_map<std::string, std::vector<int>> functionsByName_;
    std::unordered_map<std::uint32_t, TypeId> structs_;  // StructDef id -> type
    std::unordered_map<std::string, TypeId> builtinTypes_;  // words already looked up
    int currentFunction_ = -1;
    int loops_ = 0;
    int depth_ = 0;
    int nextSlot_ = 0, nextUnit_ = 0;
    struct CallSite {
        int caller, callee;
        Loc loc;
    };
    std::vector<CallSite> callSites_;
};

}  // namespace cgc::sema
