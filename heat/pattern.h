// The field heat2d starts with, without GL: a 64 x 64 grid at (0, 0, 0, 1)
// and the smiling face stamped on it, each stamp adding (1, 0, 0, 1).
#pragma once

constexpr int kInitialGridSize = 64;

// The smiling face stamped on the first frame, as offsets from the grid
// centre, in stamping order.
struct CellOffset {
    int dx, dy;
};

inline constexpr CellOffset initialPattern[17] = {
    // left eye
    {-2, 3}, {-3, 3}, {-3, 2}, {-2, 2},
    // right eye
    {2, 3}, {3, 3}, {3, 2}, {2, 2},
    // mouth, corner to corner
    {-4, -1}, {-3, -2}, {-2, -3}, {-1, -4}, {0, -4}, {1, -4}, {2, -3}, {3, -2}, {4, -1},
};

// What one stamp adds to its cell, and what the field holds elsewhere.
inline constexpr float kStamp[4] = {1, 0, 0, 1};
inline constexpr float kBackground[4] = {0, 0, 0, 1};
