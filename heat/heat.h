// The heat solver: the two fragment programs and the passes that run them.
#pragma once

#include "cg/cgGL.h"
#include "heat/pattern.h"

#include <string>

// ---- Programs and their parameters, created once by initShaders ----------
extern CGcontext cgContext;
extern CGprofile fragmentProfile;
extern CGprogram heatProgram;
extern CGprogram copyProgram;
extern CGparameter heatTextureParam;
extern CGparameter invGridSizeParam;
extern CGparameter timestepParam;
extern CGparameter copyTextureParam;
extern bool shadersLoaded;
// The last "Cg ERROR: " line about HeatShader.cg while the file on disk does
// not load; empty when it does.
extern std::string heatShaderError;

// The copy program's source, carried inside the program.
extern const char copyProgramSource[];

void initShaders();

// Live editing: once HeatShader.cg has been saved, compiles it again. A
// program with all its parameters replaces the heat program and the field
// stays; anything else prints its error line and the old program runs on.
enum class HeatShaderReload {
    None,          // no save since the last call
    Failed,        // error line printed, the program that ran runs on
    Replaced,      // "HeatShader.cg reloaded"
    FirstProgram,  // the same, where no heat program had loaded before
};
HeatShaderReload reloadHeatShaderIfSaved();
// Programs that replaced the heat program since start-up.
extern int heatShaderReloads;
void heatStep();
void applyHeat(int x, int y);

// One GL_QUADS quad over the unit square with texel-unit texture
// coordinates (0, 0) to (width, height): with the unit square mapped onto a
// target, each fragment samples the centre of its own texel.
void drawGridQuad(float width, float height);

// Pushes both matrices, the projection set to the unit square and the
// modelview to identity, leaving modelview selected; the pop restores both
// and leaves projection selected.
void pushUnitSquareMatrices();
void popUnitSquareMatrices();
