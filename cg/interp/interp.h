// The reference interpreter: runs the checked syntax tree of a program for
// one fragment, in double precision, with real branches, loops, calls and
// early exits. It shares the front end and analysis with the compiler and
// nothing after them, so it is an oracle for lowering, optimisation and the
// back end, and a debugger that shows one pixel's run.
//
// It computes what the language means, not what the target approximates:
// atan, acos and the exponentials are exact, half and fixed are doubles,
// int is a truncated double. Lookups are nearest-texel at the texel the
// coordinate falls in, clamped to the edge, with no mipmaps (bias ignored);
// a unit without a texture reads (0, 0, 0, 1).
#pragma once

#include "cg/options.h"
#include "cg/diag.h"
#include "cg/types/types.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace cgc::interp {

using Vec4 = std::array<double, 4>;

// A texture on a unit: texels row by row from the bottom, layer by layer;
// a cube map holds six faces, +X -X +Y -Y +Z -Z, each width * height.
struct Texture {
    SamplerKind kind = SamplerKind::Sampler2D;
    int width = 1, height = 1, depth = 1;
    std::vector<Vec4> texels;
};

struct Inputs {
    std::array<Vec4, 12> attributes{};  // by inputAttribute(): TEXCOORD0..7, COLOR0, COLOR1, WPOS, FOG
    // program.local registers by index. A uniform whose first register is
    // absent takes its declared initial value, or zeros.
    std::map<int, Vec4> locals;
    std::map<int, Texture> textures;  // by unit
    // When above 0, every computed real value moves by up to this fraction
    // of its rounding scale, and approximated functions by their error, as
    // float rounding in another order or the target may have it: runs with
    // different seeds show whether a result hinges on a threshold.
    double noise = 0;
    std::uint64_t noiseSeed = 0;
    int noiseSign = 0;  // +1 or -1: every nudge the whole way one side; 0: at random
};

struct Result {
    bool ok = false;
    std::string error;       // "file:line:col: error: what" when !ok
    bool discarded = false;
    bool wroteColor = false, wroteDepth = false;
    Vec4 color{0, 0, 0, 0};
    double depth = 0;
    bool overflow = false;  // some computed value left float's range or was NaN
    // A comparison, rounding, conversion, texel or branch cut decided within
    // about 1e-5 of its threshold: float rounding may decide it otherwise.
    bool nearThreshold = false;
    // atan, atan2, asin or acos ran: the target's results carry their
    // approximation's error (up to 6.1e-4 rad), and sums of them may line up.
    bool approximated = false;
};

// Called for every assignment as it runs: the place, the target as written
// ("c.rgb", "w[1]") and its new value as text.
using Trace = std::function<void(const Loc& loc, const std::string& target, const std::string& value)>;

class Program {
public:
    // Parses and analyses; false with the one error line on failure.
    bool load(const std::string& text, const std::string& name, const Options& options, std::string* error);
    Result run(const Inputs& inputs, const Trace& trace = nullptr) const;

    const std::vector<ParameterInfo>& parameters() const;
    const std::string& fileName(const Loc& loc) const;

    Program();
    ~Program();
    Program(Program&&) noexcept;
    Program& operator=(Program&&) noexcept;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// "0.5", "(1, 2)", "{(1, 2), 3}": how a trace shows a value.
std::string formatNumber(double x);

}  // namespace cgc::interp
