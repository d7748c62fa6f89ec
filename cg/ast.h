// Syntax tree of one program, built by the parser, annotated by the checker
// (types, constant values, symbols) and read by the code generator.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace cgc {

struct Type {
    enum Base { Void, Float, SamplerRect, Sampler2D } base = Void;
    int width = 0;  // 1..4 for Float
    bool isFloat() const { return base == Float; }
    bool isSampler() const { return base == SamplerRect || base == Sampler2D; }
    bool operator==(const Type& o) const { return base == o.base && width == o.width; }
    bool operator!=(const Type& o) const { return !(*this == o); }
};

inline Type floatType(int width) { return Type{Type::Float, width}; }
std::string typeName(const Type& t);

struct Loc {
    int line = 0, col = 0;
};

struct Symbol;

struct Expr {
    enum Kind { Number, Name, Unary, Binary, Swizzle, Call, Construct, Cast } kind;
    Loc loc;
    std::string name;  // Name, Call: the name; Swizzle: the components as written
    double number = 0;
    int op = 0;        // Unary, Binary: '+', '-', '*', '/'
    Type target;       // Construct, Cast
    std::vector<std::unique_ptr<Expr>> args;
    int depth = 1;  // of this subtree, bounded by the parser

    // Filled in by the checker.
    Type type;
    Symbol* symbol = nullptr;  // Name
    int select[4] = {0, 1, 2, 3};  // Swizzle: component numbers
    bool isConst = false;
    float value[4] = {0, 0, 0, 0};
};

struct Declarator {
    std::string name;
    Loc loc;
    std::unique_ptr<Expr> init;
    Symbol* symbol = nullptr;
};

struct Stmt {
    enum Kind { Decl, Assign, Return, Block, Empty } kind;
    Loc loc;
    // Decl
    Type type;
    bool isConst = false;
    std::vector<Declarator> decls;
    // Assign: target (a Name, or a Swizzle of a Name), op '=' or '+', '-', '*', '/'
    std::unique_ptr<Expr> target;
    int op = '=';
    // Assign, Return
    std::unique_ptr<Expr> value;
    // Block
    std::vector<std::unique_ptr<Stmt>> body;
};

struct Param {
    enum Qualifier { Uniform, In, Out } qualifier = In;
    Type type;
    std::string name;
    Loc loc;
    std::string semantic;  // empty for uniforms
    Loc semanticLoc;
    Symbol* symbol = nullptr;
};

struct GlobalConst {
    Type type;
    std::string name;
    Loc loc;
    std::unique_ptr<Expr> init;
    Symbol* symbol = nullptr;
};

struct Program {
    std::vector<GlobalConst> globals;
    bool hasMain = false;
    Loc mainLoc;
    Type returnType;  // Void, or Float with returnSemantic
    std::string returnSemantic;
    Loc returnSemanticLoc;
    std::vector<Param> params;
    std::unique_ptr<Stmt> body;
};

}  // namespace cgc
