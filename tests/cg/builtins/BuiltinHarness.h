// Calls one built-in the way lowering does: arguments of the given types
// converted to the signature's parameters, either as uniforms (so the
// lowering runs) or as constants (so the folding runs), the IR run by the
// interpreter, one result register at a time.
#pragma once

#include "cg/ir/eval.h"
#include "cg/opt/passes.h"
#include "cg/builtins/builtins.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace builtintest {

using cgc::TypeId;
using cgc::TypeKind;
using Components = std::vector<float>;

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// An argument: its type by name ("float3", "half2x2", "samplerRECT") and its
// components, row-major.
struct Arg {
    std::string type;
    Components values;
    bool constant = false;  // a constant even where the call's arguments are uniforms
};

inline Arg konst(Arg a) {
    a.constant = true;
    return a;
}

inline Arg f1(float x) { return {"float", {x}}; }
inline Arg f2(float x, float y) { return {"float2", {x, y}}; }
inline Arg f3(float x, float y, float z) { return {"float3", {x, y, z}}; }
inline Arg f4(float x, float y, float z, float w) { return {"float4", {x, y, z, w}}; }

struct Lookup {
    cgc::ir::Op op;
    int unit;
    cgc::ir::TexTarget target;
    cgc::ir::Vec4 coordinate;
};

enum class Mode { Lowered, Constant };

struct Call {
    bool ok = false;          // the signature accepted the arguments
    std::string why;          // when not
    std::string fault;        // a broken contract: wrong result shape, invalid IR
    std::string resultType;
    Components result;                // row-major
    std::vector<Components> outs;     // by argument; empty for arguments that are not out
    std::vector<Lookup> lookups;      // what the lowering sampled
    bool folded = false;              // the built-in's folding gave the result
    bool killed = false;              // the fragment was discarded
    int instructions = 0;             // after optimisation, leaves and sinks not counted
    std::string ir;                   // the lowered function, for messages
};

// The textures every lookup reads: a texel holds its own coordinate in the
// lanes its target reads (after TXP's division by w), 0 in the others and 1
// in w; a cube map's faces hold their axis. Bias has nothing to choose from.
inline cgc::ir::Vec4 texel(cgc::ir::Op op, cgc::ir::TexTarget target, const cgc::ir::Vec4& c) {
    float q = op == cgc::ir::Op::Txp ? c[3] : 1.0f;
    cgc::ir::Vec4 t = {c[0] / q, c[1] / q, c[2] / q, 1.0f};
    if (target == cgc::ir::TexCube) {
        int major = 0;
        for (int a = 1; a < 3; ++a)
            if (std::fabs(t[std::size_t(a)]) > std::fabs(t[std::size_t(major)])) major = a;
        for (int a = 0; a < 3; ++a) t[std::size_t(a)] = a == major ? (t[std::size_t(a)] < 0 ? -1.0f : 1.0f) : 0.0f;
        return t;
    }
    static const int lanes[] = {1, 2, 3, 2, 3};
    for (int a = lanes[target]; a < 3; ++a) t[std::size_t(a)] = 0;
    return t;
}

namespace detail {

inline int registerWidth(cgc::TypeTable& types, TypeId t) {
    const cgc::TypeInfo& i = types.info(t);
    return i.kind == TypeKind::Scalar ? 1 : i.cols;
}

// The conversions semantic analysis applies to a built-in's arguments.
inline Components convert(cgc::TypeTable& types, TypeId from, TypeId to, const Components& v) {
    int n = types.components(to);
    Components r;
    for (int i = 0; i < n; ++i) r.push_back(types.kind(from) == TypeKind::Scalar ? v.at(0) : v.at(std::size_t(i)));
    if (types.info(to).scalar == cgc::ScalarKind::Bool)
        for (float& x : r) x = x != 0 ? 1.0f : 0.0f;
    return r;
}

inline Components evaluate(cgc::ir::Function f, cgc::TypeTable& types, const cgc::Value& v,
                           const cgc::ir::Fragment& fragment, std::string* fault) {
    Components out;
    int width = registerWidth(types, v.type);
    for (const cgc::ir::Src& reg : v.regs) {
        cgc::ir::Function g = f;
        cgc::Builder(g, types).output(cgc::ir::OutColor, reg);
        cgc::ir::Result r = cgc::ir::run(g, fragment);
        for (int c = 0; c < width; ++c) out.push_back(r.color[std::size_t(c)]);
    }
    if (int(v.regs.size()) != types.registers(v.type)) *fault = "registers do not match the type";
    return out;
}

}  // namespace detail

// Lanes a uniform argument does not use hold `unused`: NaN shows in a result
// that reads them; a negative value shows in a KIL that does.
inline Call call(const std::string& name, const std::vector<Arg>& args, Mode mode = Mode::Lowered, float unused = kNaN) {
    using namespace cgc;
    Call c;
    const Builtin* builtin = findBuiltin(name);
    if (!builtin) {
        c.fault = "no built-in named " + name;
        return c;
    }
    TypeTable types;
    std::vector<TypeId> argTypes;
    for (const Arg& a : args) {
        TypeId t;
        if (!types.builtinType(a.type, &t)) {
            c.fault = "no type named " + a.type;
            return c;
        }
        argTypes.push_back(t);
    }
    BuiltinSignature sig;
    c.ok = builtin->signature(types, argTypes, &sig, &c.why);
    if (!c.ok) return c;
    c.resultType = types.name(sig.result);
    if (sig.params.size() != args.size()) {
        c.fault = "the signature has another number of parameters";
        return c;
    }

    ir::Function f;
    Builder b(f, types);
    ir::Fragment fragment;
    std::vector<Value> values;
    for (std::size_t i = 0; i < args.size(); ++i) {
        TypeId p = sig.params[i];
        Value v;
        v.type = p;
        if (types.kind(p) == TypeKind::Sampler) {
            // Units away from 0, so a lookup on the wrong unit shows.
            v.units.push_back({3 + int(i), ir::TexTarget(int(types.info(p).sampler))});
        } else {
            Components k = detail::convert(types, argTypes[i], p, args[i].values);
            if (mode == Mode::Constant || args[i].constant) {
                v = b.constantValue(p, k);
            } else {
                int width = detail::registerWidth(types, p);
                for (int r = 0; r < types.registers(p); ++r) {
                    ir::Vec4 u = {unused, unused, unused, unused};
                    for (int l = 0; l < width; ++l) u[std::size_t(l)] = k.at(std::size_t(r * width + l));
                    ir::Src s = b.uniform(int(fragment.uniforms.size()));
                    fragment.uniforms.push_back(u);
                    v.regs.push_back(types.kind(p) == TypeKind::Scalar ? Builder::lane(s, 0) : s);
                }
            }
        }
        values.push_back(v);
    }

    std::vector<Value> outs(args.size());
    Value result;
    if (mode == Mode::Constant && builtin->fold && builtin->fold(b, sig, values, &result))
        c.folded = true;
    else
        result = builtin->lower(b, sig, values, &outs);
    if (result.type != sig.result) c.fault = "the result is not of the signature's type";
    std::string invalid = ir::validate(f);
    if (!invalid.empty()) c.fault = "invalid IR: " + invalid;
    c.ir = ir::print(f);

    fragment.sample = [&c](ir::Op op, int unit, ir::TexTarget target, const ir::Vec4& coordinate) {
        c.lookups.push_back({op, unit, target, coordinate});
        return texel(op, target, coordinate);
    };
    c.result = detail::evaluate(f, types, result, fragment, &c.fault);
    c.killed = ir::run(f, fragment).killed;
    c.outs.resize(args.size());
    for (std::size_t i = 0; i < args.size(); ++i)
        if (i < sig.out.size() && sig.out[i]) {
            if (outs[i].type != sig.params[i]) c.fault = "out argument " + std::to_string(i + 1) + " not set";
            else c.outs[i] = detail::evaluate(f, types, outs[i], fragment, &c.fault);
        }

    ir::Function counted = f;
    Builder sink(counted, types);
    for (const ir::Src& s : result.regs) sink.output(ir::OutColor, s);
    for (const Value& o : outs)
        for (const ir::Src& s : o.regs) sink.output(ir::OutColor, s);
    opt::optimize(counted);
    for (const ir::Inst& inst : counted.insts)
        if (!ir::isLeaf(inst.op) && !ir::isSink(inst.op)) ++c.instructions;
    return c;
}

}  // namespace builtintest
