// Interned types: each distinct type has one TypeId, so types compare as
// integers. Structs are nominal (each definition is a type of its own);
// everything else is structural.
#pragma once

#include "cg/diag.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace cgc {

using TypeId = std::uint32_t;

enum class TypeKind : std::uint8_t { Void, Scalar, Vector, Matrix, Array, Struct, Sampler };
enum class ScalarKind : std::uint8_t { Bool, Int, Half, Fixed, Float };
enum class SamplerKind : std::uint8_t { Sampler1D, Sampler2D, Sampler3D, SamplerRect, SamplerCube };

struct StructMember {
    std::string name;
    TypeId type = 0;
    std::string semantic;  // "" when none
    Loc loc;
};

struct TypeInfo {
    TypeKind kind = TypeKind::Void;
    ScalarKind scalar = ScalarKind::Float;  // Scalar, Vector, Matrix
    int rows = 1;        // Matrix: rows
    int cols = 1;        // Vector: components; Matrix: columns (each row is a vector of cols)
    SamplerKind sampler = SamplerKind::Sampler2D;
    TypeId element = 0;  // Array
    int length = 0;      // Array
    std::string name;    // Struct: its name ("" when anonymous)
    std::vector<StructMember> members;  // Struct
    Loc loc;             // Struct: where defined
};

class TypeTable {
public:
    TypeTable();

    TypeId voidType() const { return void_; }
    TypeId scalar(ScalarKind k);
    TypeId vector(ScalarKind k, int n);          // n = 1..4; float1 is a vector of one
    TypeId matrix(ScalarKind k, int rows, int cols);
    TypeId array(TypeId element, int length);
    TypeId sampler(SamplerKind k);
    TypeId newStruct(std::string name, std::vector<StructMember> members, Loc loc);

    const TypeInfo& info(TypeId t) const { return types_[t]; }
    TypeKind kind(TypeId t) const { return types_[t].kind; }
    bool isNumeric(TypeId t) const;  // scalar, vector or matrix
    bool isScalarOrVector(TypeId t) const;
    int components(TypeId t) const;  // scalar 1, vector n, matrix rows*cols, else 0
    // The same shape with another scalar kind (float4 -> bool4).
    TypeId withScalar(TypeId t, ScalarKind k);

    // 4-component registers a value of this type takes once flattened:
    // scalar and vector 1, matrix one per row, arrays and structs the sum of
    // their parts, samplers 0 (they are texture units, not values).
    int registers(TypeId t) const;
    int samplers(TypeId t) const;  // samplers it holds, flattened

    // Walks the flattened type in order, calling f(part) for each register
    // (a scalar, a vector, or a matrix's row as a vector) and each sampler.
    template <class F>
    void eachRegister(TypeId t, F&& f) {
        const TypeInfo& i = info(t);
        switch (i.kind) {
            case TypeKind::Scalar: case TypeKind::Vector: case TypeKind::Sampler: f(t); break;
            case TypeKind::Matrix: {
                TypeId row = vector(i.scalar, i.cols);
                for (int r = 0; r < i.rows; ++r) f(row);
                break;
            }
            case TypeKind::Array:
                for (int k = 0; k < i.length; ++k) eachRegister(i.element, f);
                break;
            case TypeKind::Struct:
                for (const StructMember& m : i.members) eachRegister(m.type, f);
                break;
            default: break;
        }
    }

    // "float4", "half2x3", "bool", "float[3]", "float4[2][3]", "struct Light", "samplerRECT".
    std::string name(TypeId t) const;

    // The built-in type a word names ("float3", "half", "fixed4x4",
    // "sampler2D"), or false. int and bool vectors and matrices included.
    bool builtinType(const std::string& word, TypeId* out);

private:
    TypeId intern(const TypeInfo& info);
    std::deque<TypeInfo> types_;  // a deque: info() references stay valid as types are added
    std::map<std::tuple<int, int, int, int, int, TypeId, int>, TypeId> index_;
    TypeId void_ = 0;
};

const char* scalarName(ScalarKind k);  // "float", "half", "fixed", "int", "bool"

// Every word TypeTable::builtinType accepts, for the parser, which must tell
// a type from a name before any table exists.
const std::vector<std::string>& builtinTypeNames();

}  // namespace cgc
