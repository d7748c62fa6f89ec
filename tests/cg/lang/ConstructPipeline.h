// The whole compiler chained for the language tests: preprocess and parse,
// analyse, lower, optimise, emit ARB text with the header comments that name
// each parameter.
#pragma once

#include "cg/arb/backend.h"
#include "cg/front/parser.h"
#include "cg/lower/lower.h"
#include "cg/opt/passes.h"
#include "cg/sema/sema.h"

#include <string>
#include <vector>

namespace constructtest {

struct Program {
    std::string text;   // empty on an error
    std::string error;  // the one located line
    std::vector<cgc::ParameterInfo> parameters;
    cgc::Stats stats;
};

inline std::string headerComment(const cgc::ParameterInfo& p) {
    if (p.kind == cgc::ParameterInfo::Sampler)
        return "# texture[" + std::to_string(p.slot) + "] = " + p.name + " (" + p.typeName + ")";
    std::string slots = std::to_string(p.slot);
    if (p.slots > 1) slots += ".." + std::to_string(p.slot + p.slots - 1);
    return "# program.local[" + slots + "] = " + p.name + " (" + p.typeName + ")";
}

inline Program compileProgram(const std::string& source, const cgc::Options& options = {}) {
    cgc::Sources sources;
    Program out;
    try {
        cgc::ast::Tree tree = cgc::parseSource(sources, source.data(), source.size(), "test.cg", options);
        cgc::TypeTable types;
        cgc::Analysis analysis = cgc::analyze(tree, types, options);
        cgc::Lowered lowered = cgc::lower(tree, analysis, types, options);
        if (options.optimize) cgc::opt::optimize(lowered.function);
        std::vector<std::string> header;
        for (const cgc::ParameterInfo& p : lowered.parameters) header.push_back(headerComment(p));
        cgc::ArbProgram arb = cgc::emitArb(lowered.function, header, options.limits);
        out.text = arb.text;
        out.stats = arb.stats;
        out.parameters = lowered.parameters;
    } catch (const cgc::CompileError& e) {
        out.error = sources.format(e.loc, e.what);
    }
    return out;
}

}  // namespace constructtest
