#include "fuzz/random_program.h"

#include <algorithm>
#include <random>
#include <vector>

namespace randprog {

namespace {

struct Var {
    enum Kind { Vector, Matrix, Array, Struct } kind = Vector;
    std::string name;
    int width = 4;  // Vector: components; Matrix: columns; Array: of each element
    int rows = 1;   // Matrix: rows; Array: length
    bool writable = true;
};

struct Counter {
    std::string name;
    int bound;  // holds 0 .. bound - 1 wherever it can be read
};

struct Function {
    std::string name;
    int result;
    std::vector<int> widths;
    std::vector<int> modes;  // 0 in, 1 out, 2 inout
};

const char* const kLanes = "xyzw";

class Generator {
public:
    Generator(std::uint64_t seed, const Settings& s) : rng_(seed), s_(s) {}

    std::string program() {
        out_ += "struct S { float4 a; float2 b; float c[2]; };\n";
        out_ += "uniform float u1; uniform float2 u2; uniform float3 u3; uniform float4 u4;\n";
        out_ += "uniform float3x3 um33; uniform float2x4 um24; uniform float4x2 um42; uniform float4 ua[3];\n";
        out_ += "uniform half2 uh; uniform int ui; uniform bool ub;\n";
        out_ += "uniform sampler1D t1; uniform sampler2D t2; uniform sampler3D t3; uniform samplerRECT tr; uniform samplerCUBE tc;\n";
        out_ += "static const float kw[4] = {0.5, -1.25, 2.0, 0.75};\n";
        for (auto [n, w] : {std::pair{"u1", 1}, {"u2", 2}, {"u3", 3}, {"u4", 4}, {"uh", 2}}) add(Var::Vector, n, w, 1, false);
        add(Var::Vector, "ui", 1, 1, false);
        add(Var::Matrix, "um33", 3, 3, false);
        add(Var::Matrix, "um24", 4, 2, false);
        add(Var::Matrix, "um42", 2, 4, false);
        add(Var::Array, "ua", 4, 3, false);
        add(Var::Array, "kw", 1, 4, false);
        const std::size_t globals = scope_.size();
        int functions = below(s_.functions + 1);
        for (int f = 0; f < functions; ++f) function(f);
        scope_.resize(globals);
        out_ += "float4 main(float4 tc0 : TEXCOORD0, float4 tc1 : TEXCOORD1, float2 tc2 : TEXCOORD2,\n"
                "            float3 tc3 : TEXCOORD3, float4 col : COLOR0, uniform float4 pu) : COLOR\n{\n";
        for (auto [n, w] : {std::pair{"tc0", 4}, {"tc1", 4}, {"tc2", 2}, {"tc3", 3}, {"col", 4}})
            add(Var::Vector, n, w, 1, true);
        add(Var::Vector, "pu", 4, 1, false);
        returnWidth_ = 4;
        int n = s_.statements / 2 + below(s_.statements / 2 + 1);
        for (int i = 0; i < n; ++i) statement(1, 0);
        line(1, "return " + expr(4, 3) + ";");
        out_ += "}\n";
        return out_;
    }

private:
    // ---- randomness ----
    int below(int n) { return n <= 1 ? 0 : std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    bool chance(int oneIn) { return below(oneIn) == 0; }
    std::string number() {
        // Not short binary fractions, so sums and products of them reach
        // whole numbers (texel edges, floor's steps) only by real chance.
        static const char* const kNumbers[] = {"0.53", "1.47", "-0.77", "2.03", "0.27", "3.1", "-1.23", "0.131", "-2.47", "0.97"};
        if (chance(2)) return kNumbers[below(10)];
        int k = below(6001) - 3000;
        std::string s = std::to_string(std::abs(k) / 1000) + "." + std::to_string(1000 + std::abs(k) % 1000).substr(1) + "7";
        return k < 0 ? "-" + s : s;
    }
    std::string fresh(const char* prefix) { return prefix + std::to_string(names_++); }

    void add(Var::Kind kind, const std::string& name, int width, int rows, bool writable) {
        Var v;
        v.kind = kind;
        v.name = name;
        v.width = width;
        v.rows = rows;
        v.writable = writable;
        scope_.push_back(v);
    }
    void line(int indent, const std::string& text) { out_ += std::string(std::size_t(indent) * 4, ' ') + text + "\n"; }

    static std::string type(int w) { return w == 1 ? "float" : "float" + std::to_string(w); }

    // A swizzle of w lanes out of n, repeats allowed unless `distinct`.
    std::string swizzle(int n, int w, bool distinct) {
        std::string s;
        std::vector<int> lanes = {0, 1, 2, 3};
        std::shuffle(lanes.begin(), lanes.begin() + n, rng_);
        for (int i = 0; i < w; ++i) s += kLanes[distinct ? lanes[std::size_t(i)] : below(n)];
        return s;
    }

    // An index into `length` elements: a constant, or a counter that stays inside.
    std::string index(int length) {
        std::vector<const Counter*> fit;
        for (const Counter& c : counters_)
            if (c.bound <= length) fit.push_back(&c);
        if (!fit.empty() && !chance(3)) return fit[std::size_t(below(int(fit.size())))]->name;
        return std::to_string(below(length));
    }

    // ---- expressions ----

    // A readable value of width w made from a variable.
    std::string leaf(int w) {
        if (w == 1 && !counters_.empty() && chance(8)) return "(float)" + counters_[std::size_t(below(int(counters_.size())))].name;
        if (chance(6) || scope_.empty()) {
            if (w == 1) return number();
            std::string s = type(w) + "(";
            for (int i = 0; i < w; ++i) s += (i ? ", " : "") + number();
            return s + ")";
        }
        const Var& v = scope_[std::size_t(below(int(scope_.size())))];
        std::string base;
        int n = v.width;
        switch (v.kind) {
            case Var::Vector: base = v.name; break;
            case Var::Array: base = v.name + "[" + index(v.rows) + "]"; break;
            case Var::Struct:
                switch (below(3)) {
                    case 0: base = v.name + ".a"; n = 4; break;
                    case 1: base = v.name + ".b"; n = 2; break;
                    default: base = v.name + ".c[" + index(2) + "]"; n = 1; break;
                }
                break;
            case Var::Matrix:
                switch (below(3)) {
                    case 0: base = v.name + "[" + index(v.rows) + "]"; break;
                    case 1: base = v.name + "[" + index(v.rows) + "][" + index(v.width) + "]"; n = 1; break;
                    default:
                        base = v.name + "._m" + std::to_string(below(v.rows)) + std::to_string(below(v.width));
                        n = 1;
                        break;
                }
                break;
        }
        if (n == w && chance(2)) return base;
        if (n == 1 && w > 1 && chance(2)) return "(" + type(w) + ")" + base;  // spread
        return base + "." + swizzle(n, w, false);
    }

    std::string expr(int w, int depth) {
        if (depth <= 0 || chance(4)) return leaf(w);
        const int d = depth - 1;
        auto x = [&] { return expr(w, d); };
        switch (below(16)) {
            case 0: {
                static const char* const ops[] = {" + ", " - ", " * "};
                std::string b = chance(3) ? expr(1, d) : x();  // a scalar spreads
                return "(" + x() + ops[below(3)] + b + ")";
            }
            case 1: return "(" + x() + " / (abs(" + x() + ") + 0.5))";
            case 2: return "-(" + leaf(w) + ")";
            case 3: case 4: {
                static const char* const f[] = {
                    "sin(#)", "cos(#)", "abs(#)", "floor(#)", "ceil(#)", "frac(#)", "round(#)", "trunc(#)",
                    "saturate(#)", "sign(#)", "tanh(#)", "atan(#)", "exp(clamp(#, -4.0, 3.0))",
                    "exp2(clamp(#, -4.0, 3.0))", "log(abs(#) + 0.5)", "log2(abs(#) + 0.5)", "log10(abs(#) + 0.5)",
                    "sqrt(abs(#))", "rsqrt(abs(#) + 0.25)", "asin(clamp(#, -0.95, 0.95))",
                    "acos(clamp(#, -0.95, 0.95))", "sinh(clamp(#, -3.0, 3.0))", "cosh(clamp(#, -3.0, 3.0))",
                    "tan(clamp(#, -1.2, 1.2))", "degrees(#)", "radians(#)", "normalize(abs(#) + 0.25)"};
                std::string t = f[below(w == 1 ? 26 : 27)];
                t.replace(t.find('#'), 1, x());
                return t;
            }
            case 5: {
                static const char* const f[] = {"min(#, @)", "max(#, @)", "step(#, @)",
                                                "pow(abs(#) + 0.5, clamp(@, -2.0, 2.0))", "fmod(#, abs(@) + 0.5)",
                                                "atan2(#, @)", "ldexp(#, clamp(round(@), -3.0, 3.0))",
                                                "(# % (abs(@) + 0.5))", "reflect(#, @)"};
                std::string t = f[below(w == 1 ? 8 : 9)];
                t.replace(t.find('#'), 1, x());
                t.replace(t.find('@'), 1, chance(4) ? expr(1, d) : x());
                return t;
            }
            case 6: {
                switch (below(4)) {
                    case 0: return "lerp(" + x() + ", " + x() + ", " + (chance(2) ? expr(1, d) : x()) + ")";
                    case 1: return "clamp(" + x() + ", " + x() + ", " + x() + ")";
                    case 2: {
                        std::string a = leaf(w);
                        return "smoothstep(" + a + ", " + a + " + abs(" + x() + ") + 0.5, " + x() + ")";
                    }
                    default:
                        if (w == 1) return "lerp(" + x() + ", " + x() + ", saturate(" + x() + "))";
                        return "faceforward(" + x() + ", " + x() + ", " + x() + ")";
                }
            }
            case 7: {
                if (w == 1) {
                    int k = 1 + below(4);
                    switch (below(5)) {
                        case 0: return "dot(" + expr(k, d) + ", " + expr(k, d) + ")";
                        case 1: return "length(" + expr(k, d) + ")";
                        case 2: return "distance(" + expr(k, d) + ", " + expr(k, d) + ")";
                        case 3: return "determinant(" + (chance(2) ? std::string("um33") : square(d)) + ")";
                        default: return "(float)" + std::string(chance(2) ? "any" : "all") + "(" + expr(k, d) + " > " + expr(k, d) + ")";
                    }
                }
                if (w == 3 && chance(2)) return "cross(" + x() + ", " + x() + ")";
                if (w == 4 && chance(3)) return "lit(" + expr(1, d) + ", " + expr(1, d) + ", " + expr(1, d) + ")";
                return "refract(" + x() + ", normalize(abs(" + x() + ") + 0.25), " + std::string(chance(2) ? "0.6" : "0.95") + ")";
            }
            case 8: return product(w, d);
            case 9: return "(" + condition(d) + " ? " + x() + " : " + x() + ")";
            case 10:
                if (w > 1) return "(" + x() + " > " + x() + " ? " + x() + " : " + x() + ")";
                return "(float)((int)(" + x() + " * 3.0) " + (chance(2) ? "/ 2" : "% 3") + ")";
            case 11: case 12: return lookup(w, d);
            case 13: {
                std::vector<const Function*> fit;
                for (const Function& f : functions_)
                    if (f.result == w && callable(f)) fit.push_back(&f);
                if (fit.empty()) return "(" + type(w) + ")(" + x() + " >= " + x() + ")";
                const Function& f = *fit[std::size_t(below(int(fit.size())))];
                std::string s = f.name + "(";
                for (std::size_t i = 0; i < f.widths.size(); ++i) s += (i ? ", " : "") + expr(f.widths[i], d);
                return s + ")";
            }
            case 14:
                if (chance(3)) {
                    static const char* const tests[] = {"isnan", "isinf", "isfinite"};
                    return "(" + type(w) + ")" + tests[below(3)] + "(" + x() + ")";
                }
                return "(" + type(w) + ")(" + x() + (chance(2) ? " < " : " >= ") + x() + ")";
            default: return w == 1 ? "(half)" + x() : "(half" + std::to_string(w) + ")" + x();
        }
    }

    // Only functions with in parameters alone go inside expressions, so no
    // write hides in the middle of one.
    bool callable(const Function& f) const {
        for (int m : f.modes)
            if (m != 0) return false;
        return true;
    }

    std::string square(int d) {
        switch (below(3)) {
            case 0: return "float2x2(" + expr(2, d) + ", " + expr(2, d) + ")";
            case 1: return "float3x3(" + expr(3, d) + ", " + expr(3, d) + ", " + expr(3, d) + ")";
            default: return "transpose(um33)";
        }
    }

    // mul both ways, with the uniform matrices and made ones.
    std::string product(int w, int d) {
        switch (w) {
            case 2:
                if (chance(2)) return "mul(um24, " + expr(4, d) + ")";
                return chance(2) ? "mul(" + expr(4, d) + ", um42)" : "mul(float2x2(" + expr(4, d) + "), " + expr(2, d) + ")";
            case 3:
                if (chance(2)) return "mul(um33, " + expr(3, d) + ")";
                return chance(2) ? "mul(" + expr(3, d) + ", um33)" : "mul(mul(um33, transpose(um33)), " + expr(3, d) + ")";
            case 4:
                if (chance(2)) return "mul(um42, " + expr(2, d) + ")";
                return chance(2) ? "mul(" + expr(2, d) + ", um24)" : "mul(transpose(um24), " + expr(2, d) + ")";
            default: return chance(2) ? "mul(" + expr(2, d) + ", mul(um24, um42)).y" : "mul(um24, um42)._m01";
        }
    }

    std::string lookup(int w, int d) {
        std::string call;
        switch (below(12)) {
            case 9: call = "tex1Dproj(t1, float2(" + expr(1, d) + ", abs(" + expr(1, d) + ") + 0.5))"; break;
            case 10: call = "tex3Dproj(t3, float4(" + expr(3, d) + ", abs(" + expr(1, d) + ") + 0.5))"; break;
            case 11: call = "texCUBEbias(tc, float4(" + expr(3, d) + " + float3(0.0113, -0.0271, 0.0057), " + expr(1, d) + "))"; break;
            case 0: call = "tex1D(t1, " + expr(1, d) + ")"; break;
            case 1: call = "tex2D(t2, " + expr(2, d) + ")"; break;
            case 2: call = "tex3D(t3, " + expr(3, d) + ")"; break;
            case 3: call = "texRECT(tr, " + expr(2, d) + " * 4.0)"; break;
            // Off the diagonals, where GL leaves the face to the driver.
            case 4: call = "texCUBE(tc, " + expr(3, d) + " + float3(0.0113, -0.0271, 0.0057))"; break;
            case 5: call = "tex2Dproj(t2, float3(" + expr(2, d) + ", abs(" + expr(1, d) + ") + 0.5))"; break;
            case 6: call = "texRECTproj(tr, float4(" + expr(2, d) + ", 0.0, abs(" + expr(1, d) + ") + 0.25))"; break;
            case 7: call = "tex2Dbias(t2, float4(" + expr(2, d) + ", 0.0, " + expr(1, d) + "))"; break;
            default: {
                // A width prefix gives that many components already.
                static const char* const p[] = {"f", "h", "x"};
                return std::string(p[below(3)]) + std::to_string(w) + "tex2D(t2, " + expr(2, d) + ")";
            }
        }
        return call + (w == 4 && chance(2) ? "" : "." + swizzle(4, w, false));
    }

    std::string condition(int d) {
        static const char* const cmp[] = {" < ", " <= ", " > ", " >= "};
        switch (d <= 0 ? 0 : below(7)) {
            case 6: return chance(2) ? "ub" : "!ub";
            case 0: case 1: return expr(1, d) + cmp[below(4)] + expr(1, d);
            case 2: {
                int k = 2 + below(3);
                return std::string(chance(2) ? "any(" : "all(") + expr(k, d) + cmp[below(4)] + expr(k, d) + ")";
            }
            case 3: return "!(" + condition(d - 1) + ")";
            case 4: return "(" + condition(d - 1) + " && " + condition(d - 1) + ")";
            default: return "(" + condition(d - 1) + " || " + condition(d - 1) + ")";
        }
    }

    // ---- statements ----

    // A writable target of width w: a variable, a masked part, an element.
    bool target(int w, std::string* out) {
        std::vector<const Var*> fit;
        for (const Var& v : scope_)
            if (v.writable) fit.push_back(&v);
        if (fit.empty()) return false;
        const Var& v = *fit[std::size_t(below(int(fit.size())))];
        std::string base;
        int n = v.width;
        switch (v.kind) {
            case Var::Vector: base = v.name; break;
            case Var::Array: base = v.name + "[" + index(v.rows) + "]"; break;
            case Var::Struct:
                if (chance(2)) base = v.name + ".a", n = 4;
                else base = v.name + ".b", n = 2;
                break;
            case Var::Matrix: base = v.name + "[" + index(v.rows) + "]"; break;
        }
        if (n < w) return false;
        *out = n == w && chance(2) ? base : base + "." + swizzle(n, w, true);
        return true;
    }

    void assignment(int indent) {
        int w = 1 + below(4);
        std::string t;
        if (!target(w, &t)) return;
        switch (below(6)) {
            case 0: line(indent, t + " += " + expr(w, 2) + ";"); break;
            case 1: line(indent, t + " -= " + expr(w, 2) + ";"); break;
            case 2: line(indent, t + " *= " + std::string(chance(2) ? "sin(" : "saturate(") + expr(w, 2) + ");"); break;
            case 3: line(indent, t + (chance(2) ? "++;" : "--;")); break;
            default: line(indent, t + " = " + expr(w, 3) + ";"); break;
        }
    }

    void declaration(int indent) {
        switch (below(8)) {
            case 0: {
                std::string n = fresh("a");
                int w = 1 + below(4), len = 2 + below(3);
                std::string init;
                for (int i = 0; i < len; ++i) init += (i ? ", " : "") + expr(w, 2);
                line(indent, type(w) + " " + n + "[" + std::to_string(len) + "] = {" + init + "};");
                add(Var::Array, n, w, len, true);
                return;
            }
            case 1: {
                std::string n = fresh("s");
                line(indent, "S " + n + " = {" + expr(4, 2) + ", " + expr(2, 2) + ", {" + expr(1, 1) + ", " + expr(1, 1) + "}};");
                add(Var::Struct, n, 4, 1, true);
                return;
            }
            case 2: {
                std::string n = fresh("m");
                int r = 2 + below(2), c = 2 + below(3);
                std::string init;
                for (int i = 0; i < r; ++i) init += (i ? ", " : "") + expr(c, 2);
                line(indent, "float" + std::to_string(r) + "x" + std::to_string(c) + " " + n + " = float" +
                                 std::to_string(r) + "x" + std::to_string(c) + "(" + init + ");");
                add(Var::Matrix, n, c, r, true);
                return;
            }
            default: {
                std::string n = fresh("v");
                int w = 1 + below(4);
                const char* kind = chance(5) ? "half" : "float";
                line(indent, std::string(kind) + (w > 1 ? std::to_string(w) : "") + " " + n + " = " + expr(w, 3) + ";");
                add(Var::Vector, n, w, 1, true);
                return;
            }
        }
    }

    // A statement that leaves the loop or the function when a condition holds.
    void exit(int indent, bool inLoop, bool* usedBreak, bool* usedContinue) {
        std::string c = "if (" + condition(2) + ") ";
        int pick = below(inLoop ? 5 : 2);
        if (pick == 3 && *usedContinue && !s_.continueAndBreak) pick = 4;
        if (pick == 4 && *usedBreak && !s_.continueAndBreak) pick = 3;
        if (pick == 4 && stepsAtEnd_) pick = 3;  // a continue would skip the step
        switch (pick) {
            case 0: line(indent, c + "return " + expr(returnWidth_, 2) + ";"); break;
            case 1: line(indent, c + "discard;"); break;
            case 2: line(indent, "clip(" + expr(1 + below(4), 2) + ");"); break;
            case 3: line(indent, c + "break;"), *usedBreak = true; break;
            default: line(indent, c + "continue;"), *usedContinue = true; break;
        }
    }

    void block(int indent, int depth, int count) {
        std::size_t mark = scope_.size();
        for (int i = 0; i < count; ++i) statement(indent, depth);
        scope_.resize(mark);
    }

    void loop(int indent, int depth) {
        int bound = 1 + below(4);
        std::string i = fresh("i");
        int form = s_.whileLoops ? below(s_.stepLast ? 5 : 4) : below(2);
        const bool outerStepsAtEnd = stepsAtEnd_;
        stepsAtEnd_ = form == 4;
        std::size_t mark = scope_.size();
        std::size_t counters = counters_.size();
        switch (form) {
            case 0: line(indent, "for (int " + i + " = 0; " + i + " < " + std::to_string(bound) + "; " + i + "++) {"); break;
            case 1:
                line(indent, "for (int " + i + " = " + std::to_string(bound - 1) + "; " + i + " >= 0; --" + i + ") {");
                break;
            case 2:
                line(indent, "int " + i + " = 0;");
                line(indent, "while (" + i + " < " + std::to_string(bound) + ") {");
                line(indent + 1, i + "++;");
                break;
            case 3:
                line(indent, "int " + i + " = 0;");
                line(indent, "do {");
                line(indent + 1, i + " += 1;");
                break;
            default:
                // The counter steps last, after the body's breaks.
                line(indent, "int " + i + " = 0;");
                line(indent, "while (" + i + " < " + std::to_string(bound) + ") {");
                break;
        }
        if (form < 2) counters_.push_back({i, bound});
        bool usedBreak = false, usedContinue = false;
        int n = 1 + below(4);
        for (int k = 0; k < n; ++k) {
            if (chance(3)) exit(indent + 1, true, &usedBreak, &usedContinue);
            else statement(indent + 1, depth + 1);
        }
        if (form == 4) line(indent + 1, i + "++;");
        if (form == 3) line(indent, "} while (" + i + " < " + std::to_string(bound) + ");");
        else line(indent, "}");
        stepsAtEnd_ = outerStepsAtEnd;
        counters_.resize(counters);
        scope_.resize(mark);
    }

    void call(int indent) {
        std::vector<const Function*> fit;
        for (const Function& f : functions_)
            if (!callable(f)) fit.push_back(&f);
        if (fit.empty() || chance(3)) {
            // The built-ins with out parameters.
            int w = 1 + below(4);
            std::string a, b;
            if (!target(w, &a) || !target(w, &b) || a.substr(0, a.find_first_of(".[")) == b.substr(0, b.find_first_of(".[")))
                return;
            switch (below(3)) {
                case 0: line(indent, "sincos(" + expr(w, 2) + ", " + a + ", " + b + ");"); break;
                case 1: line(indent, a + " = modf(" + expr(w, 2) + ", " + b + ");"); break;
                default: line(indent, a + " = frexp(" + expr(w, 2) + ", " + b + ");"); break;
            }
            return;
        }
        const Function& f = *fit[std::size_t(below(int(fit.size())))];
        std::vector<std::string> roots;
        std::string args;
        for (std::size_t i = 0; i < f.widths.size(); ++i) {
            std::string a;
            if (f.modes[i] == 0) {
                a = expr(f.widths[i], 2);
            } else {
                if (!target(f.widths[i], &a)) return;
                std::string root = a.substr(0, a.find_first_of(".["));
                for (const std::string& r : roots)
                    if (r == root) return;  // two outs into one variable: the order would decide
                roots.push_back(root);
            }
            args += (i ? ", " : "") + a;
        }
        std::string result;
        if (target(f.result, &result) && chance(2)) {
            std::string root = result.substr(0, result.find_first_of(".["));
            for (const std::string& r : roots)
                if (r == root) result.clear();
        } else {
            result.clear();
        }
        line(indent, (result.empty() ? "" : result + " = ") + f.name + "(" + args + ");");
    }

    void statement(int indent, int depth) {
        int pick = below(depth >= s_.depth ? 4 : 8);
        switch (pick) {
            case 0: case 1: declaration(indent); break;
            case 2: assignment(indent); break;
            case 3: call(indent); break;
            case 4: case 5: {
                line(indent, "if (" + condition(2) + ") {");
                block(indent + 1, depth + 1, 1 + below(3));
                while (chance(3)) {
                    line(indent, "} else if (" + condition(2) + ") {");
                    block(indent + 1, depth + 1, 1 + below(2));
                }
                if (chance(2)) {
                    line(indent, "} else {");
                    block(indent + 1, depth + 1, 1 + below(2));
                }
                line(indent, "}");
                break;
            }
            default: loop(indent, depth); break;
        }
    }

    void function(int index) {
        Function f;
        f.name = "f" + std::to_string(index);
        f.result = 1 + below(4);
        int params = 1 + below(3);
        std::string head = type(f.result) + " " + f.name + "(";
        std::size_t mark = scope_.size();
        std::vector<std::string> outs;
        for (int p = 0; p < params; ++p) {
            int w = 1 + below(4), mode = chance(2) ? 0 : 1 + below(2);
            std::string n = "p" + std::to_string(p);
            static const char* const modes[] = {"", "out ", "inout "};
            head += (p ? ", " : "") + std::string(modes[mode]) + type(w) + " " + n;
            f.widths.push_back(w);
            f.modes.push_back(mode);
            if (mode == 1) outs.push_back(n);
            else add(Var::Vector, n, w, 1, true);
        }
        out_ += head + ")\n{\n";
        // An out parameter is assigned before anything reads it.
        for (std::size_t p = 0; p < f.widths.size(); ++p)
            if (f.modes[p] == 1) {
                std::string n = "p" + std::to_string(p);
                line(1, n + " = " + expr(f.widths[p], 2) + ";");
                add(Var::Vector, n, f.widths[p], 1, true);
            }
        returnWidth_ = f.result;
        int n = 1 + below(4);
        for (int i = 0; i < n; ++i) statement(1, 1);
        line(1, "return " + expr(f.result, 2) + ";");
        out_ += "}\n";
        scope_.resize(mark);
        functions_.push_back(f);
    }

    std::mt19937_64 rng_;
    Settings s_;
    std::string out_;
    std::vector<Var> scope_;
    std::vector<Counter> counters_;
    std::vector<Function> functions_;
    int names_ = 0;
    bool stepsAtEnd_ = false;  // the innermost loop steps its counter at the end of its body
    int returnWidth_ = 4;
};

}  // namespace

std::string generate(std::uint64_t seed, const Settings& settings) { return Generator(seed, settings).program(); }

}  // namespace randprog
