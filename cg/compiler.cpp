// The compiler as one call: preprocess and parse, analyse, lower to IR,
// optimise, emit ARB text; ARB text given as the program is checked and
// kept. Each stage throws CompileError at its first fault; this is the one
// place that turns it into the error line.
#include "cg/compiler.h"

#include "cg/arb/backend.h"
#include "cg/arb/header.h"
#include "cg/arb/reader.h"
#include "cg/front/parser.h"
#include "cg/lower/lower.h"
#include "cg/opt/passes.h"
#include "cg/sema/sema.h"

#include <exception>
#include <new>

namespace cgc {

Compiled compile(const char* source, std::size_t length, const std::string& sourceName, const Options& options) {
    Compiled out;
    Sources sources;
    try {
        if (isArbProgram(source, length)) {
            // Assembly is its own program: checked, then kept as written.
            out.stats = readArbProgram(std::string_view(source, length), sources.addFile(sourceName), options.limits);
            if (!headerParameters(source, length, sourceName, options.limits, &out.parameters, &out.error))
                return out;
            out.text.assign(source, length);
            out.ok = true;
            return out;
        }
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
