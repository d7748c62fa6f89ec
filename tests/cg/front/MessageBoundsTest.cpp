// Whatever the input holds, a message is one short line of valid UTF-8 that
// a terminal shows as it is: quoted input is clipped and escaped.
#include "cg/compiler.h"
#include "cg/diag.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Valid UTF-8 without control bytes; checked independently of the escaper.
bool cleanLine(const std::string& line) {
    for (std::size_t i = 0; i < line.size();) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if (c < 0x20 || c == 0x7f) return false;
        const std::size_t n = c < 0x80 ? 1 : c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 ? 2 : 0;
        if (n == 0 || i + n > line.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(line[i + k]) & 0xc0) != 0x80) return false;
        i += n;
    }
    return true;
}

const std::string kHuge(1 << 20, 'n');
const std::string kLongName(5000, 'q');

TEST(MessageBounds, clippedKeepsValidUtf8AndEscapesEverythingElse) {
    const struct {
        std::string in;
        std::size_t most;
        std::string out;
    } cases[] = {
        {"plain.cg", 60, "plain.cg"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\xa5", 60, "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\xa5"},
        {"tab\there\nbell\x07 del\x7f", 60, "tab\\x09here\\x0abell\\x07 del\\x7f"},
        {"\xff\xfe", 60, "\\xff\\xfe"},
        {"\xc0\xaf overlong", 60, "\\xc0\\xaf overlong"},
        {"\xed\xa0\x80 surrogate", 60, "\\xed\\xa0\\x80 surrogate"},
        {"\xf4\x90\x80\x80 past U+10FFFF", 60, "\\xf4\\x90\\x80\\x80 past U+10FFFF"},
        {"cut \xe2\x82", 60, "cut \\xe2\\x82"},
        {"C1 \xc2\x85 and \xe2\x80\xa8 breaks", 60, "C1 \\xc2\\x85 and \\xe2\\x80\\xa8 breaks"},
        {"abcdef", 3, "abc\xe2\x80\xa6"},
        {"abc", 3, "abc"},
        {"a\xc3\xa9", 2, "a\xe2\x80\xa6"},       // never half a character
        {"a\x01", 3, "a\xe2\x80\xa6"},           // nor half an escape
        {"", 60, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(cgc::clipped(c.in, c.most), c.out) << c.in;
}

// One row per kind of input a message quotes: each error is one clean line
// of at most 300 bytes, and shows the part it quotes as `shows`.
TEST(MessageBounds, eachQuotedKindIsClippedAndEscaped) {
    const std::string longMacro = "M" + kLongName;
    const struct {
        const char* kind;
        std::string source;
        std::string shows;
    } cases[] = {
        {"#line name, 1 MiB", "#line 5 \"" + kHuge + "\"\nx = 1.5e;", "nnnnnnnnnn\xe2\x80\xa6:5:1: error: "},
        {"#line name, control bytes and invalid UTF-8", "#line 5 \"caf\xc3\xa9\xff\x1b[31m.cg\"\nx = 1.5e;",
         "caf\xc3\xa9\\xff\\x1b[31m.cg:5:1: error: "},
        {"#line name, empty", "#line 5 \"\"\nx = 1.5e;", "<string>:5:1: error: "},
        {"#include name, long", "#include \"" + kHuge + "\"", "cannot read 'nnnnnnnnnn"},
        {"#include name, invalid UTF-8", "#include \"\xfe\xc3\x28.cg\"", "cannot read '\\xfe\\xc3(.cg'"},
        {"#error text, bytes", "#error caf\xc3\xa9 \xc0\xaf \x07!", "error: caf\xc3\xa9 \\xc0\\xaf \\x07!"},
        {"#error text, long", "#error " + kHuge, "error: nnnnnnnnnn"},
        {"identifier", "float4 main() : COLOR { return " + kLongName + "; }", "'qqqqqqqqqq"},
        {"number token", "float4 main() : COLOR { return 1" + std::string(5000, '2') + "e; }",
         "malformed number '1222"},
        {"stray byte", "float4 main() : COLOR { return \x80; }", "\\x80"},
        {"macro name", "#define " + longMacro + " undeclared\nfloat4 main() : COLOR { return " + longMacro + "; }",
         "(in expansion of macro 'Mqqqqqqq"},
        {"struct name", "struct " + kLongName + " { float a; };\nfloat4 main() : COLOR { " + kLongName +
                             " s; s.a = 1; return s; }",
         "'struct qqqqqqqq"},
        {"all of them at once",
         "#line 1 \"" + kHuge + "\"\n#define " + longMacro + " " + kLongName + "\nfloat4 main() : COLOR { return " +
             longMacro + "; }",
         "nnnnnnnnnn\xe2\x80\xa6:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const cgc::Compiled compiled = cgc::compile(c.source, "<string>");
        ASSERT_FALSE(compiled.ok);
        EXPECT_LE(compiled.error.size(), cgc::kMaxMessageBytes) << compiled.error;
        EXPECT_TRUE(cleanLine(compiled.error)) << compiled.error;
        EXPECT_NE(compiled.error.find(c.shows), std::string::npos) << compiled.error;
    }
}

}  // namespace
