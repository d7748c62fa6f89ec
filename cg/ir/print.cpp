// The IR's text form and its structural check.
#include "cg/ir/ir.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace cgc::ir {

namespace {

const char* const kAttrNames[] = {"texcoord0", "texcoord1", "texcoord2", "texcoord3", "texcoord4", "texcoord5",
                                  "texcoord6", "texcoord7", "color0",    "color1",    "wpos",      "fog"};
constexpr int kAttrCount = 12;
const char* const kTargetNames[] = {"1D", "2D", "3D", "RECT", "CUBE"};
constexpr int kTargetCount = 5;
const char* const kOutputNames[] = {"color", "depth"};
constexpr int kOutputCount = 2;
const char kLanes[] = "xyzw";

// The shortest decimal that reads back as the same float, so a print/parse
// round trip keeps every bit.
std::string number(float x) {
    if (std::isnan(x)) return "nan";
    if (std::isinf(x)) return x < 0 ? "-inf" : "inf";
    char buf[32];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, double(x));
        float back = std::strtof(buf, nullptr);
        if (std::memcmp(&back, &x, sizeof x) == 0) break;
    }
    return buf;
}

void printSource(std::string& out, const Src& s) {
    if (s.def == kNone) {
        out += '_';
        return;
    }
    if (s.neg) out += '-';
    out += '%';
    out += std::to_string(s.def);
    bool identity = true, replicated = true;
    for (int c = 0; c < 4; ++c) {
        identity = identity && s.swz[c] == c;
        replicated = replicated && s.swz[c] == s.swz[0];
    }
    if (identity) return;
    out += '.';
    for (int c = 0; c < (replicated ? 1 : 4); ++c) out += s.swz[c] < 4 ? kLanes[s.swz[c]] : '?';
}

// One line of text being parsed.
class Cursor {
public:
    Cursor(const char* p, const char* end) : p_(p), end_(end) {}

    void skipSpace() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r')) ++p_;
    }
    bool atEnd() {
        skipSpace();
        return p_ == end_ || *p_ == '#';
    }
    bool accept(char c) {
        skipSpace();
        if (p_ < end_ && *p_ == c) {
            ++p_;
            return true;
        }
        return false;
    }
    // A run of letters, digits, '_', '.', '+', '-' (names, numbers).
    std::string word() {
        skipSpace();
        const char* start = p_;
        while (p_ < end_ && (std::isalnum(static_cast<unsigned char>(*p_)) || *p_ == '_' || *p_ == '.' ||
                             *p_ == '+' || *p_ == '-'))
            ++p_;
        return std::string(start, p_);
    }
    bool unsignedNumber(std::uint32_t* out) {
        skipSpace();
        if (p_ == end_ || !std::isdigit(static_cast<unsigned char>(*p_))) return false;
        unsigned long long v = 0;
        while (p_ < end_ && std::isdigit(static_cast<unsigned char>(*p_))) {
            v = v * 10 + unsigned(*p_++ - '0');
            if (v >= kNone) return false;
        }
        *out = std::uint32_t(v);
        return true;
    }
    char peek() {
        skipSpace();
        return p_ < end_ ? *p_ : '\0';
    }

private:
    const char* p_;
    const char* end_;
};

struct LineError {
    std::string what;
};

[[noreturn]] void bad(std::string what) { throw LineError{std::move(what)}; }

int lookup(const std::string& name, const char* const* names, int count) {
    for (int i = 0; i < count; ++i)
        if (name == names[i]) return i;
    return -1;
}

Src parseSource(Cursor& in, bool allowNone) {
    Src s;
    if (in.accept('_')) {
        if (!allowNone) bad("'_' (no value) is only allowed in VEC lanes");
        return s;
    }
    s.neg = in.accept('-');
    if (!in.accept('%')) bad("expected a source such as %1 or -%2.xy");
    if (!in.unsignedNumber(&s.def)) bad("expected a value number after '%'");
    if (in.accept('.')) {
        std::string letters = in.word();
        if (letters.size() != 1 && letters.size() != 4) bad("a swizzle has 1 or 4 of x, y, z, w, not '" + letters + "'");
        for (int c = 0; c < 4; ++c) {
            const char* at = std::strchr(kLanes, letters[letters.size() == 1 ? 0 : c]);
            if (!at || !*at) bad("a swizzle has 1 or 4 of x, y, z, w, not '" + letters + "'");
            s.swz[c] = std::uint8_t(at - kLanes);
        }
    }
    return s;
}

float parseNumber(Cursor& in) {
    std::string text = in.word();
    if (text.empty()) bad("expected a number");
    char* end = nullptr;
    float x = std::strtof(text.c_str(), &end);
    if (*end) bad("'" + text + "' is not a number");
    return x;
}

Inst parseInstruction(Cursor& in, bool hasValue) {
    std::string name = in.word();
    Inst inst;
    const std::size_t satLength = std::strlen("_SAT");
    if (name.size() > satLength && name.compare(name.size() - satLength, satLength, "_SAT") == 0) {
        inst.sat = true;
        name.resize(name.size() - satLength);
    }
    bool found = false;
    for (int op = 0; op <= int(Op::Output) && !found; ++op) {
        if (name == opName(Op(op))) {
            inst.op = Op(op);
            found = true;
        }
    }
    if (!found) bad(name.empty() ? "expected an op name" : "unknown op '" + name + "'");
    if (isSink(inst.op) == hasValue)
        bad(std::string(opName(inst.op)) + (hasValue ? " defines no value" : " needs '%n =' before it"));
    inst.nsrc = std::uint8_t(sourceCount(inst.op));

    switch (inst.op) {
        case Op::Const: {
            inst.imm[0] = parseNumber(in);
            if (in.atEnd()) {
                inst.imm[1] = inst.imm[2] = inst.imm[3] = inst.imm[0];
            } else {
                for (int c = 1; c < 4; ++c) inst.imm[c] = parseNumber(in);
            }
            break;
        }
        case Op::Input: {
            std::string attr = in.word();
            int index = lookup(attr, kAttrNames, kAttrCount);
            if (index < 0) bad("unknown input '" + attr + "'");
            inst.index = std::uint16_t(index);
            break;
        }
        case Op::Uniform: {
            std::uint32_t slot = 0;
            if (!in.unsignedNumber(&slot) || slot > 0xffff) bad("expected a uniform slot number");
            inst.index = std::uint16_t(slot);
            break;
        }
        case Op::Output: {
            std::string reg = in.word();
            int index = lookup(reg, kOutputNames, kOutputCount);
            if (index < 0) bad("unknown output '" + reg + "' (color or depth)");
            inst.index = std::uint16_t(index);
            inst.src[0] = parseSource(in, false);
            break;
        }
        case Op::Tex: case Op::Txp: case Op::Txb: {
            inst.src[0] = parseSource(in, false);
            if (!in.accept(',')) bad("expected ', unit target' after the coordinate");
            std::uint32_t unit = 0;
            if (!in.unsignedNumber(&unit) || unit > 0xffff) bad("expected a texture unit number");
            inst.index = std::uint16_t(unit);
            std::string target = in.word();
            int t = lookup(target, kTargetNames, kTargetCount);
            if (t < 0) bad("unknown texture target '" + target + "' (1D, 2D, 3D, RECT or CUBE)");
            inst.target = std::uint8_t(t);
            break;
        }
        default:
            for (int s = 0; s < inst.nsrc; ++s) {
                if (s > 0 && !in.accept(','))
                    bad(std::string(opName(inst.op)) + " takes " + std::to_string(inst.nsrc) + " sources");
                inst.src[s] = parseSource(in, inst.op == Op::Vec);
            }
            break;
    }
    if (!in.atEnd()) bad("unexpected text after the instruction");
    return inst;
}

}  // namespace

std::string print(const Function& f) {
    std::string out;
    for (std::size_t n = 0; n < f.insts.size(); ++n) {
        const Inst& inst = f.insts[n];
        if (!isSink(inst.op)) out += "%" + std::to_string(n) + " = ";
        out += opName(inst.op);
        if (inst.sat) out += "_SAT";
        switch (inst.op) {
            case Op::Const:
                for (float x : inst.imm) out += " " + number(x);
                break;
            case Op::Input:
                out += ' ';
                out += inst.index < kAttrCount ? kAttrNames[inst.index] : "?" + std::to_string(inst.index);
                break;
            case Op::Uniform: out += " " + std::to_string(inst.index); break;
            case Op::Output:
                out += ' ';
                out += inst.index < kOutputCount ? kOutputNames[inst.index] : "?" + std::to_string(inst.index);
                out += ' ';
                printSource(out, inst.src[0]);
                break;
            case Op::Tex: case Op::Txp: case Op::Txb:
                out += ' ';
                printSource(out, inst.src[0]);
                out += ", " + std::to_string(inst.index) + " ";
                out += inst.target < kTargetCount ? kTargetNames[inst.target] : "?";
                break;
            default:
                for (int s = 0; s < inst.nsrc; ++s) {
                    out += s ? ", " : " ";
                    printSource(out, inst.src[s]);
                }
                break;
        }
        out += '\n';
    }
    return out;
}

bool parse(const std::string& text, Function* f, std::string* error) {
    Function result;
    std::size_t lineNumber = 0;
    const char* p = text.data();
    const char* end = p + text.size();
    try {
        while (p < end) {
            const char* eol = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
            if (!eol) eol = end;
            ++lineNumber;
            Cursor in(p, eol);
            p = eol < end ? eol + 1 : end;
            if (in.atEnd()) continue;
            bool hasValue = false;
            if (in.peek() == '%') {
                in.accept('%');
                std::uint32_t number = 0;
                if (!in.unsignedNumber(&number)) bad("expected a value number after '%'");
                if (number != result.insts.size())
                    bad("this is instruction " + std::to_string(result.insts.size()) + ", numbered %" +
                        std::to_string(number));
                if (!in.accept('=')) bad("expected '=' after %" + std::to_string(number));
                hasValue = true;
            }
            result.add(parseInstruction(in, hasValue));
        }
    } catch (const LineError& e) {
        if (error) *error = "line " + std::to_string(lineNumber) + ": " + e.what;
        return false;
    }
    std::string wrong = validate(result);
    if (!wrong.empty()) {
        if (error) *error = wrong;
        return false;
    }
    *f = std::move(result);
    return true;
}

std::string validate(const Function& f) {
    for (std::size_t n = 0; n < f.insts.size(); ++n) {
        const Inst& inst = f.insts[n];
        auto at = [&](const std::string& what) {
            return "%" + std::to_string(n) + " (" + opName(inst.op) + "): " + what;
        };
        if (inst.op > Op::Output) return at("unknown op");
        if (inst.nsrc != sourceCount(inst.op))
            return at("has " + std::to_string(inst.nsrc) + " sources, needs " +
                      std::to_string(sourceCount(inst.op)));
        // Saturation is defined on computed values only; the interpreter and
        // the back end ignore it elsewhere, so it would be silently lost.
        if (inst.sat && (isSink(inst.op) || isLeaf(inst.op)))
            return at("saturate on an op that computes no value");
        for (int s = 0; s < inst.nsrc; ++s) {
            const Src& src = inst.src[s];
            if (src.def == kNone) {
                if (inst.op != Op::Vec) return at("source " + std::to_string(s) + " is missing");
                continue;
            }
            if (src.def >= n) return at("reads %" + std::to_string(src.def) + ", which is not defined before it");
            if (isSink(f.insts[src.def].op)) return at("reads %" + std::to_string(src.def) + ", which has no value");
            for (int c = 0; c < 4; ++c)
                if (src.swz[c] > 3) return at("source " + std::to_string(s) + " has a swizzle past w");
        }
        switch (inst.op) {
            case Op::Const:
                for (float x : inst.imm)
                    if (!std::isfinite(x)) return at("a constant that is not finite");
                break;
            case Op::Input:
                if (inst.index >= kAttrCount) return at("unknown input " + std::to_string(inst.index));
                break;
            case Op::Output:
                if (inst.index >= kOutputCount) return at("unknown output " + std::to_string(inst.index));
                break;
            case Op::Tex: case Op::Txp: case Op::Txb:
                if (inst.target >= kTargetCount) return at("unknown texture target " + std::to_string(inst.target));
                break;
            default: break;
        }
    }
    return "";
}

}  // namespace cgc::ir
