#include "cg/front/if_expression.h"

#include <climits>

namespace cgc {

Loc placeOf(const Token& t) {
    Loc loc = t.loc;
    if (loc.expansion == 0) loc.expansion = t.after;
    return loc;
}

std::string directiveName(std::string_view word) { return quoted("#" + std::string(word)); }

namespace {

// #if and #elif: integer arithmetic on what the line expands to. Names that
// are left are 0; `live` is false in an operand that is not evaluated
// (`0 && 1 / 0`), where division by zero is no error.
class IfExpression {
public:
    IfExpression(const std::vector<Token>& tokens, const Token& at) : tokens_(tokens), at_(at) {
        end_.loc = at.loc;
        if (!tokens.empty()) end_.loc = tokens.back().end();
    }

    long long evaluate() {
        long long v = binary(1, true);
        if (pos_ < tokens_.size()) unexpected(tokens_[pos_]);
        return v;
    }

private:
    struct Nest {
        IfExpression& e;
        Nest(IfExpression& expression, const Loc& loc) : e(expression) {
            if (++e.depth_ > 256) fail(loc, "nesting is too deep");
        }
        ~Nest() { --e.depth_; }
        Nest(const Nest&) = delete;
        Nest& operator=(const Nest&) = delete;
    };

    const Token& cur() const { return pos_ < tokens_.size() ? tokens_[pos_] : end_; }

    [[noreturn]] void unexpected(const Token& t) const {
        if (t.is(Tok::EndOfFile)) fail(placeOf(t), "incomplete expression in " + directiveName(at_.text));
        fail(placeOf(t), "unexpected " + quoted(t.text) + " in " + directiveName(at_.text));
    }

    void expect(Tok kind) {
        if (!cur().is(kind)) unexpected(cur());
        ++pos_;
    }

    static int precedence(Tok t) {
        switch (t) {
        case Tok::Question: return 3;
        case Tok::PipePipe: return 4;
        case Tok::AmpAmp: return 5;
        case Tok::Pipe: return 6;
        case Tok::Caret: return 7;
        case Tok::Amp: return 8;
        case Tok::EqEq: case Tok::NotEq: return 9;
        case Tok::Less: case Tok::LessEq: case Tok::Greater: case Tok::GreaterEq: return 10;
        case Tok::Shl: case Tok::Shr: return 11;
        case Tok::Plus: case Tok::Minus: return 12;
        case Tok::Star: case Tok::Slash: case Tok::Percent: return 13;
        default: return 0;
        }
    }

    long long binary(int minPrecedence, bool live) {
        Nest nest(*this, cur().loc);
        long long left = unary(live);
        for (;;) {
            const Token op = cur();
            int p = precedence(op.kind);
            if (p == 0 || p < minPrecedence) return left;
            ++pos_;
            if (op.is(Tok::Question)) {
                long long a = binary(1, live && left != 0);
                expect(Tok::Colon);
                long long b = binary(3, live && left == 0);
                left = left != 0 ? a : b;
                continue;
            }
            if (op.is(Tok::AmpAmp) || op.is(Tok::PipePipe)) {
                bool decided = op.is(Tok::AmpAmp) ? left == 0 : left != 0;
                long long right = binary(p + 1, live && !decided);
                left = op.is(Tok::AmpAmp) ? (left != 0 && right != 0) : (left != 0 || right != 0);
                continue;
            }
            left = apply(op, left, binary(p + 1, live), live);
        }
    }

    long long apply(const Token& op, long long a, long long b, bool live) const {
        using U = unsigned long long;
        switch (op.kind) {
        case Tok::Plus: return (long long)(U(a) + U(b));
        case Tok::Minus: return (long long)(U(a) - U(b));
        case Tok::Star: return (long long)(U(a) * U(b));
        case Tok::Slash:
        case Tok::Percent:
            if (b == 0) {
                if (live) fail(placeOf(op), "division by zero in " + directiveName(at_.text));
                return 0;
            }
            if (a == LLONG_MIN && b == -1) return op.is(Tok::Slash) ? a : 0;
            return op.is(Tok::Slash) ? a / b : a % b;
        case Tok::Shl: return b < 0 || b > 63 ? 0 : (long long)(U(a) << b);
        case Tok::Shr: return b < 0 || b > 63 ? (a < 0 ? -1 : 0) : a >> b;
        case Tok::Less: return a < b;
        case Tok::LessEq: return a <= b;
        case Tok::Greater: return a > b;
        case Tok::GreaterEq: return a >= b;
        case Tok::EqEq: return a == b;
        case Tok::NotEq: return a != b;
        case Tok::Amp: return a & b;
        case Tok::Caret: return a ^ b;
        case Tok::Pipe: return a | b;
        default: unexpected(op);
        }
    }

    long long unary(bool live) {
        const Token t = cur();
        switch (t.kind) {
        case Tok::Minus: case Tok::Plus: case Tok::Bang: case Tok::Tilde: {
            Nest nest(*this, t.loc);
            ++pos_;
            long long v = unary(live);
            if (t.is(Tok::Minus)) return (long long)(0ull - (unsigned long long)v);
            if (t.is(Tok::Bang)) return v == 0;
            return t.is(Tok::Tilde) ? ~v : v;
        }
        case Tok::LParen: {
            ++pos_;
            long long v = binary(1, live);
            expect(Tok::RParen);
            return v;
        }
        case Tok::Number:
            if (t.literal != Token::Int)
                fail(placeOf(t), "floating constant " + quoted(t.text) + " in " + directiveName(at_.text));
            ++pos_;
            return (long long)t.number;
        case Tok::True:
            ++pos_;
            return 1;
        default:
            if (!isWord(t.kind)) unexpected(t);
            ++pos_;
            return 0;
        }
    }

    const std::vector<Token>& tokens_;
    const Token& at_;
    Token end_;
    std::size_t pos_ = 0;
    int depth_ = 0;
};

}  // namespace

long long evaluateIfExpression(const std::vector<Token>& tokens, const Token& directive) {
    return IfExpression(tokens, directive).evaluate();
}

}  // namespace cgc
