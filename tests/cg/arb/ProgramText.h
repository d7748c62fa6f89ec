// IR for the back end's tests, from the IR's text form. Instruction n gets
// origin line n + 1, so an error's line names the instruction it is at.
#pragma once

#include "cg/ir/ir.h"

#include <gtest/gtest.h>

#include <string>

namespace arbtest {

inline cgc::ir::Function irFunction(const std::string& text) {
    cgc::ir::Function f;
    std::string error;
    EXPECT_TRUE(cgc::ir::parse(text, &f, &error)) << error << "\n" << text;
    for (std::size_t n = 0; n < f.insts.size(); ++n) {
        f.insts[n].origin.line = int(n + 1);
        f.insts[n].origin.col = 1;
    }
    return f;
}

}  // namespace arbtest
