// The runtime's C-style API over the compiler and ARB fragment programs.
// Nothing here throws or ends the process: every fault becomes the pending
// error (the first since the last cgGetError) and a harmless return.

#include "cg/cg.h"
#include "cg/cgGL.h"
#include "cg/compiler.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

struct _CGparameter {
    _CGprogram* program;
    cgc::ParameterInfo info;
    GLuint texture = 0;
    float value[4] = {0, 0, 0, 0};
};

struct _CGprogram {
    std::string name;  // the file, or "<string>", for messages
    std::string text;  // ARB fragment program
    std::vector<std::unique_ptr<_CGparameter>> parameters;
    GLuint id = 0;
    bool loaded = false;
};

struct _CGcontext {
    std::vector<std::unique_ptr<_CGprogram>> programs;
};

namespace {

// Contexts, programs and parameters are never destroyed; the set lets a
// stale or foreign pointer be refused instead of followed.
std::set<const void*> live;
std::vector<std::unique_ptr<_CGcontext>> contexts;

CGerror pendingCode = CG_NO_ERROR;
std::string pendingText;
CGerror fetchedCode = CG_NO_ERROR;
std::string fetchedText;

const char kStringName[] = "<string>";
const std::size_t kMaxSourceBytes = 16u << 20;

void raise(CGerror code, const std::string& text) {
    if (pendingCode != CG_NO_ERROR) return;  // the first one names the root cause
    pendingCode = code;
    pendingText = text;
}

void outOfMemory(const char* call) { raise(CG_COMPILER_ERROR, std::string(call) + ": out of memory"); }

bool fragmentProgramsAvailable() {
    return GLEW_ARB_fragment_program && glGenProgramsARB && glBindProgramARB && glProgramStringARB &&
           glProgramLocalParameter4fARB && glGetProgramivARB;
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
        raise(CG_INVALID_PARAMETER_TYPE_ERROR, std::string(call) + ": '" + p->info.name + "' is not a sampler");
        return nullptr;
    }
    return p;
}

GLuint boundProgram() {
    GLint id = 0;
    glGetProgramivARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_BINDING_ARB, &id);
    return GLuint(id);
}

// Local parameters belong to a program but are set through the binding:
// bind the owner for the call and put back whatever was bound, so setting
// a parameter never changes which program the next draw runs.
void upload(const _CGparameter& p) {
    const _CGprogram& owner = *p.program;
    if (!owner.loaded || !fragmentProgramsAvailable()) return;
    GLuint previous = boundProgram();
    if (previous != owner.id) glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, owner.id);
    glProgramLocalParameter4fARB(GL_FRAGMENT_PROGRAM_ARB, GLuint(p.info.slot), p.value[0], p.value[1], p.value[2],
                                 p.value[3]);
    if (previous != owner.id) glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, previous);
}

void setValueUnguarded(CGparameter param, const char* call, int count, float x, float y, float z, float w) {
    _CGparameter* p = validParameter(param, call);
    if (!p) return;
    if (p->info.kind == cgc::ParameterInfo::Sampler) {
        raise(CG_INVALID_PARAMETER_TYPE_ERROR, std::string(call) + ": '" + p->info.name + "' is a sampler");
        return;
    }
    const float v[4] = {x, y, z, w};
    for (int i = 0; i < count; ++i) p->value[i] = v[i];
    upload(*p);
}

void setValue(CGparameter param, const char* call, int count, float x, float y, float z, float w) {
    try {
        setValueUnguarded(param, call, count, x, y, z, w);
    } catch (...) {
        outOfMemory(call);
    }
}

CGprogram createProgram(CGcontext context, CGenum type, const char* source, std::size_t length,
                        const std::string& name, CGprofile profile, const char* entry) {
    const std::string call = "cgCreateProgram";
    if (profile != CG_PROFILE_ARBFP1) {
        raise(CG_INVALID_PROFILE_ERROR, name + ": error: no fragment profile to compile for (" +
                                            (profile == CG_PROFILE_UNKNOWN ? std::string(missingExtension())
                                                                           : "profile " + std::to_string(profile) +
                                                                                 " is not supported") +
                                            ")");
        return nullptr;
    }
    if (entry && std::strcmp(entry, "main") != 0) {
        raise(CG_INVALID_PARAMETER_ERROR, name + ": error: entry '" + entry + "' is not supported, only 'main'");
        return nullptr;
    }
    auto program = std::make_unique<_CGprogram>();
    program->name = name;
    static const char kAssembly[] = "!!ARBfp1.0";
    if (length >= sizeof kAssembly - 1 && std::memcmp(source, kAssembly, sizeof kAssembly - 1) == 0) {
        program->text.assign(source, length);
    } else {
        cgc::Compiled compiled = cgc::compile(source, length, name);
        if (!compiled.ok) {
            raise(CG_COMPILER_ERROR, compiled.error);
            return nullptr;
        }
        program->text = std::move(compiled.text);
        for (const cgc::ParameterInfo& info : compiled.parameters) {
            auto p = std::make_unique<_CGparameter>();
            p->program = program.get();
            p->info = info;
            live.insert(p.get());
            program->parameters.push_back(std::move(p));
        }
    }
    (void)type;
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

// Reads a whole file, or sets the error and returns false.
bool readFile(const char* path, std::string* text) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        raise(CG_FILE_READ_ERROR, std::string("cannot read '") + path + "': " + std::strerror(errno));
        return false;
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
        std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
        text->append(buffer, n);
        if (text->size() > kMaxSourceBytes) {
            raise(CG_FILE_READ_ERROR, std::string("cannot read '") + path + "': file is too large");
            ok = false;
            break;
        }
        if (n < sizeof buffer) {
            if (std::ferror(f)) {
                raise(CG_FILE_READ_ERROR, std::string("cannot read '") + path + "': " + std::strerror(errno));
                ok = false;
            }
            break;
        }
    }
    std::fclose(f);
    return ok;
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
        return createProgram(context, programType, program, std::strlen(program), kStringName, profile, entry);
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
            return createProgram(context, programType, "", 0, programFile, profile, entry);
        std::string text;
        if (!readFile(programFile, &text)) return nullptr;
        return createProgram(context, programType, text.data(), text.size(), programFile, profile, entry);
    } catch (...) {
        outOfMemory("cgCreateProgramFromFile");
        return nullptr;
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
        raise(CG_INVALID_PARAMETER_ERROR, p->name + ": error: no uniform parameter named '" + name + "'");
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
        GLuint previous = boundProgram();
        glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, p->id);
        glProgramStringARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_FORMAT_ASCII_ARB, GLsizei(p->text.size()),
                           p->text.data());
        GLint position = -1;
        glGetIntegerv(GL_PROGRAM_ERROR_POSITION_ARB, &position);
        if (position != -1) {
            const GLubyte* why = glGetString(GL_PROGRAM_ERROR_STRING_ARB);
            std::string reason = why ? reinterpret_cast<const char*>(why) : "";
            reason = reason.substr(0, reason.find('\n'));
            raise(CG_PROGRAM_LOAD_ERROR, p->name + ": error: the driver rejected the program at character " +
                                             std::to_string(position) + (reason.empty() ? "" : ": " + reason));
            p->loaded = false;
        } else {
            p->loaded = true;
            for (const auto& param : p->parameters)
                if (param->info.kind != cgc::ParameterInfo::Sampler)
                    glProgramLocalParameter4fARB(GL_FRAGMENT_PROGRAM_ARB, GLuint(param->info.slot), param->value[0],
                                                 param->value[1], param->value[2], param->value[3]);
        }
        glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, previous);
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
        if (fragmentProgramsAvailable()) glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, p->id);
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

void cgGLEnableTextureParameter(CGparameter param) {
    try {
        _CGparameter* p = samplerParameter(param, "cgGLEnableTextureParameter");
        if (!p) return;
        GLenum target = p->info.target == 3 ? GL_TEXTURE_RECTANGLE_ARB : GL_TEXTURE_2D;
        if (!glActiveTexture) {
            if (p->info.slot == 0) glBindTexture(target, p->texture);
            else raise(CG_INVALID_PARAMETER_ERROR, "cgGLEnableTextureParameter: no multitexturing for '" + p->info.name + "'");
            return;
        }
        glActiveTexture(GLenum(GL_TEXTURE0 + p->info.slot));
        glBindTexture(target, p->texture);
        glActiveTexture(GL_TEXTURE0);
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
