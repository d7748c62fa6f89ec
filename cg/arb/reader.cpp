// Reads `!!ARBfp1.0` text the way the ARB_fragment_program grammar defines
// it: OPTION lines, then declarations and instructions in any order, then
// END. Names are declared before use and once; only comments follow END.
#include "cg/arb/reader_impl.h"

#include <cstring>

namespace cgc {

namespace {

enum class Form : std::uint8_t { Vector, Scalar, BinaryScalar, Binary, Ternary, Swizzle, Sample, Kill };

struct Op {
    const char* name;
    Form form;
};

const Op kOps[] = {
    {"ABS", Form::Vector}, {"FLR", Form::Vector}, {"FRC", Form::Vector}, {"LIT", Form::Vector},
    {"MOV", Form::Vector}, {"COS", Form::Scalar}, {"EX2", Form::Scalar}, {"LG2", Form::Scalar},
    {"RCP", Form::Scalar}, {"RSQ", Form::Scalar}, {"SIN", Form::Scalar}, {"SCS", Form::Scalar},
    {"POW", Form::BinaryScalar}, {"ADD", Form::Binary}, {"DP3", Form::Binary}, {"DP4", Form::Binary},
    {"DPH", Form::Binary}, {"DST", Form::Binary}, {"MAX", Form::Binary}, {"MIN", Form::Binary},
    {"MUL", Form::Binary}, {"SGE", Form::Binary}, {"SLT", Form::Binary}, {"SUB", Form::Binary},
    {"XPD", Form::Binary}, {"CMP", Form::Ternary}, {"LRP", Form::Ternary}, {"MAD", Form::Ternary},
    {"SWZ", Form::Swizzle}, {"TEX", Form::Sample}, {"TXP", Form::Sample}, {"TXB", Form::Sample},
    {"KIL", Form::Kill},
};

const char* const kKeywords[] = {"ALIAS", "ATTRIB", "END", "OPTION", "OUTPUT", "PARAM", "TEMP",
                                 "fragment", "program", "result", "state", "texture"};

const Op* findOp(std::string_view name) {
    for (const Op& op : kOps)
        if (name == op.name) return &op;
    return nullptr;
}

bool reserved(std::string_view name) {
    if (name.size() > 4 && name.substr(name.size() - 4) == "_SAT") name.remove_suffix(4);
    if (findOp(name)) return true;
    for (const char* k : kKeywords)
        if (name == k) return true;
    return false;
}

int sourceCount(Form form) {
    switch (form) {
        case Form::BinaryScalar: case Form::Binary: return 2;
        case Form::Ternary: return 3;
        default: return 1;
    }
}

}  // namespace

Stats readArbProgram(std::string_view text, int file, const Limits& limits) {
    return arbread::Reader(text, file, limits).run();
}

namespace arbread {

Reader::Reader(std::string_view text, int file, const Limits& limits) : text_(text), file_(file), limits_(limits) {}

// ---- the program ----

Stats Reader::run() {
    startLexing();
    stats_.texIndirections = 1;
    while (is("OPTION")) option();
    while (!accept("END")) {
        if (tok().kind == Token::End) fail(tok().loc, "'END' expected at the end of the program");
        dropFinishedTokens();
        statement();
    }
    if (tok().kind != Token::End) errorNear("nothing but comments may follow 'END'");
    stats_.parameters = int(parameters_.size()) + declaredParameters_;
    stats_.temporaries = int(aluTemps_.size());
    limit(kParameters, stats_.parameters, Loc{});
    if (!passed_.empty()) {
        auto first = passed_.begin();
        for (auto it = passed_.begin(); it != passed_.end(); ++it)
            if (it->second.first < first->second.first) first = it;
        static const char* const what[] = {"instructions", "ALU instructions", "texture instructions",
                                           "texture indirections", "temporaries", "parameters", "attributes"};
        const int needed[] = {stats_.instructions, stats_.aluInstructions, stats_.texInstructions,
                              stats_.texIndirections, stats_.temporaries, stats_.parameters,
                              int(attributes_.size())};
        const int allowed[] = {limits_.instructions, limits_.aluInstructions, limits_.texInstructions,
                               limits_.texIndirections, limits_.temporaries, limits_.parameters,
                               limits_.attributes};
        const int k = first->first;
        fail(first->second.second, "program needs " + std::to_string(needed[k]) + " " + what[k] +
                                       "; this target allows " + std::to_string(allowed[k]));
    }
    return stats_;
}

// Noted where the count first passes the limit; told with the whole count.
void Reader::limit(int kind, int needed, const Loc& loc) {
    static const int Limits::*const fields[] = {&Limits::instructions, &Limits::aluInstructions,
                                                &Limits::texInstructions, &Limits::texIndirections,
                                                &Limits::temporaries, &Limits::parameters, &Limits::attributes};
    if (needed <= limits_.*fields[kind] || passed_.count(kind)) return;
    // The parameter count is only known at END: the place is the last use.
    passed_[kind] = {loc.line ? order_++ : 1 << 30, loc.line ? loc : end()};
}

void Reader::option() {
    const Loc at = tok().loc;
    advance();
    const std::string name = word("option name");
    static const char* const known[] = {"ARB_precision_hint_fastest", "ARB_precision_hint_nicest", "ARB_fog_exp",
                                        "ARB_fog_exp2", "ARB_fog_linear", "ARB_fragment_program_shadow",
                                        "ARB_draw_buffers"};
    bool found = false;
    for (const char* k : known) found = found || name == k;
    if (!found) {
        std::vector<std::string_view> candidates(std::begin(known), std::end(known));
        std::string near = nearest(name, candidates);
        fail(at, "unknown option " + quoted(name) + (near.empty() ? "" : "; did you mean '" + near + "'?"));
    }
    if (!options_.insert(name).second) fail(at, "option " + quoted(name) + " is given twice");
    auto both = [&](const char* a, const char* b) { return options_.count(a) && options_.count(b); };
    if (both("ARB_precision_hint_fastest", "ARB_precision_hint_nicest"))
        fail(at, "'ARB_precision_hint_fastest' and 'ARB_precision_hint_nicest' exclude each other");
    int fog = int(options_.count("ARB_fog_exp") + options_.count("ARB_fog_exp2") + options_.count("ARB_fog_linear"));
    if (fog > 1) fail(at, "only one of the fog options may be given");
    shadowOption_ = shadowOption_ || name == "ARB_fragment_program_shadow";
    drawBuffersOption_ = drawBuffersOption_ || name == "ARB_draw_buffers";
    expect(";");
}

void Reader::statement() {
    if (tok().kind != Token::Word) errorNear("instruction or declaration expected");
    const std::string_view keyword = tok().text;
    if (keyword == "OPTION") fail(tok().loc, "OPTION must come before the first declaration or instruction");
    if (keyword == "ATTRIB" || keyword == "PARAM" || keyword == "TEMP" || keyword == "OUTPUT" || keyword == "ALIAS")
        declaration(keyword);
    else
        instruction();
    expect(";");
}

// A name a declaration establishes: not a reserved word, not taken.
std::string Reader::newName() {
    if (tok().kind != Token::Word) errorNear("name expected");
    const std::string name(tok().text);
    if (reserved(name)) fail(tok().loc, quoted(name) + " is a reserved word and cannot be declared");
    auto taken = names_.find(name);
    if (taken != names_.end())
        fail(tok().loc, quoted(name) + " is declared twice (first at line " + std::to_string(taken->second.loc.line) + ")");
    advance();
    return name;
}

void Reader::declaration(std::string_view keyword) {
    advance();
    Name n;
    n.loc = tok().loc;
    if (keyword == "TEMP") {
        do {
            n.loc = tok().loc;
            const std::string name = newName();
            n.kind = Name::Temp;
            n.index = int(aluTemps_.size());
            aluTemps_.push_back(0);
            tempsOutput_.push_back(0);
            limit(kTemporaries, int(aluTemps_.size()), n.loc);
            names_[name] = n;
        } while (accept(","));
        return;
    }
    const std::string name = newName();
    if (keyword == "ALIAS") {
        expect("=");
        if (tok().kind != Token::Word) errorNear("name expected");
        auto target = names_.find(tok().text);
        if (target == names_.end()) fail(tok().loc, quoted(tok().text) + " is not declared");
        Name alias = target->second;
        alias.loc = n.loc;
        advance();
        names_[name] = alias;
        return;
    }
    if (keyword == "ATTRIB") {
        expect("=");
        if (!accept("fragment")) errorNear("'fragment' expected");
        n.kind = Name::Attribute;
        n.binding = fragmentBinding();
    } else if (keyword == "OUTPUT") {
        expect("=");
        if (!accept("result")) errorNear("'result' expected");
        n.kind = Name::Output;
        n.index = resultBinding();
    } else if (!accept("[")) {  // PARAM name = one item
        expect("=");
        n.kind = Name::Param;
        std::string key;
        if (accept("state")) {
            stateBinding(false, &key);
        } else if (accept("program")) {
            programBinding(false, &key);
        } else if (is("{")) {
            constantVector();
        } else {
            if (!accept("-")) accept("+");
            if (tok().kind != Token::Number) errorNear("parameter binding expected");
            advance();
        }
        ++declaredParameters_;
    } else {  // PARAM name[size] = { items }
        const Loc sizeAt = tok().loc;
        int size = is("]") ? 0 : integer("array size");
        if (is("]") && size == 0 && tok().loc.col != sizeAt.col) fail(sizeAt, "array size must be at least 1");
        expect("]");
        expect("=");
        expect("{");
        int elements = 0;
        do {
            std::string key;
            if (accept("state")) elements += stateBinding(true, &key);
            else if (accept("program")) elements += programBinding(true, &key);
            else if (is("{")) constantVector(), ++elements;
            else {
                if (!accept("-")) accept("+");
                if (tok().kind != Token::Number) errorNear("parameter binding expected");
                advance();
                ++elements;
            }
        } while (accept(","));
        expect("}");
        if (size && size != elements)
            fail(n.loc, quoted(name) + " has " + std::to_string(size) + " elements but " + std::to_string(elements) +
                            (elements == 1 ? " is bound" : " are bound"));
        n.kind = Name::ParamArray;
        n.size = elements;
        declaredParameters_ += elements;
    }
    names_[name] = n;
    limit(kParameters, int(parameters_.size()) + declaredParameters_, n.loc);
}

// ---- instructions ----

void Reader::instruction() {
    const Token opToken = tok();
    std::string_view name = opToken.text;
    const bool sat = name.size() > 4 && name.substr(name.size() - 4) == "_SAT";
    if (sat) name.remove_suffix(4);
    const Op* op = findOp(name);
    if (!op) {
        if (names_.count(opToken.text) || reserved(opToken.text)) errorNear("instruction expected");
        std::vector<std::string_view> candidates;
        for (const Op& o : kOps) candidates.push_back(o.name);
        std::string near = nearest(name, candidates);
        fail(opToken.loc, "unknown instruction " + quoted(opToken.text) +
                              (near.empty() ? "" : "; did you mean '" + near + "'?"));
    }
    if (sat && op->form == Form::Kill) fail(opToken.loc, "'KIL' has no '_SAT' form");
    advance();
    const std::string_view opName = op->name;  // quoted in messages only

    Register dst;
    std::uint8_t mask = 0xf;
    const bool hasDst = op->form != Form::Kill;
    if (hasDst) {
        dst = destination(&mask);
        expect(",");
    }
    if (op->form == Form::Swizzle) {
        const Loc at = tok().loc;
        if (is("-") || is("+")) fail(at, "'SWZ' takes its signs in the swizzle, not before the register");
        sourcesRead_.push_back(sourceRegister());
        if (is(".")) fail(tok().loc, "'SWZ' takes a bare register; its swizzle follows as four components");
        bool rgba = false, first = true;
        for (int i = 0; i < 4; ++i) {
            if (!accept(",")) fail(end(), "'SWZ' takes 4 swizzle components, got " + std::to_string(i));
            if (!accept("-")) accept("+");
            if (is("0") || is("1")) {
                advance();
                continue;
            }
            if (tok().kind != Token::Word || tok().text.size() != 1) errorNear("swizzle component (x, y, z, w, 0 or 1) expected");
            bool thisRgba = false;
            if (component(tok().text, &thisRgba) < 0) errorNear("swizzle component (x, y, z, w, 0 or 1) expected");
            if (!first && thisRgba != rgba) fail(tok().loc, "swizzle mixes xyzw and rgba components");
            rgba = thisRgba;
            first = false;
            advance();
        }
        if (is(",")) fail(tok().loc, "'SWZ' takes 4 swizzle components, got more");
    } else {
        const int want = sourceCount(op->form);
        const bool scalar = op->form == Form::Scalar || op->form == Form::BinaryScalar;
        Loc places[4];  // enough to place the first one too many
        int got = 0;
        do {
            const Loc at = tok().loc;
            if (got < 4) places[got] = at;
            ++got;
            bool swizzled = false;
            int components = 0;
            source(&swizzled, &components);
            if (scalar && components != 1)
                fail(at, quoted(opName) + " takes a scalar operand: one component, as in 'r0.x'");
            if (!scalar && components != 0 && components != 1 && components != 4)
                fail(at, "a source swizzle has 1 or 4 components, got " + std::to_string(components));
        } while (op->form != Form::Sample && accept(","));
        if (got != want)
            fail(got > want ? places[want] : opToken.loc,
                 quoted(opName) + " takes " + std::to_string(want) + (want == 1 ? " source operand" : " source operands") +
                     ", got " + std::to_string(got));
    }
    if (op->form == Form::Sample) {
        expect(",");
        if (!accept("texture")) errorNear("texture unit ('texture[N]') expected");
        const Loc unitAt = tok().loc;
        int unit = 0;
        if (accept("[")) {
            unit = integer("texture unit number");
            expect("]");
        }
        if (unit >= limits_.textureUnits)
            fail(unitAt, "texture[" + std::to_string(unit) + "] is past the last texture unit (at most " +
                             std::to_string(limits_.textureUnits) + ")");
        expect(",");
        const Loc targetAt = tok().loc;
        const std::string target = word("texture target (1D, 2D, 3D, CUBE or RECT)");
        const bool shadow = target == "SHADOW1D" || target == "SHADOW2D" || target == "SHADOWRECT";
        if (!(target == "1D" || target == "2D" || target == "3D" || target == "CUBE" || target == "RECT" || shadow))
            fail(targetAt, "unknown texture target " + quoted(target) + "; the targets are 1D, 2D, 3D, CUBE and RECT");
        if (shadow && !shadowOption_)
            fail(targetAt, quoted(target) + " needs 'OPTION ARB_fragment_program_shadow;'");
        // One unit, one target: the unit's texture is bound on one of them.
        const std::string base = shadow ? target.substr(6) : target;
        auto seen = unitTargets_.emplace(unit, std::make_pair(base, targetAt));
        if (!seen.second && seen.first->second.first != base)
            fail(targetAt, "texture[" + std::to_string(unit) + "] is sampled as " + base + " here and as " +
                               seen.first->second.first + " at line " + std::to_string(seen.first->second.second.line));
    }
    count(op->form == Form::Sample || op->form == Form::Kill, opToken.loc, dst, hasDst);
}

Register Reader::destination(std::uint8_t* mask) {
    Register r;
    const Token at = tok();
    if (accept("result")) {
        r.kind = Register::Output;
        r.index = resultBinding();
    } else if (at.kind == Token::Word && !reserved(at.text)) {
        auto n = names_.find(at.text);
        if (n == names_.end()) fail(at.loc, quoted(at.text) + " is not declared");
        if (n->second.kind == Name::Attribute || n->second.kind == Name::Param || n->second.kind == Name::ParamArray)
            fail(at.loc, "cannot write to " + quoted(at.text) + ": it is " +
                             (n->second.kind == Name::Attribute ? "an attribute" : "a parameter") +
                             "; only TEMP and OUTPUT names and result.* take results");
        r.kind = n->second.kind == Name::Temp ? Register::Temp : Register::Output;
        r.index = n->second.index;
        advance();
    } else {
        errorNear("destination register expected");
    }
    *mask = 0xf;
    if (accept(".")) {
        const Token m = tok();
        if (m.kind != Token::Word) errorNear("write mask expected");
        if (m.loc.col != end().col) fail(m.loc, "a write mask follows its '.' without a space");
        bool rgba = false;
        int last = -1;
        *mask = 0;
        for (char c : m.text) {
            bool thisRgba = false;
            const int k = component(std::string_view(&c, 1), &thisRgba);
            if (k < 0) fail(m.loc, "bad write mask " + quoted(m.text) + ": components are x, y, z, w or r, g, b, a");
            if (last >= 0 && thisRgba != rgba) fail(m.loc, "write mask " + quoted(m.text) + " mixes xyzw and rgba");
            if (k <= last) fail(m.loc, "write mask " + quoted(m.text) + " must name components once each, in order");
            rgba = thisRgba;
            last = k;
            *mask = std::uint8_t(*mask | (1u << k));
        }
        advance();
    }
    return r;
}

int Reader::component(std::string_view text, bool* rgba) const {
    if (text.size() != 1) return -1;
    const char* p = std::strchr("xyzw", text[0]);
    if (p && text[0]) return *rgba = false, int(p - "xyzw");
    p = std::strchr("rgba", text[0]);
    if (p && text[0]) return *rgba = true, int(p - "rgba");
    return -1;
}

// An operand: optional sign, a register, an optional swizzle of 1 or 4
// components. *components is 0 when it has no swizzle.
Register Reader::source(bool* swizzled, int* components) {
    if (!accept("-")) accept("+");
    Register r = sourceRegister();
    sourcesRead_.push_back(r);
    *swizzled = false;
    *components = 0;
    if (accept(".")) {
        const Token s = tok();
        if (s.kind != Token::Word) errorNear("swizzle expected");
        if (s.loc.col != end().col) fail(s.loc, "a swizzle follows its '.' without a space");
        bool rgba = false;
        for (std::size_t k = 0; k < s.text.size(); ++k) {
            bool thisRgba = false;
            if (component(s.text.substr(k, 1), &thisRgba) < 0)
                fail(s.loc, "bad swizzle " + quoted(s.text) + ": components are x, y, z, w or r, g, b, a");
            if (k && thisRgba != rgba) fail(s.loc, "swizzle " + quoted(s.text) + " mixes xyzw and rgba");
            rgba = thisRgba;
        }
        *swizzled = true;
        *components = int(s.text.size());
        advance();
    }
    return r;
}

Register Reader::sourceRegister() {
    Register r;
    const Token at = tok();
    std::string key;
    if (accept("fragment")) {
        r.kind = Register::Attribute;
        useAttribute(fragmentBinding());
    } else if (accept("program")) {
        programBinding(false, &key);
        useParameter(key);
    } else if (accept("state")) {
        stateBinding(false, &key);
        useParameter(key);
    } else if (is("{")) {
        const std::size_t from = pos_;
        constantVector();
        for (std::size_t k = from; k < pos_; ++k) key += tokens_[k].text;
        useParameter(key);
    } else if (at.kind == Token::Number) {
        advance();
        useParameter(std::string(at.text));
    } else if (at.text == "result") {
        fail(at.loc, "result registers cannot be read");
    } else if (at.kind == Token::Word && !reserved(at.text)) {
        auto n = names_.find(at.text);
        if (n == names_.end()) {
            std::vector<std::string_view> candidates;
            for (const auto& entry : names_) candidates.push_back(entry.first);
            std::string near = nearest(at.text, candidates);
            fail(at.loc, quoted(at.text) + " is not declared" + (near.empty() ? "" : "; did you mean '" + near + "'?"));
        }
        advance();
        const Name& name = n->second;
        switch (name.kind) {
            case Name::Output: fail(at.loc, quoted(at.text) + " is an output and cannot be read");
            case Name::Temp: r.kind = Register::Temp; r.index = name.index; break;
            case Name::Attribute: r.kind = Register::Attribute; useAttribute(name.binding); break;
            case Name::Param: r.kind = Register::Param; break;
            case Name::ParamArray: {
                if (!is("[")) fail(at.loc, quoted(at.text) + " is an array; name an element, as in '" +
                                                std::string(at.text) + "[0]'");
                advance();
                const Loc indexAt = tok().loc;
                const int index = integer("array index");
                if (index >= name.size)
                    fail(indexAt, "index " + std::to_string(index) + " is past the end of " + quoted(at.text) + " (" +
                                      std::to_string(name.size) + " elements)");
                expect("]");
                r.kind = Register::Param;
                break;
            }
        }
    } else {
        errorNear("source register expected");
    }
    return r;
}

// Counts as the compiler's allocator counts: texture indirections per TEMP,
// ignoring masks and swizzles.
void Reader::count(bool texture, const Loc& loc, Register dst, bool hasDst) {
    // A lookup's coordinate, and KIL's operand, is its first source.
    const Register* coordinate = sourcesRead_.empty() ? nullptr : &sourcesRead_[0];
    ++stats_.instructions;
    limit(kInstructions, stats_.instructions, loc);
    const bool dstTemp = hasDst && dst.kind == Register::Temp;
    if (texture) {
        ++stats_.texInstructions;
        limit(kTex, stats_.texInstructions, loc);
        const bool fromThisNode = coordinate && coordinate->kind == Register::Temp &&
                                  tempsOutput_[std::size_t(coordinate->index)] == node_;
        const bool overwrites = dstTemp && aluTemps_[std::size_t(dst.index)] == node_;
        if (fromThisNode || overwrites) {
            ++node_;
            ++stats_.texIndirections;
            limit(kIndirections, stats_.texIndirections, loc);
        }
    } else {
        ++stats_.aluInstructions;
        limit(kAlu, stats_.aluInstructions, loc);
        for (const Register& r : sourcesRead_)
            if (r.kind == Register::Temp) aluTemps_[std::size_t(r.index)] = node_;
        if (dstTemp) aluTemps_[std::size_t(dst.index)] = node_;
    }
    if (dstTemp) tempsOutput_[std::size_t(dst.index)] = node_;
    sourcesRead_.clear();
}

}  // namespace arbread

}  // namespace cgc
