// The compiler a stage at a time: source -> checked tree -> IR -> optimised
// IR -> ARB text, each stage's result kept for whoever looks between them
// (heat2d-cg's IR dumps, the fuzz target's cross-check, the tests).
// compile() is this run to the end; nothing else chains the stages.
#pragma once

#include "cg/arb/backend.h"
#include "cg/compiler.h"
#include "cg/diag.h"
#include "cg/front/ast.h"
#include "cg/lower/lower.h"
#include "cg/opt/passes.h"
#include "cg/options.h"
#include "cg/sema/sema.h"
#include "cg/types/types.h"

#include <cstddef>
#include <string>

namespace cgc {

enum class Stage { Parse, Analyse, Lower, Optimise, Emit };

class Pipeline {
public:
    // The source is read where it lies: it must outlive the parse stage.
    Pipeline(const char* source, std::size_t length, std::string sourceName, Options options);
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    // Runs the stages up to `last` that have not run. Returns false at the
    // first fault and puts its one line in *error ("file:line:col: error:
    // ...", or an internal error or running out of memory, named); the stages
    // after it then do not run. Optimise changes nothing without
    // Options::optimize.
    bool run(Stage last, std::string* error);
    // Every stage, as compile() gives it.
    Compiled compiled();
    // ARB text given as the program: its first stage checks it, and the
    // others have nothing to do (no tree, no IR).
    bool assembly() const { return assembly_; }

    // Told of each pass the optimise stage runs; set before it runs.
    void observePasses(opt::PassObserver observer) { observer_ = std::move(observer); }

    // Each stage's result, once it has run.
    const Options& options() const { return options_; }
    const ast::Tree& tree() const { return tree_; }
    const TypeTable& types() const { return types_; }
    const Analysis& analysis() const { return analysis_; }
    // The IR, as lowering left it until the optimise stage runs, then optimised.
    const Lowered& lowered() const { return lowered_; }
    const ArbProgram& program() const { return program_; }

private:
    void step(Stage stage);
    void checkAssembly();

    const char* source_;
    std::size_t length_;
    std::string name_;
    Options options_;
    bool assembly_;
    Sources sources_;
    ast::Tree tree_;
    TypeTable types_;
    Analysis analysis_;
    Lowered lowered_;
    ArbProgram program_;
    opt::PassObserver observer_;
    int done_ = 0;       // stages run
    std::string error_;  // the fault that stopped the stages
};

}  // namespace cgc
