// OpenGL binding of the shading runtime: profiles, loading, binding, parameters.
#pragma once

#include "cg/cg.h"

#include <GL/glew.h>

typedef int CGGLenum;

enum {
    CG_GL_VERTEX = 8,
    CG_GL_FRAGMENT = 9,
};

CGprofile cgGLGetLatestProfile(CGGLenum profileType);
void cgGLEnableProfile(CGprofile profile);
void cgGLDisableProfile(CGprofile profile);
void cgGLLoadProgram(CGprogram program);
void cgGLBindProgram(CGprogram program);
void cgGLSetTextureParameter(CGparameter param, GLuint texture);
void cgGLEnableTextureParameter(CGparameter param);
void cgGLSetParameter1f(CGparameter param, float x);
void cgGLSetParameter2f(CGparameter param, float x, float y);
void cgGLSetParameter3f(CGparameter param, float x, float y, float z);
void cgGLSetParameter4f(CGparameter param, float x, float y, float z, float w);
