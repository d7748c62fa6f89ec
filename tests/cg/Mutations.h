// Seeded mutations of valid programs, for fuzzing the compiler.
#pragma once

#include "heat/heat.h"

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace cgtest {

inline std::vector<std::string> seeds() {
    std::ifstream in(HEAT_SHADER_PATH, std::ios::binary);
    std::stringstream heat;
    heat << in.rdbuf();
    return {
        heat.str(),
        copyProgramSource,
        "#define S 2.0h\nstatic const half3 K = half3(1, .5, 1e-3f);\n"
        "float4 main(float4 c : COLOR0, float2 t : TEXCOORD1, uniform sampler2D s) : COLOR {\n"
        "  const float4 v = tex2D(s, t.yx) * S;\n  float4 r = (float4)0, q;\n"
        "  r.rgb = lerp(v.rgb, K, saturate(dot(c.xyz, K)));\n  r.a = clamp(frac(v.w), 0, abs(floor(-c.w)));\n"
        "  r /= max(min(c, v), 1); r -= c.wzyx; r *= float4(c.xy, 1, K.z); q = r;\n  { return q.xyzw + -r; }\n}\n",
    };
}

inline const char* const kFragments[] = {
    "(", ")", "{", "}", ";", ",", ".", ".xyzw", ".q", "=", "+=", "/", "*", "-", "float4", "half", "float2(",
    "#define X ", "\n#define Y Y\n", "/*", "*/", "//", "1e", "1.5h", "0", "return", "main", "uniform", "out", ":",
    "COLOR", "TEXCOORD9", "texRECT(", "dot(", "static const", "if", "for", "\\", "\"", "\0", "\xff", "#", "(float3)",
};

inline std::string mutate(std::string text, std::mt19937& random) {
    int edits = 1 + int(random() % 4);
    for (int e = 0; e < edits; ++e) {
        std::size_t at = text.empty() ? 0 : random() % (text.size() + 1);
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
        }
    }
    return text;
}

}  // namespace cgtest
