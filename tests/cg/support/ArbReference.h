// The CPU side of an ArbRunner run: what each fragment of the run sees, as
// the IR interpreter (cgc::ir::run) takes it, with texture lookups done the
// way the runner's textures sample (nearest texel, clamped to the edge).
#pragma once

#include "cg/ir/eval.h"
#include "tests/cg/support/ArbRunner.h"

namespace cgtest {

// Inputs, local parameters and lookups of pixel (i, j) of the run.
// fragment.position is the pixel centre at depth 0.5 with 1/w = 1. The
// lookups read `run`, which must outlive the fragment.
cgc::ir::Fragment fragmentAt(const ArbRun& run, int i, int j);

// One lookup in the run's textures; TXP divides by w, TXB's bias does
// nothing on single-level textures.
cgc::ir::Vec4 sampleTexture(const ArbRun& run, cgc::ir::Op op, int unit, cgc::ir::TexTarget target,
                            const cgc::ir::Vec4& coordinate);

}  // namespace cgtest
