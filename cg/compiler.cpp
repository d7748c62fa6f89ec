// The compiler as one call: preprocess and parse, analyse, lower to IR,
// optimise, emit ARB text. Each stage throws CompileError at its first
// fault; this is the one place that turns it into the error line.
#include "cg/compiler.h"

#include "cg/arb/backend.h"
#include "cg/front/parser.h"
#include "cg/lower/lower.h"
#include "cg/opt/passes.h"
#include "cg/sema/sema.h"

#include <exception>
#include <new>

namespace cgc {

namespace {

// "# texture[0] = heatTexture (samplerRECT)", "# program.local[2..4] = m (float3x3)":
// the runtime reads these back to name an assembly program's parameters.
std::string headerComment(const ParameterInfo& p) {
    std::string slot = p.kind == ParameterInfo::Sampler ? "texture[" + std::to_string(p.slot) + "]"
                       : p.slots > 1 ? "program.local[" + std::to_string(p.slot) + ".." +
                                           std::to_string(p.slot + p.slots - 1) + "]"
                                     : "program.local[" + std::to_string(p.slot) + "]";
    return "# " + slot + " = " + p.name + " (" + p.typeName + ")";
}

}  // namespace

Compiled compile(const char* source, std::size_t length, const std::string& sourceName, const Options& options) {
    Compiled out;
    Sources sources;
    try {
        ast::Tree tree = parseSource(sources, source, length, sourceName, options);
        TypeTable types;
        Analysis analysis = analyze(tree, types, options);
        Lowered lowered = lower(tree, analysis, types, options);
        for (const Warning& w : lowered.warnings) out.warnings.push_back(sources.format(w.loc, w.what, "warning"));
        if (options.optimize) opt::optimize(lowered.function);
        std::vector<std::string> header;
        for (const ParameterInfo& p : lowered.parameters) header.push_back(headerComment(p));
        ArbProgram program = emitArb(lowered.function, header, options.limits);
        out.text = std::move(program.text);
        out.stats = program.stats;
        out.parameters = std::move(lowered.parameters);
        out.ok = true;
    } catch (const CompileError& e) {
        out.error = sources.format(e.loc, e.what);
    } catch (const std::bad_alloc&) {
        out.error = sourceName + ": error: out of memory";
    } catch (const std::exception& e) {
        out.error = sourceName + ": error: internal compiler error (" + e.what() + ")";
    }
    return out;
}

Compiled compile(const std::string& source, const std::string& sourceName, const Options& options) {
    return compile(source.data(), source.size(), sourceName, options);
}

}  // namespace cgc
