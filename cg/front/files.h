// Reading a source file for the compiler, the runtime and heat2d-cg alike:
// never blocks, refuses what is not a regular file, and bounds the size.
#pragma once

#include <cstddef>
#include <string>

namespace cgc {

// The most a source file may hold.
constexpr std::size_t kMaxSourceBytes = std::size_t(16) << 20;

// Reads the whole file at `path` into *text. On failure returns false and
// puts the reason in *error, worded to follow "cannot read 'x': " ("No such
// file or directory", "it is not a regular file (a FIFO)", ...).
bool readSourceFile(const std::string& path, std::string* text, std::string* error);

}  // namespace cgc
