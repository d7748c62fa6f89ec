// What an ARB fragment program may use. Read from GL where a context exists
// (the runtime), the documented defaults below where none does (heat2d-cg).
#pragma once

namespace cgc {

struct Limits {
    int instructions = 4096;      // ALU and texture instructions together
    int aluInstructions = 4096;
    int texInstructions = 4096;
    int texIndirections = 4096;
    int temporaries = 256;
    int parameters = 1024;        // distinct PARAM, constant and program.local bindings
    int localParameters = 256;    // program.local[0 .. n-1]
    int attributes = 12;          // fragment.* bindings
    int textureUnits = 16;        // texture image units a program may sample
};

}  // namespace cgc
