// heat2d-cg: compiles a shading-language file to an ARB fragment program,
// the way heat2d compiles HeatShader.cg, so an edit can be checked without
// starting the program. Errors are the one located line editors parse.
#include "cg/compiler.h"
#include "cg/front/files.h"
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
    "  -o OUT   write the program to OUT instead of standard output\n"
    "  -O0      leave the program unoptimised\n"
    "  --help   show this text\n"
    "  --eval X,Y  run main for cell (X, Y) of the field heat2d starts with (64 x 64,\n"
    "           the face stamped, row 0 at the bottom; TEXCOORD0 = (X+0.5, Y+0.5),\n"
    "           invGridSize = 1/64, timestep = 0.4, every samplerRECT the field) in\n"
    "           double precision, and print the colour it returns as four numbers\n"
    "  --set NAME=v[,v...]  with --eval: give a uniform these values (one spreads)\n"
    "  --trace  with --eval: print each assignment as it runs (FILE:LINE: x = value)\n"
    "Exit status: 0 compiled; 1 an error, told in one line on standard error\n"
    "(file:line:col: error: ...); 2 bad usage.\n";

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

bool writeAll(std::FILE* f, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), f) == text.size();
}

}  // namespace

int main(int argc, char** argv) {
    cgc::Options options;
    const char* input = nullptr;
    const char* output = nullptr;
    bool optionsEnded = false;
    cgtool::EvalRequest eval;
    bool evaluating = false;
    std::string why;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
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
            return usage("unknown option '" + arg + "'");
        } else if (input) {
            return usage("one file at a time ('" + std::string(input) + "' and '" + arg + "')");
        } else {
            input = argv[i];
        }
    }
    if (!input) return usage("no file to compile");
    if (!evaluating && (eval.trace || !eval.sets.empty())) return usage("--set and --trace need --eval");
    if (evaluating && output) return usage("--eval prints to standard output; -o does not go with it");

    const bool fromStdin = std::strcmp(input, "-") == 0;
    const std::string name = fromStdin ? "<stdin>" : input;
    std::string text;
    if (!(fromStdin ? readStandardInput(&text, &why) : cgc::readSourceFile(input, &text, &why))) {
        std::fprintf(stderr, "heat2d-cg: cannot read '%s': %s\n", name.c_str(), why.c_str());
        return 1;
    }
    if (evaluating) return cgtool::evaluate(text, name, options, eval);
    const cgc::Compiled compiled = cgc::compile(text, name, options);
    for (const std::string& w : compiled.warnings) std::fprintf(stderr, "%s\n", w.c_str());
    if (!compiled.ok) {
        std::fprintf(stderr, "%s\n", compiled.error.c_str());
        return 1;
    }
    // OUT is touched only once there is a program to put in it.
    const bool toStdout = !output || std::strcmp(output, "-") == 0;
    std::FILE* out = toStdout ? stdout : std::fopen(output, "wb");
    if (!out) {
        std::fprintf(stderr, "heat2d-cg: cannot write '%s': %s\n", output, std::strerror(errno));
        return 1;
    }
    bool written = writeAll(out, compiled.text);
    if (!compiled.text.empty() && compiled.text.back() != '\n') written = written && writeAll(out, "\n");
    written = (toStdout ? std::fflush(out) : std::fclose(out)) == 0 && written;
    if (!written) {
        std::fprintf(stderr, "heat2d-cg: cannot write '%s': %s\n", toStdout ? "<stdout>" : output,
                     std::strerror(errno));
        return 1;
    }
    return 0;
}
