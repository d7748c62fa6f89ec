// The standard library, one table entry per built-in function: its signature
// rule (which argument types it takes and what it returns), its constant
// folding and its lowering to IR. Adding a built-in is adding one entry.
#pragma once

#include "cg/ir/builder.h"
#include "cg/types/types.h"

#include <string>
#include <string_view>
#include <vector>

namespace cgc {

// A call's resolved signature. Semantic analysis converts each argument to
// params[i] (a scalar promoted to the vector the rule asks for, and so on)
// before lowering sees it.
struct BuiltinSignature {
    TypeId result = 0;
    std::vector<TypeId> params;
    std::vector<bool> out;  // argument i is written: it must be an l-value
};

struct Builtin {
    const char* name;
    // Whether the argument types fit, and the signature they give. On a
    // mismatch, *why says what is wrong in a phrase the caller places:
    // "takes 2 arguments, got 1", "needs a samplerRECT, got 'sampler2D'".
    bool (*signature)(TypeTable& types, const std::vector<TypeId>& args, BuiltinSignature* sig, std::string* why);
    // The exact result when every argument is a constant (computed in double
    // precision, per the function's definition rather than its lowering), or
    // false to leave it to the builder's folding. May be null.
    bool (*fold)(Builder& b, const BuiltinSignature& sig, const std::vector<Value>& args, Value* result);
    // The code. args are converted to sig.params; an out argument holds its
    // current value. Returns the result (type sig.result; void: no regs) and
    // puts each out argument's new value into (*outs)[i] (others untouched).
    Value (*lower)(Builder& b, const BuiltinSignature& sig, const std::vector<Value>& args, std::vector<Value>* outs);
};

const Builtin* findBuiltin(std::string_view name);

// Every built-in name, for "did you mean" suggestions.
std::vector<std::string_view> builtinNames();

// Functions of the language that the ARB target cannot run, with the reason
// ("derivatives are not available on this target"), or null.
const char* unsupportedBuiltin(std::string_view name);

}  // namespace cgc
