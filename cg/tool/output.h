// Where heat2d-cg puts what it made. A file is written whole through a
// temporary beside it and then renamed over it, so a failed or interrupted
// write leaves the old file as it was.
#pragma once

#include <string>

namespace cgtool {

// True when `output` is the file `input` names ("-": standard input), through
// symbolic or hard links.
bool sameFile(const std::string& input, const std::string& output);

// Writes `text` to `path`; "-" is standard output. Where `path` is a symbolic
// link, the file it names is written and the link stays. False, with the
// reason in *why, when any part of it could not be written.
bool writeOutput(const std::string& path, const std::string& text, std::string* why);

}  // namespace cgtool
