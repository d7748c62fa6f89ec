// Lexer for the shading language: one token of lookahead, comments skipped,
// object-like #define expanded as tokens are read.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace cgc {

// Single-character tokens are their own character; the rest start here.
enum TokenKind : int {
    TK_EOF = 256,
    TK_NAME,
    TK_NUMBER,
    TK_ADD_ASSIGN,  // +=
    TK_SUB_ASSIGN,  // -=
    TK_MUL_ASSIGN,  // *=
    TK_DIV_ASSIGN,  // /=
    TK_OTHER_OP,    // an operator of the full language we do not take (==, &&, ++, ...)
};

struct Token {
    int kind = TK_EOF;
    std::string text;  // as written; for expanded macros, the expansion's own text
    double number = 0;
    int line = 1, col = 1;
};

// Thrown inside the compiler only; compile() turns it into an error text.
struct CompileError {
    std::string message;  // "name:line:col: error: what"
};

[[noreturn]] void fail(const std::string& source, int line, int col, const std::string& what);

// How a token is named in a message: 'float4', ';', end of file.
std::string describe(const Token& t);

class Lexer {
public:
    Lexer(const char* text, std::size_t length, std::string sourceName);

    const Token& current() const { return tok_; }
    const Token& lookahead();
    void next();
    const std::string& sourceName() const { return name_; }
    [[noreturn]] void error(const Token& at, const std::string& what) const;

private:
    struct Macro {
        std::string name;
        std::vector<Token> body;
    };
    struct Expansion {
        std::size_t macro;  // index into macros_
        std::size_t pos;
        int line, col;  // where the macro was used: expanded tokens report this place
    };

    Token read();       // next token after macro expansion
    Token scan();       // next raw token from the text
    void directive(int line, int col);
    void skipBlank();   // whitespace and comments
    Token number(int line, int col);
    int peekc(std::size_t ahead = 0) const { return pos_ + ahead < len_ ? (unsigned char)src_[pos_ + ahead] : -1; }
    void advance();
    bool expanding(const std::string& name) const;

    const char* src_;
    std::size_t len_;
    std::size_t pos_ = 0;
    int line_ = 1, col_ = 1;
    bool lineStart_ = true;  // only blanks so far on this line: '#' starts a directive
    std::string name_;
    Token tok_;
    Token ahead_;
    bool hasAhead_ = false;
    std::vector<Macro> macros_;
    std::vector<Expansion> stack_;
    std::size_t expandedTokens_ = 0;
};

}  // namespace cgc
