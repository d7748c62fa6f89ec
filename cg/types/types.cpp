#include "cg/types/types.h"

#include <cstring>

namespace cgc {

const char* scalarName(ScalarKind k) {
    switch (k) {
        case ScalarKind::Bool: return "bool";
        case ScalarKind::Int: return "int";
        case ScalarKind::Half: return "half";
        case ScalarKind::Fixed: return "fixed";
        case ScalarKind::Float: return "float";
    }
    return "float";
}

TypeTable::TypeTable() { void_ = intern(TypeInfo{}); }

TypeId TypeTable::intern(const TypeInfo& t) {
    auto key = std::make_tuple(int(t.kind), int(t.scalar), t.rows, t.cols, int(t.sampler), t.element, t.length);
    auto it = index_.find(key);
    if (it != index_.end()) return it->second;
    types_.push_back(t);
    TypeId id = TypeId(types_.size() - 1);
    index_.emplace(key, id);
    return id;
}

TypeId TypeTable::scalar(ScalarKind k) {
    TypeInfo t;
    t.kind = TypeKind::Scalar;
    t.scalar = k;
    return intern(t);
}

TypeId TypeTable::vector(ScalarKind k, int n) {
    TypeInfo t;
    t.kind = TypeKind::Vector;
    t.scalar = k;
    t.cols = n;
    return intern(t);
}

TypeId TypeTable::matrix(ScalarKind k, int rows, int cols) {
    TypeInfo t;
    t.kind = TypeKind::Matrix;
    t.scalar = k;
    t.rows = rows;
    t.cols = cols;
    return intern(t);
}

TypeId TypeTable::array(TypeId element, int length) {
    TypeInfo t;
    t.kind = TypeKind::Array;
    t.element = element;
    t.length = length;
    return intern(t);
}

TypeId TypeTable::sampler(SamplerKind k) {
    TypeInfo t;
    t.kind = TypeKind::Sampler;
    t.sampler = k;
    return intern(t);
}

TypeId TypeTable::newStruct(std::string name, std::vector<StructMember> members, Loc loc) {
    TypeInfo t;
    t.kind = TypeKind::Struct;
    t.name = std::move(name);
    t.members = std::move(members);
    t.loc = loc;
    types_.push_back(std::move(t));  // nominal: never shared, so not in the index
    return TypeId(types_.size() - 1);
}

bool TypeTable::isNumeric(TypeId t) const {
    TypeKind k = kind(t);
    return k == TypeKind::Scalar || k == TypeKind::Vector || k == TypeKind::Matrix;
}

bool TypeTable::isScalarOrVector(TypeId t) const {
    TypeKind k = kind(t);
    return k == TypeKind::Scalar || k == TypeKind::Vector;
}

int TypeTable::components(TypeId t) const {
    const TypeInfo& i = info(t);
    switch (i.kind) {
        case TypeKind::Scalar: return 1;
        case TypeKind::Vector: return i.cols;
        case TypeKind::Matrix: return i.rows * i.cols;
        default: return 0;
    }
}

TypeId TypeTable::withScalar(TypeId t, ScalarKind k) {
    const TypeInfo i = info(t);
    switch (i.kind) {
        case TypeKind::Scalar: return scalar(k);
        case TypeKind::Vector: return vector(k, i.cols);
        case TypeKind::Matrix: return matrix(k, i.rows, i.cols);
        default: return t;
    }
}

int TypeTable::registers(TypeId t) const {
    const TypeInfo& i = info(t);
    switch (i.kind) {
        case TypeKind::Scalar:
        case TypeKind::Vector: return 1;
        case TypeKind::Matrix: return i.rows;
        case TypeKind::Array: return i.length * registers(i.element);
        case TypeKind::Struct: {
            int n = 0;
            for (const StructMember& m : i.members) n += registers(m.type);
            return n;
        }
        default: return 0;
    }
}

int TypeTable::samplers(TypeId t) const {
    const TypeInfo& i = info(t);
    switch (i.kind) {
        case TypeKind::Sampler: return 1;
        case TypeKind::Array: return i.length * samplers(i.element);
        case TypeKind::Struct: {
            int n = 0;
            for (const StructMember& m : i.members) n += samplers(m.type);
            return n;
        }
        default: return 0;
    }
}

std::string TypeTable::name(TypeId t) const {
    const TypeInfo& i = info(t);
    switch (i.kind) {
        case TypeKind::Void: return "void";
        case TypeKind::Scalar: return scalarName(i.scalar);
        case TypeKind::Vector: return scalarName(i.scalar) + std::to_string(i.cols);
        case TypeKind::Matrix:
            return scalarName(i.scalar) + std::to_string(i.rows) + "x" + std::to_string(i.cols);
        case TypeKind::Array: {
            // float4[2][3]: the element's name, then the dimensions outermost first.
            std::string dims;
            TypeId e = t;
            while (info(e).kind == TypeKind::Array) {
                dims += "[" + std::to_string(info(e).length) + "]";
                e = info(e).element;
            }
            return name(e) + dims;
        }
        case TypeKind::Struct: return i.name.empty() ? "struct <anonymous>" : "struct " + i.name;
        case TypeKind::Sampler:
            switch (i.sampler) {
                case SamplerKind::Sampler1D: return "sampler1D";
                case SamplerKind::Sampler2D: return "sampler2D";
                case SamplerKind::Sampler3D: return "sampler3D";
                case SamplerKind::SamplerRect: return "samplerRECT";
                case SamplerKind::SamplerCube: return "samplerCUBE";
            }
    }
    return "?";
}

namespace {

const struct {
    const char* word;
    SamplerKind kind;
} kSamplerWords[] = {
    {"sampler1D", SamplerKind::Sampler1D},     {"sampler2D", SamplerKind::Sampler2D},
    {"sampler3D", SamplerKind::Sampler3D},     {"samplerRECT", SamplerKind::SamplerRect},
    {"samplerCUBE", SamplerKind::SamplerCube},
};

const ScalarKind kScalarKinds[] = {ScalarKind::Float, ScalarKind::Half, ScalarKind::Fixed, ScalarKind::Int,
                                   ScalarKind::Bool};

}  // namespace

bool TypeTable::builtinType(const std::string& word, TypeId* out) {
    for (const auto& s : kSamplerWords)
        if (word == s.word) {
            *out = sampler(s.kind);
            return true;
        }
    if (word == "void") {
        *out = void_;
        return true;
    }
    for (ScalarKind k : kScalarKinds) {
        const char* base = scalarName(k);
        std::size_t n = std::strlen(base);
        if (word.compare(0, n, base) != 0) continue;
        std::string rest = word.substr(n);
        auto digit = [](char c) { return c >= '1' && c <= '4'; };
        if (rest.empty()) {
            *out = scalar(k);
            return true;
        }
        if (rest.size() == 1 && digit(rest[0])) {
            *out = vector(k, rest[0] - '0');
            return true;
        }
        if (rest.size() == 3 && digit(rest[0]) && rest[1] == 'x' && digit(rest[2])) {
            *out = matrix(k, rest[0] - '0', rest[2] - '0');
            return true;
        }
        return false;
    }
    return false;
}

const std::vector<std::string>& builtinTypeNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out = {"void"};
        for (const auto& s : kSamplerWords) out.push_back(s.word);
        for (ScalarKind k : kScalarKinds) {
            const std::string base = scalarName(k);
            out.push_back(base);
            for (char n = '1'; n <= '4'; ++n) {
                out.push_back(base + n);
                for (char m = '1'; m <= '4'; ++m) out.push_back(base + n + 'x' + m);
            }
        }
        return out;
    }();
    return names;
}

}  // namespace cgc
