#include "cg/diag.h"

#include <algorithm>
#include <cstdio>

namespace cgc {

int Sources::addFile(std::string name) {
    files_.push_back(std::move(name));
    return int(files_.size() - 1);
}

const std::string& Sources::fileName(int file) const {
    static const std::string unknown = "<unknown>";
    return file >= 0 && std::size_t(file) < files_.size() ? files_[std::size_t(file)] : unknown;
}

int Sources::addExpansion(Expansion e) {
    expansions_.push_back(std::move(e));
    return int(expansions_.size());
}

const Expansion& Sources::expansion(int id) const { return expansions_[std::size_t(id - 1)]; }

namespace {

std::string place(const Sources& s, const Loc& loc) {
    // A name from #line may hold any byte; control bytes would break the line.
    std::string text;
    for (char c : s.fileName(loc.file)) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u >= 32 && u != 127) {
            text += c;
            continue;
        }
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02x", u);
        text += buf;
    }
    if (loc.line > 0) text += ":" + std::to_string(loc.line) + ":" + std::to_string(loc.col);
    return text;
}

}  // namespace

std::string Sources::format(const Loc& loc, const std::string& what, const char* kind) const {
    std::string line = place(*this, loc) + ": " + kind + ": " + what;
    if (loc.expansion > 0 && std::size_t(loc.expansion) <= expansions_.size()) {
        const Expansion* e = &expansion(loc.expansion);
        line += " (in expansion of macro '" + e->macro + "' defined at " + place(*this, e->definition) + ")";
    }
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    return line;
}

void fail(const Loc& loc, std::string what) { throw CompileError{loc, std::move(what)}; }

std::string quoted(std::string_view text) {
    const std::size_t kMax = 60;
    std::string out = "'";
    std::size_t shown = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (shown >= kMax) {
            out += "\xe2\x80\xa6";  // …
            break;
        }
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 32 || c == 127) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += char(c);
        }
        ++shown;
    }
    return out + "'";
}

std::string nearest(std::string_view name, const std::vector<std::string_view>& candidates) {
    if (name.size() > 64) return "";
    std::string_view best;
    std::size_t bestDistance = std::size_t(-1);
    for (std::string_view c : candidates) {
        if (c == name || c.size() > 64) continue;
        // Levenshtein distance, with an adjacent swap counting as one edit.
        std::vector<std::vector<std::size_t>> d(name.size() + 1, std::vector<std::size_t>(c.size() + 1));
        for (std::size_t i = 0; i <= name.size(); ++i) d[i][0] = i;
        for (std::size_t j = 0; j <= c.size(); ++j) d[0][j] = j;
        for (std::size_t i = 1; i <= name.size(); ++i)
            for (std::size_t j = 1; j <= c.size(); ++j) {
                std::size_t cost = name[i - 1] == c[j - 1] ? 0 : 1;
                d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
                if (i > 1 && j > 1 && name[i - 1] == c[j - 2] && name[i - 2] == c[j - 1])
                    d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        std::size_t distance = d[name.size()][c.size()];
        if (distance < bestDistance) {
            bestDistance = distance;
            best = c;
        }
    }
    // Near enough: a third of the longer name, at least one edit.
    std::size_t longest = std::max(name.size(), best.size());
    if (best.empty() || bestDistance > std::max<std::size_t>(1, longest / 3)) return "";
    return std::string(best);
}

}  // namespace cgc
