// The GL calls apitrace recorded, one text each: "glViewport(x = 0, y = 0,
// width = 64, height = 64)", with " = result" after calls that return one.
#pragma once

#include <string>
#include <vector>

// Empty, with apitrace's own words in *error, when the trace cannot be read.
std::vector<std::string> apitraceCalls(const std::string& traceFile, std::string* error);
