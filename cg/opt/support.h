// Helpers shared by the passes (not part of the optimizer's interface).
#pragma once

#include "cg/ir/eval.h"
#include "cg/ir/ir.h"

#include <cstdint>
#include <vector>

namespace cgc::opt {

// `reader` read a value that is `to` read through a swizzle: the same lanes,
// now reading to.def directly.
ir::Src composeRead(const ir::Src& reader, const ir::Src& to);

// Whether two sources read the same components of the same value, with the
// same sign, in the lanes `lanes`.
bool sameRead(const ir::Src& a, const ir::Src& b, std::uint8_t lanes);

// The lanes a source reads when its def is a constant (swizzle and negation
// applied).
bool constantRead(const ir::Function& f, const ir::Src& s, ir::Vec4* out);

// Whether every lane in `lanes` of v equals x (numerically: -0 equals 0).
bool allLanesEqual(const ir::Vec4& v, std::uint8_t lanes, float x);

// How many sources of instructions that are live (a sink, or with used
// components) read each value.
std::vector<std::uint32_t> liveUseCounts(const ir::Function& f, const std::vector<std::uint8_t>& used);

// Sets the swizzle of lanes not in `lanes` so that equal reads look equal:
// the one component read repeated when one lane is read, identity when the
// read lanes are, the one component repeated when several lanes read it,
// else identity in the unread lanes.
void canonicalSwizzle(ir::Src& s, std::uint8_t lanes);

// Constants a pass creates in the middle of a walk. They get indices past
// the end while the walk runs (never look them up) and move to the front of
// the function at commit, where every reader can see them.
class NewConstants {
public:
    explicit NewConstants(ir::Function& f) : f_(f), base_(std::uint32_t(f.insts.size())) {}
    ir::Src add(const ir::Vec4& value, const Loc& origin);
    bool empty() const { return added_.empty(); }
    void commit();

private:
    ir::Function& f_;
    std::uint32_t base_;
    std::vector<ir::Inst> added_;
};

}  // namespace cgc::opt
