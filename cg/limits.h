// What an ARB fragment program may use. heat2d and heat2d-cg hold programs
// to one set: each limit is the smaller of the driver's and the value below
// (heat2d-cg, with no driver, takes the values as they are), so a program
// heat2d-cg accepts never fails in heat2d for a limit.
//
// The values are at most what llvmpipe allows, and low enough that llvmpipe
// loads any program within them in under 2 s of CPU, so the window answers
// whatever the shader holds. Loading grows steeply with length and hangs on
// shape: on llvmpipe (Mesa 22.3) the slowest shape is a chain of products
// of run-time values (256 of them 1.5 s, 384 of them 2.5 s, on an idle
// machine), where the same chain with MADs between takes a tenth of that.
// heat2d-bench measures the worst shapes at these limits.
#pragma once

#include <algorithm>

namespace cgc {

struct Limits {
    int instructions = 256;      // ALU and texture instructions together
    int aluInstructions = 256;
    int texInstructions = 256;
    int texIndirections = 256;
    int temporaries = 64;
    int parameters = 256;        // distinct PARAM, constant and program.local bindings
    int localParameters = 256;   // program.local[0 .. n-1]
    int attributes = 12;         // fragment.* bindings
    int textureUnits = 16;       // texture image units a program may sample

    // Each limit the smaller of this one and the driver's; a driver value of
    // 0 or less (not reported) leaves this one.
    Limits within(const Limits& driver) const {
        Limits out = *this;
        auto take = [](int* mine, int theirs) {
            if (theirs > 0) *mine = std::min(*mine, theirs);
        };
        take(&out.instructions, driver.instructions);
        take(&out.aluInstructions, driver.aluInstructions);
        take(&out.texInstructions, driver.texInstructions);
        take(&out.texIndirections, driver.texIndirections);
        take(&out.temporaries, driver.temporaries);
        take(&out.parameters, driver.parameters);
        take(&out.localParameters, driver.localParameters);
        take(&out.attributes, driver.attributes);
        take(&out.textureUnits, driver.textureUnits);
        return out;
    }
};

}  // namespace cgc
