// heat2d-cg: compiles a shading-language file to an ARB fragment program,
// the way heat2d compiles HeatShader.cg, so an edit can be checked without
// starting the program. Errors are the one located line editors parse.
#include "cg/compiler.h"
#include "cg/diag.h"
#include "cg/front/files.h"
#include "cg/tool/output.h"
#include "cg/ir/ir.h"
#include "cg/pipeline.h"
#include "cg/tool/eval.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "usage: heat2d-cg [-O0] [-o OUT] FILE\n"
    "       heat2d-cg --eval X,Y [--set NAME=v[,v...]]... [--trace] FILE\n"
    "Compiles a shading-language file (FILE, or - for standard input) to an ARB\n"
    "fragment program, as heat2d compiles HeatShader.cg, without a window or OpenGL.\n"
    "A file that is already one (!!ARBfp1.0) is checked and printed as it is.\n"
    "  -o OUT   write the program to OUT instead of standard output\n"
    "  -O0      leave the program unoptimised\n"
    "  --print-ir          print the IR as lowering made it, on standard error\n"
    "  --print-after=PASS  print the IR after each round in which PASS changed it\n"
    "  --help   show this text\n"
    "  --eval X,Y  run main for cell (X, Y) of the field heat2d starts with (64 x 64,\n"
    "           the face stamped, row 0 at the bottom; TEXCOORD0 = (X+0.5, Y+0.5),\n"
    "           invGridSize = 1/64, timestep = 0.4, every samplerRECT the field) in\n"
    "           double precision, and print the colour it returns as four numbers\n"
    "  --set NAME=v[,v...]  with --eval: give a uniform these values (one spreads)\n"
    "  --trace  with --eval: print each assignment as it runs (FILE:LINE: x = value)\n"
    "Exit status: 0 compiled; 1 an error, told in one line on standard error\n"
    "(file:line:col: error: ...); 2 bad usage.\n";

// The usage text or the program on standard output; a full disk or a closed
// pipe is one line and status 1, never a silent success.
int printed(const std::string& text) {
    std::string why;
    if (cgtool::writeOutput("-", text, &why)) return 0;
    std::fprintf(stderr, "heat2d-cg: cannot write to standard output: %s\n", why.c_str());
    return 1;
}

int usage(const std::string& why) {
    std::fprintf(stderr, "heat2d-cg: %s\n%s", why.c_str(), kUsage);
    return 2;
}

bool readStandardInput(std::string* text, std::string* error) {
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
        text->append(buffer, n);
        if (text->size() > cgc::kMaxSourceBytes) {
            *error = "it is larger than " + std::to_string(cgc::kMaxSourceBytes >> 20) + " MiB";
            return false;
        }
    }
    if (std::ferror(stdin)) {
        *error = std::strerror(errno);
        return false;
    }
    return true;
}

// ---- IR dumps: what each stage and pass made, for whoever writes a pass ----

struct Dumps {
    bool lowered = false;      // --print-ir
    const cgc::opt::Pass* after = nullptr;  // --print-after=PASS
};

// Whether arg is a dump option; false with *why set where it is one, wrongly.
bool dumpOption(const std::string& arg, Dumps* dumps, std::string* why) {
    if (arg == "--print-ir") {
        dumps->lowered = true;
        return true;
    }
    const std::string prefix = "--print-after=";
    if (arg.compare(0, prefix.size(), prefix) != 0) return false;
    const std::string name = arg.substr(prefix.size());
    dumps->after = cgc::opt::findPass(name.c_str());
    if (!dumps->after) {
        *why = "unknown pass " + cgc::quoted(name) + " (passes:";
        for (const cgc::opt::Pass& p : cgc::opt::passes()) *why += std::string(" ") + p.name;
        *why += ")";
    }
    return true;
}

cgc::Compiled compileWithDumps(const std::string& text, const std::string& name, const cgc::Options& options,
                               const Dumps& dumps) {
    cgc::Compiled out;
    cgc::Pipeline pipeline(text.data(), text.size(), name, options);
    bool fired = false;
    if (dumps.after)
        pipeline.observePasses([&](const cgc::opt::Pass& pass, int round, bool changed, const cgc::ir::Function& f) {
            if (&pass != dumps.after || !changed) return;
            fired = true;
            std::fprintf(stderr, "# IR after %s, round %d\n%s", pass.name, round, cgc::ir::print(f).c_str());
        });
    if (pipeline.run(cgc::Stage::Lower, &out.error) && dumps.lowered)
        std::fprintf(stderr, "# IR after lowering\n%s", cgc::ir::print(pipeline.lowered().function).c_str());
    if (!pipeline.run(cgc::Stage::Optimise, &out.error)) return out;
    if (dumps.after && !fired)
        std::fprintf(stderr, options.optimize ? "# %s changed nothing\n" : "# %s did not run (-O0)\n",
                     dumps.after->name);
    return pipeline.compiled();
}

}  // namespace

int main(int argc, char** argv) {
    cgc::Options options;
    const char* input = nullptr;
    const char* output = nullptr;
    bool optionsEnded = false;
    Dumps dumps;
    cgtool::EvalRequest eval;
    bool evaluating = false;
    std::string why;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnded && dumpOption(arg, &dumps, &why)) {
            if (!why.empty()) return usage(why);
        } else if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            return printed(kUsage);
        } else if (!optionsEnded && arg == "-O0") {
            options.optimize = false;
        } else if (!optionsEnded && arg == "-o") {
            if (++i == argc) return usage("-o needs a file name");
            if (output) return usage("-o is given twice");
            output = argv[i];
        } else if (!optionsEnded && (arg == "--eval" || arg == "--set")) {
            if (++i == argc) return usage(arg + " needs a value");
            const bool parsed = arg == "--eval" ? cgtool::parseCell(argv[i], &eval, &why) : cgtool::parseSet(argv[i], &eval, &why);
            if (!parsed) return usage(why);
            evaluating = evaluating || arg == "--eval";
        } else if (!optionsEnded && arg == "--trace") {
            eval.trace = true;
        } else if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return usage("unknown option " + cgc::quoted(arg));
        } else if (input) {
            return usage("one file at a time (" + cgc::quoted(input) + " and " + cgc::quoted(arg) + ")");
        } else {
            input = argv[i];
        }
    }
    if (!input) return usage("no file to compile");
    if (!evaluating && (eval.trace || !eval.sets.empty())) return usage("--set and --trace need --eval");
    if (evaluating && output) return usage("--eval prints to standard output; -o does not go with it");

    // Checked before anything is read or written: the source stays as it was.
    if (output && cgtool::sameFile(input, output)) {
        std::fprintf(stderr, "heat2d-cg: refusing to write over the input %s (-o names the file being compiled)\n",
                     cgc::quoted(output, cgc::kFileNameBytes).c_str());
        return 1;
    }
    const bool fromStdin = std::strcmp(input, "-") == 0;
    const std::string name = fromStdin ? "<stdin>" : input;
    std::string text;
    if (!(fromStdin ? readStandardInput(&text, &why) : cgc::readSourceFile(input, &text, &why))) {
        std::fprintf(stderr, "heat2d-cg: cannot read %s: %s\n", cgc::quoted(name, cgc::kFileNameBytes).c_str(),
                     why.c_str());
        return 1;
    }
    if (evaluating) return cgtool::evaluate(text, name, options, eval);
    const cgc::Compiled compiled = compileWithDumps(text, name, options, dumps);
    for (const std::string& w : compiled.warnings) std::fprintf(stderr, "%s\n", w.c_str());
    if (!compiled.ok) {
        std::fprintf(stderr, "%s\n", compiled.error.c_str());
        return 1;
    }
    // OUT is touched only once there is a program to put in it.
    std::string program = compiled.text;
    if (!program.empty() && program.back() != '\n') program += '\n';
    if (!output || std::strcmp(output, "-") == 0) return printed(program);
    if (!cgtool::writeOutput(output, program, &why)) {
        std::fprintf(stderr, "heat2d-cg: cannot write %s: %s\n", cgc::quoted(output, cgc::kFileNameBytes).c_str(),
                     why.c_str());
        return 1;
    }
    return 0;
}
