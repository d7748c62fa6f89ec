// Start-up time of the real heat2d binary, seen from outside as a user sees
// it: from starting the process to its window being up, and to the face
// showing in the middle of that window.
#pragma once

#include <string>

namespace bench {

struct StartupTimes {
    double windowMs = 0;  // the "2D Heat Equation" window is viewable
    double faceMs = 0;    // red shows in the window's centre
};

// Runs `binary` once in `folder` (which must hold HeatShader.cg) on the X
// server named by DISPLAY, then ends it. False, with the reason in *why, when
// the program exits, or shows no window or no face within `timeoutSeconds`.
bool measureStartup(const std::string& binary, const std::string& folder, double timeoutSeconds,
                    StartupTimes* times, std::string* why);

}  // namespace bench
