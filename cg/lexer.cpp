#include "cg/lexer.h"

#include <cfloat>
#include <charconv>
#include <cstdio>

namespace cgc {

namespace {

// Expansions past this are a runaway macro (each level doubling, say).
const std::size_t kMaxExpandedTokens = 65536;

bool isNameStart(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool isDigit(int c) { return c >= '0' && c <= '9'; }
bool isNameChar(int c) { return isNameStart(c) || isDigit(c); }

std::string printable(int c) {
    if (c >= 32 && c < 127) return std::string(1, char(c));
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02x", unsigned(c) & 0xffu);
    return buf;
}

}  // namespace

void fail(const std::string& source, int line, int col, const std::string& what) {
    throw CompileError{source + ":" + std::to_string(line) + ":" + std::to_string(col) +
                       ": error: " + what};
}

std::string describe(const Token& t) {
    if (t.kind == TK_EOF) return "end of file";
    return "'" + t.text + "'";
}

Lexer::Lexer(const char* text, std::size_t length, std::string sourceName)
    : src_(text), len_(length), name_(std::move(sourceName)) {
    next();
}

void Lexer::error(const Token& at, const std::string& what) const { fail(name_, at.line, at.col, what); }

void Lexer::next() {
    if (hasAhead_) {
        tok_ = std::move(ahead_);
        hasAhead_ = false;
    } else {
        tok_ = read();
    }
}

const Token& Lexer::lookahead() {
    if (!hasAhead_) {
        ahead_ = read();
        hasAhead_ = true;
    }
    return ahead_;
}

bool Lexer::expanding(const std::string& name) const {
    for (const Expansion& e : stack_)
        if (macros_[e.macro].name == name) return true;
    return false;
}

Token Lexer::read() {
    for (;;) {
        while (!stack_.empty() && stack_.back().pos >= macros_[stack_.back().macro].body.size())
            stack_.pop_back();
        Token t;
        if (!stack_.empty()) {
            Expansion& e = stack_.back();
            t = macros_[e.macro].body[e.pos++];
            t.line = e.line;
            t.col = e.col;
            if (++expandedTokens_ > kMaxExpandedTokens) error(t, "macro expansion is too large");
        } else {
            t = scan();
        }
        if (t.kind != TK_NAME || expanding(t.text)) return t;
        std::size_t m = 0;
        while (m < macros_.size() && macros_[m].name != t.text) ++m;
        if (m == macros_.size()) return t;
        stack_.push_back(Expansion{m, 0, t.line, t.col});
    }
}

void Lexer::advance() {
    if (pos_ >= len_) return;
    if (src_[pos_] == '\n') {
        ++line_;
        col_ = 1;
        lineStart_ = true;
    } else {
        ++col_;
    }
    ++pos_;
}

void Lexer::skipBlank() {
    for (;;) {
        int c = peekc();
        switch (c) {
            case ' ': case '\t': case '\r': case '\f': case '\v': case '\n':
                advance();
                break;
            case '/':
                if (peekc(1) == '/') {
                    while (peekc() != -1 && peekc() != '\n') advance();
                } else if (peekc(1) == '*') {
                    int line = line_, col = col_;
                    bool atStart = lineStart_;
                    advance();
                    advance();
                    while (!(peekc() == '*' && peekc(1) == '/')) {
                        if (peekc() == -1) fail(name_, line, col, "unterminated comment");
                        advance();
                    }
                    advance();
                    advance();
                    lineStart_ = atStart;
                } else {
                    return;
                }
                break;
            default:
                return;
        }
    }
}

Token Lexer::number(int line, int col) {
    std::size_t start = pos_;
    while (isDigit(peekc())) advance();
    if (peekc() == '.') {
        advance();
        while (isDigit(peekc())) advance();
    }
    bool malformed = false;
    if (peekc() == 'e' || peekc() == 'E') {
        advance();
        if (peekc() == '+' || peekc() == '-') advance();
        if (!isDigit(peekc())) malformed = true;
        while (isDigit(peekc())) advance();
    }
    std::size_t end = pos_;
    if (!malformed && (peekc() == 'f' || peekc() == 'F' || peekc() == 'h' || peekc() == 'H')) advance();
    if (malformed || isNameChar(peekc()) || peekc() == '.') {
        while (isNameChar(peekc()) || peekc() == '.') advance();
        fail(name_, line, col, "malformed number '" + std::string(src_ + start, pos_ - start) + "'");
    }
    Token t;
    t.kind = TK_NUMBER;
    t.text.assign(src_ + start, pos_ - start);
    t.line = line;
    t.col = col;
    double v = 0;
    auto r = std::from_chars(src_ + start, src_ + end, v);
    if (r.ec != std::errc() || v > FLT_MAX)
        fail(name_, line, col, "number '" + t.text + "' is out of range");
    t.number = v;
    return t;
}

void Lexer::directive(int line, int col) {
    advance();  // '#'
    while (peekc() == ' ' || peekc() == '\t') advance();
    if (peekc() == '\n' || peekc() == -1) return;  // a lone '#' does nothing
    std::size_t start = pos_;
    while (isNameChar(peekc())) advance();
    std::string word(src_ + start, pos_ - start);
    if (word != "define") {
        if (word.empty()) word = printable(peekc());
        fail(name_, line, col, "'#" + word + "' is not supported");
    }
    while (peekc() == ' ' || peekc() == '\t') advance();
    int nameLine = line_, nameCol = col_;
    if (!isNameStart(peekc())) fail(name_, nameLine, nameCol, "macro name expected after '#define'");
    start = pos_;
    while (isNameChar(peekc())) advance();
    Macro macro{std::string(src_ + start, pos_ - start), {}};
    if (peekc() == '(')
        fail(name_, nameLine, nameCol, "macros with parameters are not supported ('" + macro.name + "')");
    // The body runs to the end of the line; a backslash continues it.
    for (;;) {
        while (peekc() == ' ' || peekc() == '\t' || peekc() == '\r' ||
               (peekc() == '\\' && (peekc(1) == '\n' || (peekc(1) == '\r' && peekc(2) == '\n')))) {
            advance();
        }
        if (peekc() == '/' && (peekc(1) == '/' || peekc(1) == '*')) {
            if (peekc(1) == '/') break;
            int l = line_;
            skipBlank();  // a block comment is a space, even across lines
            if (line_ != l) break;
            continue;
        }
        if (peekc() == '\n' || peekc() == -1) break;
        if (peekc() == '#') fail(name_, line_, col_, "'#' is not supported in a macro");
        lineStart_ = false;
        macro.body.push_back(scan());
    }
    for (const Macro& m : macros_) {
        if (m.name != macro.name) continue;
        bool same = m.body.size() == macro.body.size();
        for (std::size_t i = 0; same && i < m.body.size(); ++i) same = m.body[i].text == macro.body[i].text;
        if (!same) fail(name_, nameLine, nameCol, "'" + macro.name + "' is redefined differently");
        return;
    }
    macros_.push_back(std::move(macro));
}

// Scans one token. Inside a directive the caller stops at the line's end, so
// scan itself never crosses a newline there: it only sees a token start.
Token Lexer::scan() {
    for (;;) {
        skipBlank();
        if (peekc() == '#' && lineStart_) {
            directive(line_, col_);
            continue;
        }
        break;
    }
    Token t;
    t.line = line_;
    t.col = col_;
    int c = peekc();
    lineStart_ = false;
    auto op = [&](int kind, int length) {
        t.kind = kind;
        t.text.assign(src_ + pos_, std::size_t(length));
        for (int i = 0; i < length; ++i) advance();
        return t;
    };
    switch (c) {
        case -1:
            t.kind = TK_EOF;
            return t;
        case '(': case ')': case '{': case '}': case '[': case ']':
        case ',': case ';': case ':': case '?': case '~':
            return op(c, 1);
        case '.':
            if (isDigit(peekc(1))) return number(t.line, t.col);
            return op('.', 1);
        case '+': case '-': case '*': case '/': {
            int d = peekc(1);
            if (d == '=') {
                int kind = c == '+' ? TK_ADD_ASSIGN : c == '-' ? TK_SUB_ASSIGN : c == '*' ? TK_MUL_ASSIGN : TK_DIV_ASSIGN;
                return op(kind, 2);
            }
            if ((c == '+' || c == '-') && (d == c || (c == '-' && d == '>'))) return op(TK_OTHER_OP, 2);
            return op(c, 1);
        }
        case '=': case '!': case '%': case '^':
            if (peekc(1) == '=') return op(TK_OTHER_OP, 2);
            return op(c, 1);
        case '<': case '>': case '&': case '|':
            if (peekc(1) == c || peekc(1) == '=') {
                int length = (c == '<' || c == '>') && peekc(1) == c && peekc(2) == '=' ? 3 : 2;
                return op(TK_OTHER_OP, length);
            }
            return op(c, 1);
        case '#':
            fail(name_, t.line, t.col, "stray '#'");
        default:
            if (isDigit(c)) return number(t.line, t.col);
            if (isNameStart(c)) {
                std::size_t start = pos_;
                while (isNameChar(peekc())) advance();
                t.kind = TK_NAME;
                t.text.assign(src_ + start, pos_ - start);
                return t;
            }
            fail(name_, t.line, t.col, "unexpected character '" + printable(c) + "'");
    }
}

}  // namespace cgc
