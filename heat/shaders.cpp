#include "heat/heat.h"

#include "fbo/glErrorText.h"

#include <GL/glew.h>

#include <iostream>
#include <string>

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

namespace {

// The heat program's parameters as heat2d sets them, in lookup order.
struct HeatParameter {
    const char* name;
    const char* type;
    CGparameter* handle;
};
const HeatParameter heatParameters[] = {
    {"heatTexture", "samplerRECT", &heatTextureParam},
    {"invGridSize", "float2", &invGridSizeParam},
    {"timestep", "float", &timestepParam},
};

// The runtime only knows a name was missing; the user also needs to hear
// that heat2d sets it, and as what. The first error is the one reported, so
// with the program compiled a parameter error is the first lookup that failed.
std::string missingParameterAdvice(CGerror error) {
    if (error != CG_INVALID_PARAMETER_ERROR || !heatProgram) return "";
    for (const HeatParameter& p : heatParameters)
        if (!*p.handle)
            return std::string("; heat2d sets this parameter: 'uniform ") + p.type + " " + p.name + "'";
    return "";
}

}  // namespace

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
    for (const HeatParameter& p : heatParameters) *p.handle = cgGetNamedParameter(heatProgram, p.name);

    copyProgram = cgCreateProgram(cgContext, CG_SOURCE, copyProgramSource, fragmentProfile,
                                  nullptr, nullptr);
    cgGLLoadProgram(copyProgram);
    copyTextureParam = cgGetNamedParameter(copyProgram, "texture");

    const GLenum glError = glGetError();
    if (glError != GL_NO_ERROR) std::cout << "GL ERROR: " << glErrorText(glError) << std::endl;
    const CGerror cgError = cgGetError();
    if (cgError != CG_NO_ERROR)
        std::cout << "Cg ERROR: " << cgGetErrorString(cgError) << missingParameterAdvice(cgError) << std::endl;

    shadersLoaded = true;
    glPopAttrib();
}
