#include "heat/heat.h"

#include "fbo/glErrorText.h"
#include "heat/fileWatch.h"

#include <GL/glew.h>

#include <iostream>
#include <iterator>
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
// The error line of the last load of HeatShader.cg; empty once one loaded.
std::string heatShaderError;
int heatShaderReloads = 0;

const char copyProgramSource[] =
    "void main( float4 texcoord : TEXCOORD,\n"
    "\t\t\tuniform samplerRECT texture,\n"
    "\t\t\tout float4 color: COLOR ) {\n"
    "\tcolor.rgba = f4texRECT(texture, texcoord.xy).rgba; }\n";

namespace {

const char kHeatShaderFile[] = "HeatShader.cg";

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
std::string missingParameterAdvice(CGerror error, CGprogram program, CGparameter const* handles) {
    if (error != CG_INVALID_PARAMETER_ERROR || !program) return "";
    for (const HeatParameter& p : heatParameters)
        if (!handles[&p - heatParameters])
            return std::string("; heat2d sets this parameter: 'uniform ") + p.type + " " + p.name + "'";
    return "";
}

// Prints the one line a pending runtime error gets, and keeps its text for
// the window. Clears the pending error; false when there was none.
bool reportCgError(CGprogram program, CGparameter const* handles) {
    const CGerror cgError = cgGetError();
    if (cgError == CG_NO_ERROR) return false;
    heatShaderError = std::string("Cg ERROR: ") + cgGetErrorString(cgError) +
                      missingParameterAdvice(cgError, program, handles);
    std::cout << heatShaderError << std::endl;
    return true;
}

// Watches the file the heat program was read from, for live editing.
FileWatch heatShaderWatch;

}  // namespace

void initShaders() {
    glPushAttrib(GL_ALL_ATTRIB_BITS);  // popped on both ways out below

    fragmentProfile = cgGLGetLatestProfile(CG_GL_FRAGMENT);
    if (!cgContext) cgContext = cgCreateContext();
    if (shadersLoaded) {
        glPopAttrib();
        return;
    }

    // Before the read, so that a save during it still counts.
    heatShaderWatch.start(kHeatShaderFile);
    heatProgram = cgCreateProgramFromFile(cgContext, CG_SOURCE, kHeatShaderFile, fragmentProfile, nullptr,
                                          nullptr);
    cgGLLoadProgram(heatProgram);
    for (const HeatParameter& p : heatParameters) *p.handle = cgGetNamedParameter(heatProgram, p.name);

    copyProgram = cgCreateProgram(cgContext, CG_SOURCE, copyProgramSource, fragmentProfile,
                                  nullptr, nullptr);
    cgGLLoadProgram(copyProgram);
    copyTextureParam = cgGetNamedParameter(copyProgram, "texture");

    const GLenum glError = glGetError();
    if (glError != GL_NO_ERROR) std::cout << "GL ERROR: " << glErrorText(glError) << std::endl;
    const CGparameter handles[] = {heatTextureParam, invGridSizeParam, timestepParam};
    reportCgError(heatProgram, handles);

    shadersLoaded = true;
    glPopAttrib();
}

HeatShaderReload reloadHeatShaderIfSaved() {
    if (!shadersLoaded || !heatShaderWatch.saved()) return HeatShaderReload::None;

    glPushAttrib(GL_ALL_ATTRIB_BITS);  // popped below, as in initShaders
    // What the frames left pending (calls on a missing program) is not this
    // load's cause.
    cgGetError();
    CGprogram program = cgCreateProgramFromFile(cgContext, CG_SOURCE, kHeatShaderFile, fragmentProfile, nullptr,
                                                nullptr);
    cgGLLoadProgram(program);
    CGparameter handles[std::size(heatParameters)];
    for (const HeatParameter& p : heatParameters) handles[&p - heatParameters] = cgGetNamedParameter(program, p.name);
    glPopAttrib();

    // Anything short of a program with all three parameters keeps the one
    // that runs: a typo must not cost the field.
    if (reportCgError(program, handles)) {
        if (program) cgDestroyProgram(program);
        return HeatShaderReload::Failed;
    }
    const bool first = heatProgram == nullptr;
    if (heatProgram) cgDestroyProgram(heatProgram);
    heatProgram = program;
    for (const HeatParameter& p : heatParameters) *p.handle = handles[&p - heatParameters];
    heatShaderError.clear();
    ++heatShaderReloads;
    std::cout << kHeatShaderFile << " reloaded" << std::endl;
    return first ? HeatShaderReload::FirstProgram : HeatShaderReload::Replaced;
}
