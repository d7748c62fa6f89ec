#include "bench/Loads.h"

#include "cg/limits.h"
#include "cg/compiler.h"
#include "cg/front/files.h"

#include <GL/glew.h>
#include <GL/freeglut.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {
namespace {

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The limits heat2d holds programs to on this driver (as the runtime takes them).
cgc::Limits effectiveLimits() {
    cgc::Limits driver{0, 0, 0, 0, 0, 0, 0, 0, 0};
    auto query = [](GLenum native, int* field) {
        GLint value = 0;
        glGetProgramivARB(GL_FRAGMENT_PROGRAM_ARB, native, &value);
        *field = value;
    };
    query(GL_MAX_PROGRAM_NATIVE_INSTRUCTIONS_ARB, &driver.instructions);
    query(GL_MAX_PROGRAM_NATIVE_ALU_INSTRUCTIONS_ARB, &driver.aluInstructions);
    query(GL_MAX_PROGRAM_NATIVE_TEX_INSTRUCTIONS_ARB, &driver.texInstructions);
    query(GL_MAX_PROGRAM_NATIVE_TEX_INDIRECTIONS_ARB, &driver.texIndirections);
    query(GL_MAX_PROGRAM_NATIVE_TEMPORARIES_ARB, &driver.temporaries);
    query(GL_MAX_PROGRAM_NATIVE_PARAMETERS_ARB, &driver.parameters);
    return cgc::Limits{}.within(driver);
}

std::string reg(int i) { return "r" + std::to_string(i); }
std::string coord(int i) { return "fragment.texcoord[" + std::to_string(i % 8) + "]"; }

struct Shape {
    const char* name;
    std::string text;
};

// Programs at the limits in the shapes llvmpipe loads slowest, each filling
// the instruction budget `n` (the final MOV included).
std::vector<Shape> worstShapes(const cgc::Limits& l, bool quick) {
    const int n = std::min(l.instructions, l.aluInstructions);
    std::vector<Shape> shapes;
    auto add = [&](const char* name, int temps, const std::string& body) {
        std::string text = "!!ARBfp1.0\n";
        for (int t = 0; t < temps; ++t) text += "TEMP " + reg(t) + ";\n";
        shapes.push_back({name, text + body + "MOV result.color, r0;\nEND\n"});
    };
    // One long chain of 4-wide products: about 7 ms an instruction.
    std::string body = "MOV r0, fragment.texcoord[0];\n";
    for (int i = 2; i < n; ++i) body += "MUL r0, r0, " + coord(i) + ";\n";
    add("load_multiply_chain", 1, body);
    if (quick) return shapes;

    // Products and multiply-adds in turn: superlinear in Mesa's own passes.
    body = "MOV r0, fragment.texcoord[0];\n";
    for (int i = 2; i < n; ++i)
        body += i % 2 ? "MAD r0, r0, " + coord(i) + ", r0;\n" : "MUL r0, r0, " + coord(i) + ";\n";
    add("load_multiply_add_chain", 1, body);

    // Every temporary live to the end, multiplied round-robin.
    const int temps = std::max(1, std::min(l.temporaries, n / 2 - 1));
    body.clear();
    for (int t = 0; t < temps; ++t)
        body += "MUL " + reg(t) + ", " + coord(t) + ", {" + std::to_string(t) + ".5, 0.25, 1.5, 2};\n";
    for (int i = 0; i < n - 2 * temps; ++i)
        body += "MUL " + reg(i % temps) + ", " + reg(i % temps) + ", " + reg((i * 7 + 3) % temps) + ";\n";
    for (int t = 1; t < temps; ++t) body += "ADD r0, r0, " + reg(t) + ";\n";
    add("load_live_temporaries", temps, body);

    // Independent lookups, summed.
    const int lookups = std::min(l.texInstructions, n / 2);
    body = "MOV r0, 0;\n";
    for (int i = 1; i < lookups; ++i)
        body += "TEX r1, " + coord(i) + ", texture[" + std::to_string(i % 16) + "], 2D;\nADD r0, r0, r1;\n";
    add("load_lookups", 2, body);

    // Each lookup's coordinates from the one before.
    const int chain = std::min({l.texIndirections, l.texInstructions, n - 2});
    body = "MOV r0, fragment.texcoord[0];\n";
    for (int i = 0; i < chain; ++i) body += "TEX r0, r0, texture[" + std::to_string(i % 16) + "], 2D;\n";
    add("load_indirections", 1, body);

    // As many distinct constants as instructions can name.
    body = "MOV r0, fragment.texcoord[0];\n";
    for (int i = 2, p = 0; i < n && p + 2 <= l.parameters; ++i, p += 2)
        body += "MAD r0, r0, {" + std::to_string(p) + ".25}, program.local[" + std::to_string(p % 256) + "];\n";
    add("load_parameters", 1, body);
    return shapes;
}

}  // namespace

bool measureProgramLoads(bool quick, std::FILE* out) {
    // A second run of the same program would come from the cache and hide the cost.
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 1);
    static char name[] = "heat2d-bench";
    static char* argv[] = {name, nullptr};
    int argc = 1;
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE);
    glutInitWindowSize(64, 64);
    glutCreateWindow("heat2d-bench program loads");
    if (glewInit() != GLEW_OK || !GLEW_ARB_fragment_program) {
        std::fprintf(stderr, "heat2d-bench: no ARB fragment programs to load\n");
        return false;
    }
    const cgc::Limits limits = effectiveLimits();
    // The baseline: the shipped program, as heat2d compiles it (the bench runs beside it).
    std::string source, why;
    const cgc::Compiled heat = cgc::readSourceFile("HeatShader.cg", &source, &why)
                                   ? cgc::compile(source, "HeatShader.cg")
                                   : cgc::Compiled{false, "", "cannot read 'HeatShader.cg': " + why, {}, {}, {}};
    if (!heat.ok) {
        std::fprintf(stderr, "heat2d-bench: %s\n", heat.error.c_str());
        return false;
    }
    std::vector<Shape> shapes = {{"load_heat_program", heat.text}};
    for (Shape& shape : worstShapes(limits, quick)) shapes.push_back(std::move(shape));
    glEnable(GL_FRAGMENT_PROGRAM_ARB);
    for (const Shape& shape : shapes) {
        GLuint program = 0;
        glGenProgramsARB(1, &program);
        glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, program);
        // From handing the text to the driver to the first frame drawn with it.
        const double start = cpuSeconds();
        glProgramStringARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_FORMAT_ASCII_ARB, GLsizei(shape.text.size()),
                           shape.text.c_str());
        GLint errorAt = 0;
        glGetIntegerv(GL_PROGRAM_ERROR_POSITION_ARB, &errorAt);
        if (errorAt != -1) {
            std::fprintf(stderr, "heat2d-bench: the driver refused %s at %d: %s\n", shape.name, errorAt,
                         reinterpret_cast<const char*>(glGetString(GL_PROGRAM_ERROR_STRING_ARB)));
            return false;
        }
        glRectf(-1, -1, 1, 1);
        glFinish();
        const double seconds = cpuSeconds() - start;
        glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, 0);
        glDeleteProgramsARB(1, &program);
        const std::string size =
            &shape == &shapes[0] ? "HeatShader.cg" : std::to_string(limits.instructions) + "_instructions";
        std::fprintf(out, "row %s %s %.9g cpu_ms\n", shape.name, size.c_str(), seconds * 1e3);
    }
    glDisable(GL_FRAGMENT_PROGRAM_ARB);
    return glGetError() == GL_NO_ERROR;
}

}  // namespace bench
