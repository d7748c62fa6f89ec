// heat2d-cg: compiles a shading-language file to an ARB fragment program,
// the way heat2d compiles HeatShader.cg, so an edit can be checked without
// starting the program. Errors are the one located line editors parse.
#include "cg/compiler.h"
#include "cg/diag.h"
#include "cg/front/files.h"
#include "cg/tool/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "usage: heat2d-cg [-O0] [-o OUT] FILE\n"
    "Compiles a shading-language file (FILE, or - for standard input) to an ARB\n"
    "fragment program, as heat2d compiles HeatShader.cg, without a window or OpenGL.\n"
    "A file that is already one (!!ARBfp1.0) is checked and printed as it is.\n"
    "  -o OUT   write the program to OUT instead of standard output\n"
    "  -O0      leave the program unoptimised\n"
    "  --help   show this text\n"
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

}  // namespace

int main(int argc, char** argv) {
    cgc::Options options;
    const char* input = nullptr;
    const char* output = nullptr;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            return printed(kUsage);
        } else if (!optionsEnded && arg == "-O0") {
            options.optimize = false;
        } else if (!optionsEnded && arg == "-o") {
            if (++i == argc) return usage("-o needs a file name");
            if (output) return usage("-o is given twice");
            output = argv[i];
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

    // Checked before anything is read or written: the source stays as it was.
    if (output && cgtool::sameFile(input, output)) {
        std::fprintf(stderr, "heat2d-cg: refusing to write over the input %s (-o names the file being compiled)\n",
                     cgc::quoted(output, cgc::kFileNameBytes).c_str());
        return 1;
    }
    const bool fromStdin = std::strcmp(input, "-") == 0;
    const std::string name = fromStdin ? "<stdin>" : input;
    std::string text, why;
    if (!(fromStdin ? readStandardInput(&text, &why) : cgc::readSourceFile(input, &text, &why))) {
        std::fprintf(stderr, "heat2d-cg: cannot read %s: %s\n", cgc::quoted(name, cgc::kFileNameBytes).c_str(),
                     why.c_str());
        return 1;
    }
    const cgc::Compiled compiled = cgc::compile(text, name, options);
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
