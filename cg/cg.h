// Shading runtime: contexts, programs, parameters and the pending error.
// Our own stand-in for the vendor runtime the program was written against;
// programs compile to ARB fragment program text.
#pragma once

typedef struct _CGcontext* CGcontext;
typedef struct _CGprogram* CGprogram;
typedef struct _CGparameter* CGparameter;

typedef int CGbool;
typedef int CGenum;
typedef int CGerror;
typedef int CGprofile;

enum {
    CG_SOURCE = 4112,
};

enum {
    CG_PROFILE_UNKNOWN = 6145,
    CG_PROFILE_ARBFP1 = 7000,
};

enum {
    CG_NO_ERROR = 0,
    CG_COMPILER_ERROR = 1,
    CG_INVALID_PARAMETER_ERROR = 2,
    CG_INVALID_PROFILE_ERROR = 3,
    CG_FILE_READ_ERROR = 4,
    CG_INVALID_CONTEXT_HANDLE_ERROR = 5,
    CG_INVALID_PROGRAM_HANDLE_ERROR = 6,
    CG_INVALID_PARAM_HANDLE_ERROR = 7,
    CG_INVALID_ENUMERANT_ERROR = 8,
    CG_PROGRAM_LOAD_ERROR = 9,
    CG_PROGRAM_NOT_LOADED_ERROR = 10,
    CG_INVALID_PARAMETER_TYPE_ERROR = 11,
};

CGcontext cgCreateContext(void);
CGprogram cgCreateProgram(CGcontext context, CGenum programType, const char* program,
                          CGprofile profile, const char* entry, const char** args);
CGprogram cgCreateProgramFromFile(CGcontext context, CGenum programType, const char* programFile,
                                  CGprofile profile, const char* entry, const char** args);
// Frees the program, its parameters and its GL program object; its handles
// are refused from then on. Needs the program's GL context current.
void cgDestroyProgram(CGprogram program);
CGparameter cgGetNamedParameter(CGprogram program, const char* name);
CGerror cgGetError(void);
const char* cgGetErrorString(CGerror error);
