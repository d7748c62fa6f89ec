// The compiler as one call, and a stage at a time: preprocess and parse,
// analyse, lower to IR, optimise, emit ARB text; ARB text given as the
// program is checked and kept. Each stage throws CompileError at its first
// fault; this is the one place that turns it into the error line, and the
// one file that knows every stage.
#include "cg/compiler.h"

#include "cg/arb/header.h"
#include "cg/arb/reader.h"
#include "cg/front/parser.h"
#include "cg/pipeline.h"

#include <exception>
#include <new>
#include <utility>

namespace cgc {

namespace {

// A fault already told as its line (the header comments' reader formats its own).
struct FormattedError {
    std::string line;
};

}  // namespace

Pipeline::Pipeline(const char* source, std::size_t length, std::string sourceName, Options options)
    : source_(source),
      length_(length),
      name_(std::move(sourceName)),
      options_(std::move(options)),
      assembly_(isArbProgram(source, length)) {}

void Pipeline::step(Stage stage) {
    if (assembly_) {
        // Assembly is its own program: checked at the first stage, then kept as written.
        if (stage == Stage::Parse) checkAssembly();
        return;
    }
    switch (stage) {
        case Stage::Parse: tree_ = parseSource(sources_, source_, length_, name_, options_); break;
        case Stage::Analyse: analysis_ = analyze(tree_, types_, options_); break;
        case Stage::Lower: lowered_ = lower(tree_, analysis_, types_, options_); break;
        case Stage::Optimise:
            if (options_.optimize) opt::optimize(lowered_.function, observer_);
            break;
        case Stage::Emit: {
            std::vector<std::string> header;
            for (const ParameterInfo& p : lowered_.parameters) header.push_back(headerComment(p));
            program_ = emitArb(lowered_.function, header, options_.limits);
            break;
        }
    }
}

void Pipeline::checkAssembly() {
    program_.stats = readArbProgram(std::string_view(source_, length_), sources_.addFile(name_), options_.limits);
    std::string error;
    if (!headerParameters(source_, length_, name_, options_.limits, &lowered_.parameters, &error))
        throw FormattedError{std::move(error)};
    program_.text.assign(source_, length_);
}

bool Pipeline::run(Stage last, std::string* error) {
    if (!error_.empty()) {  // a failed stage leaves nothing for the next
        *error = error_;
        return false;
    }
    try {
        for (; done_ <= int(last); ++done_) step(Stage(done_));
        return true;
    } catch (const CompileError& e) {
        *error = sources_.format(e.loc, e.what);
    } catch (const FormattedError& e) {
        *error = e.line;
    } catch (const std::bad_alloc&) {
        *error = name_ + ": error: out of memory";
    } catch (const std::exception& e) {
        *error = name_ + ": error: internal compiler error (" + e.what() + ")";
    }
    error_ = *error;
    return false;
}

Compiled Pipeline::compiled() {
    Compiled out;
    if (!run(Stage::Emit, &out.error)) return out;
    out.text = program_.text;
    out.stats = program_.stats;
    out.parameters = lowered_.parameters;
    for (const Warning& w : lowered_.warnings) out.warnings.push_back(sources_.format(w.loc, w.what, "warning"));
    out.ok = true;
    return out;
}

Compiled compile(const char* source, std::size_t length, const std::string& sourceName, const Options& options) {
    return Pipeline(source, length, sourceName, options).compiled();
}
Compiled compile(const std::string& source, const std::string& sourceName, const Options& options) {
    return compile(source.data(), source.size(), sourceName, options);
}

}  // namespace cgc
