// The syntax tree: what the source says, nothing more. The parser fills it;
// semantic analysis keeps its findings (types, symbols, overloads) in tables
// of its own keyed by each node's `id`, and never writes here.
#pragma once

#include "cg/diag.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace cgc::ast {

enum class Operator : std::uint8_t {
    // binary
    Add, Sub, Mul, Div, Mod,
    Lt, Le, Gt, Ge, Eq, Ne,
    LogicalAnd, LogicalOr,
    BitAnd, BitOr, BitXor, Shl, Shr,
    Comma,
    // assignment
    Assign, AddAssign, SubAssign, MulAssign, DivAssign, ModAssign,
    AndAssign, OrAssign, XorAssign, ShlAssign, ShrAssign,
    // unary
    Negate, Plus, Not, BitNot, PreInc, PreDec, PostInc, PostDec,
};

const char* spelling(Operator op);  // "+", "<=", "+=", "++", ...

struct Expr;
struct Stmt;
struct StructDef;

// A type as written: a name ("float4", "half2x2", "sampler2D", a struct or
// typedef name) or a struct defined in place.
struct TypeSpec {
    Loc loc;
    std::string name;              // empty when `structDef` is set
    StructDef* structDef = nullptr;
};

// Words in front of a declaration, in any order.
struct Qualifiers {
    bool isConst = false, isStatic = false, isUniform = false, isExtern = false;
    bool isVarying = false, isInline = false;
    bool in = false, out = false;  // both: inout
    Loc loc;                       // of the first qualifier, when any
};

struct Semantic {
    Loc loc;
    std::string name;  // as written: "TEXCOORD0", "COLOR", ...; empty when none
};

// One name in a declaration: `a`, `w[3] = {...}`, `c : COLOR`.
struct Declarator {
    Loc loc;
    std::string name;
    std::vector<Expr*> arraySizes;  // one per [], outermost first; nullptr for []
    Semantic semantic;
    Expr* init = nullptr;           // an expression or an InitList
};

struct StructDef {
    Loc loc;
    std::string name;  // empty for an anonymous struct
    struct Member {
        Qualifiers qualifiers;
        TypeSpec type;
        Declarator declarator;
    };
    std::vector<Member> members;
    std::uint32_t id = 0;
};

struct Expr {
    enum Kind : std::uint8_t {
        Literal,      // number or true/false
        Name,         // `name`
        Unary,        // op args[0]  (prefix, and PostInc/PostDec)
        Binary,       // args[0] op args[1], including Comma
        Assign,       // args[0] op args[1], op one of the assignments
        Conditional,  // args[0] ? args[1] : args[2]
        Call,         // name(args): a function or built-in
        Construct,    // type(args): float4(...), float2x2(...), a struct name(...)
        Cast,         // (type) args[0]
        Member,       // args[0].name: swizzle or struct member
        Index,        // args[0][args[1]]
        InitList,     // { args }
    };
    enum LiteralKind : std::uint8_t { IntLiteral, FloatLiteral, HalfLiteral, FixedLiteral, BoolLiteral };

    Kind kind;
    Loc loc;  // of the operator, name or first token
    Operator op = Operator::Add;
    LiteralKind literal = FloatLiteral;
    double number = 0;  // Literal: the value; true is 1
    std::string name;   // Name, Call, Member
    TypeSpec type;      // Construct, Cast
    std::vector<Expr*> args;
    std::uint32_t id = 0;
};

struct Stmt {
    enum Kind : std::uint8_t {
        ExprStmt,  // expr;
        Decl,      // qualifiers type declarators;   (a local struct definition too)
        Typedef,   // typedef type declarators;
        Block,     // { body }
        If,        // if (cond) then else otherwise
        For,       // for (init; cond; step) then; init is a Decl or ExprStmt or null
        While,     // while (cond) then
        DoWhile,   // do then while (cond);
        Break, Continue,
        Return,    // return expr?;
        Discard,
        Empty,     // ;
    };

    Kind kind;
    Loc loc;       // of the statement's first token
    Loc end;       // just past its last token, where a missing ';' belongs
    Expr* expr = nullptr;  // ExprStmt, Return; the condition of If, For, While, DoWhile
    Expr* step = nullptr;  // For
    Stmt* init = nullptr;  // For
    Stmt* then = nullptr;  // If, For, While, DoWhile: the body
    Stmt* otherwise = nullptr;  // If
    std::vector<Stmt*> body;    // Block
    Qualifiers qualifiers;      // Decl
    TypeSpec type;              // Decl, Typedef
    std::vector<Declarator> declarators;  // Decl, Typedef
    std::uint32_t id = 0;
};

struct Param {
    Loc loc;
    Qualifiers qualifiers;  // in, out, inout, uniform, const
    TypeSpec type;
    Declarator declarator;  // name, array sizes, semantic, default value
};

struct Function {
    Loc loc;  // of the name
    Qualifiers qualifiers;
    TypeSpec returnType;
    std::string name;
    std::vector<Param> params;
    Semantic semantic;     // of the result: `float4 main(...) : COLOR`
    Stmt* body = nullptr;  // a Block; null for a prototype
    std::uint32_t id = 0;
};

struct TopLevel {
    enum Kind : std::uint8_t { FunctionDecl, Variables, StructDecl, TypedefDecl };
    Kind kind;
    Loc loc;
    Function* function = nullptr;  // FunctionDecl
    Stmt* decl = nullptr;          // Variables (a Decl), StructDecl (a Decl without declarators), TypedefDecl
};

// Owns every node; ids are dense per node kind, from 0, in creation order.
struct Tree {
    std::vector<TopLevel> items;  // in source order
    Loc end;                      // the end of the main file, for "no 'main' function"

    Expr* newExpr(Expr::Kind kind, Loc loc);
    Stmt* newStmt(Stmt::Kind kind, Loc loc);
    StructDef* newStruct(Loc loc);
    Function* newFunction(Loc loc);
    std::size_t exprCount() const { return exprs.size(); }
    std::size_t stmtCount() const { return stmts.size(); }
    std::size_t structCount() const { return structs.size(); }
    std::size_t functionCount() const { return functions.size(); }

    std::deque<Expr> exprs;
    std::deque<Stmt> stmts;
    std::deque<StructDef> structs;
    std::deque<Function> functions;
};

}  // namespace cgc::ast
