#include "cg/codegen.h"

#include "cg/lexer.h"

#include <array>
#include <charconv>
#include <map>

namespace cgc {

namespace {

const char kLetters[] = "xyzw";

// Every variable has a register of its own and every statement's
// intermediates one each, so a program can ask for more than GL takes
// (Mesa's llvmpipe: 4096, and macros make that a short text).
const int kMaxTemporaries = 1024;

// A value as an instruction reads it: a register, a selection of its
// components (logical component i is reg component sel[i]), a sign.
struct Operand {
    std::string reg;
    int sel[4] = {0, 1, 2, 3};
    int width = 4;
    bool neg = false;
};

int logical(const Operand& o, int i) { return o.sel[o.width == 1 ? 0 : i]; }

Operand pick(const Operand& o, int i) {
    Operand p = o;
    p.sel[0] = logical(o, i);
    p.width = 1;
    return p;
}

// positions[i] is the destination component that logical component i feeds.
std::string src(const Operand& o, const int* positions, int count) {
    int sw[4] = {0, 1, 2, 3};
    bool same = true;
    for (int i = 0; i < count; ++i) {
        sw[positions[i]] = logical(o, i);
        same = same && logical(o, i) == logical(o, 0);
    }
    std::string s = (o.neg ? "-" : "") + o.reg;
    if (same && count > 0) return s + "." + kLetters[logical(o, 0)];
    if (sw[0] == 0 && sw[1] == 1 && sw[2] == 2 && sw[3] == 3) return s;
    s += '.';
    for (int c : sw) s += kLetters[c];
    return s;
}

std::string dst(const std::string& reg, const int* positions, int count) {
    bool used[4] = {false, false, false, false};
    for (int i = 0; i < count; ++i) used[positions[i]] = true;
    if (used[0] && used[1] && used[2] && used[3]) return reg;
    std::string mask = ".";
    for (int c = 0; c < 4; ++c)
        if (used[c]) mask += kLetters[c];
    return reg + mask;
}

const int kFirst[4] = {0, 1, 2, 3};

// The shortest text that reads back as the same float, whatever the locale.
std::string number(float v) {
    char buf[32];
    auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
    return std::string(buf, end);
}

class Generator {
public:
    Generator(const Program& program, const Checked& checked, const std::string& name)
        : prog_(program), checked_(checked), name_(name) {}

    std::string run() {
        for (const Symbol* s : checked_.parameters) {
            if (s->kind == Symbol::Sampler)
                header_ += "# texture[" + std::to_string(s->slot) + "] = " + s->name + " (" + typeName(s->type) + ")\n";
            else
                header_ += "# program.local[" + std::to_string(s->slot) + "] = " + s->name + " (" + typeName(s->type) + ")\n";
        }
        if (checked_.output) regOf(checked_.output);
        statement(*prog_.body);
        if (!done_) finish();

        std::string text = "!!ARBfp1.0\n" + header_;
        for (std::size_t i = 0; i < constants_.size(); ++i) {
            const auto& c = constants_[i];
            text += "PARAM c" + std::to_string(i) + " = {" + number(c[0]) + ", " + number(c[1]) + ", " +
                    number(c[2]) + ", " + number(c[3]) + "};\n";
        }
        std::string temps;
        for (int i = 0; i < vars_; ++i) temps += (temps.empty() ? "" : ", ") + ("R" + std::to_string(i));
        for (int i = 0; i < maxTemps_; ++i) temps += (temps.empty() ? "" : ", ") + ("T" + std::to_string(i));
        if (!temps.empty()) text += "TEMP " + temps + ";\n";
        return text + body_ + "END\n";
    }

private:
    void emit(const std::string& line) { body_ += line + ";\n"; }

    std::string temp() {
        std::string name = "T" + std::to_string(temps_++);
        if (temps_ > maxTemps_) maxTemps_ = temps_;
        checkRegisters();
        return name;
    }

    const std::string& regOf(const Symbol* s) {
        auto it = regs_.find(s);
        if (it == regs_.end()) {
            it = regs_.emplace(s, "R" + std::to_string(vars_++)).first;
            checkRegisters();
        }
        return it->second;
    }

    void checkRegisters() const {
        if (vars_ + maxTemps_ > kMaxTemporaries)
            fail(name_, at_.line, at_.col, "the program needs more than " + std::to_string(kMaxTemporaries) +
                                               " temporary registers");
    }

    Operand constant(const float* v, int width) {
        std::array<float, 4> c = {v[0], width > 1 ? v[1] : 0.0f, width > 2 ? v[2] : 0.0f, width > 3 ? v[3] : 0.0f};
        std::size_t i = 0;
        while (i < constants_.size() && constants_[i] != c) ++i;
        if (i == constants_.size()) constants_.push_back(c);
        Operand o;
        o.reg = "c" + std::to_string(i);
        o.width = width;
        return o;
    }

    void finish() {
        if (checked_.output) {
            const Symbol* out = checked_.output;
            Operand o;
            o.reg = regOf(out);
            o.width = out->type.width;
            emit("MOV " + dst("result.color", kFirst, o.width) + ", " + src(o, kFirst, o.width));
        }
        done_ = true;
    }

    void statement(const Stmt& s) {
        if (done_) return;
        temps_ = 0;
        at_ = s.loc;
        switch (s.kind) {
            case Stmt::Empty: return;
            case Stmt::Block:
                for (const auto& inner : s.body) statement(*inner);
                return;
            case Stmt::Decl:
                for (const Declarator& d : s.decls) {
                    if (d.symbol->hasValue) continue;  // folded wherever it is read
                    at_ = d.loc;
                    const std::string& r = regOf(d.symbol);
                    if (!d.init) continue;
                    temps_ = 0;
                    Operand v = gen(*d.init);
                    int w = s.type.width;
                    emit("MOV " + dst(r, kFirst, w) + ", " + src(v, kFirst, w));
                }
                return;
            case Stmt::Return:
                if (s.value) {
                    Operand v = gen(*s.value);
                    int w = prog_.returnType.width;
                    emit("MOV " + dst("result.color", kFirst, w) + ", " + src(v, kFirst, w));
                    done_ = true;
                } else {
                    finish();
                }
                return;
            case Stmt::Assign: assignment(s); return;
        }
    }

    void assignment(const Stmt& s) {
        const Expr& target = *s.target;
        const Expr& name = target.kind == Expr::Swizzle ? *target.args[0] : target;
        const std::string& r = regOf(name.symbol);
        int n = target.type.width;
        const int* positions = target.kind == Expr::Swizzle ? target.select : kFirst;
        Operand v = gen(*s.value);
        if (s.op == '=') {
            emit("MOV " + dst(r, positions, n) + ", " + src(v, positions, n));
            return;
        }
        Operand cur = gen(target);
        if (s.op == '/') v = reciprocal(*s.value, v);
        const char* op = s.op == '+' ? "ADD " : s.op == '-' ? "SUB " : "MUL ";
        emit(op + dst(r, positions, n) + ", " + src(cur, positions, n) + ", " + src(v, positions, n));
    }

    // 1/x for each component, as an operand of the same width.
    Operand reciprocal(const Expr& e, const Operand& x) {
        if (e.isConst) {
            float v[4];
            for (int i = 0; i < e.type.width; ++i) v[i] = 1.0f / e.value[i];
            return constant(v, e.type.width);
        }
        Operand t;
        t.reg = temp();
        t.width = x.width;
        for (int i = 0; i < x.width; ++i) {
            int pos[1] = {i};
            emit("RCP " + dst(t.reg, pos, 1) + ", " + src(pick(x, i), pos, 1));
        }
        return t;
    }

    Operand result(int width) {
        Operand t;
        t.reg = temp();
        t.width = width;
        return t;
    }

    // op T, a, b, ...: componentwise over the result's width, scalars broadcast.
    Operand componentwise(const char* op, std::initializer_list<Operand> args, int width) {
        Operand t = result(width);
        std::string line = std::string(op) + " " + dst(t.reg, kFirst, width);
        for (const Operand& a : args) line += ", " + src(a, kFirst, width);
        emit(line);
        return t;
    }

    Operand gen(const Expr& e) {
        if (e.isConst) return constant(e.value, e.type.width);
        switch (e.kind) {
            case Expr::Number: break;  // always constant
            case Expr::Name: {
                const Symbol* s = e.symbol;
                Operand o;
                o.width = s->type.width;
                if (s->kind == Symbol::Uniform) o.reg = "program.local[" + std::to_string(s->slot) + "]";
                else if (s->kind == Symbol::Input) o.reg = s->input;
                else o.reg = regOf(s);
                return o;
            }
            case Expr::Unary: {
                Operand o = gen(*e.args[0]);
                if (e.op == '-') o.neg = !o.neg;
                return o;
            }
            case Expr::Swizzle: {
                Operand a = gen(*e.args[0]);
                Operand o = a;
                o.width = e.type.width;
                for (int i = 0; i < o.width; ++i) o.sel[i] = logical(a, e.select[i]);
                return o;
            }
            case Expr::Cast: {
                Operand o = gen(*e.args[0]);
                if (o.width == 1)
                    for (int i = 1; i < 4; ++i) o.sel[i] = o.sel[0];
                o.width = e.type.width;
                return o;
            }
            case Expr::Construct: {
                Operand t = result(e.type.width);
                int k = 0;
                for (const auto& arg : e.args) {
                    Operand a = gen(*arg);
                    int w = arg->type.width;
                    int pos[4];
                    for (int i = 0; i < w; ++i) pos[i] = k + i;
                    emit("MOV " + dst(t.reg, pos, w) + ", " + src(a, pos, w));
                    k += w;
                }
                return t;
            }
            case Expr::Binary: {
                Operand a = gen(*e.args[0]);
                Operand b = gen(*e.args[1]);
                int w = e.type.width;
                switch (e.op) {
                    case '+': return componentwise("ADD", {a, b}, w);
                    case '-': return componentwise("SUB", {a, b}, w);
                    case '*': return componentwise("MUL", {a, b}, w);
                    default: return componentwise("MUL", {a, reciprocal(*e.args[1], b)}, w);
                }
            }
            case Expr::Call: return call(e);
        }
        return Operand{};
    }

    Operand call(const Expr& e) {
        const std::string& f = e.name;
        int w = e.type.width;
        if (f == "texRECT" || f == "f4texRECT" || f == "tex2D" || f == "f4tex2D") {
            const Symbol* sampler = e.args[0]->symbol;
            Operand coord = gen(*e.args[1]);
            Operand t = result(4);
            emit("TEX " + t.reg + ", " + src(coord, kFirst, 2) + ", texture[" + std::to_string(sampler->slot) + "], " +
                 (sampler->type.base == Type::SamplerRect ? "RECT" : "2D"));
            return t;
        }
        std::vector<Operand> a;
        for (const auto& arg : e.args) a.push_back(gen(*arg));
        if (f == "dot") {
            int n = e.args[0]->type.width;
            if (n == 1) return componentwise("MUL", {a[0], a[1]}, 1);
            if (n == 2) {
                Operand p = componentwise("MUL", {a[0], a[1]}, 2);
                return componentwise("ADD", {pick(p, 0), pick(p, 1)}, 1);
            }
            Operand t = result(1);
            emit(std::string(n == 3 ? "DP3 " : "DP4 ") + t.reg + ".x, " + src(a[0], kFirst, n) + ", " +
                 src(a[1], kFirst, n));
            return t;
        }
        if (f == "min") return componentwise("MIN", {a[0], a[1]}, w);
        if (f == "max") return componentwise("MAX", {a[0], a[1]}, w);
        if (f == "clamp") return componentwise("MIN", {componentwise("MAX", {a[0], a[1]}, w), a[2]}, w);
        if (f == "saturate") return componentwise("MOV_SAT", {a[0]}, w);
        if (f == "abs") return componentwise("ABS", {a[0]}, w);
        if (f == "floor") return componentwise("FLR", {a[0]}, w);
        if (f == "frac") return componentwise("FRC", {a[0]}, w);
        // lerp(a, b, t) = a + t (b - a); LRP d, t, b, a computes t b + (1 - t) a.
        return componentwise("LRP", {a[2], a[1], a[0]}, w);
    }

    const Program& prog_;
    const Checked& checked_;
    const std::string& name_;
    Loc at_;  // the statement or declarator being generated
    std::string header_, body_;
    std::vector<std::array<float, 4>> constants_;
    std::map<const Symbol*, std::string> regs_;
    int vars_ = 0, temps_ = 0, maxTemps_ = 0;
    bool done_ = false;
};

}  // namespace

std::string generate(const Program& program, const Checked& checked, const std::string& sourceName) {
    return Generator(program, checked, sourceName).run();
}

}  // namespace cgc
