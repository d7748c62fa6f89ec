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

// An expression's shape in prefix form: "(+ a (* b c))". Literals print
// their value, calls "(call f ...)", constructors and casts their type.
std::string shape(const cgc::ast::Expr* e);

}  // namespace fronttest
