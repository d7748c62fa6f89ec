// Places in the source and the one error a compilation reports.
// Every stage throws CompileError at the first fault; the driver formats it
// as one line, "file:line:col: error: what", naming the macro when the place
// lies in a macro's expansion.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cgc {

struct Loc {
    int line = 0, col = 0;  // 1-based; line 0: no place known
    int file = 0;           // index into Sources' file names
    int expansion = 0;      // Sources' expansion record + 1, or 0 outside any macro
};

// A macro use: the tokens of its expansion carry the place of the use, plus
// this record, so a message can name the macro and where it was defined.
struct Expansion {
    std::string macro;
    Loc use;         // where the macro's name stood
    Loc definition;  // where its #define stood
};

// The files and expansions of one compilation, for messages.
class Sources {
public:
    int addFile(std::string name);
    const std::string& fileName(int file) const;
    int addExpansion(Expansion e);  // returns the index + 1 to put in Loc::expansion
    const Expansion& expansion(int id) const;  // id as in Loc::expansion
    std::size_t expansionCount() const { return expansions_.size(); }

    // "file:line:col: error: what", plus " (in expansion of macro 'M' defined
    // at file:line:col)" when loc lies in an expansion. Always one line.
    // `kind` is "error" or "warning".
    std::string format(const Loc& loc, const std::string& what, const char* kind = "error") const;

private:
    std::vector<std::string> files_;
    std::vector<Expansion> expansions_;
};

// Thrown by every stage at the first fault.
struct CompileError {
    Loc loc;
    std::string what;
};

[[noreturn]] void fail(const Loc& loc, std::string what);

// Source text quoted for a message: 'text', cut to about 60 characters with
// "…" and with control bytes escaped, so a message stays one short line.
std::string quoted(std::string_view text);

// The candidate nearest to `name` by edit distance, or "" when none is near
// enough to be a likely misspelling.
std::string nearest(std::string_view name, const std::vector<std::string_view>& candidates);

}  // namespace cgc
