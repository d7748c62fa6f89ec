#include "cg/arb/header.h"

#include "cg/diag.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string_view>
#include <utility>

namespace cgc {

namespace {

const char kTextureForm[] = "'# texture[N] = NAME (TYPE)'";
const char kLocalForm[] =
    "'# program.local[N] = NAME (TYPE)' or '# program.local[N..M] = NAME (TYPE)', and for an initial value "
    "' = V, V, ...' after it";

struct Shape {
    bool sampler = false;
    int target = 0;      // ir::TexTarget
    int components = 1;  // in each register
    int registers = 1;
};

bool parseType(std::string_view t, Shape* shape) {
    static const std::pair<const char*, int> samplers[] = {
        {"sampler1D", 0}, {"sampler2D", 1}, {"sampler3D", 2}, {"samplerRECT", 3}, {"samplerCUBE", 4}};
    for (const auto& s : samplers) {
        if (t == s.first) {
            shape->sampler = true;
            shape->target = s.second;
            shape->registers = 0;
            return true;
        }
    }
    std::size_t i = 0;
    for (const char* base : {"float", "half", "fixed", "int", "bool"}) {
        if (t.compare(0, std::strlen(base), base) == 0) {
            i = std::strlen(base);
            break;
        }
    }
    if (i == 0) return false;
    auto digit = [&](int* out) {
        if (i >= t.size() || t[i] < '1' || t[i] > '4') return false;
        *out = t[i++] - '0';
        return true;
    };
    int rows = 0, cols = 0;
    if (digit(&cols)) {
        if (i < t.size() && t[i] == 'x') {
            ++i;
            rows = cols;
            if (!digit(&cols)) return false;
        }
    }
    shape->components = cols ? cols : 1;
    shape->registers = rows ? rows : 1;
    while (i < t.size()) {  // array dimensions: float4[3], float[2][2]
        if (t[i] != '[') return false;
        long length = 0;
        std::size_t start = ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9' && i - start < 6) length = length * 10 + (t[i++] - '0');
        if (i == start || i >= t.size() || t[i] != ']' || length < 1) return false;
        ++i;
        shape->registers *= int(length);
        if (shape->registers > (1 << 20)) return false;
    }
    return true;
}

bool nameCharacter(char c, bool first) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
           (!first && ((c >= '0' && c <= '9') || c == '.' || c == '[' || c == ']'));
}

struct Comment {
    bool texture = false;
    long first = 0, last = 0;
    std::string name, type;
    std::vector<float> values;  // after a second '=': the initial value
    std::size_t valuesAt = 0;
    int line = 0, col = 0;
};

// One comment line, from its '#'. Returns the column (0-based) where it
// stops making sense, or npos when it parsed.
std::size_t parseComment(std::string_view s, Comment* c) {
    std::size_t i = 1;
    auto spaces = [&] {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    };
    auto literal = [&](const char* word) {
        if (s.compare(i, std::strlen(word), word) != 0) return false;
        i += std::strlen(word);
        return true;
    };
    auto number = [&](long* out) {
        std::size_t start = i;
        *out = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < 9) *out = *out * 10 + (s[i++] - '0');
        return i > start && !(i < s.size() && s[i] >= '0' && s[i] <= '9');
    };
    spaces();
    c->texture = literal("texture[");
    if (!c->texture) literal("program.local[");
    if (!number(&c->first)) return i;
    c->last = c->first;
    if (!c->texture && literal("..") && !number(&c->last)) return i;
    if (!literal("]")) return i;
    spaces();
    if (!literal("=")) return i;
    spaces();
    std::size_t start = i;
    while (i < s.size() && nameCharacter(s[i], i == start)) ++i;
    if (i == start) return i;
    c->name = std::string(s.substr(start, i - start));
    spaces();
    if (!literal("(")) return i;
    start = i;
    while (i < s.size() && s[i] != ')') ++i;
    if (i == s.size() || i == start) return i;
    c->type = std::string(s.substr(start, i - start));
    ++i;
    spaces();
    if (i < s.size() && s[i] == '=') {
        ++i;
        c->valuesAt = i;
        do {
            spaces();
            const std::string rest(s.substr(i, 48));
            char* stop = nullptr;
            const float v = std::strtof(rest.c_str(), &stop);
            if (stop == rest.c_str()) return i;
            c->values.push_back(v);
            i += std::size_t(stop - rest.c_str());
            spaces();
        } while (i < s.size() && s[i++] == ',');
        if (i == s.size() && s.back() != ',') return std::string_view::npos;
        return i - 1;
    }
    return i == s.size() ? std::string_view::npos : i;
}

// The shortest decimal form that reads back as the same float.
std::string number(float x) {
    char buf[48];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, double(x));
        if (std::strtof(buf, nullptr) == x) break;
    }
    return buf;
}

bool startsAHeaderComment(std::string_view s) {
    std::size_t i = 1;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    return s.compare(i, 8, "texture[") == 0 || s.compare(i, 14, "program.local[") == 0;
}

}  // namespace

std::string headerComment(const ParameterInfo& p) {
    std::string slot = p.kind == ParameterInfo::Sampler ? "texture[" + std::to_string(p.slot) + "]"
                       : p.slots > 1 ? "program.local[" + std::to_string(p.slot) + ".." +
                                           std::to_string(p.slot + p.slots - 1) + "]"
                                     : "program.local[" + std::to_string(p.slot) + "]";
    std::string line = "# " + slot + " = " + p.name + " (" + p.typeName + ")";
    for (std::size_t k = 0; k < p.initial.size(); ++k) {
        if (int(k % 4) >= p.components) continue;
        line += k ? ", " : " = ";
        line += number(p.initial[k]);
    }
    return line;
}

bool headerParameters(const char* text, std::size_t length, const std::string& sourceName, const Limits& limits,
                      std::vector<ParameterInfo>* out, std::string* error) {
    out->clear();
    const std::string_view all(text, length);
    std::map<std::string, int> names;                      // name -> line
    std::map<long, std::string> units, locals;             // slot -> name
    auto failAt = [&](int line, int col, const std::string& what) {
        *error = cgc::boundedLine(cgc::clipped(sourceName, cgc::kFileNameBytes) + ":" + std::to_string(line) + ":" +
                                  std::to_string(col) + ": error: " + what);
        out->clear();
        return false;
    };
    int line = 0;
    for (std::size_t start = 0; start <= all.size();) {
        // Lines end in LF, CR LF or a lone CR, as the compiler counts them.
        std::size_t end = all.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = all.size();
        std::string_view s = all.substr(start, end - start);
        const std::size_t next = end + (all.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        ++line;
        std::size_t indent = 0;
        while (indent < s.size() && (s[indent] == ' ' || s[indent] == '\t')) ++indent;
        s.remove_prefix(indent);
        start = next;
        if (s.empty() || s[0] != '#' || !startsAHeaderComment(s)) continue;

        Comment c;
        c.line = line;
        c.col = int(indent) + 1;
        const std::size_t stop = parseComment(s, &c);
        if (stop != std::string_view::npos) {
            return failAt(line, int(indent + stop) + 1,
                          "malformed parameter comment " + cgc::quoted(s) + "; the form is " +
                              (c.texture ? kTextureForm : kLocalForm));
        }
        Shape shape;
        if (!parseType(c.type, &shape))
            return failAt(line, c.col, "unknown type " + cgc::quoted(c.type) + " for parameter " + cgc::quoted(c.name));
        const std::string slot = c.texture ? "texture[" + std::to_string(c.first) + "]"
                                           : "program.local[" + std::to_string(c.first) +
                                                 (c.last != c.first ? ".." + std::to_string(c.last) : "") + "]";
        if (c.texture && !shape.sampler)
            return failAt(line, c.col, cgc::quoted(c.name) + " is named as " + slot + " but its type " + cgc::quoted(c.type) +
                                           " is not a sampler");
        if (!c.texture && shape.sampler)
            return failAt(line, c.col, cgc::quoted(c.name) + " has the sampler type " + cgc::quoted(c.type) +
                                           "; samplers are named as '# texture[N] = NAME (TYPE)'");
        if (c.last < c.first) return failAt(line, c.col, slot + " counts down");
        if (!c.texture && c.last - c.first + 1 != shape.registers)
            return failAt(line, c.col, cgc::quoted(c.name) + " (" + cgc::clipped(c.type, 60) + ") takes " + std::to_string(shape.registers) +
                                           (shape.registers == 1 ? " register" : " registers") + ", but " + slot +
                                           " names " + std::to_string(c.last - c.first + 1));
        if (c.texture && c.first >= limits.textureUnits)
            return failAt(line, c.col, slot + " is past the last texture unit (at most " +
                                           std::to_string(limits.textureUnits) + ")");
        if (!c.texture && c.last >= limits.localParameters)
            return failAt(line, c.col, slot + " is past the last local parameter (at most " +
                                           std::to_string(limits.localParameters) + ")");
        auto named = names.emplace(c.name, line);
        if (!named.second)
            return failAt(line, c.col, cgc::quoted(c.name) + " is named twice (first at line " +
                                           std::to_string(named.first->second) + ")");
        std::map<long, std::string>& taken = c.texture ? units : locals;
        for (long k = c.first; k <= c.last; ++k) {
            auto slotTaken = taken.emplace(k, c.name);
            if (!slotTaken.second)
                return failAt(line, c.col, std::string(c.texture ? "texture[" : "program.local[") + std::to_string(k) +
                                               "] belongs to both " + cgc::quoted(slotTaken.first->second) + " and " +
                                               cgc::quoted(c.name));
        }

        const std::size_t want = std::size_t(shape.components * shape.registers);
        if (!c.values.empty() && shape.sampler)
            return failAt(line, int(indent + c.valuesAt) + 1, "sampler " + cgc::quoted(c.name) + " cannot have an initial value");
        if (!c.values.empty() && c.values.size() != want)
            return failAt(line, int(indent + c.valuesAt) + 1,
                          cgc::quoted(c.name) + " (" + cgc::clipped(c.type, 60) + ") takes " + std::to_string(want) +
                              (want == 1 ? " initial value" : " initial values") + ", got " +
                              std::to_string(c.values.size()));
        ParameterInfo p;
        for (std::size_t k = 0; k < c.values.size(); ++k) {
            if (k % std::size_t(shape.components) == 0) p.initial.insert(p.initial.end(), 4, 0.0f);
            p.initial[k / std::size_t(shape.components) * 4 + k % std::size_t(shape.components)] = c.values[k];
        }
        p.name = c.name;
        p.typeName = c.type;
        p.kind = shape.sampler ? ParameterInfo::Sampler : ParameterInfo::Numeric;
        p.target = shape.target;
        p.components = shape.components;
        p.slot = int(c.first);
        p.slots = shape.sampler ? 1 : shape.registers;
        out->push_back(std::move(p));
    }
    return true;
}

}  // namespace cgc
