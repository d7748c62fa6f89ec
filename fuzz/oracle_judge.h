// One pixel of a compiled program against the reference interpreter. The
// oracle runs exactly, then again with every computed value nudged (by
// float rounding's order and by the target's approximations, see
// interp::Inputs::noise). A pixel whose nudged runs disagree with the exact
// one (a branch, a floor, a texel or a discard flips, the result swings) or
// that overflows float hinges on rounding: it is excused and counted, never
// compared. Elsewhere the target must give the oracle's value within a
// bound drawn from how far the nudges moved it.
#pragma once

#include "cg/interp/interp.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace oracle {

struct Tally {
    long compared = 0, excused = 0, mismatched = 0;
};

struct Pixel {
    float rgba[4] = {0, 0, 0, 0};
    bool killed = false;  // the target left the pixel as it was
};

constexpr double kNoise = 4e-6;  // about 32 ulps of float per operation
constexpr int kNudgedRuns = 3;

// "" when the pixel matches or is excused; else what differs.
inline std::string judge(const cgc::interp::Program& program, cgc::interp::Inputs in, const Pixel& got, Tally* tally) {
    in.noise = 0;
    const cgc::interp::Result exact = program.run(in);
    if (!exact.ok) {
        ++tally->excused;  // the oracle's own limits (steps, an index out of range): no value to compare
        return "";
    }
    bool fragile = exact.overflow || exact.nearThreshold;
    for (double c : exact.color) fragile = fragile || !std::isfinite(c);
    double spread[4] = {0, 0, 0, 0};
    for (int k = 1; k <= kNudgedRuns && !fragile; ++k) {
        in.noise = kNoise;
        in.noiseSeed = std::uint64_t(k) * 0x51ed27ull;
        in.noiseSign = k == 1 ? 1 : k == 2 ? -1 : 0;
        const cgc::interp::Result nudged = program.run(in);
        fragile = !nudged.ok || nudged.overflow || nudged.discarded != exact.discarded;
        for (int c = 0; c < 4 && !fragile; ++c) {
            double e = exact.color[std::size_t(c)], d = std::fabs(nudged.color[std::size_t(c)] - e);
            spread[c] = std::max(spread[c], d);
            fragile = !(d <= 1e-3 * (1 + std::fabs(e)));
        }
    }
    if (fragile) {
        ++tally->excused;
        return "";
    }
    if (exact.discarded != got.killed) {
        ++tally->mismatched;
        return exact.discarded ? "the oracle discards, the target does not" : "the target discards, the oracle does not";
    }
    if (!exact.discarded && exact.wroteColor)
        for (int c = 0; c < 4; ++c) {
            double e = exact.color[std::size_t(c)], g = got.rgba[c];
            // Nudged runs move every approximation one way or at random; the
            // target's errors may line up in a sum where theirs cancelled.
            double bound = 8 * spread[c] + (exact.approximated ? 2e-3 : 2e-5) * (1 + std::fabs(e));
            if (!(std::fabs(g - e) <= bound)) {
                ++tally->mismatched;
                return "channel " + std::to_string(c) + ": target " + cgc::interp::formatNumber(g) + ", oracle " +
                       cgc::interp::formatNumber(e) + " (bound " + cgc::interp::formatNumber(bound) + ")";
            }
        }
    ++tally->compared;
    return "";
}

}  // namespace oracle
