// Mutations of shading-language text, shared by the compiler's fuzz target
// (as its custom mutator) and its unit test: breaking edits (bytes, cuts,
// fragments of the language) and edits that mostly keep a program valid but
// change what it computes (numbers, operators, swizzles, a repeated line),
// which random byte edits seldom manage.
#pragma once

#include <cctype>
#include <random>
#include <string>

namespace mutation {

inline const char* const kFragments[] = {
    "(", ")", "{", "}", ";", ",", ".", ".xyzw", ".q", "=", "+=", "/", "*", "-", "float4", "half", "float2(",
    "#define X ", "\n#define Y Y\n", "/*", "*/", "//", "1e", "1.5h", "0", "return", "main", "uniform", "out", ":",
    "COLOR", "TEXCOORD9", "texRECT(", "dot(", "static const", "if", "for", "\\", "\"", "\0", "\xff", "#", "(float3)",
    // the wider language
    "if (t.x > 0) ", "else ", "for (int i = 0; i < 3; i++) ", "while (", "do ", "break;", "continue;", "discard;",
    " ? ", "<=", "==", "!=", "&&", "||", "!", "++", "--", "%", "%=", "int", "bool", "true", "inout", "in ",
    "struct S { float4 a; float b; };", "S", "typedef float4 C;", "[2]", "[1][0]", "{1, 2}", "float3x3", "._m01",
    "._11", "mul(", "transpose(", "pow(", "sincos(", "tex2Dproj(", "texCUBE(", "tex3D(", "tex1Dbias(", "f4tex2D(",
    "DEPTH", "WPOS", "FOG", "COLOR1", "\n#if 1\n", "\n#else\n", "\n#endif\n", "\n#define F(a) (a * 2)\n", "F(",
    "\n#undef F\n", "\n#line 7\n", "\n#include \"lib.cg\"\n", "\n#include \"self.cg\"\n", "\n#error e\n",
};

// One edit that mostly keeps the text a program: the next number, operator
// or swizzle lane after `at` becomes another, or the line at `at` repeats.
inline void changeValue(std::string& text, std::size_t at, std::mt19937& random) {
    static const char* const kNumbers[] = {"0", "-0.0", "1", "-1", "0.5", "3", "1e-3", "1e30", "3e38", "1e-39", "7.25"};
    static const char kOperators[] = "+-*/<>";
    static const char kLanes[] = "xyzw";
    switch (random() % 4) {
        case 0: {  // the next number (not the digits of a name like float4) becomes another
            std::size_t begin = at;
            while ((begin = text.find_first_of("0123456789", begin)) != std::string::npos && begin > 0 &&
                   (std::isalnum(static_cast<unsigned char>(text[begin - 1])) || text[begin - 1] == '_'))
                begin = text.find_first_not_of("0123456789", begin);
            if (begin == std::string::npos) break;
            std::size_t end = text.find_first_not_of("0123456789.", begin);
            text.replace(begin, (end == std::string::npos ? text.size() : end) - begin,
                         kNumbers[random() % (sizeof kNumbers / sizeof *kNumbers)]);
            break;
        }
        case 1: {  // the next operator becomes another
            std::size_t op = text.find_first_of(kOperators, at);
            if (op != std::string::npos) text[op] = kOperators[random() % 6];
            break;
        }
        case 2: {  // the next swizzle reads another lane
            std::size_t dot = text.find('.', at);
            if (dot != std::string::npos && dot + 1 < text.size() &&
                std::string(kLanes).find(text[dot + 1]) != std::string::npos)
                text[dot + 1] = kLanes[random() % 4];
            break;
        }
        default: {  // a line again after itself
            std::size_t begin = text.rfind('\n', at == 0 ? 0 : at - 1);
            begin = begin == std::string::npos ? 0 : begin + 1;
            std::size_t end = text.find('\n', begin);
            if (end != std::string::npos) text.insert(end + 1, text.substr(begin, end + 1 - begin));
            break;
        }
    }
}

// One edit that mostly breaks the text.
inline void breakText(std::string& text, std::size_t at, std::mt19937& random) {
    switch (random() % 6) {
        case 0:  // delete a run
            text.erase(at, random() % 8);
            break;
        case 1:  // one random byte
            text.insert(at, 1, char(random() % 256));
            break;
        case 2:  // overwrite a byte
            if (at < text.size()) text[at] = char(random() % 256);
            break;
        case 3: {  // a fragment of the language
            const char* f = kFragments[random() % (sizeof kFragments / sizeof *kFragments)];
            text.insert(at, f[0] ? std::string(f) : std::string(1, '\0'));
            break;
        }
        case 4: {  // duplicate a slice
            std::size_t from = text.empty() ? 0 : random() % text.size();
            text.insert(at, text.substr(from, random() % 32));
            break;
        }
        default:  // cut the text short
            text.resize(at);
            break;
    }
}

// One to three edits, those that keep a program valid twice as often as
// the others, so that compiling and failing are both common.
inline std::string mutate(std::string text, std::mt19937& random) {
    const int edits = 1 + int(random() % 3);
    for (int e = 0; e < edits; ++e) {
        const std::size_t at = text.empty() ? 0 : random() % (text.size() + 1);
        if (random() % 7 < 3) breakText(text, at, random);
        else changeValue(text, at, random);
    }
    return text;
}

}  // namespace mutation
