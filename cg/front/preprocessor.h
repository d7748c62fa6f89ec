// The C preprocessor of the shading language, between the lexer and the
// parser: directives, conditional groups, #include, and macro expansion.
// Hostile input reaches it, so every cost is bounded: macros sit in a hash
// map, expansion has a token budget and a nesting bound, includes a depth
// bound, and tokens are views into texts it keeps (never a string each).
#pragma once

#include "cg/compiler.h"
#include "cg/diag.h"
#include "cg/front/lexer.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace cgc {

class Preprocessor {
public:
    static constexpr std::size_t kMaxExpandedTokens = std::size_t(1) << 22;  // 4194304
    static constexpr int kMaxExpansionDepth = 256;
    static constexpr int kMaxIncludeDepth = 16;
    static constexpr int kMaxIfDepth = 256;

    Preprocessor(Sources& sources, const Options& options);
    ~Preprocessor();
    Preprocessor(const Preprocessor&) = delete;
    Preprocessor& operator=(const Preprocessor&) = delete;

    // The main file; `text` stays alive while tokens are read.
    void start(std::string_view text, const std::string& fileName);
    // The next token for the parser; EndOfFile (at the main file's end) when done.
    Token next();

private:
    struct Macro;
    struct Frame;
    struct Conditional;

    Token lex();                  // the next token, directives handled, not yet expanded
    bool frameToken(Token* out);  // from the top frame; false at a boundary
    void popFrame();
    const Token& peekLex();       // for a function-like macro's '('
    bool expand(const Token& name);
    void directive(const Token& hash);
    void define(const Token& at);
    void include(const Token& at);
    void conditional(const Token& at, std::string_view word);
    void skipGroup();
    long long evalIf(const Token& at);
    std::vector<Token> lineTokens();
    std::vector<Token> expandList(std::vector<Token> tokens, const Token& at);
    std::vector<Token> substitute(Macro& macro, const Token& use, std::vector<std::vector<Token>>& args,
                                  int expansion);
    int expansionRecord(Macro& macro, const Token& use);
    std::string_view store(std::string text);
    void budget(std::size_t tokens, const Token& use, const Macro& macro);

    Sources& sources_;
    const Options& options_;
    std::deque<std::string> texts_;  // included files and made tokens; views into them stay valid
    std::unordered_map<std::string_view, std::unique_ptr<Macro>> macros_;
    std::vector<std::unique_ptr<Frame>> frames_;
    std::vector<Conditional> conditionals_;
    std::unordered_map<std::string, int> fileIds_;
    std::unordered_map<std::uint64_t, int> expansionIds_;
    std::size_t produced_ = 0;  // tokens made by expansion so far
    int includeDepth_ = 0;
    int pendingAfter_ = 0;      // expansion that ended just before the next token
    bool havePeek_ = false;
    Token peeked_;
};

}  // namespace cgc
