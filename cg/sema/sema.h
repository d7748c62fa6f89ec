// Semantic analysis: scopes, types, overloads and the entry's interface. The
// findings live in side tables keyed by the syntax tree's node ids; the tree
// itself is never written. Lowering reads these tables and nothing else of
// the language's rules.
#pragma once

#include "cg/options.h"
#include "cg/front/ast.h"
#include "cg/builtins/builtins.h"
#include "cg/types/types.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace cgc {

// A declared name that holds a value.
struct Symbol {
    enum Kind : std::uint8_t {
        Local,      // a local variable
        Parameter,  // a parameter of a function (the entry's inputs and outputs are below)
        Static,     // a static or const global, set before the entry runs
        Uniform,    // a global neither static nor const, a `uniform` global, a uniform entry parameter
        Input,      // an entry parameter read from a fragment attribute by its semantic
        Output,     // an entry `out` parameter written to a result by its semantic
    };
    Kind kind = Local;
    std::string name;
    TypeId type = 0;
    Loc loc;
    bool isConst = false;
    bool in = true, out = false;  // Parameter: direction (inout: both)
    int function = -1;            // the declaring function, -1 for globals
    const ast::Declarator* declarator = nullptr;
    std::string semantic;  // Input, Output: upper case ("TEXCOORD0"); "" for a struct of members with semantics
    int slot = -1;         // Uniform: its first program.local register
    int unit = -1;         // Uniform: its first texture unit
};

struct FunctionInfo {
    std::string name;
    const ast::Function* declaration = nullptr;  // the first one seen
    const ast::Function* definition = nullptr;   // the one with a body
    TypeId result = 0;
    std::vector<TypeId> params;
    std::vector<bool> in, out;
    std::vector<int> paramSymbols;  // of the definition
};

// What a call runs: a user function or a built-in, and the types its
// arguments convert to.
struct CallInfo {
    int function = -1;
    const Builtin* builtin = nullptr;
    BuiltinSignature signature;  // user functions: the parameter types and out flags too
};

// A member access: a struct field, a swizzle or a matrix swizzle.
struct Access {
    enum Kind : std::uint8_t { Field, Swizzle, MatrixSwizzle };
    Kind kind = Field;
    int member = 0;                        // Field: its index
    int count = 0;                         // Swizzle, MatrixSwizzle: components picked
    std::uint8_t components[4] = {0, 0, 0, 0};  // Swizzle: lanes; MatrixSwizzle: row * 4 + column
};

// The entry's interface, by semantic.
struct EntryOutput {
    enum Where : std::uint8_t { Result, ResultMember, Parameter, ParameterMember };
    Where where = Result;
    int symbol = -1;  // Parameter, ParameterMember
    int member = -1;  // *Member: the struct member
    bool depth = false;  // DEPTH, else COLOR
};

struct ExprInfo {
    TypeId type = 0;       // the expression's own type
    TypeId converted = 0;  // the type its use converts it to (== type when none)
    TypeId operand = 0;    // Unary, Binary, compound Assign: the type the operation computes in
    int ref = -1;          // Name: symbol; Call, Construct: index into calls (-1: a constructor); Member: into accesses
};

struct Analysis {
    std::vector<ExprInfo> exprs;    // by Expr::id
    std::vector<Symbol> symbols;
    std::vector<FunctionInfo> functions;
    std::vector<CallInfo> calls;
    std::vector<Access> accesses;
    std::unordered_map<const ast::Declarator*, int> declared;  // declarator -> symbol
    std::vector<int> globals;  // global symbols in file order: statics to initialise, uniforms
    int entry = -1;            // index into functions
    std::vector<int> entryUniforms;  // the entry's uniform parameters, in order
    std::vector<EntryOutput> outputs;
    std::vector<ParameterInfo> parameters;  // globals in file order, then the entry's uniforms

    const ExprInfo& of(const ast::Expr* e) const { return exprs[e->id]; }
};

// The fragment attribute (ir::Attr) an input semantic names, or -1:
// TEXCOORD, TEXCOORD0..7, COLOR, COLOR0, COLOR1, WPOS, FOG, in any case.
int inputAttribute(const std::string& semantic);
// 0 for COLOR and COLOR0, 1 for DEPTH (ir::OutputReg), or -1.
int outputRegister(const std::string& semantic);

// Throws CompileError at the first fault.
Analysis analyze(const ast::Tree& tree, TypeTable& types, const Options& options);

}  // namespace cgc
