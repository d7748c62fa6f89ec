// Source text into the shading-language compiler. Every input must end in
// one ARB program or one located error line. A program is also compiled
// without the optimizer, and both forms must compute the same: their IR on
// the CPU over a small field of awkward inputs, and, when DISPLAY is set
// (scripts/fuzz.sh starts Xvfb for it), their ARB text on Mesa over the
// same field, which must also accept every program we generate: one it
// rejected would fail only at load time, as a GL error the user cannot
// trace to a line of the source. Every program is also run by the reference
// interpreter, which shares nothing with the compiler after analysis: the
// optimised IR on the CPU, and the picture on Mesa where one is drawn, must
// give its result on every pixel that does not hinge on rounding.
#include "cg/arb/reader.h"
#include "cg/compiler.h"
#include "fuzz/cross_check.h"
#include "fuzz/gl_field.h"
#include "fuzz/mutations.h"
#include "fuzz/oracle_judge.h"

#include <GL/glew.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

const char kName[] = "fuzz.cg";

// llvmpipe compiles each program to machine code on its first draw, which
// for thousands of instructions takes seconds: larger programs are checked
// on the CPU only.
const int kMaxInstructionsOnGL = 400;

// Instructions the CPU cross-check may run for one input: a program
// unrolled to a hundred thousand instructions runs on a few fragments only.
const std::size_t kCpuBudget = 1000000;

// The reference interpreter runs the syntax tree, four times a pixel: it
// takes programs whose optimised IR stays below this.
const std::size_t kMaxInstructionsForOracle = 3000;

glfield::Field* field = nullptr;  // null: compiler alone
std::vector<crosscheck::Fragment> cpuField;
crosscheck::Tally cpuTally, glTally;
long cpuPrograms = 0, glPrograms = 0;
oracle::Tally oracleCpuTally, oracleGlTally;
long oraclePrograms = 0;

void startGL() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        std::fprintf(stderr, "compiler fuzzer: DISPLAY not set, the checks on Mesa are off\n");
        return;
    }
    Display* x = XOpenDisplay(display);
    if (!x) {
        std::fprintf(stderr, "compiler fuzzer: cannot open display %s\n", display);
        std::exit(1);
    }
    const int attributes[] = {GLX_DRAWABLE_TYPE, GLX_PBUFFER_BIT, GLX_RENDER_TYPE, GLX_RGBA_BIT, None};
    int count = 0;
    GLXFBConfig* configs = glXChooseFBConfig(x, DefaultScreen(x), attributes, &count);
    if (!configs || count == 0) {
        std::fprintf(stderr, "compiler fuzzer: no pbuffer configuration on %s\n", display);
        std::exit(1);
    }
    const int size[] = {GLX_PBUFFER_WIDTH, 16, GLX_PBUFFER_HEIGHT, 16, None};
    GLXPbuffer surface = glXCreatePbuffer(x, configs[0], size);
    GLXContext context = glXCreateNewContext(x, configs[0], GLX_RGBA_TYPE, nullptr, True);
    if (!context || !glXMakeContextCurrent(x, surface, surface, context) || glewInit() != GLEW_OK ||
        !GLEW_ARB_fragment_program) {
        std::fprintf(stderr, "compiler fuzzer: no GL context with ARB fragment programs on %s\n", display);
        std::exit(1);
    }
    XFree(configs);
    field = new glfield::Field;
    const std::string error = field->start();
    if (!error.empty()) {
        std::fprintf(stderr, "compiler fuzzer: cannot run programs on %s: %s\n", display, error.c_str());
        std::exit(1);
    }
    std::fprintf(stderr, "compiler fuzzer: checking output with %s\n",
                 reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
}

[[noreturn]] void failed(const char* what, const cgc::Compiled& out, const std::string& detail = "") {
    std::fprintf(stderr, "compiler fault: %s%s\n--- error: %s\n--- text:\n%s---\n", what, detail.c_str(),
                 out.error.c_str(), out.text.c_str());
    std::abort();
}

// Optimised and unoptimised code disagree.
[[noreturn]] void mismatch(const char* where, const std::string& why, const cgc::Compiled& plain,
                           const cgc::Compiled& optimised, const crosscheck::Stages& stages) {
    std::fprintf(stderr,
                 "compiler fault: the optimised program computes something else (%s, %s)\n"
                 "--- unoptimised:\n%s--- optimised:\n%s--- IR before the optimizer:\n%s--- IR after:\n%s---\n",
                 where, why.c_str(), plain.text.c_str(), optimised.text.c_str(),
                 cgc::ir::print(stages.before).c_str(), cgc::ir::print(stages.after).c_str());
    std::abort();
}

bool startsWith(const std::string& s, const char* prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

bool endsWith(const std::string& s, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

void checkError(const cgc::Compiled& out, const std::string& source) {
    if (out.error.empty()) failed("rejected without a message", out);
    if (!out.text.empty() || !out.parameters.empty()) failed("rejected, yet text or parameters are left", out);
    // The compiler's own faults say "internal"; an #error line may too, but
    // then the word is in the source.
    const std::size_t what = out.error.find(": error: ");
    if (what != std::string::npos && out.error.compare(what + 9, 8, "internal") == 0 &&
        source.find("internal") == std::string::npos)
        failed("an internal compiler error", out);
    if (!crosscheck::located(out.error)) failed("the message does not name the place", out);
    // One line: it is shown as is on the program's standard output. Bytes
    // past ASCII are the user's own text or the ellipsis of a cut quote.
    for (unsigned char c : out.error)
        if (c < 0x20 || c == 0x7f) failed("the message is not one printable line", out);
}

void checkProgram(const cgc::Compiled& out) {
    if (!out.error.empty()) failed("accepted with a message", out);
    if (!startsWith(out.text, "!!ARBfp1.0\n") || !endsWith(out.text, "END\n"))
        failed("text is not one ARB fragment program", out);
    std::set<std::string> names;
    int samplers = 0, locals = 0;
    for (const cgc::ParameterInfo& p : out.parameters) {
        if (!names.insert(p.name).second) failed("a parameter name repeats", out);
        // Samplers and numbers take slots in declaration order, each from zero.
        const bool sampler = p.kind == cgc::ParameterInfo::Sampler;
        if (p.slot != (sampler ? samplers : locals)) failed("parameter slots are not in order", out);
        if (sampler) ++samplers;
        else locals += p.slots;
        if (!sampler && (p.components < 1 || p.components > 4 || p.slots < 1))
            failed("a parameter has an impossible type", out);
    }
    if (!field) return;
    const glfield::Field::Program loaded(out.text);
    if (!loaded.error.empty()) failed("Mesa rejects the generated program", out, " (" + loaded.error + ")");
}

// The text without its header comments, which the stages alone do not write.
std::string body(const std::string& text) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        if (text[at] != '#') out.append(text, at, end - at);
        at = end;
    }
    return out;
}

void tell() {
    std::fprintf(stderr,
                 "compiler fuzzer: %ld programs compared on the CPU (%ld pixels equal, %ld excused as fragile), "
                 "%ld on GL (%ld pixels, %ld excused); %ld against the reference interpreter (%ld pixels equal, "
                 "%ld excused; on GL %ld equal, %ld excused)\n",
                 cpuPrograms, cpuTally.compared, cpuTally.excused, glPrograms, glTally.compared, glTally.excused,
                 oraclePrograms, oracleCpuTally.compared, oracleCpuTally.excused, oracleGlTally.compared,
                 oracleGlTally.excused);
}

// A fragment of the field as the reference interpreter takes it: the same
// attributes and registers, and the field's texture on each sampler's unit.
cgc::interp::Inputs oracleInputs(const crosscheck::Fragment& f, const std::vector<cgc::ParameterInfo>& parameters) {
    cgc::interp::Inputs in;
    for (int a = 0; a < 12; ++a)
        for (int c = 0; c < 4; ++c) in.attributes[std::size_t(a)][std::size_t(c)] = f.inputs[a][std::size_t(c)];
    for (std::size_t r = 0; r < f.uniforms.size(); ++r)
        in.locals[int(r)] = {f.uniforms[r][0], f.uniforms[r][1], f.uniforms[r][2], f.uniforms[r][3]};
    for (const cgc::ParameterInfo& p : parameters) {
        if (p.kind != cgc::ParameterInfo::Sampler) continue;
        const auto target = cgc::ir::TexTarget(p.target);
        const crosscheck::Shape s = crosscheck::shapeOf(target);
        cgc::interp::Texture t;
        t.kind = cgc::SamplerKind(p.target);
        t.width = s.width, t.height = s.height, t.depth = s.depth;
        for (int face = 0; face < s.faces; ++face)
            for (int z = 0; z < s.depth; ++z)
                for (int y = 0; y < s.height; ++y)
                    for (int x = 0; x < s.width; ++x) {
                        const crosscheck::Vec4 v = crosscheck::texel(p.slot, target, x, y, z, face);
                        t.texels.push_back({v[0], v[1], v[2], v[3]});
                    }
        in.textures[p.slot] = t;
    }
    return in;
}

[[noreturn]] void oracleMismatch(const char* where, int p, const std::string& why, const cgc::Compiled& out,
                                 const crosscheck::Stages& stages) {
    std::fprintf(stderr,
                 "compiler fault: the program computes something else than the reference interpreter (%s at pixel "
                 "(%d, %d): %s)\n--- program:\n%s--- IR:\n%s---\n",
                 where, p % crosscheck::kWidth, p / crosscheck::kWidth, why.c_str(), out.text.c_str(),
                 cgc::ir::print(stages.after).c_str());
    std::abort();
}

// The optimised IR on the CPU field against the reference interpreter.
void compareWithOracle(const cgc::interp::Program& oracle, const cgc::Compiled& out, const crosscheck::Stages& stages) {
    const std::vector<std::uint8_t> used = cgc::ir::usedComponents(stages.after);
    for (int p = 0; p < crosscheck::kPixels; ++p) {
        const cgc::ir::Result r = crosscheck::run(stages.after, used, cpuField[std::size_t(p)]).result;
        oracle::Pixel got;
        std::copy(r.color.begin(), r.color.end(), got.rgba);
        got.killed = r.killed;
        const std::string why =
            oracle::judge(oracle, oracleInputs(cpuField[std::size_t(p)], out.parameters), got, &oracleCpuTally);
        if (!why.empty()) oracleMismatch("on the CPU", p, why, out, stages);
    }
    ++oraclePrograms;
}

// Both forms on Mesa over the field, pixel by pixel.
void compareOnGL(const cgc::Compiled& plain, const cgc::Compiled& optimised, const crosscheck::Stages& stages,
                 const cgc::interp::Program* oracle) {
    std::set<std::pair<int, cgc::ir::TexTarget>> lookups;
    int locals = 0;
    bool writesColour = false;
    for (const crosscheck::Function* f : {&stages.before, &stages.after})
        for (const cgc::ir::Inst& inst : f->insts) {
            if (cgc::ir::isTexture(inst.op)) lookups.insert({inst.index, cgc::ir::TexTarget(inst.target)});
            if (inst.op == cgc::ir::Op::Uniform) locals = std::max(locals, inst.index + 1);
            writesColour = writesColour || (inst.op == cgc::ir::Op::Output && inst.index == cgc::ir::OutColor);
        }
    locals = std::min(locals, crosscheck::kUniforms);
    const std::vector<std::pair<int, cgc::ir::TexTarget>> bound(lookups.begin(), lookups.end());
    glfield::Picture pictures[2];
    const cgc::Compiled* compiled[2] = {&plain, &optimised};
    for (int k = 0; k < 2; ++k) {
        const glfield::Field::Program loaded(compiled[k]->text);
        if (!loaded.error.empty()) failed("Mesa rejects the generated program", *compiled[k], " (" + loaded.error + ")");
        pictures[k] = field->draw(loaded, bound, locals);
    }
    const std::vector<std::uint8_t> usedBefore = cgc::ir::usedComponents(stages.before),
                                    usedAfter = cgc::ir::usedComponents(stages.after);
    for (int p = 0; oracle && p < crosscheck::kPixels; ++p) {
        const cgc::ir::Result r = pictures[1].at(p);
        oracle::Pixel got;
        std::copy(r.color.begin(), r.color.end(), got.rgba);
        got.killed = r.killed;
        const std::string why = oracle::judge(*oracle, oracleInputs(field->fragments()[std::size_t(p)], optimised.parameters),
                                              got, &oracleGlTally);
        if (!why.empty()) oracleMismatch("on GL", p, why, optimised, stages);
    }
    for (int p = 0; p < crosscheck::kPixels; ++p) {
        cgc::ir::Result want = pictures[0].at(p), got = pictures[1].at(p);
        want.wroteColor = got.wroteColor = writesColour;
        const std::string why = crosscheck::differs(want, got);
        if (why.empty()) {
            ++glTally.compared;
        } else if (crosscheck::fragile(stages.before, usedBefore, field->fragments()[std::size_t(p)], true) ||
                   crosscheck::fragile(stages.after, usedAfter, field->fragments()[std::size_t(p)], true)) {
            ++glTally.excused;
        } else {
            const std::string where =
                "on GL at pixel (" + std::to_string(p % crosscheck::kWidth) + ", " + std::to_string(p / crosscheck::kWidth) + ")";
            mismatch(where.c_str(), why, plain, optimised, stages);
        }
    }
    if (++glPrograms % 500 == 0) tell();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    cpuField = crosscheck::designedField();
    startGL();
    std::atexit(tell);
    return 0;
}

// libFuzzer's byte edits seldom leave a program that compiles, so half the
// time the edit changes a number, an operator or a swizzle, or repeats a
// line: programs that still compile and compute something new, for the
// cross-check of the optimizer.
extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
    if (seed % 2) return LLVMFuzzerMutate(data, size, maxSize);
    std::mt19937 random(seed);
    std::string text(reinterpret_cast<const char*>(data), size);
    mutation::changeValue(text, text.empty() ? 0 : random() % (text.size() + 1), random);
    text.resize(std::min(text.size(), maxSize));
    std::memcpy(data, text.data(), text.size());
    return text.size();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* source = reinterpret_cast<const char*>(data);
    cgc::Options options;
    options.readFile = crosscheck::readIncluded;
    const cgc::Compiled out = cgc::compile(source, size, kName, options);
    if (cgc::isArbProgram(source, size)) {
        // Assembly has no stages to compare; what the reader accepts, Mesa
        // must load, and its header comments may place parameters anywhere.
        if (!out.ok) {
            checkError(out, std::string(source, size));
        } else if (field) {
            const glfield::Field::Program loaded(out.text);
            if (!loaded.error.empty()) failed("Mesa rejects assembly the reader accepts", out, " (" + loaded.error + ")");
        }
        return 0;
    }
    if (out.ok) checkProgram(out);
    else checkError(out, std::string(source, size));

    // A second run must agree: nothing read uninitialised, nothing kept from
    // one compile to the next. For a program the stages, run one by one for
    // both IR forms, are that second run.
    if (!out.ok) {
        const cgc::Compiled again = cgc::compile(source, size, kName, options);
        if (again.ok || again.error != out.error) failed("two compiles of one text differ", out);
        return 0;
    }
    const crosscheck::Stages stages = crosscheck::runStages(source, size, kName, options);
    if (!stages.error.empty()) failed("the stages one by one fail where compile succeeds", out, ": " + stages.error);
    bool same = body(cgc::emitArb(stages.after, {}, options.limits).text) == body(out.text) &&
                stages.parameters.size() == out.parameters.size();
    for (std::size_t i = 0; same && i < out.parameters.size(); ++i) {
        const cgc::ParameterInfo &a = out.parameters[i], &b = stages.parameters[i];
        same = a.name == b.name && a.typeName == b.typeName && a.kind == b.kind && a.target == b.target &&
               a.components == b.components && a.slot == b.slot && a.slots == b.slots;
    }
    if (!same) failed("two compiles of one text differ", out);

    // The text without the optimizer, unless lowering made so much code that
    // it could only fail the target's limits (compiling it again would take
    // seconds).
    std::size_t computed = 0;
    for (const cgc::ir::Inst& inst : stages.before.insts) computed += !cgc::ir::isLeaf(inst.op);
    cgc::Compiled plain;
    if (computed <= 4 * std::size_t(options.limits.instructions)) {
        cgc::Options unoptimised = options;
        unoptimised.optimize = false;
        plain = cgc::compile(source, size, kName, unoptimised);
    }
    if (plain.ok) {
        checkProgram(plain);
        if (body(cgc::emitArb(stages.before, {}, options.limits).text) != body(plain.text))
            failed("the stages one by one give another unoptimised program", plain);
    }

    const std::string why = crosscheck::compareOnCpu(stages.before, stages.after, cpuField, &cpuTally, kCpuBudget);
    if (!why.empty()) mismatch("on the CPU", why, plain, out, stages);
    ++cpuPrograms;

    cgc::interp::Program oracle;
    bool haveOracle = false;
    if (stages.after.insts.size() <= kMaxInstructionsForOracle) {
        std::string error;
        if (!oracle.load(std::string(source, size), kName, options, &error))
            failed("the reference interpreter rejects what the compiler accepts", out, ": " + error);
        compareWithOracle(oracle, out, stages);
        haveOracle = true;
    }

    if (field && plain.ok && plain.text != out.text && plain.stats.instructions <= kMaxInstructionsOnGL &&
        out.stats.instructions <= kMaxInstructionsOnGL)
        compareOnGL(plain, out, stages, haveOracle ? &oracle : nullptr);
    return 0;
}
