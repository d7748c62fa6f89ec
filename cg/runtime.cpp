// The runtime's C-style API over the compiler and ARB fragment programs.
// Nothing here throws or ends the process: every fault becomes the pending
// error (the first since the last cgGetError) and a harmless return.
//
// The hot path (binding, setting parameters, enabling textures) asks GL
// nothing. What the runtime believes is bound can go stale whenever someone
// else binds a program (the render targets bind their pass-through program),
// deletes the bound one, or after glPopAttrib, which leaves program bindings
// alone. So the belief is never what a value's destination depends on:
// with EXT_direct_state_access a value goes to its program by name; without
// it, a value set while its program seems bound is sent at once and again at
// the program's next bind, and any other is kept for that bind.

#include "cg/arb/reader.h"
#include "cg/cg.h"
#include "cg/cgGL.h"
#include "cg/compiler.h"
#include "cg/diag.h"
#include "cg/front/files.h"

#include <unistd.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

struct _CGparameter {
    _CGprogram* program;
    cgc::ParameterInfo info;
    GLuint texture = 0;
    std::vector<float> values;  // Numeric: 4 per register, from the initial value until set
    bool resend = false;  // without direct state access: send again at the next bind
};

struct _CGprogram {
    std::string name;  // the file, or "<string>", for messages
    std::string text;  // ARB fragment program
    bool assembly = false;
    std::vector<std::unique_ptr<_CGparameter>> parameters;
    GLuint id = 0;
    bool loaded = false;
    bool resend = false;  // some parameter has resend set
};

struct _CGcontext {
    std::vector<std::unique_ptr<_CGprogram>> programs;
};

namespace {

// Contexts are never destroyed, programs only by cgDestroyProgram; the set
// lets a stale or foreign pointer be refused instead of followed.
std::set<const void*> live;
std::vector<std::unique_ptr<_CGcontext>> contexts;

CGerror pendingCode = CG_NO_ERROR;
std::string pendingText;
CGerror fetchedCode = CG_NO_ERROR;
std::string fetchedText;

// The program this runtime last bound, or found bound when it loaded one.
GLuint believedBinding = 0;

const char kStringName[] = "<string>";

void raise(CGerror code, const std::string& text) {
    if (pendingCode != CG_NO_ERROR) return;  // the first one names the root cause
    pendingCode = code;
    // Names in it come from files and callers: one bounded, clean line whatever they hold.
    pendingText = cgc::boundedLine(text);
}

void outOfMemory(const char* call) { raise(CG_COMPILER_ERROR, std::string(call) + ": out of memory"); }

bool fragmentProgramsAvailable() {
    return GLEW_ARB_fragment_program && glGenProgramsARB && glBindProgramARB && glProgramStringARB &&
           glProgramLocalParameter4fARB && glGetProgramivARB;
}

bool directStateAccess() {
    return GLEW_EXT_direct_state_access && glNamedProgramLocalParameter4fEXT && glNamedProgramStringEXT &&
           glBindMultiTextureEXT;
}

const char* missingExtension() { return "this OpenGL context lacks GL_ARB_fragment_program"; }

_CGprogram* validProgram(CGprogram program, const char* call) {
    if (program && live.count(program)) return program;
    raise(CG_INVALID_PROGRAM_HANDLE_ERROR, std::string(call) + ": invalid program handle");
    return nullptr;
}

_CGparameter* validParameter(CGparameter param, const char* call) {
    if (param && live.count(param)) return param;
    raise(CG_INVALID_PARAM_HANDLE_ERROR, std::string(call) + ": invalid parameter handle");
    return nullptr;
}

_CGparameter* samplerParameter(CGparameter param, const char* call) {
    _CGparameter* p = validParameter(param, call);
    if (p && p->info.kind != cgc::ParameterInfo::Sampler) {
        raise(CG_INVALID_PARAMETER_TYPE_ERROR,
              std::string(call) + ": " + cgc::quoted(p->info.name) + " is not a sampler");
        return nullptr;
    }
    return p;
}

// The limits heat2d-cg checks, lowered to this driver's where it allows
// less, so that an error names what the driver allows. Without a current
// context the queries leave 0 behind, and heat2d-cg's stay.
cgc::Limits limitsFromGL() {
    cgc::Limits driver{0, 0, 0, 0, 0, 0, 0, 0, 0};
    if (!fragmentProgramsAvailable()) return cgc::Limits{};
    // A program past a native limit loads but may not run in hardware: the
    // smaller of the two is the one that counts.
    auto program = [](GLenum pname, GLenum native, int* field) {
        GLint value = 0, nativeValue = 0;
        glGetProgramivARB(GL_FRAGMENT_PROGRAM_ARB, pname, &value);
        if (native) glGetProgramivARB(GL_FRAGMENT_PROGRAM_ARB, native, &nativeValue);
        *field = nativeValue > 0 && (value <= 0 || nativeValue < value) ? nativeValue : value;
    };
    program(GL_MAX_PROGRAM_INSTRUCTIONS_ARB, GL_MAX_PROGRAM_NATIVE_INSTRUCTIONS_ARB, &driver.instructions);
    program(GL_MAX_PROGRAM_ALU_INSTRUCTIONS_ARB, GL_MAX_PROGRAM_NATIVE_ALU_INSTRUCTIONS_ARB, &driver.aluInstructions);
    program(GL_MAX_PROGRAM_TEX_INSTRUCTIONS_ARB, GL_MAX_PROGRAM_NATIVE_TEX_INSTRUCTIONS_ARB, &driver.texInstructions);
    program(GL_MAX_PROGRAM_TEX_INDIRECTIONS_ARB, GL_MAX_PROGRAM_NATIVE_TEX_INDIRECTIONS_ARB,
            &driver.texIndirections);
    program(GL_MAX_PROGRAM_TEMPORARIES_ARB, GL_MAX_PROGRAM_NATIVE_TEMPORARIES_ARB, &driver.temporaries);
    program(GL_MAX_PROGRAM_PARAMETERS_ARB, GL_MAX_PROGRAM_NATIVE_PARAMETERS_ARB, &driver.parameters);
    program(GL_MAX_PROGRAM_ATTRIBS_ARB, GL_MAX_PROGRAM_NATIVE_ATTRIBS_ARB, &driver.attributes);
    program(GL_MAX_PROGRAM_LOCAL_PARAMETERS_ARB, 0, &driver.localParameters);
    GLint units = 0;
    glGetIntegerv(GL_MAX_TEXTURE_IMAGE_UNITS_ARB, &units);
    driver.textureUnits = units;
    return cgc::Limits{}.within(driver);
}

// With the owner bound: GL takes the value for the bound program.
void sendToBound(const _CGparameter& p) {
    for (std::size_t r = 0; r < p.values.size() / 4; ++r) {
        const float* v = &p.values[4 * r];
        glProgramLocalParameter4fARB(GL_FRAGMENT_PROGRAM_ARB, GLuint(p.info.slot) + GLuint(r), v[0], v[1], v[2], v[3]);
    }
}

void sendByName(const _CGparameter& p) {
    for (std::size_t r = 0; r < p.values.size() / 4; ++r) {
        const float* v = &p.values[4 * r];
        glNamedProgramLocalParameter4fEXT(p.program->id, GL_FRAGMENT_PROGRAM_ARB, GLuint(p.info.slot) + GLuint(r), v[0],
                                          v[1], v[2], v[3]);
    }
}

void send(_CGparameter& p) {
    _CGprogram& owner = *p.program;
    if (!owner.loaded || !fragmentProgramsAvailable()) return;  // kept; loading sends it
    if (directStateAccess()) {
        sendByName(p);
        return;
    }
    // The belief may be stale; the next bind of the owner makes it right.
    p.resend = owner.resend = true;
    if (believedBinding == owner.id) sendToBound(p);
}

void setValueUnguarded(CGparameter param, const char* call, int count, float x, float y, float z, float w) {
    _CGparameter* p = validParameter(param, call);
    if (!p) return;
    if (p->info.kind == cgc::ParameterInfo::Sampler) {
        raise(CG_INVALID_PARAMETER_TYPE_ERROR, std::string(call) + ": " + cgc::quoted(p->info.name) + " is a sampler");
        return;
    }
    const float v[4] = {x, y, z, w};
    // The compiled code reads a bool as 0 or 1 (`!b` is 1 - b), as the
    // language reads any other value: true.
    const bool boolean = p->info.typeName.compare(0, 4, "bool") == 0;
    for (int i = 0; i < count; ++i) p->values[std::size_t(i)] = boolean ? float(v[i] != 0) : v[i];
    send(*p);
}

void setValue(CGparameter param, const char* call, int count, float x, float y, float z, float w) {
    try {
        setValueUnguarded(param, call, count, x, y, z, w);
    } catch (...) {
        outOfMemory(call);
    }
}

void addParameters(_CGprogram* program, const std::vector<cgc::ParameterInfo>& infos) {
    for (const cgc::ParameterInfo& info : infos) {
        auto p = std::make_unique<_CGparameter>();
        p->program = program;
        p->info = info;
        if (info.kind == cgc::ParameterInfo::Numeric) {
            p->values = info.initial;
            p->values.resize(4 * std::size_t(info.slots), 0.0f);
        }
        live.insert(p.get());
        program->parameters.push_back(std::move(p));
    }
}

CGprogram createProgram(CGcontext context, const char* source, std::size_t length, const std::string& name,
                        CGprofile profile, const char* entry) {
    if (profile != CG_PROFILE_ARBFP1) {
        raise(CG_INVALID_PROFILE_ERROR, name + ": error: no fragment profile to compile for (" +
                                            (profile == CG_PROFILE_UNKNOWN ? std::string(missingExtension())
                                                                           : "profile " + std::to_string(profile) +
                                                                                 " is not supported") +
                                            ")");
        return nullptr;
    }
    auto program = std::make_unique<_CGprogram>();
    program->name = name;
    cgc::Options options;
    options.entry = entry ? entry : "main";
    options.limits = limitsFromGL();
    cgc::Compiled compiled = cgc::compile(source, length, name, options);
    if (!compiled.ok) {
        raise(CG_COMPILER_ERROR, compiled.error);
        return nullptr;
    }
    program->text = std::move(compiled.text);
    program->assembly = cgc::isArbProgram(source, length);
    addParameters(program.get(), compiled.parameters);
    _CGprogram* raw = program.get();
    live.insert(raw);
    context->programs.push_back(std::move(program));
    return raw;
}

bool validCreate(CGcontext context, CGenum type, const char* what, const char* call) {
    if (!context || !live.count(context)) {
        raise(CG_INVALID_CONTEXT_HANDLE_ERROR, std::string(call) + ": invalid context handle");
        return false;
    }
    if (type != CG_SOURCE) {
        raise(CG_INVALID_ENUMERANT_ERROR, std::string(call) + ": program type " + std::to_string(type) +
                                              " is not supported, only CG_SOURCE");
        return false;
    }
    if (!what) {
        raise(CG_INVALID_PARAMETER_ERROR, std::string(call) + ": no program given");
        return false;
    }
    return true;
}

// A relative name is looked up in the working directory, which the message
// names: a program started from the wrong folder says where it looked.
bool readProgramFile(const char* path, std::string* text) {
    std::string why;
    if (cgc::readSourceFile(path, text, &why)) return true;
    std::string where;
    if (path[0] != '/') {
        std::vector<char> cwd(4096);
        if (getcwd(cwd.data(), cwd.size())) where = " in " + cgc::clipped(cwd.data(), 160);
    }
    raise(CG_FILE_READ_ERROR, "cannot read " + cgc::quoted(path, cgc::kFileNameBytes) + where + ": " + why);
    return false;
}

GLenum textureTarget(int target) {
    switch (target) {
        case 0: return GL_TEXTURE_1D;
        case 2: return GL_TEXTURE_3D;
        case 3: return GL_TEXTURE_RECTANGLE_ARB;
        case 4: return GL_TEXTURE_CUBE_MAP;
        default: return GL_TEXTURE_2D;
    }
}

const char* describeCode(CGerror error) {
    switch (error) {
        case CG_NO_ERROR: return "no error";
        case CG_COMPILER_ERROR: return "the program did not compile";
        case CG_INVALID_PARAMETER_ERROR: return "invalid parameter";
        case CG_INVALID_PROFILE_ERROR: return "invalid profile";
        case CG_FILE_READ_ERROR: return "cannot read the program file";
        case CG_INVALID_CONTEXT_HANDLE_ERROR: return "invalid context handle";
        case CG_INVALID_PROGRAM_HANDLE_ERROR: return "invalid program handle";
        case CG_INVALID_PARAM_HANDLE_ERROR: return "invalid parameter handle";
        case CG_INVALID_ENUMERANT_ERROR: return "invalid enumerant";
        case CG_PROGRAM_LOAD_ERROR: return "the program could not be loaded";
        case CG_PROGRAM_NOT_LOADED_ERROR: return "the program is not loaded";
        case CG_INVALID_PARAMETER_TYPE_ERROR: return "invalid parameter type";
        default: return "unknown error";
    }
}

}  // namespace

CGcontext cgCreateContext(void) {
    try {
        contexts.push_back(std::make_unique<_CGcontext>());
        live.insert(contexts.back().get());
        return contexts.back().get();
    } catch (...) {
        outOfMemory("cgCreateContext");
        return nullptr;
    }
}

CGprogram cgCreateProgram(CGcontext context, CGenum programType, const char* program, CGprofile profile,
                          const char* entry, const char** /*args: no options are taken*/) {
    try {
        if (!validCreate(context, programType, program, "cgCreateProgram")) return nullptr;
        return createProgram(context, program, std::strlen(program), kStringName, profile, entry);
    } catch (...) {
        outOfMemory("cgCreateProgram");
        return nullptr;
    }
}

CGprogram cgCreateProgramFromFile(CGcontext context, CGenum programType, const char* programFile,
                                  CGprofile profile, const char* entry, const char** /*args*/) {
    try {
        if (!validCreate(context, programType, programFile, "cgCreateProgramFromFile")) return nullptr;
        if (profile != CG_PROFILE_ARBFP1)  // the missing profile is the root cause, not the file
            return createProgram(context, "", 0, programFile, profile, entry);
        std::string text;
        if (!readProgramFile(programFile, &text)) return nullptr;
        return createProgram(context, text.data(), text.size(), programFile, profile, entry);
    } catch (...) {
        outOfMemory("cgCreateProgramFromFile");
        return nullptr;
    }
}

void cgDestroyProgram(CGprogram program) {
    try {
        _CGprogram* p = validProgram(program, "cgDestroyProgram");
        if (!p) return;
        if (p->id && glDeleteProgramsARB) glDeleteProgramsARB(1, &p->id);
        // GL falls back to program 0 when the bound one is deleted.
        if (p->id && believedBinding == p->id) believedBinding = 0;
        for (const auto& param : p->parameters) live.erase(param.get());
        live.erase(p);
        for (const auto& context : contexts) {
            auto& programs = context->programs;
            for (auto it = programs.begin(); it != programs.end(); ++it)
                if (it->get() == p) {
                    programs.erase(it);
                    return;
                }
        }
    } catch (...) {
        outOfMemory("cgDestroyProgram");
    }
}

CGparameter cgGetNamedParameter(CGprogram program, const char* name) {
    try {
        _CGprogram* p = validProgram(program, "cgGetNamedParameter");
        if (!p) return nullptr;
        if (!name) {
            raise(CG_INVALID_PARAMETER_ERROR, "cgGetNamedParameter: no name given");
            return nullptr;
        }
        for (const auto& param : p->parameters)
            if (param->info.name == name) return param.get();
        if (p->assembly && p->parameters.empty())
            raise(CG_INVALID_PARAMETER_ERROR,
                  p->name + ": error: no parameter named " + cgc::quoted(name) +
                      ": assembly names its parameters in header comments such as '# texture[0] = " +
                      cgc::clipped(name, 60) + " (samplerRECT)' or '# program.local[0] = " + cgc::clipped(name, 60) +
                      " (float4)', and this program has none");
        else
            raise(CG_INVALID_PARAMETER_ERROR, p->name + ": error: no uniform parameter named " + cgc::quoted(name));
    } catch (...) {
        outOfMemory("cgGetNamedParameter");
    }
    return nullptr;
}

CGerror cgGetError(void) {
    CGerror code = pendingCode;
    if (code != CG_NO_ERROR) {
        fetchedCode = code;
        fetchedText.swap(pendingText);
    }
    pendingCode = CG_NO_ERROR;
    pendingText.clear();
    return code;
}

const char* cgGetErrorString(CGerror error) {
    if (error != CG_NO_ERROR && error == fetchedCode) return fetchedText.c_str();
    if (error != CG_NO_ERROR && error == pendingCode) return pendingText.c_str();
    return describeCode(error);
}

CGprofile cgGLGetLatestProfile(CGGLenum profileType) {
    try {
        if (profileType == CG_GL_FRAGMENT) return fragmentProgramsAvailable() ? CG_PROFILE_ARBFP1 : CG_PROFILE_UNKNOWN;
        if (profileType != CG_GL_VERTEX)
            raise(CG_INVALID_ENUMERANT_ERROR, "cgGLGetLatestProfile: unknown profile type " + std::to_string(profileType));
    } catch (...) {
        outOfMemory("cgGLGetLatestProfile");
    }
    return CG_PROFILE_UNKNOWN;
}

static bool usableProfile(CGprofile profile, const char* call) {
    if (profile != CG_PROFILE_ARBFP1) {
        raise(CG_INVALID_PROFILE_ERROR, std::string(call) + ": profile " + std::to_string(profile) + " is not supported");
        return false;
    }
    if (!fragmentProgramsAvailable()) {
        raise(CG_INVALID_PROFILE_ERROR, std::string(call) + ": " + missingExtension());
        return false;
    }
    return true;
}

void cgGLEnableProfile(CGprofile profile) {
    try {
        if (usableProfile(profile, "cgGLEnableProfile")) glEnable(GL_FRAGMENT_PROGRAM_ARB);
    } catch (...) {
        outOfMemory("cgGLEnableProfile");
    }
}

void cgGLDisableProfile(CGprofile profile) {
    try {
        if (usableProfile(profile, "cgGLDisableProfile")) glDisable(GL_FRAGMENT_PROGRAM_ARB);
    } catch (...) {
        outOfMemory("cgGLDisableProfile");
    }
}

void cgGLLoadProgram(CGprogram program) {
    try {
        _CGprogram* p = validProgram(program, "cgGLLoadProgram");
        if (!p) return;
        if (!fragmentProgramsAvailable()) {
            raise(CG_PROGRAM_LOAD_ERROR, p->name + ": error: cannot load: " + missingExtension());
            return;
        }
        if (!p->id) glGenProgramsARB(1, &p->id);
        const bool direct = directStateAccess();
        GLint previous = 0;
        if (direct) {
            glNamedProgramStringEXT(p->id, GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_FORMAT_ASCII_ARB,
                                    GLsizei(p->text.size()), p->text.data());
        } else {
            // Loading goes through the binding, which is put back as found;
            // this is where the runtime learns what is bound.
            glGetProgramivARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_BINDING_ARB, &previous);
            glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, p->id);
            glProgramStringARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_FORMAT_ASCII_ARB, GLsizei(p->text.size()),
                               p->text.data());
        }
        GLint position = -1;
        glGetIntegerv(GL_PROGRAM_ERROR_POSITION_ARB, &position);
        p->loaded = position == -1;
        if (!p->loaded) {
            const GLubyte* why = glGetString(GL_PROGRAM_ERROR_STRING_ARB);
            std::string reason = why ? reinterpret_cast<const char*>(why) : "";
            reason = reason.substr(0, reason.find('\n'));
            raise(CG_PROGRAM_LOAD_ERROR, p->name + ": error: the driver rejected the program at character " +
                                             std::to_string(position) + (reason.empty() ? "" : ": " + reason));
        }
        for (const auto& param : p->parameters) {
            param->resend = false;
            if (!p->loaded || param->info.kind == cgc::ParameterInfo::Sampler) continue;
            if (direct)
                sendByName(*param);
            else
                sendToBound(*param);
        }
        p->resend = false;
        if (!direct) {
            glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, GLuint(previous));
            believedBinding = GLuint(previous);
        }
    } catch (...) {
        outOfMemory("cgGLLoadProgram");
    }
}

void cgGLBindProgram(CGprogram program) {
    try {
        _CGprogram* p = validProgram(program, "cgGLBindProgram");
        if (!p) return;
        if (!p->loaded) {
            raise(CG_PROGRAM_NOT_LOADED_ERROR, "cgGLBindProgram: " + p->name + " is not loaded");
            return;
        }
        if (!fragmentProgramsAvailable()) return;
        // Always bound, even when believed bound: someone else may have
        // bound another program since.
        glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, p->id);
        believedBinding = p->id;
        if (p->resend) {
            for (const auto& param : p->parameters) {
                if (param->resend) sendToBound(*param);
                param->resend = false;
            }
            p->resend = false;
        }
    } catch (...) {
        outOfMemory("cgGLBindProgram");
    }
}

void cgGLSetTextureParameter(CGparameter param, GLuint texture) {
    try {
        if (_CGparameter* p = samplerParameter(param, "cgGLSetTextureParameter")) p->texture = texture;
    } catch (...) {
        outOfMemory("cgGLSetTextureParameter");
    }
}

// Unit 0 is the active unit between calls (every party leaves it so), so a
// sampler on unit 0 binds without switching units.
void cgGLEnableTextureParameter(CGparameter param) {
    try {
        _CGparameter* p = samplerParameter(param, "cgGLEnableTextureParameter");
        if (!p) return;
        const GLenum target = textureTarget(p->info.target);
        const GLenum unit = GLenum(GL_TEXTURE0 + p->info.slot);
        if (p->info.slot == 0) {
            glBindTexture(target, p->texture);
        } else if (directStateAccess()) {
            glBindMultiTextureEXT(unit, target, p->texture);
        } else if (glActiveTexture) {
            glActiveTexture(unit);
            glBindTexture(target, p->texture);
            glActiveTexture(GL_TEXTURE0);
        } else {
            raise(CG_INVALID_PARAMETER_ERROR,
                  "cgGLEnableTextureParameter: no multitexturing for " + cgc::quoted(p->info.name));
        }
    } catch (...) {
        outOfMemory("cgGLEnableTextureParameter");
    }
}

void cgGLSetParameter1f(CGparameter param, float x) { setValue(param, "cgGLSetParameter1f", 1, x, 0, 0, 0); }

void cgGLSetParameter2f(CGparameter param, float x, float y) {
    setValue(param, "cgGLSetParameter2f", 2, x, y, 0, 0);
}

void cgGLSetParameter3f(CGparameter param, float x, float y, float z) {
    setValue(param, "cgGLSetParameter3f", 3, x, y, z, 0);
}

void cgGLSetParameter4f(CGparameter param, float x, float y, float z, float w) {
    setValue(param, "cgGLSetParameter4f", 4, x, y, z, w);
}
