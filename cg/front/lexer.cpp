#include "cg/front/lexer.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <unordered_map>

namespace cgc {

namespace {

const std::unordered_map<std::string_view, Tok>& keywordTable() {
    static const std::unordered_map<std::string_view, Tok> table = {
#define CGC_KEYWORD_ENTRY(kind, text) {text, Tok::kind},
        CGC_KEYWORDS(CGC_KEYWORD_ENTRY)
#undef CGC_KEYWORD_ENTRY
    };
    return table;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool isWordChar(char c) { return isLetter(c) || isDigit(c); }

// A stray byte for a message: a whole UTF-8 character as it is, anything
// else (control bytes, broken sequences) as \xNN.
std::string strayByte(std::string_view rest) {
    unsigned char c = static_cast<unsigned char>(rest[0]);
    std::size_t n = c >= 0xf0 && c < 0xf8 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
    bool whole = n > 1 && n <= rest.size();
    for (std::size_t i = 1; whole && i < n; ++i) whole = (static_cast<unsigned char>(rest[i]) & 0xc0) == 0x80;
    if (whole) return quoted(rest.substr(0, n));
    if (c >= 32 && c < 127) return quoted(rest.substr(0, 1));
    char buf[8];
    std::snprintf(buf, sizeof buf, "'\\x%02x'", c);
    return buf;
}

}  // namespace

std::string_view tokSpelling(Tok t) {
    switch (t) {
    case Tok::EndOfFile: case Tok::Name: case Tok::Number: case Tok::String: case Tok::Count: return "";
    case Tok::LParen: return "(";
    case Tok::RParen: return ")";
    case Tok::LBracket: return "[";
    case Tok::RBracket: return "]";
    case Tok::LBrace: return "{";
    case Tok::RBrace: return "}";
    case Tok::Semicolon: return ";";
    case Tok::Comma: return ",";
    case Tok::Dot: return ".";
    case Tok::Ellipsis: return "...";
    case Tok::Question: return "?";
    case Tok::Colon: return ":";
    case Tok::ColonColon: return "::";
    case Tok::Arrow: return "->";
    case Tok::Hash: return "#";
    case Tok::HashHash: return "##";
    case Tok::Plus: return "+";
    case Tok::Minus: return "-";
    case Tok::Star: return "*";
    case Tok::Slash: return "/";
    case Tok::Percent: return "%";
    case Tok::PlusPlus: return "++";
    case Tok::MinusMinus: return "--";
    case Tok::Assign: return "=";
    case Tok::PlusAssign: return "+=";
    case Tok::MinusAssign: return "-=";
    case Tok::StarAssign: return "*=";
    case Tok::SlashAssign: return "/=";
    case Tok::PercentAssign: return "%=";
    case Tok::AmpAssign: return "&=";
    case Tok::PipeAssign: return "|=";
    case Tok::CaretAssign: return "^=";
    case Tok::ShlAssign: return "<<=";
    case Tok::ShrAssign: return ">>=";
    case Tok::Less: return "<";
    case Tok::LessEq: return "<=";
    case Tok::Greater: return ">";
    case Tok::GreaterEq: return ">=";
    case Tok::EqEq: return "==";
    case Tok::NotEq: return "!=";
    case Tok::AmpAmp: return "&&";
    case Tok::PipePipe: return "||";
    case Tok::Bang: return "!";
    case Tok::Tilde: return "~";
    case Tok::Amp: return "&";
    case Tok::Pipe: return "|";
    case Tok::Caret: return "^";
    case Tok::Shl: return "<<";
    case Tok::Shr: return ">>";
#define CGC_KEYWORD_CASE(kind, text) case Tok::kind: return text;
        CGC_KEYWORDS(CGC_KEYWORD_CASE)
#undef CGC_KEYWORD_CASE
    }
    return "";
}

Lexer::Lexer(std::string_view text, int file) : text_(text), file_(file) {
    if (text_.substr(0, 3) == "\xef\xbb\xbf") pos_ = lineStart_ = 3;
}

Token Lexer::next() { return scan(false); }

Token Lexer::nextInLine() { return scan(true); }

void Lexer::setNextLine(int line, int file) {
    nextLine_ = line;
    nextFile_ = file;
}

std::string_view Lexer::restOfLine() {
    std::size_t start = pos_;
    while (pos_ < text_.size() && !atNewline()) {
        if (text_[pos_] == '\\' && (at(pos_ + 1) == '\n' || at(pos_ + 1) == '\r')) {
            ++pos_;
            newline();
        } else {
            ++pos_;
        }
    }
    return text_.substr(start, pos_ - start);
}

bool Lexer::single(std::string_view text, Token* out) {
    try {
        Lexer lexer(text, 0);
        Token t = lexer.next();
        if (t.kind == Tok::EndOfFile || t.has(Token::SpaceBefore) || lexer.next().kind != Tok::EndOfFile) return false;
        *out = t;
        return true;
    } catch (const CompileError&) {
        return false;
    }
}

bool Lexer::atNewline() const { return text_[pos_] == '\n' || text_[pos_] == '\r'; }

void Lexer::newline() {
    if (text_[pos_] == '\r' && at(pos_ + 1) == '\n') ++pos_;
    ++pos_;
    lineStart_ = pos_;
    if (nextLine_ > 0) {
        line_ = nextLine_;
        if (nextFile_ >= 0) file_ = nextFile_;
        nextLine_ = 0;
        nextFile_ = -1;
    } else {
        ++line_;
    }
}

void Lexer::error(const Loc& loc, std::string what) const { fail(loc, std::move(what)); }

bool Lexer::skipSpace(Token& t, bool inLine) {
    for (;;) {
        if (pos_ >= text_.size()) return !inLine;
        char c = text_[pos_];
        switch (c) {
        case ' ': case '\t': case '\f': case '\v':
            ++pos_;
            t.flags |= Token::SpaceBefore;
            break;
        case '\n': case '\r':
            if (inLine) return false;
            newline();
            t.flags |= Token::SpaceBefore | Token::AtLineStart;
            break;
        case '\\':
            if (at(pos_ + 1) != '\n' && at(pos_ + 1) != '\r') return true;
            ++pos_;
            newline();
            t.flags |= Token::SpaceBefore;
            break;
        case '/':
            if (at(pos_ + 1) == '/') {
                while (pos_ < text_.size() && !atNewline()) {
                    if (text_[pos_] == '\\' && (at(pos_ + 1) == '\n' || at(pos_ + 1) == '\r')) {
                        ++pos_;
                        newline();
                    } else {
                        ++pos_;
                    }
                }
            } else if (at(pos_ + 1) == '*') {
                Loc start = here();
                pos_ += 2;
                for (;;) {
                    if (pos_ >= text_.size()) error(start, "unterminated comment");
                    if (text_[pos_] == '*' && at(pos_ + 1) == '/') {
                        pos_ += 2;
                        break;
                    }
                    if (atNewline())
                        newline();
                    else
                        ++pos_;
                }
            } else {
                return true;
            }
            t.flags |= Token::SpaceBefore;
            break;
        default:
            return true;
        }
    }
}

Token Lexer::scan(bool inLine) {
    Token t;
    if (atFileStart_) {
        t.flags |= Token::AtLineStart;
        atFileStart_ = false;
    }
    bool more = skipSpace(t, inLine);
    t.loc = here();
    std::size_t start = pos_;
    auto finish = [&](Tok kind, std::size_t length) {
        pos_ = start + length;
        t.kind = kind;
        t.text = text_.substr(start, length);
        t.endLine = line_;
        t.endCol = col();
        return t;
    };
    if (!more || pos_ >= text_.size()) return finish(Tok::EndOfFile, 0);

    char c = text_[pos_];
    char c1 = at(pos_ + 1), c2 = at(pos_ + 2);
    switch (c) {
    case '(': return finish(Tok::LParen, 1);
    case ')': return finish(Tok::RParen, 1);
    case '[': return finish(Tok::LBracket, 1);
    case ']': return finish(Tok::RBracket, 1);
    case '{': return finish(Tok::LBrace, 1);
    case '}': return finish(Tok::RBrace, 1);
    case ';': return finish(Tok::Semicolon, 1);
    case ',': return finish(Tok::Comma, 1);
    case '?': return finish(Tok::Question, 1);
    case '~': return finish(Tok::Tilde, 1);
    case ':': return c1 == ':' ? finish(Tok::ColonColon, 2) : finish(Tok::Colon, 1);
    case '#': return c1 == '#' ? finish(Tok::HashHash, 2) : finish(Tok::Hash, 1);
    case '+':
        if (c1 == '+') return finish(Tok::PlusPlus, 2);
        return c1 == '=' ? finish(Tok::PlusAssign, 2) : finish(Tok::Plus, 1);
    case '-':
        if (c1 == '-') return finish(Tok::MinusMinus, 2);
        if (c1 == '>') return finish(Tok::Arrow, 2);
        return c1 == '=' ? finish(Tok::MinusAssign, 2) : finish(Tok::Minus, 1);
    case '*': return c1 == '=' ? finish(Tok::StarAssign, 2) : finish(Tok::Star, 1);
    case '/': return c1 == '=' ? finish(Tok::SlashAssign, 2) : finish(Tok::Slash, 1);
    case '%': return c1 == '=' ? finish(Tok::PercentAssign, 2) : finish(Tok::Percent, 1);
    case '^': return c1 == '=' ? finish(Tok::CaretAssign, 2) : finish(Tok::Caret, 1);
    case '=': return c1 == '=' ? finish(Tok::EqEq, 2) : finish(Tok::Assign, 1);
    case '!': return c1 == '=' ? finish(Tok::NotEq, 2) : finish(Tok::Bang, 1);
    case '&':
        if (c1 == '&') return finish(Tok::AmpAmp, 2);
        return c1 == '=' ? finish(Tok::AmpAssign, 2) : finish(Tok::Amp, 1);
    case '|':
        if (c1 == '|') return finish(Tok::PipePipe, 2);
        return c1 == '=' ? finish(Tok::PipeAssign, 2) : finish(Tok::Pipe, 1);
    case '<':
        if (c1 == '<') return c2 == '=' ? finish(Tok::ShlAssign, 3) : finish(Tok::Shl, 2);
        return c1 == '=' ? finish(Tok::LessEq, 2) : finish(Tok::Less, 1);
    case '>':
        if (c1 == '>') return c2 == '=' ? finish(Tok::ShrAssign, 3) : finish(Tok::Shr, 2);
        return c1 == '=' ? finish(Tok::GreaterEq, 2) : finish(Tok::Greater, 1);
    case '.':
        if (isDigit(c1)) break;
        if (c1 == '.' && c2 == '.') return finish(Tok::Ellipsis, 3);
        return finish(Tok::Dot, 1);
    case '"': {
        std::size_t p = pos_ + 1;
        while (p < text_.size() && text_[p] != '"' && text_[p] != '\n' && text_[p] != '\r')
            p += text_[p] == '\\' && p + 1 < text_.size() && text_[p + 1] != '\n' && text_[p + 1] != '\r' ? 2 : 1;
        if (p < text_.size() && text_[p] == '"') return finish(Tok::String, p + 1 - start);
        if (!lenient_) error(t.loc, "missing terminating '\"' character");
        return finish(Tok::String, p - start);
    }
    default:
        if (isLetter(c)) {
            std::size_t p = pos_ + 1;
            while (p < text_.size() && isWordChar(text_[p])) ++p;
            const auto& words = keywordTable();
            auto k = words.find(text_.substr(start, p - start));
            return finish(k == words.end() ? Tok::Name : k->second, p - start);
        }
        if (isDigit(c)) break;
        if (!lenient_) error(t.loc, "unexpected character " + strayByte(text_.substr(pos_)));
        return finish(Tok::Name, 1);
    }
    scanNumber(t);
    t.endLine = line_;
    t.endCol = col();
    return t;
}

// Decimal integers, 0x hexadecimal integers, and floats with an optional
// exponent and an f, h (half) or x (fixed) suffix. A leading 0 is decimal:
// the language has no octal.
void Lexer::scanNumber(Token& t) {
    std::size_t start = pos_, p = pos_;
    bool malformed = false, isFloat = false;
    std::size_t digitsEnd;  // the part from_chars reads
    if (text_[p] == '0' && (at(p + 1) == 'x' || at(p + 1) == 'X')) {
        p += 2;
        std::size_t first = p;
        while (p < text_.size() && isHexDigit(text_[p])) ++p;
        malformed = p == first;
        digitsEnd = p;
    } else {
        while (p < text_.size() && isDigit(text_[p])) ++p;
        if (at(p) == '.') {
            isFloat = true;
            ++p;
            while (p < text_.size() && isDigit(text_[p])) ++p;
        }
        if (at(p) == 'e' || at(p) == 'E') {
            std::size_t q = p + 1;
            if (at(q) == '+' || at(q) == '-') ++q;
            if (isDigit(at(q))) {
                isFloat = true;
                p = q;
                while (p < text_.size() && isDigit(text_[p])) ++p;
            } else {
                malformed = true;
                p = q;
            }
        }
        digitsEnd = p;
        t.literal = Token::Int;
        switch (at(p)) {
        case 'f': case 'F': t.literal = Token::Float; ++p; break;
        case 'h': case 'H': t.literal = Token::Half; ++p; break;
        case 'x': case 'X': t.literal = Token::Fixed; ++p; break;
        default: if (isFloat) t.literal = Token::Float;
        }
    }
    // Whatever still clings to it makes the whole run one malformed number.
    if (isWordChar(at(p)) || (at(p) == '.' && isDigit(at(p + 1)))) malformed = true;
    if (malformed) {
        while (p < text_.size() && (isWordChar(text_[p]) || text_[p] == '.' ||
                                    ((text_[p] == '+' || text_[p] == '-') && (text_[p - 1] == 'e' || text_[p - 1] == 'E'))))
            ++p;
    }
    pos_ = p;
    t.kind = Tok::Number;
    t.text = text_.substr(start, p - start);
    if (malformed) {
        if (!lenient_) error(t.loc, "malformed number " + quoted(t.text));
        return;
    }
    const char* first = text_.data() + start;
    const char* last = text_.data() + digitsEnd;
    if (t.literal == Token::Int) {
        bool hex = last - first > 1 && (first[1] == 'x' || first[1] == 'X');
        unsigned long long v = 0;
        for (const char* q = first + (hex ? 2 : 0); q < last && v <= 0xffffffffull; ++q)
            v = v * (hex ? 16 : 10) + unsigned(isDigit(*q) ? *q - '0' : (*q | 0x20) - 'a' + 10);
        if (v > 0xffffffffull && !lenient_) error(t.loc, "integer constant " + quoted(t.text) + " is out of range");
        t.number = double(v);
        return;
    }
    double v = 0;
    auto r = std::from_chars(first, last, v);
    bool tooLarge = v >= double(FLT_MAX) + std::ldexp(1.0, 103);
    if (r.ec == std::errc::result_out_of_range) {
        // Underflow reads as zero; overflow is out of range.
        std::string_view digits(first, std::size_t(last - first));
        std::size_t e = digits.find_first_of("eE");
        tooLarge = e == std::string_view::npos || digits[e + 1] != '-';
        v = 0;
    }
    if (tooLarge && !lenient_) error(t.loc, "floating constant " + quoted(t.text) + " is out of range");
    t.number = v;
}

}  // namespace cgc
