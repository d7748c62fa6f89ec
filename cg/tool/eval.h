// heat2d-cg --eval: one cell of heat2d's starting field run through the
// reference interpreter, as a pixel debugger shows one fragment.
#pragma once

#include "cg/compiler.h"

#include <string>
#include <vector>

namespace cgtool {

struct EvalRequest {
    int x = 0, y = 0;
    std::vector<std::pair<std::string, std::vector<double>>> sets;  // --set NAME=v[,v...]
    bool trace = false;
};

// Parses "X,Y" and "NAME=v[,v...]"; false with why on bad text.
bool parseCell(const std::string& text, EvalRequest* request, std::string* why);
bool parseSet(const std::string& text, EvalRequest* request, std::string* why);

// Runs main for the cell and prints to standard output: the trace when
// asked, then the colour as four numbers on the last line. Errors are one
// line on standard error. Returns the exit status.
int evaluate(const std::string& text, const std::string& name, const cgc::Options& options, const EvalRequest& request);

}  // namespace cgtool
