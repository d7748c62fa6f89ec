#include "heat/heat.h"

#include <GL/glew.h>

#include <iostream>

// ---- Programs and their parameters ----------------------------------------
// The runtime context owning both programs; created on the first call.
CGcontext cgContext = nullptr;
// The newest fragment profile the context offers; refreshed on every call.
CGprofile fragmentProfile = 0;
// One heat-equation step, compiled from HeatShader.cg.
CGprogram heatProgram = nullptr;
// Texel-for-texel copy, compiled from copyProgramSource.
CGprogram copyProgram = nullptr;
// The heat program's field sampler.
CGparameter heatTextureParam = nullptr;
// The heat program's (1/gridWidth, 1/gridHeight).
CGparameter invGridSizeParam = nullptr;
// The heat program's time step.
CGparameter timestepParam = nullptr;
// The copy program's sampler.
CGparameter copyTextureParam = nullptr;
// Set by the first initShaders, whatever it reported; loading is never retried.
bool shadersLoaded = false;

const char copyProgramSource[] =
    "void main( float4 texcoord : TEXCOORD,\n"
    "\t\t\tuniform samplerRECT texture,\n"
    "\t\t\tout float4 color: COLOR ) {\n"
    "\tcolor.rgba = f4texRECT(texture, texcoord.xy).rgba; }\n";

void initShaders() {
    glPushAttrib(GL_ALL_ATTRIB_BITS);  // popped on both ways out below

    fragmentProfile = cgGLGetLatestProfile(CG_GL_FRAGMENT);
    if (!cgContext) cgContext = cgCreateContext();
    if (shadersLoaded) {
        glPopAttrib();
        return;
    }

    heatProgram = cgCreateProgramFromFile(cgContext, CG_SOURCE, "HeatShader.cg", fragmentProfile,
                                          nullptr, nullptr);
    cgGLLoadProgram(heatProgram);
    heatTextureParam = cgGetNamedParameter(heatProgram, "heatTexture");
    invGridSizeParam = cgGetNamedParameter(heatProgram, "invGridSize");
    timestepParam = cgGetNamedParameter(heatProgram, "timestep");

    copyProgram = cgCreateProgram(cgContext, CG_SOURCE, copyProgramSource, fragmentProfile,
                                  nullptr, nullptr);
    cgGLLoadProgram(copyProgram);
    copyTextureParam = cgGetNamedParameter(copyProgram, "texture");

    const GLenum glError = glGetError();
    if (glError != GL_NO_ERROR) std::cout << "GL ERROR: " << glErrorText(glError) << std::endl;
    const CGerror cgError = cgGetError();
    if (cgError != CG_NO_ERROR) std::cout << "Cg ERROR: " << cgGetErrorString(cgError) << std::endl;

    shadersLoaded = true;
    glPopAttrib();
}

const char* glErrorText(unsigned error) {
    const GLubyte* text = gluErrorString(error);
    return text ? reinterpret_cast<const char*>(text) : "unknown OpenGL error";
}
