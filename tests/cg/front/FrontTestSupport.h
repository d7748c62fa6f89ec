// Helpers for the front end's tests: run the preprocessor or the parser on
// a string and read back the result or the one error line.
#pragma once

#include "cg/front/parser.h"
#include "cg/front/preprocessor.h"

#include <map>
#include <string>

namespace fronttest {

// Options whose #include reads from a map of file names to texts.
inline cgc::Options withFiles(const std::map<std::string, std::string>& files) {
    cgc::Options options;
    options.readFile = [files](const std::string& path, std::string* text, std::string* error) {
        auto it = files.find(path);
        if (it == files.end()) {
            *error = "No such file or directory";
            return false;
        }
        *text = it->second;
        return true;
    };
    return options;
}

// The tokens the parser would receive, spelled and separated by spaces, or
// the error line.
inline std::string preprocess(const std::string& text, const cgc::Options& options = {}) {
    cgc::Sources sources;
    try {
        cgc::Preprocessor pp(sources, options);
        pp.start(text, "<string>");
        std::string out;
        for (cgc::Token t = pp.next(); !t.is(cgc::Tok::EndOfFile); t = pp.next()) {
            if (!out.empty()) out += ' ';
            out += std::string(t.text);
        }
        return out;
    } catch (const cgc::CompileError& e) {
        return sources.format(e.loc, e.what);
    }
}

// The one error line for a source, or "" when it parses.
inline std::string parseError(const std::string& text, const cgc::Options& options = {}) {
    cgc::Sources sources;
    try {
        cgc::parseSource(sources, text.data(), text.size(), "<string>", options);
        return "";
    } catch (const cgc::CompileError& e) {
        return sources.format(e.loc, e.what);
    }
}

// Whether `line` is "FILE:LINE:COL: error: WHAT" for some line and column.
inline bool isErrorAt(const std::string& line, const std::string& file, const std::string& what) {
    std::string tail = ": error: " + what;
    if (line.size() < file.size() + tail.size() || line.compare(0, file.size(), file) != 0 ||
        line.compare(line.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    std::string place = line.substr(file.size(), line.size() - file.size() - tail.size());  // ":L:C"
    std::size_t colon = place.find(':', 1);
    auto digits = [](const std::string& s) { return !s.empty() && s.find_first_not_of("0123456789") == s.npos; };
    return place[0] == ':' && colon != place.npos && digits(place.substr(1, colon - 1)) &&
           digits(place.substr(colon + 1));
}

// An expression's shape in prefix form: "(+ a (* b c))". Literals print
// their value, calls "(call f ...)", constructors and casts their type.
std::string shape(const cgc::ast::Expr* e);

}  // namespace fronttest
