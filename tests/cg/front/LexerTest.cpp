#include "cg/front/lexer.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <vector>

using namespace cgc;

namespace {

std::vector<Token> lexAll(std::string_view text) {
    Lexer lexer(text, 0);
    std::vector<Token> tokens;
    for (Token t = lexer.next(); !t.is(Tok::EndOfFile); t = lexer.next()) tokens.push_back(t);
    return tokens;
}

std::vector<Tok> kinds(std::string_view text) {
    std::vector<Tok> out;
    for (const Token& t : lexAll(text)) out.push_back(t.kind);
    return out;
}

std::string lexError(std::string_view text) {
    Sources sources;
    sources.addFile("<string>");
    try {
        lexAll(text);
        return "";
    } catch (const CompileError& e) {
        return sources.format(e.loc, e.what);
    }
}

}  // namespace

TEST(Lexer, everyOperatorAndReservedWordIsATokenOfItsOwn) {
    for (int k = 0; k < int(Tok::Count); ++k) {
        std::string_view spelling = tokSpelling(Tok(k));
        if (spelling.empty()) continue;
        std::vector<Token> tokens = lexAll(spelling);
        ASSERT_EQ(tokens.size(), 1u) << spelling;
        EXPECT_EQ(tokens[0].kind, Tok(k)) << spelling;
        EXPECT_EQ(tokens[0].text, spelling);
    }
}

TEST(Lexer, operatorsTakeTheLongestSpelling) {
    struct Case {
        const char* text;
        std::vector<Tok> kinds;
    } cases[] = {
        {"a<<=b>>c", {Tok::Name, Tok::ShlAssign, Tok::Name, Tok::Shr, Tok::Name}},
        {"x--->y", {Tok::Name, Tok::MinusMinus, Tok::Arrow, Tok::Name}},
        {"a+++b", {Tok::Name, Tok::PlusPlus, Tok::Plus, Tok::Name}},
        {"a&&&b", {Tok::Name, Tok::AmpAmp, Tok::Amp, Tok::Name}},
        {"x.y...z", {Tok::Name, Tok::Dot, Tok::Name, Tok::Ellipsis, Tok::Name}},
        {"v.xyz", {Tok::Name, Tok::Dot, Tok::Name}},
        {"1.0.xxxx", {Tok::Number, Tok::Dot, Tok::Name}},
        {"#a##b", {Tok::Hash, Tok::Name, Tok::HashHash, Tok::Name}},
        {"returned return", {Tok::Name, Tok::Return}},
        {"float4x4 samplerRECT", {Tok::Name, Tok::Name}},
    };
    for (const Case& c : cases) EXPECT_EQ(kinds(c.text), c.kinds) << c.text;
}

TEST(Lexer, numbersCarryTheirValueAndLiteralKind) {
    struct Case {
        const char* text;
        Token::Literal literal;
        double value;
    } cases[] = {
        {"1", Token::Int, 1},           {"0x1F", Token::Int, 31},       {"0XfF", Token::Int, 255},
        {"010", Token::Int, 10},        {"4294967295", Token::Int, 4294967295.0},
        {"1.0", Token::Float, 1},       {".5", Token::Float, 0.5},      {"1.", Token::Float, 1},
        {"1e-3", Token::Float, 1e-3},   {"1.e2", Token::Float, 100},    {"2E+2", Token::Float, 200},
        {"2.5f", Token::Float, 2.5},    {"1f", Token::Float, 1},        {"1.5h", Token::Half, 1.5},
        {"0.5x", Token::Fixed, 0.5},    {"3H", Token::Half, 3},         {"1e-400", Token::Float, 0},
        {"3.4028234e38", Token::Float, 3.4028234e38},
    };
    for (const Case& c : cases) {
        std::vector<Token> tokens = lexAll(c.text);
        ASSERT_EQ(tokens.size(), 1u) << c.text;
        EXPECT_EQ(tokens[0].kind, Tok::Number) << c.text;
        EXPECT_EQ(tokens[0].literal, c.literal) << c.text;
        EXPECT_DOUBLE_EQ(tokens[0].number, c.value) << c.text;
        EXPECT_EQ(tokens[0].text, c.text);
    }
}

TEST(Lexer, everyKindOfLineEndStartsANewLine) {
    struct Case {
        const char* text;
        int line, col;
        bool atLineStart;
    } cases[] = {
        {"a\nb", 2, 1, true},          {"a\r\nb", 2, 1, true},        {"a\rb", 2, 1, true},
        {"a\n\rb", 3, 1, true},        {"a\r\n\r\n  b", 3, 3, true},  {"a\\\n  b", 2, 3, false},
        {"a\\\r\nb", 2, 1, false},     {"a /* \r\n\r */ b", 3, 5, false},
        {"a // x\\\n y\nb", 3, 1, true}, {"\xef\xbb\xbf" "a b", 1, 3, false},
    };
    for (const Case& c : cases) {
        std::vector<Token> tokens = lexAll(c.text);
        ASSERT_EQ(tokens.size(), 2u) << c.text;
        EXPECT_EQ(tokens[1].loc.line, c.line) << c.text;
        EXPECT_EQ(tokens[1].loc.col, c.col) << c.text;
        EXPECT_EQ(tokens[1].has(Token::AtLineStart), c.atLineStart) << c.text;
    }
}

TEST(Lexer, tokensKnowWhereTheyEnd) {
    std::vector<Token> tokens = lexAll("\xef\xbb\xbf" "float4 x = 1.5e3;\r\n  y");
    ASSERT_EQ(tokens.size(), 6u);
    EXPECT_EQ(tokens[0].loc.col, 1);
    EXPECT_EQ(tokens[0].endCol, 7);
    EXPECT_EQ(tokens[3].loc.col, 12);
    EXPECT_EQ(tokens[3].endCol, 17);
    EXPECT_EQ(tokens[5].loc.line, 2);
    EXPECT_EQ(tokens[5].endLine, 2);
    EXPECT_EQ(tokens[5].endCol, 4);
}

TEST(Lexer, badInputGivesOneLocatedLine) {
    struct Case {
        std::string text, error;
    } cases[] = {
        {"x = 1.5e;", "<string>:1:5: error: malformed number '1.5e'"},
        {"x = 1e+;", "<string>:1:5: error: malformed number '1e+'"},
        {"x = 0x;", "<string>:1:5: error: malformed number '0x'"},
        {"x = 1.2.3;", "<string>:1:5: error: malformed number '1.2.3'"},
        {"x = 12abc;", "<string>:1:5: error: malformed number '12abc'"},
        {"x = 1e39;", "<string>:1:5: error: floating constant '1e39' is out of range"},
        {"x = 3.5e38f;", "<string>:1:5: error: floating constant '3.5e38f' is out of range"},
        {"x = 1e400;", "<string>:1:5: error: floating constant '1e400' is out of range"},
        {"x = 99999999999;", "<string>:1:5: error: integer constant '99999999999' is out of range"},
        {"x\x7f;", "<string>:1:2: error: unexpected character '\\x7f'"},
        {"x = 'a';", "<string>:1:5: error: unexpected character '''"},
        {"\xef\xbb\xbf\xef\xbb\xbf", "<string>:1:1: error: unexpected character '\xef\xbb\xbf'"},
        {"float \xc3\xa9;", "<string>:1:7: error: unexpected character '\xc3\xa9'"},
        {"a \xff", "<string>:1:3: error: unexpected character '\\xff'"},
        {"a\n  /* open\n\n", "<string>:2:3: error: unterminated comment"},
        {"#include \"a.cg\n", "<string>:1:10: error: missing terminating '\"' character"},
        {"x = 1" + std::string(100, '2') + ";",
         "<string>:1:5: error: integer constant '1" + std::string(59, '2') + "\xe2\x80\xa6' is out of range"},
    };
    for (const Case& c : cases) EXPECT_EQ(lexError(c.text), c.error) << c.text;
}
