// The C preprocessor of the shading language, between the lexer and the
// parser: directives, conditional groups, #include, and macro expansion.
// Hostile input reaches it, so every cost is bounded: macros sit in a hash
// map, expansion has a token budget and a nesting bound, includes a depth
// bound, and tokens are views into texts it keeps (never a string each).
#pragma once

#include "cg/options.h"
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
    // Tokens read from files plus tokens made by expansion: what the parser
    // and every later stage may be handed, and so what bounds their time and
    // memory: the syntax tree holds about 190 bytes a token, so a file at
    // the budget peaks near 400 MB. Past it: "macro 'M' expands past 2097152
    // tokens" in an expansion, a note that the program is too long elsewhere.
    static constexpr std::size_t kMaxTokens = std::size_t(1) << 21;
    static constexpr int kMaxExpansionDepth = 256;
    static constexpr int kMaxIncludeDepth = 16;

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
    struct UseKey;
    struct UseKeyHash {
        std::size_t operator()(const UseKey& k) const;
    };
    struct UseKeyEqual {
        bool operator()(const UseKey& a, const UseKey& b) const;
    };

    Token lex();
    const Token& peekLex();
    void pushFile(std::string_view text, const std::string& path, int file);
    void pushList(std::vector<Token> tokens, Macro* macro, int expansion, bool boundary, const Token& use);
    void popFrame();
    bool expand(Token& name, Macro& macro);
    std::vector<std::vector<Token>> collectArguments(const Token& name, Macro& macro, Token* close);
    std::vector<Token> substitute(const Macro& macro, const Token& use, const Token& useEnd,
                                  const std::vector<std::vector<Token>>& args, int expansion);
    std::vector<Token> expandList(std::vector<Token> tokens, const Token& use);
    int expansionRecord(const Macro& macro, const Token& use);
    void spend(std::size_t tokens, const Token& at);
    Token lineToken(Lexer& lexer);

    void directive(const Token& hash);
    void define(Lexer& lexer, const Token& at);
    static bool sameDefinition(const Macro& a, const Macro& b);
    void include(Lexer& lexer, const Token& at);
    void line(Lexer& lexer, const Token& at);
    void skipGroup(Lexer& lexer);
    bool condition(Lexer& lexer, const Token& at);
    Lexer& fileLexer();
    int fileId(const std::string& name);
    std::string_view store(std::string text);

    Sources& sources_;
    const Options& options_;
    std::deque<std::string> texts_;  // included files and made tokens; views into them stay valid
    std::deque<Macro> definitions_;  // every definition ever made: frames point into it
    std::unordered_map<std::string_view, Macro*> macros_;
    std::vector<std::unique_ptr<Frame>> frames_;
    std::vector<Conditional> conditionals_;
    std::unordered_map<std::string, int> fileIds_;
    std::unordered_map<UseKey, int, UseKeyHash, UseKeyEqual> expansionIds_;
    std::size_t spent_ = 0;     // tokens read and made so far, against kMaxTokens
    int listDepth_ = 0;         // expansion frames open
    int includeDepth_ = 0;
    int pendingAfter_ = 0;      // expansion that ended just before the next token
    const Macro* outermost_ = nullptr;  // the macro expanded from the text, while its expansion is read
    Token outermostUse_;
    bool havePeek_ = false;
    Token peeked_;
};

}  // namespace cgc
