// What lowering and the built-ins emit IR through. The builder folds an
// instruction whose sources are all constants into a constant as it is
// emitted (unless the result would not be finite), so a loop condition or an
// array index made of constants is a constant by the time lowering asks.
#pragma once

#include "cg/ir/ir.h"
#include "cg/types/types.h"

#include <cstddef>
#include <vector>

namespace cgc {

// A typed value during lowering. Numeric parts live in SSA values, one per
// 4-component register of the flattened type (TypeTable::registers): a
// scalar reads the same component in every lane, a vector of n its lanes
// 0..n-1, a matrix one register per row, arrays and structs their parts in
// order. Samplers are texture units, flattened the same way.
struct Value {
    TypeId type = 0;
    std::vector<ir::Src> regs;
    struct Unit {
        int unit = 0;
        ir::TexTarget target = ir::Tex2D;
    };
    std::vector<Unit> units;
};

class Builder {
public:
    Builder(ir::Function& f, TypeTable& types) : f_(f), types_(types) {}

    ir::Function& function() { return f_; }
    TypeTable& types() { return types_; }
    std::size_t size() const { return f_.insts.size(); }

    // The source place given to the instructions emitted next.
    void at(const Loc& loc) { loc_ = loc; }
    const Loc& place() const { return loc_; }

    // One instruction; unused sources stay default. Folds when it can.
    ir::Src emit(ir::Op op, const ir::Src& a = {}, const ir::Src& b = {}, const ir::Src& c = {}, bool sat = false);
    ir::Src lookup(ir::Op op, const ir::Src& coordinate, int unit, ir::TexTarget target);
    ir::Src constant(float x, float y, float z, float w);
    ir::Src constant(float x) { return constant(x, x, x, x); }
    ir::Src input(ir::Attr attribute);
    ir::Src uniform(int slot);
    ir::Src undef();
    // Lane c of the result is lane c of lanes[c]; a source with def kNone
    // leaves the lane undefined. Returns lanes[0] itself when every used lane
    // already comes from one value.
    ir::Src compose(const ir::Src lanes[4]);
    void kill(const ir::Src& s);
    void output(ir::OutputReg reg, const ir::Src& s);

    // The source's four lanes when it reads a constant (swizzle and negation
    // applied).
    bool constantOf(const ir::Src& s, float out[4]) const;

    // Source views: no instruction emitted.
    static ir::Src lane(const ir::Src& s, int c);  // lane c in every lane
    static ir::Src swizzle(const ir::Src& s, const int lanes[4]);  // lane i reads s's lane lanes[i]
    static ir::Src negate(const ir::Src& s);

    // Whole values.
    Value constantValue(TypeId type, const std::vector<float>& components);  // row-major, flattened
    bool constantOf(const Value& v, std::vector<float>* components) const;

private:
    ir::Function& f_;
    TypeTable& types_;
    Loc loc_;
};

}  // namespace cgc
