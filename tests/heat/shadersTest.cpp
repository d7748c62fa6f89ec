// Loading the two programs: once, with one line per kind of error.
#include "heat/heat.h"
#include "tests/support/GLTest.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

struct AttributeSnapshot {
    GLboolean blend, depthTest, rectangle, fragmentProgram;
    GLint activeTexture, rectangleBinding;
    GLfloat color[4];
    bool operator==(const AttributeSnapshot& o) const {
        return blend == o.blend && depthTest == o.depthTest && rectangle == o.rectangle &&
               fragmentProgram == o.fragmentProgram && activeTexture == o.activeTexture &&
               rectangleBinding == o.rectangleBinding && std::equal(color, color + 4, o.color);
    }
};

AttributeSnapshot snapshot() {
    AttributeSnapshot s;
    s.blend = glIsEnabled(GL_BLEND);
    s.depthTest = glIsEnabled(GL_DEPTH_TEST);
    s.rectangle = glIsEnabled(GL_TEXTURE_RECTANGLE_ARB);
    s.fragmentProgram = glIsEnabled(GL_FRAGMENT_PROGRAM_ARB);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &s.activeTexture);
    glGetIntegerv(GL_TEXTURE_BINDING_RECTANGLE_ARB, &s.rectangleBinding);
    glGetFloatv(GL_CURRENT_COLOR, s.color);
    return s;
}

// Some state of the caller's own, for the loader to leave alone.
void setCallerState() {
    GLuint texture;
    glGenTextures(1, &texture);
    glActiveTexture(GL_TEXTURE2);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, texture);
    glEnable(GL_TEXTURE_RECTANGLE_ARB);
    glEnable(GL_BLEND);
    glColor4f(0.25f, 0.5f, 0.75f, 1);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

class ShaderLoading : public GLTest {
protected:
    void SetUp() override {
        GLTest::SetUp();
        if (HasFatalFailure()) return;
        REQUIRE_GL_EXTENSION("GL_ARB_fragment_program");
    }
    std::string load() {
        testing::internal::CaptureStdout();
        initShaders();
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(ShaderLoading, loadsBothProgramsOnceAndLeavesAttributesAlone) {
    setCallerState();
    const AttributeSnapshot before = snapshot();
    EXPECT_EQ(load(), "");
    EXPECT_TRUE(snapshot() == before);
    EXPECT_TRUE(shadersLoaded);
    EXPECT_NE(cgContext, nullptr);
    EXPECT_NE(fragmentProfile, CG_PROFILE_UNKNOWN);
    for (const void* handle : {(const void*)heatProgram, (const void*)copyProgram, (const void*)heatTextureParam,
                               (const void*)invGridSizeParam, (const void*)timestepParam, (const void*)copyTextureParam})
        EXPECT_NE(handle, nullptr);

    // A second call compiles nothing and prints nothing; it refreshes the profile only.
    const CGcontext context = cgContext;
    const CGprogram heat = heatProgram, copy = copyProgram;
    fragmentProfile = 0;
    EXPECT_EQ(load(), "");
    EXPECT_TRUE(snapshot() == before);
    EXPECT_EQ(cgContext, context);
    EXPECT_EQ(heatProgram, heat);
    EXPECT_EQ(copyProgram, copy);
    EXPECT_EQ(fragmentProfile, cgGLGetLatestProfile(CG_GL_FRAGMENT));
    EXPECT_EQ(cgGetError(), CG_NO_ERROR);
}

TEST_F(ShaderLoading, missingFileGivesOneErrorLineAndNoSecondAttempt) {
    char dir[] = "/tmp/heat2d-noshader-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    ASSERT_EQ(chdir(dir), 0);
    setCallerState();
    const AttributeSnapshot before = snapshot();

    const std::vector<std::string> printed = lines(load());
    int cgLines = 0, glLines = 0;
    for (const std::string& line : printed) {
        cgLines += line.rfind("Cg ERROR: ", 0) == 0;
        glLines += line.rfind("GL ERROR: ", 0) == 0;
    }
    EXPECT_EQ(cgLines, 1);
    EXPECT_LE(glLines, 1);
    EXPECT_EQ(printed.size(), size_t(cgLines + glLines));
    ASSERT_FALSE(printed.empty());
    EXPECT_NE(printed.back().find("HeatShader.cg"), std::string::npos) << printed.back();
    EXPECT_TRUE(shadersLoaded);
    EXPECT_EQ(heatProgram, nullptr);
    EXPECT_NE(copyProgram, nullptr);  // the copy program does not depend on the file
    EXPECT_TRUE(snapshot() == before);

    // The file turning up later changes nothing: loading is not retried.
    std::ofstream(std::string(dir) + "/HeatShader.cg")
        << "float4 main(float2 c : TEXCOORD0, uniform samplerRECT heatTexture) : COLOR { return texRECT(heatTexture, c); }\n";
    EXPECT_EQ(load(), "");
    EXPECT_EQ(heatProgram, nullptr);
    std::system((std::string("rm -rf ") + dir).c_str());
}

TEST_F(ShaderLoading, aMissingParameterIsNamedWithWhatHeat2dSetsItAs) {
    const std::string all =
        "float4 main(float2 c : TEXCOORD0, uniform samplerRECT heatTexture, uniform float2 invGridSize,\n"
        "            uniform float timestep) : COLOR {\n"
        "  return texRECT(heatTexture, c) * invGridSize.x * timestep; }\n";
    const auto without = [&](const std::string& name, std::string text) {
        for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + name.size() + 1))
            text.replace(at, name.size(), name + "X");
        return text;
    };
    const struct {
        const char* name;
        std::string shader;
        const char* advice;  // the end of the one line; null: no advice at all
    } cases[] = {
        {"all three", all, nullptr},
        {"no heatTexture", without("heatTexture", all), "; heat2d sets this parameter: 'uniform samplerRECT heatTexture'"},
        {"no invGridSize", without("invGridSize", all), "; heat2d sets this parameter: 'uniform float2 invGridSize'"},
        {"no timestep", without("timestep", all), "; heat2d sets this parameter: 'uniform float timestep'"},
        // the runtime reports the first lookup that failed, and so does the advice
        {"neither invGridSize nor timestep", without("invGridSize", without("timestep", all)),
         "; heat2d sets this parameter: 'uniform float2 invGridSize'"},
        {"assembly without names", "!!ARBfp1.0\nTEX result.color, fragment.texcoord[0], texture[0], RECT;\nEND\n",
         "; heat2d sets this parameter: 'uniform samplerRECT heatTexture'"},
        {"a compile error comes first", without("timestep", all) + "}", nullptr},
    };
    char dir[] = "/tmp/heat2d-parameters-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    ASSERT_EQ(chdir(dir), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(std::string(dir) + "/HeatShader.cg") << c.shader;
        shadersLoaded = false;
        const std::vector<std::string> printed = lines(load());
        std::vector<std::string> cgLines;
        for (const std::string& line : printed)
            if (line.rfind("Cg ERROR: ", 0) == 0) cgLines.push_back(line);
        if (!c.advice && c.shader == all) {
            EXPECT_TRUE(cgLines.empty()) << cgLines.front();
            continue;
        }
        ASSERT_EQ(cgLines.size(), 1u);
        const std::string& line = cgLines.front();
        const std::string advice = c.advice ? c.advice : "heat2d sets";
        const bool found = line.size() >= advice.size() && line.compare(line.size() - advice.size(), advice.size(), advice) == 0;
        if (c.advice) EXPECT_TRUE(found) << line;
        else EXPECT_EQ(line.find(advice), std::string::npos) << line;
    }
    std::system((std::string("rm -rf ") + dir).c_str());
}

}  // namespace
