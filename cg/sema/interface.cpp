// The entry's interface: its inputs bound to the profile's fragment
// attributes by semantic, its uniforms to parameters, its results and out
// parameters to result.color and result.depth.
#include "cg/sema/analyzer.h"

#include <cctype>

namespace cgc {

namespace {

std::string upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

int inputAttribute(const std::string& semantic) {
    std::string s = upper(semantic);
    if (s == "TEXCOORD") return 0;
    if (s.size() == 9 && s.compare(0, 8, "TEXCOORD") == 0 && s[8] >= '0' && s[8] <= '7') return s[8] - '0';
    if (s == "COLOR" || s == "COLOR0") return 8;
    if (s == "COLOR1") return 9;
    if (s == "WPOS") return 10;
    if (s == "FOG") return 11;
    return -1;
}

int outputRegister(const std::string& semantic) {
    std::string s = upper(semantic);
    if (s == "COLOR" || s == "COLOR0") return 0;
    if (s == "DEPTH") return 1;
    return -1;
}

namespace sema {

void Analyzer::entryInterface() {
    const FunctionInfo& fi = out_.functions[std::size_t(out_.entry)];
    const ast::Function& f = *fi.definition;
    for (std::size_t i = 0; i < f.params.size(); ++i) entryParameter(f.params[i], fi.paramSymbols[i]);
    for (int symbol : out_.entryUniforms) addUniform(symbol);
    entryOutputs(fi);
}

void Analyzer::entryParameter(const ast::Param& p, int symbol) {
    Symbol& s = out_.symbols[std::size_t(symbol)];
    const ast::Qualifiers& q = p.qualifiers;
    const TypeInfo& t = types_.info(s.type);
    const ast::Semantic& semantic = p.declarator.semantic;
    std::string what = "parameter " + quoted(s.name) + " of " + quoted(options_.entry);
    if (q.isUniform || types_.samplers(s.type) > 0) {
        if (q.out) fail(p.loc, "uniform " + what + " cannot be 'out'");
        s.kind = Symbol::Uniform;
        out_.entryUniforms.push_back(symbol);
        return;
    }
    if (q.in && q.out) fail(p.loc, what + " cannot be 'inout'");
    s.semantic = upper(semantic.name);
    if (q.out) {
        s.kind = Symbol::Output;
        auto output = [&](const std::string& name, const Loc& loc, TypeId type, int member) {
            bool depth = outputIsDepth(name, loc, type);
            out_.outputs.push_back({member < 0 ? EntryOutput::Parameter : EntryOutput::ParameterMember, symbol, member, depth});
        };
        if (!semantic.name.empty()) {
            output(semantic.name, semantic.loc, s.type, -1);
        } else if (t.kind == TypeKind::Struct) {
            for (std::size_t m = 0; m < t.members.size(); ++m) {
                if (t.members[m].semantic.empty())
                    fail(t.members[m].loc, "member " + quoted(t.members[m].name) + " of output " + quoted(s.name) +
                                               " needs a semantic");
                output(t.members[m].semantic, t.members[m].loc, t.members[m].type, int(m));
            }
        } else {
            fail(p.declarator.loc, "output " + what + " needs a semantic (COLOR or DEPTH)");
        }
        return;
    }
    s.kind = Symbol::Input;
    auto input = [&](const std::string& name, const Loc& loc, TypeId type) {
        if (inputAttribute(name) < 0) fail(loc, "input semantic " + quoted(name) + " is not supported");
        if (!types_.isScalarOrVector(type)) fail(loc, "an input must be a scalar or vector, got " + typeName(type));
    };
    if (!semantic.name.empty()) {
        input(semantic.name, semantic.loc, s.type);
    } else if (t.kind == TypeKind::Struct) {
        for (const StructMember& m : t.members) {
            if (m.semantic.empty())
                fail(m.loc, "member " + quoted(m.name) + " of input " + quoted(s.name) + " needs a semantic");
            input(m.semantic, m.loc, m.type);
        }
    } else {
        fail(p.declarator.loc, what + " needs a semantic or 'uniform'");
    }
}

// Checks one output's semantic and type; true for DEPTH, false for COLOR.
bool Analyzer::outputIsDepth(const std::string& semantic, const Loc& loc, TypeId type) {
    int reg = outputRegister(semantic);
    if (reg < 0) fail(loc, "output semantic " + quoted(semantic) + " is not supported");
    if (!types_.isNumeric(type) || types_.kind(type) == TypeKind::Matrix || (reg == 1 && !scalarLike(types_, type)))
        fail(loc, std::string(reg == 1 ? "a DEPTH output must be a scalar" : "a COLOR output must be a scalar or vector") +
                      ", got " + typeName(type));
    return reg == 1;
}

void Analyzer::entryOutputs(const FunctionInfo& entry) {
    const ast::Function& f = *entry.definition;
    const TypeInfo& t = types_.info(entry.result);
    auto output = [&](const std::string& name, const Loc& loc, TypeId type, int member) {
        bool depth = outputIsDepth(name, loc, type);
        out_.outputs.push_back({member < 0 ? EntryOutput::Result : EntryOutput::ResultMember, -1, member, depth});
    };
    if (t.kind == TypeKind::Struct && f.semantic.name.empty()) {
        for (std::size_t m = 0; m < t.members.size(); ++m) {
            if (t.members[m].semantic.empty())
                fail(t.members[m].loc, "member " + quoted(t.members[m].name) + " of the result of " +
                                           quoted(options_.entry) + " needs a semantic");
            output(t.members[m].semantic, t.members[m].loc, t.members[m].type, int(m));
        }
    } else if (entry.result != types_.voidType()) {
        if (f.semantic.name.empty())
            fail(f.loc, "the result of " + quoted(options_.entry) + " needs a semantic, such as ': COLOR'");
        output(f.semantic.name, f.semantic.loc, entry.result, -1);
    }
    int colors = 0, depths = 0;
    for (const EntryOutput& o : out_.outputs) (o.depth ? depths : colors)++;
    if (colors == 0)
        fail(f.loc, quoted(options_.entry) + " has no colour output (a result or 'out' parameter with semantic COLOR)");
    if (colors > 1 || depths > 1)
        fail(f.loc, quoted(options_.entry) + " writes " + (colors > 1 ? "COLOR" : "DEPTH") + " more than once");
}

}  // namespace sema

}  // namespace cgc
