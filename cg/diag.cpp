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

const char kEllipsis[] = "\xe2\x80\xa6";  // …

std::string place(const Sources& s, const Loc& loc) {
    std::string text = clipped(s.fileName(loc.file), kFileNameBytes);
    if (loc.line > 0) text += ":" + std::to_string(loc.line) + ":" + std::to_string(loc.col);
    return text;
}

// The length of the well-formed UTF-8 sequence at text[i] (RFC 3629: no
// overlong forms, surrogates or values past U+10FFFF), or 0, with its value.
std::size_t sequenceAt(std::string_view text, std::size_t i, unsigned* value) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned lead = byte(i);
    std::size_t n;
    unsigned least;
    if (lead >= 0xc2 && lead <= 0xdf) n = 2, least = 0x80, *value = lead & 0x1f;
    else if (lead >= 0xe0 && lead <= 0xef) n = 3, least = 0x800, *value = lead & 0x0f;
    else if (lead >= 0xf0 && lead <= 0xf4) n = 4, least = 0x10000, *value = lead & 0x07;
    else return 0;
    if (i + n > text.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80) return 0;
        *value = (*value << 6) | (byte(i + k) & 0x3f);
    }
    if (*value < least || *value > 0x10ffff || (*value >= 0xd800 && *value <= 0xdfff)) return 0;
    return n;
}

// Code points that would break or disguise the line: C0 and C1 controls,
// DEL, the Unicode line and paragraph separators.
bool unprintable(unsigned c) { return c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0x2028 || c == 0x2029; }

void escapeBytes(std::string_view bytes, std::string* out) {
    for (char c : bytes) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(c));
        *out += buf;
    }
}

}  // namespace

std::string Sources::format(const Loc& loc, const std::string& what, const char* kind) const {
    std::string line = place(*this, loc) + ": " + kind + ": " + what;
    if (loc.expansion > 0 && std::size_t(loc.expansion) <= expansions_.size()) {
        const Expansion* e = &expansion(loc.expansion);
        line += " (in expansion of macro " + quoted(e->macro) + " defined at " + place(*this, e->definition) + ")";
    }
    return boundedLine(line);
}

void fail(const Loc& loc, std::string what) { throw CompileError{loc, std::move(what)}; }

std::string clipped(std::string_view text, std::size_t most) {
    std::string out, piece;
    for (std::size_t i = 0; i < text.size();) {
        unsigned value = static_cast<unsigned char>(text[i]);
        const std::size_t n = value < 0x80 ? 1 : sequenceAt(text, i, &value);
        piece.clear();
        if (n == 0) escapeBytes(text.substr(i, 1), &piece);
        else if (unprintable(value)) escapeBytes(text.substr(i, n), &piece);
        else piece.assign(text.substr(i, n));
        if (out.size() + piece.size() > most) return out + kEllipsis;
        out += piece;
        i += n ? n : 1;
    }
    return out;
}

std::string quoted(std::string_view text, std::size_t most) { return "'" + clipped(text, most) + "'"; }

std::string boundedLine(std::string_view line) {
    std::string clean = clipped(line, std::string_view::npos);
    if (clean.size() <= kMaxMessageBytes) return clean;
    // Room for the ellipsis within the bound.
    return clipped(clean, kMaxMessageBytes - (sizeof kEllipsis - 1));
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
