// The entry's inputs and outputs around one run, how a trace shows values,
// and the Program a caller holds.
#include "cg/interp/machine.h"

#include "cg/front/parser.h"

#include <cstdio>
#include <new>

namespace cgc::interp {

// ---- the entry ----

void Machine::loadUniform(int symbol) {
    const Symbol& s = analysis.symbols[std::size_t(symbol)];
    std::vector<double>& v = storage(symbol);
    bool given = inputs_.locals.count(s.slot) > 0 || types.samplers(s.type) > 0;
    if (!given && s.declarator && s.declarator->init) {
        v = value(s.declarator->init).v;
        v.resize(std::size_t(size(s.type)), 0.0);
        return;
    }
    v.clear();
    int slot = s.slot, unit = s.unit;
    types.eachRegister(s.type, [&](TypeId part) {
        const TypeInfo& i = types.info(part);
        if (i.kind == TypeKind::Sampler) {
            v.push_back(unit++);
            return;
        }
        auto it = inputs_.locals.find(slot++);
        Vec4 r = it == inputs_.locals.end() ? Vec4{0, 0, 0, 0} : it->second;
        // As the runtime hands it over: a bool is 0 or 1.
        for (int c = 0; c < (i.kind == TypeKind::Vector ? i.cols : 1); ++c)
            v.push_back(i.scalar == ScalarKind::Bool ? double(r[std::size_t(c)] != 0) : r[std::size_t(c)]);
    });
}

void Machine::enterEntry() {
    for (int symbol : analysis.globals) {
        const Symbol& s = analysis.symbols[std::size_t(symbol)];
        if (s.kind == Symbol::Uniform) {
            loadUniform(symbol);
        } else if (s.declarator && s.declarator->init) {
            Val init = value(s.declarator->init);
            storage(symbol) = init.v;
            storage(symbol).resize(std::size_t(size(s.type)), 0.0);
        } else {
            storage(symbol);
        }
    }
    const FunctionInfo& fi = analysis.functions[std::size_t(analysis.entry)];
    for (int symbol : fi.paramSymbols) {
        const Symbol& s = analysis.symbols[std::size_t(symbol)];
        std::vector<double>& v = storage(symbol);
        if (s.kind == Symbol::Uniform) {
            loadUniform(symbol);
        } else if (s.kind == Symbol::Input) {
            v.clear();
            auto attribute = [&](const std::string& semantic, TypeId t) {
                const Vec4& a = inputs_.attributes[std::size_t(inputAttribute(semantic))];
                for (int c = 0; c < size(t); ++c) v.push_back(nudge(a[std::size_t(c)], a[std::size_t(c)]));
            };
            if (!s.semantic.empty()) attribute(s.semantic, s.type);
            else
                for (const StructMember& m : types.info(s.type).members) attribute(m.semantic, m.type);
        }
    }
}

Result Machine::run() {
    Result out;
    const FunctionInfo& fi = analysis.functions[std::size_t(analysis.entry)];
    try {
        enterEntry();
        returned_ = Val{fi.result, {}};
        exec(fi.definition->body);
        out.ok = true;
    } catch (const Discarded&) {
        out.ok = out.discarded = true;
        out.overflow = overflow_;
        out.nearThreshold = nearThreshold_;
        out.approximated = approximated_;
        return out;
    } catch (const RunError& e) {
        out.error = state_.sources.format(e.loc, e.what);
        return out;
    } catch (const std::bad_alloc&) {
        out.error = "error: out of memory";
        return out;
    }
    out.overflow = overflow_;
    out.nearThreshold = nearThreshold_;
    out.approximated = approximated_;
    for (const EntryOutput& o : analysis.outputs) {
        Val v;
        if (o.where == EntryOutput::Result || o.where == EntryOutput::ResultMember) v = returned_;
        else v = Val{analysis.symbols[std::size_t(o.symbol)].type, storage(o.symbol)};
        if (v.v.empty()) continue;
        if (o.member >= 0) {
            const TypeInfo& t = types.info(v.type);
            std::size_t first = 0;
            for (int m = 0; m < o.member; ++m) first += std::size_t(size(t.members[std::size_t(m)].type));
            TypeId part = t.members[std::size_t(o.member)].type;
            v = Val{part, std::vector<double>(v.v.begin() + std::ptrdiff_t(first),
                                              v.v.begin() + std::ptrdiff_t(first) + size(part))};
        }
        if (o.depth) {
            out.wroteDepth = true;
            out.depth = v.v[0];
            continue;
        }
        out.wroteColor = true;
        // A scalar colour fills all four channels; two or three components are opaque.
        if (v.v.size() == 1) out.color = {v.v[0], v.v[0], v.v[0], v.v[0]};
        else out.color = {v.v[0], v.v[1], v.v.size() > 2 ? v.v[2] : 0.0, v.v.size() > 3 ? v.v[3] : 1.0};
    }
    return out;
}

// ---- formatting ----

std::string formatNumber(double x) {
    if (x == 0) return "0";  // no "-0": a trace reader cares about the value
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.9g", x);
    return buffer;
}

namespace {

void formatPart(TypeTable& types, TypeId t, const std::vector<double>& v, std::size_t& at, std::string& out) {
    const TypeInfo& i = types.info(t);
    switch (i.kind) {
        case TypeKind::Scalar: case TypeKind::Sampler: out += formatNumber(v[at++]); return;
        case TypeKind::Vector:
            out += "(";
            for (int c = 0; c < i.cols; ++c) out += (c ? ", " : "") + formatNumber(v[at++]);
            out += ")";
            return;
        case TypeKind::Matrix:
            out += "(";
            for (int r = 0; r < i.rows; ++r) {
                out += r ? ", (" : "(";
                for (int c = 0; c < i.cols; ++c) out += (c ? ", " : "") + formatNumber(v[at++]);
                out += ")";
            }
            out += ")";
            return;
        case TypeKind::Array:
            out += "{";
            for (int k = 0; k < i.length; ++k) {
                if (k) out += ", ";
                formatPart(types, i.element, v, at, out);
            }
            out += "}";
            return;
        case TypeKind::Struct:
            out += "{";
            for (std::size_t k = 0; k < i.members.size(); ++k) {
                if (k) out += ", ";
                formatPart(types, i.members[k].type, v, at, out);
            }
            out += "}";
            return;
        case TypeKind::Void: return;
    }
}

}  // namespace

std::string formatValue(TypeTable& types, const Val& v) {
    std::string out;
    std::size_t at = 0;
    std::vector<double> padded = v.v;
    padded.resize(padded.size() + 64, 0.0);  // a short value never reads past its end
    formatPart(types, v.type, padded, at, out);
    return out;
}

// ---- Program ----

Program::Program() = default;
Program::~Program() = default;
Program::Program(Program&&) noexcept = default;
Program& Program::operator=(Program&&) noexcept = default;

bool Program::load(const std::string& text, const std::string& name, const Options& options, std::string* error) {
    auto state = std::make_unique<State>();
    try {
        state->tree = parseSource(state->sources, text.data(), text.size(), name, options);
        state->analysis = analyze(state->tree, state->types, options);
    } catch (const CompileError& e) {
        *error = state->sources.format(e.loc, e.what);
        return false;
    } catch (const std::bad_alloc&) {
        *error = name + ": error: out of memory";
        return false;
    }
    state_ = std::move(state);
    return true;
}

Result Program::run(const Inputs& inputs, const Trace& trace) const {
    Machine m(*state_, inputs, trace);
    return m.run();
}

const std::vector<ParameterInfo>& Program::parameters() const { return state_->analysis.parameters; }

const std::string& Program::fileName(const Loc& loc) const { return state_->sources.fileName(loc.file); }

}  // namespace cgc::interp
