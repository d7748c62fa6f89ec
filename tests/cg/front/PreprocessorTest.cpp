#include "FrontTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

using namespace cgc;
using fronttest::parseError;
using fronttest::preprocess;
using fronttest::withFiles;

TEST(Preprocessor, directivesAndMacrosGiveTheExpectedTokens) {
    struct Case {
        const char* source;
        const char* tokens;
    } cases[] = {
        {"#define X 1\nX + X", "1 + 1"},
        {"#define F(a, b) a * b\nF(1 + 2, (3, 4))", "1 + 2 * ( 3 , 4 )"},
        {"#define SQ(x) ((x) * (x))\nSQ(SQ(y))", "( ( ( ( y ) * ( y ) ) ) * ( ( ( y ) * ( y ) ) ) )"},
        {"#define F(x) [x]\nF F (1) F\n(2)", "F [ 1 ] [ 2 ]"},
        {"#define G (x)\nG", "( x )"},
        {"#define CAT(a, b) a ## b\nCAT(fl, oat4) CAT(x, 1) CAT(, y) CAT(z, ) CAT(,)", "float4 x1 y z"},
        {"#define CAT3(a, b, c) a ## b ## c\nCAT3(x, , z) CAT3(1, 2, 3)", "xz 123"},
        {"#define PASTE(a, b) a##b\n#define AB done\nPASTE(A, B)", "done"},
        {"#define STR(x) #x\nSTR(a  +   b) STR()", "\"a + b\" \"\""},
        {"#define STR(x) #x\n#define XSTR(x) STR(x)\nXSTR(__LINE__)", "\"3\""},
        {"#define V(...) f(__VA_ARGS__)\nV(1, 2, 3) V()", "f ( 1 , 2 , 3 ) f ( )"},
        {"#define W(a, ...) a: __VA_ARGS__\nW(1) W(1, 2, 3)", "1 : 1 : 2 , 3"},
        {"#define X X + 1\nX", "X + 1"},
        {"#define A B\n#define B A\nA B", "A B"},
        {"#define F(x) F(x) + x\nF(F(1))", "F ( F ( 1 ) + 1 ) + F ( 1 ) + 1"},
        {"#define X 1\n#undef X\nX", "X"},
        {"#define X 1\n#define X  1 // again\n#undef X\n#define X 2\nX", "2"},
        {"#define F(a, b) a  +  b\n#define F(a, b) a + b\nF(1, 2)", "1 + 2"},
        {"#define EMPTY\nEMPTY a EMPTY", "a"},
        {"#define LONG a \\\n  b\nLONG", "a b"},
        {"#  define  X  1 // one\nX /* c */ X", "1 1"},
        {"#\n  #  \na", "a"},
        {"#pragma once\n#pragma anything at all\nq", "q"},
        {"a __LINE__\n__LINE__ __FILE__", "a 1 2 \"<string>\""},
        {"#line 40\n__LINE__\n#line 7 \"x.cg\"\n__LINE__ __FILE__", "40 7 \"x.cg\""},
        {"#if 1 + 2 * 3 == 7\na\n#else\nb\n#endif", "a"},
        {"#if 0\na\n#elif defined(Y) || 1\nb\n#elif 1\nc\n#else\nd\n#endif", "b"},
        {"#define Y\n#ifdef Y\na\n#endif\n#ifndef Y\nb\n#endif\n#if defined Y\nc\n#endif", "a c"},
        {"#if defined X && X / 0\na\n#endif\nb", "b"},
        {"#if (2 > 1 ? 5 : 6) == 5 && -1 < 0 && ~0 == -1 && !0 && 7 % 4 == 3 && 1 << 4 == 16\na\n#endif", "a"},
        {"#if -2147483647 - 1 < 0 && 65536 * 65536 * 65536 * 65536 == 0 && (4 | 1) == 5 && (6 ^ 3) == 5 && (6 & 3) == 2\na\n#endif", "a"},
        {"#if 0\n#if 1\na\n#else\nb\n#endif\n#else\nc\n#endif", "c"},
        {"#if 1\n#if 0\na\n#endif\n#elif 1 / 0\nb\n#endif\nz", "z"},
        {"#if 0\n#error not here\n#bogus\n1.5e 'x \xff\n/* #endif */\n#endif\nz", "z"},
        {"#if 0 /* a\n#endif */\n#else\ny\n#endif", "y"},
        {"#define M(x) x\n#if M(3) == 3 && UNKNOWN == 0\nyes\n#endif", "yes"},
        {"#ifdef __LINE__\nbuiltin\n#endif", "builtin"},
    };
    for (const Case& c : cases) EXPECT_EQ(preprocess(c.source), c.tokens) << c.source;
}

TEST(Preprocessor, includedFilesAreReadBesideTheIncludingFile) {
    Options options = withFiles({
        {"dir/a.cg", "#define A 1\n#include \"b.cg\"\nA"},
        {"dir/b.cg", "b __FILE__ __LINE__"},
        {"dir/sub/c.cg", "#include \"../b.cg\"\nc"},
        {"dir/sub/../b.cg", "up"},
    });
    struct Case {
        const char* source;
        const char* tokens;
    } cases[] = {
        {"#include \"dir/a.cg\"\nA __LINE__", "b \"dir/b.cg\" 1 1 1 2"},
        {"#include \"dir/sub/c.cg\"", "up c"},
        {"#if 0\n#include \"missing.cg\"\n#endif\nok", "ok"},
    };
    for (const Case& c : cases) EXPECT_EQ(preprocess(c.source, options), c.tokens) << c.source;
}

TEST(Preprocessor, includeWithoutAReaderReadsTheFileSystem) {
    char dir[] = "/tmp/cgfrontXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string main = std::string(dir) + "/main.cg", part = std::string(dir) + "/part.cg";
    std::ofstream(part) << "float4 main() : COLOR { return PART; }\n";
    std::string source = "#define PART 1\n#include \"part.cg\"\n";
    Sources sources;
    ast::Tree tree = parseSource(sources, source.data(), source.size(), main, Options{});
    EXPECT_EQ(tree.items.size(), 1u);
    std::string missing = "#include \"nope.cg\"\n";
    try {
        parseSource(sources, missing.data(), missing.size(), main, Options{});
        ADD_FAILURE() << "a missing file was read";
    } catch (const CompileError& e) {
        EXPECT_EQ(sources.format(e.loc, e.what),
                  main + ":1:10: error: cannot read '" + dir + "/nope.cg': No such file or directory");
    }
    std::remove(part.c_str());
    rmdir(dir);
}

TEST(Preprocessor, faultsGiveOneLocatedLine) {
    struct Case {
        const char* source;
        const char* error;
    } cases[] = {
        {"#define", "<string>:1:2: error: macro name missing after '#define'"},
        {"#define 3 x", "<string>:1:9: error: macro name expected near '3'"},
        {"#define defined 1", "<string>:1:9: error: 'defined' cannot be used as a macro name"},
        {"#define F(a, a) a", "<string>:1:14: error: duplicate macro parameter 'a'"},
        {"#define F(a b) a", "<string>:1:13: error: ')' expected in macro parameter list near 'b'"},
        {"#define F(a,) a", "<string>:1:13: error: macro parameter name expected near ')'"},
        {"#define F(x) #y", "<string>:1:14: error: '#' is not followed by a macro parameter"},
        {"#define F(x) ## x", "<string>:1:14: error: '##' cannot appear at either end of a macro expansion"},
        {"#define A 1\n#define A 2", "<string>:2:9: error: macro 'A' is redefined differently"},
        {"#define A 1 + 2\n#define A 1+2", "<string>:2:9: error: macro 'A' is redefined differently"},
        {"#define F(a) a\n#define F(b) b", "<string>:2:9: error: macro 'F' is redefined differently"},
        {"#define F(a) a\n#define F (a) a", "<string>:2:9: error: macro 'F' is redefined differently"},
        {"#define __LINE__ 3", "<string>:1:9: error: macro '__LINE__' is redefined differently"},
        {"#define F(x, y) x\nF(1)", "<string>:2:1: error: macro 'F' takes 2 arguments, 1 given"},
        {"#define F(x) x\nF(1, 2)", "<string>:2:1: error: macro 'F' takes 1 argument, 2 given"},
        {"#define F(x) x\nF(1", "<string>:2:1: error: unterminated argument list invoking macro 'F'"},
        {"#define P(a, b) a ## b\nP(+, /)", "<string>:2:1: error: pasting '+' and '/' does not give a valid token"},
        {"#if 1\nx", "<string>:1:1: error: unterminated '#if'"},
        {"#ifdef X\n#else\n", "<string>:1:1: error: unterminated '#ifdef'"},
        {"#endif", "<string>:1:1: error: '#endif' without '#if'"},
        {"#else", "<string>:1:1: error: '#else' without '#if'"},
        {"#if 1\n#else\n#else\n#endif", "<string>:3:1: error: '#else' after '#else'"},
        {"#if 0\n#else\n#elif 1\n#endif", "<string>:3:1: error: '#elif' after '#else'"},
        {"#if\n#endif", "<string>:1:2: error: '#if' with no expression"},
        {"#if 1 +\n#endif", "<string>:1:8: error: incomplete expression in '#if'"},
        {"#if (1\n#endif", "<string>:1:7: error: incomplete expression in '#if'"},
        {"#if 1 / 0\n#endif", "<string>:1:7: error: division by zero in '#if'"},
        {"#if 0\n#elif 1 % 0\n#endif", "<string>:2:9: error: division by zero in '#elif'"},
        {"#if 1.5\n#endif", "<string>:1:5: error: floating constant '1.5' in '#if'"},
        {"#if 1 2\n#endif", "<string>:1:7: error: unexpected '2' in '#if'"},
        {"#if defined(\n#endif", "<string>:1:13: error: macro name expected after 'defined' near end of line"},
        {"#define X(a) a\n#if X(\n#endif", "<string>:2:5: error: unterminated argument list invoking macro 'X'"},
        {"#foo", "<string>:1:2: error: unknown preprocessor directive '#foo'"},
        {"#error stop here \n", "<string>:1:1: error: stop here"},
        {"#error", "<string>:1:1: error: #error"},
        {"#include <a.cg>", "<string>:1:10: error: #include expects \"FILENAME\" near '<'"},
        {"#include \"nope.cg\"", "<string>:1:10: error: cannot read 'nope.cg': No such file or directory"},
        {"#line x", "<string>:1:7: error: #line expects a line number near 'x'"},
        {"#line 1 x", "<string>:1:9: error: #line expects a file name in quotes near 'x'"},
        {"#undef", "<string>:1:7: error: macro name expected near end of line"},
        {"#line 10 \"f.cg\"\n\nx = 1.5e;", "f.cg:11:5: error: malformed number '1.5e'"},
        {"#line 3 \"a\tb\x01.cg\"\nx = 1.5e;", "a\\x09b\\x01.cg:3:5: error: malformed number '1.5e'"},
    };
    Options none = withFiles({});
    for (const Case& c : cases) EXPECT_EQ(preprocess(c.source, none), c.error) << c.source;
}

TEST(Preprocessor, faultsInIncludedFilesNameThoseFiles) {
    Options options = withFiles({
        {"bad.cg", "float x = 1.5e;"},
        {"open.cg", "#if 1\n"},
        {"close.cg", "#endif\n"},
        {"self.cg", "#include \"self.cg\"\n"},
    });
    struct Case {
        const char* source;
        const char* error;
    } cases[] = {
        {"#include \"bad.cg\"", "bad.cg:1:11: error: malformed number '1.5e'"},
        {"#include \"open.cg\"\n#endif", "open.cg:1:1: error: unterminated '#if'"},
        {"#if 1\n#include \"close.cg\"", "close.cg:1:1: error: '#endif' without '#if'"},
        {"#include \"self.cg\"", "self.cg:1:2: error: #include nested more than 16 files deep"},
    };
    for (const Case& c : cases) EXPECT_EQ(preprocess(c.source, options), c.error) << c.source;
}

TEST(Preprocessor, expansionNestingIsBoundedAndNamesTheMacro) {
    std::string chain;
    for (int i = 1; i <= 300; ++i) chain += "#define M" + std::to_string(i) + " M" + std::to_string(i - 1) + "\n";
    EXPECT_EQ(preprocess(chain + "M300"),
              "<string>:301:1: error: macro 'M44' nests more than 256 expansions deep "
              "(in expansion of macro 'M45' defined at <string>:45:9)");
    std::string nested = "#define F(x) x\n";
    for (int i = 0; i < 300; ++i) nested += "F(";
    nested += "1" + std::string(300, ')');
    EXPECT_EQ(preprocess(nested), "<string>:2:513: error: macro 'F' nests more than 256 expansions deep");
}

TEST(Preprocessor, macroFaultsNameTheMacro) {
    struct Case {
        const char* source;
        const char* error;
    } cases[] = {
        {"#define DIFFUSION 1e-5;\nfloat4 main(uniform float timestep) : COLOR {\n"
         "    float2 r = DIFFUSION * timestep;\n    return r.xyxy;\n}",
         "<string>:3:26: error: expression expected near '*' "
         "(in expansion of macro 'DIFFUSION' defined at <string>:1:9)"},
        {"#define BAD (1 + )\nvoid f() { x = BAD; }",
         "<string>:2:16: error: expression expected near ')' (in expansion of macro 'BAD' defined at <string>:1:9)"},
        {"#define ONE 1\nvoid f() {\n  x = ONE\n}",
         "<string>:3:10: error: expected ';' after expression (in expansion of macro 'ONE' defined at <string>:1:9)"},
        {"#define T flaot4\nT x;",
         "<string>:2:1: error: unknown type name 'flaot4'; did you mean 'float4'? "
         "(in expansion of macro 'T' defined at <string>:1:9)"},
        {"#define N 1e39\nfloat x = N;", "<string>:1:11: error: floating constant '1e39' is out of range"},
        {"\xef\xbb\xbf#define X 1\r\nfloat main() {\r return X 1; }",
         "<string>:3:10: error: expected ';' after return statement (in expansion of macro 'X' defined at "
         "<string>:1:9)"},
    };
    for (const Case& c : cases) EXPECT_EQ(parseError(c.source), c.error) << c.source;
}

TEST(Preprocessor, theShippedHeatProgramParses) {
    std::ifstream in(HEAT_SHADER_PATH, std::ios::binary);
    ASSERT_TRUE(in) << HEAT_SHADER_PATH;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string oldMac = text;
    for (char& c : oldMac)
        if (c == '\n') c = '\r';
    for (const std::string& variant : {text, "\xef\xbb\xbf" + text, oldMac}) EXPECT_EQ(parseError(variant), "");
}
