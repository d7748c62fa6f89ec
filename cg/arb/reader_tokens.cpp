// The ARB program reader's tokens: words, numbers and punctuation, with
// '#' comments and any line ends skipped, each token placed by line and column.
#include "cg/arb/reader_impl.h"

#include <cstdlib>
#include <cstring>

namespace cgc {

namespace {

const char kMagic[] = "!!ARBfp1.0";

bool wordStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$'; }
bool digit(char c) { return c >= '0' && c <= '9'; }
bool wordChar(char c) { return wordStart(c) || digit(c); }

}  // namespace

bool isArbProgram(const char* text, std::size_t length) {
    return length >= sizeof kMagic - 1 && std::memcmp(text, kMagic, sizeof kMagic - 1) == 0;
}

namespace arbread {

// ---- tokens ----

// Tokens are read as the parser needs them, and those of finished statements
// dropped: a 16 MiB program never exists as tokens all at once, and a fault
// the lexer finds is reported in its place among the others.
void Reader::startLexing() {
    if (!isArbProgram(text_.data(), text_.size())) fail(Loc{1, 1, file_, 0}, "'!!ARBfp1.0' expected at the start");
    at_ = sizeof kMagic - 1;
    col_ += int(at_);
    lexOne();
}

void Reader::lexOne() {
    std::size_t& i = at_;
    int& line = line_;
    int& col = col_;
    auto step = [&](std::size_t n) {
        i += n;
        col += int(n);
    };
    {
        // Whitespace, comments and line ends (LF, CR LF or a lone CR).
        while (i < text_.size()) {
            const char c = text_[i];
            if (c == '\n' || c == '\r') {
                i += (c == '\r' && i + 1 < text_.size() && text_[i + 1] == '\n') ? 2 : 1;
                ++line;
                col = 1;
            } else if (c == ' ' || c == '\t' || c == '\f' || c == '\v') {
                step(1);
            } else if (c == '#') {
                while (i < text_.size() && text_[i] != '\n' && text_[i] != '\r') step(1);
            } else {
                break;
            }
        }
        Token t;
        t.loc = Loc{line, col, file_, 0};
        // As Mesa reads it: a '.' and the name or swizzle after it share a line.
        if (!tokens_.empty() && tokens_.back().text == "." && tokens_.back().loc.line != line)
            fail(tokens_.back().loc, "a '.' and the name after it must be on one line");
        if (i == text_.size()) {
            ended_ = true;
            tokens_.push_back(t);
            return;
        }
        const std::size_t start = i;
        const char c = text_[i];
        if (wordStart(c)) {
            while (i < text_.size() && wordChar(text_[i])) step(1);
            t.kind = Token::Word;
        } else if (digit(c) || (c == '.' && i + 1 < text_.size() && digit(text_[i + 1]))) {
            t.kind = Token::Number;
            t.integral = true;
            while (i < text_.size() && digit(text_[i])) step(1);
            if (i < text_.size() && text_[i] == 'D' && (i + 1 == text_.size() || !wordChar(text_[i + 1]))) {
                step(1);  // a texture target: 1D, 2D, 3D
                t.kind = Token::Word;
            }
            // "0..3" is a range, not the number "0.".
            if (t.kind == Token::Number && i < text_.size() && text_[i] == '.' &&
                !(i + 1 < text_.size() && text_[i + 1] == '.')) {
                t.integral = false;
                step(1);
                while (i < text_.size() && digit(text_[i])) step(1);
            }
            if (t.kind == Token::Number && i < text_.size() && (text_[i] == 'e' || text_[i] == 'E')) {
                std::size_t j = i + 1;
                if (j < text_.size() && (text_[j] == '+' || text_[j] == '-')) ++j;
                if (j < text_.size() && digit(text_[j])) {
                    t.integral = false;
                    step(j - i);
                    while (i < text_.size() && digit(text_[i])) step(1);
                }
            }
            if (t.kind == Token::Number && i < text_.size() && wordStart(text_[i]))
                fail(t.loc, "malformed number " + quoted(text_.substr(start, i + 1 - start)));
        } else if (c == '.' && i + 1 < text_.size() && text_[i + 1] == '.') {
            step(2);
            t.kind = Token::Symbol;
        } else if (std::strchr(";,.[]{}=+-", c) && c != '\0') {
            step(1);
            t.kind = Token::Symbol;
        } else {
            fail(t.loc, "unexpected character " + quoted(text_.substr(i, 1)));
        }
        t.text = text_.substr(start, i - start);
        tokens_.push_back(t);
    }
}

const Token& Reader::peek(std::size_t ahead) {
    while (tokens_.size() <= pos_ + ahead && !ended_) lexOne();
    return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)];
}

void Reader::dropFinishedTokens() {
    tokens_.erase(tokens_.begin(), tokens_.begin() + std::ptrdiff_t(pos_));
    pos_ = 0;
}

void Reader::advance() {
    prevEnd_ = tok().loc;
    prevEnd_.col += int(tok().text.size());
    if (tok().kind == Token::End) return;
    ++pos_;
    if (pos_ == tokens_.size()) lexOne();
}

bool Reader::is(std::string_view text) const { return tok().kind != Token::End && tok().text == text; }

bool Reader::accept(std::string_view text) {
    if (!is(text)) return false;
    advance();
    return true;
}

void Reader::errorNear(const std::string& what) const {
    if (tok().kind == Token::End) fail(tok().loc, what + " at the end of the text");
    fail(tok().loc, what + " near " + quoted(tok().text));
}

void Reader::expect(std::string_view text) {
    if (accept(text)) return;
    if (text == ";") fail(end(), "expected ';' after the statement");
    errorNear("'" + std::string(text) + "' expected");
}

std::string Reader::word(const char* what) {
    if (tok().kind != Token::Word) errorNear(std::string(what) + " expected");
    std::string w(tok().text);
    advance();
    return w;
}

int Reader::integer(const char* what) {
    if (tok().kind != Token::Number || !tok().integral || tok().text.size() > 9)
        errorNear(std::string(what) + " expected");
    int value = std::atoi(std::string(tok().text).c_str());
    advance();
    return value;
}

}  // namespace arbread

}  // namespace cgc
