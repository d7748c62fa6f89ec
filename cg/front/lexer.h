// Tokens of the shading language and of its preprocessor, in the manner of
// Lua's llex.c: one switch on the current character, a keyword table giving
// each reserved word a kind of its own, a distinct kind per operator.
#pragma once

#include "cg/diag.h"

#include <cstdint>
#include <string_view>

namespace cgc {

// Reserved words. The second group is reserved by the language but has no
// meaning on this target; the parser names them in its message.
#define CGC_KEYWORDS(X)                                                                                  \
    X(If, "if") X(Else, "else") X(For, "for") X(While, "while") X(Do, "do") X(Break, "break")          \
    X(Continue, "continue") X(Return, "return") X(Discard, "discard") X(Struct, "struct")              \
    X(Typedef, "typedef") X(True, "true") X(False, "false") X(Const, "const") X(Static, "static")      \
    X(Uniform, "uniform") X(Extern, "extern") X(Varying, "varying") X(Inline, "inline") X(In, "in")    \
    X(Out, "out") X(Inout, "inout")                                                                    \
    X(Switch, "switch") X(Case, "case") X(Default, "default") X(Goto, "goto") X(Asm, "asm")            \
    X(Class, "class") X(Template, "template") X(This, "this") X(Sizeof, "sizeof") X(Enum, "enum")      \
    X(Union, "union") X(Operator, "operator") X(New, "new") X(Delete, "delete") X(Namespace, "namespace") \
    X(Using, "using") X(Virtual, "virtual") X(Volatile, "volatile") X(Register, "register")            \
    X(Char, "char") X(Short, "short") X(Long, "long") X(Double, "double") X(Signed, "signed")          \
    X(Unsigned, "unsigned") X(Try, "try") X(Catch, "catch") X(Throw, "throw") X(Public, "public")      \
    X(Private, "private") X(Protected, "protected") X(Friend, "friend") X(Typename, "typename")        \
    X(Mutable, "mutable") X(Explicit, "explicit") X(Auto, "auto")

enum class Tok : std::uint8_t {
    EndOfFile, Name, Number, String,
    LParen, RParen, LBracket, RBracket, LBrace, RBrace, Semicolon, Comma, Dot, Ellipsis, Question, Colon,
    ColonColon, Arrow, Hash, HashHash,
    Plus, Minus, Star, Slash, Percent, PlusPlus, MinusMinus,
    Assign, PlusAssign, MinusAssign, StarAssign, SlashAssign, PercentAssign,
    AmpAssign, PipeAssign, CaretAssign, ShlAssign, ShrAssign,
    Less, LessEq, Greater, GreaterEq, EqEq, NotEq, AmpAmp, PipePipe, Bang, Tilde, Amp, Pipe, Caret, Shl, Shr,
#define CGC_KEYWORD_KIND(kind, text) kind,
    CGC_KEYWORDS(CGC_KEYWORD_KIND)
#undef CGC_KEYWORD_KIND
    Count
};

constexpr Tok kFirstKeyword = Tok::If;
constexpr Tok kFirstUnsupported = Tok::Switch;

inline bool isKeyword(Tok t) { return t >= kFirstKeyword && t < Tok::Count; }
// A name or a reserved word: what a macro may be called.
inline bool isWord(Tok t) { return t == Tok::Name || isKeyword(t); }

// The fixed spelling of a kind ("+=", "while"), or "" for names, numbers and strings.
std::string_view tokSpelling(Tok t);

struct Token {
    enum Flag : std::uint8_t {
        AtLineStart = 1,  // first on its line (after line splices)
        SpaceBefore = 2,  // white space or a comment before it
        NoExpand = 4,     // a macro's name met inside its own expansion: never expands again
    };
    enum Literal : std::uint8_t { Int, Float, Half, Fixed };  // Number: as ast::Expr::LiteralKind

    Tok kind = Tok::EndOfFile;
    std::uint8_t flags = 0;
    std::uint8_t literal = Int;
    Loc loc;
    int endLine = 0, endCol = 0;  // just past the token, in loc's file
    int after = 0;                // the expansion (as Loc::expansion) that ended just before this token
    std::string_view text;        // into the source text or the preprocessor's own store
    double number = 0;            // Number: its value

    bool is(Tok t) const { return kind == t; }
    bool has(Flag f) const { return (flags & f) != 0; }
    Loc end() const { return Loc{endLine, endCol, loc.file, loc.expansion}; }
};

class Lexer {
public:
    // `text` stays alive while the lexer runs. A UTF-8 byte-order mark at its
    // start is skipped.
    Lexer(std::string_view text, int file);

    Token next();
    // For directives: the next token on the current line, or EndOfFile at
    // its end (the line end stays unread).
    Token nextInLine();

    // Inside a skipped conditional group: malformed numbers and stray bytes
    // are not errors there (an unterminated comment still is).
    void setLenient(bool lenient) { lenient_ = lenient; }
    // #line: the line after the current one gets number `line`, in `file`.
    void setNextLine(int line, int file);
    // The raw rest of the current line, consumed up to (not including) its end.
    std::string_view restOfLine();

    // A whole string as one token; false when it is not exactly one.
    static bool single(std::string_view text, Token* out);

private:
    Token scan(bool inLine);
    bool skipSpace(Token& t, bool inLine);
    void newline();
    bool atNewline() const;
    void scanNumber(Token& t);
    [[noreturn]] void error(const Loc& loc, std::string what) const;
    Loc here() const { return Loc{line_, col(), file_, 0}; }
    int col() const { return int(pos_ - lineStart_) + 1; }
    char at(std::size_t i) const { return i < text_.size() ? text_[i] : '\0'; }

    std::string_view text_;
    std::size_t pos_ = 0, lineStart_ = 0;
    int line_ = 1, file_ = 0;
    int nextLine_ = 0, nextFile_ = -1;  // pending #line
    bool lenient_ = false;
    bool atFileStart_ = true;
};

}  // namespace cgc
