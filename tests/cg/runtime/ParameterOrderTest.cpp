// Parameters reach the program they belong to in every order of load, bind
// and set, also after someone else (a render target, raw GL) bound another
// program behind the runtime's back. Each case runs as the driver is and
// with EXT_direct_state_access hidden from the runtime (Mesa cannot hide it
// itself), where the runtime has to keep values for the next bind.
#include "cg/cgGL.h"
#include "cg/compiler.h"
#include "fbo/FramebufferObject.h"
#include "tests/cg/GLTargets.h"
#include "tests/support/GLTest.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

using cgtest::FloatTarget;

namespace {

const char kValueProgram[] = "float4 main(uniform float4 v) : COLOR { return v; }";
const float kForeignValue = 9;
const float kUnchecked = NAN;

enum class Op {
    Load,           // cgGLLoadProgram
    Bind,           // cgGLBindProgram
    Set,            // cgGLSetParameter1f(v, value): only x changes
    Set4,           // cgGLSetParameter4f(v, value, value + 1, value + 2, value + 3)
    ForeignBind,    // glBindProgramARB of a program the runtime does not know
    TargetBind,     // a float render target's bind(true): its pass-through program
    TargetUnbind,
};

struct Step {
    Op op;
    char program = 0;  // 'A' or 'B'
    float value = 0;
};

struct Case {
    const char* what;
    std::vector<Step> steps;
    float drawnNow;  // x drawn by whatever GL has bound after the steps; kUnchecked: not looked at
    float a, b;      // x each program draws once the runtime binds it
    // Without direct state access a value set while the runtime believes its
    // program bound goes to whatever is bound, after a foreign bind that
    // program's local too; its own program still gets it at its next bind.
    bool foreignGetsItWithoutDsa = false;
};

class CgParameterOrder : public GLTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        GLTest::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        REQUIRE_FLOAT_TARGETS();
        hidden = GetParam();
        if (!hidden) REQUIRE_GL_EXTENSION("GL_EXT_direct_state_access");
        savedDsa = __GLEW_EXT_direct_state_access;
        if (hidden) __GLEW_EXT_direct_state_access = GL_FALSE;
        context = cgCreateContext();

        // The foreign program reads the same local the runtime's programs use,
        // so a value sent to the wrong program shows.
        const std::string text = "!!ARBfp1.0\nMOV result.color, program.local[0];\nEND\n";
        glGenProgramsARB(1, &foreign);
        glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, foreign);
        glProgramStringARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_FORMAT_ASCII_ARB, GLsizei(text.size()), text.data());
        glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, 0);

        renderTarget = std::make_unique<FramebufferObject>("rgba=32t");
        ASSERT_TRUE(renderTarget->initialize(1, 1));
    }

    void TearDown() override {
        __GLEW_EXT_direct_state_access = savedDsa;
        renderTarget.reset();
        if (foreign) glDeleteProgramsARB(1, &foreign);
        GLTest::TearDown();
    }

    // Draws with whatever GL has bound, without a runtime call; returns x.
    static float drawBound() {
        FloatTarget target(1, 1, GL_RGBA32F_ARB);
        glPushAttrib(GL_ALL_ATTRIB_BITS);
        glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer());
        glViewport(0, 0, 1, 1);
        glEnable(GL_FRAGMENT_PROGRAM_ARB);
        glBegin(GL_QUADS);
        glVertex2f(-1, -1);
        glVertex2f(1, -1);
        glVertex2f(1, 1);
        glVertex2f(-1, 1);
        glEnd();
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glPopAttrib();
        return target.read()[0];
    }

    static float drawWith(CGprogram program) {
        cgGLBindProgram(program);
        return drawBound();
    }

    void run(const Step& step, CGprogram a, CGprogram b) {
        CGprogram p = step.program == 'B' ? b : a;
        CGparameter v = cgGetNamedParameter(p, "v");
        switch (step.op) {
            case Op::Load: cgGLLoadProgram(p); break;
            case Op::Bind: cgGLBindProgram(p); break;
            case Op::Set: cgGLSetParameter1f(v, step.value); break;
            case Op::Set4: cgGLSetParameter4f(v, step.value, step.value + 1, step.value + 2, step.value + 3); break;
            case Op::ForeignBind:
                glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, foreign);
                glProgramLocalParameter4fARB(GL_FRAGMENT_PROGRAM_ARB, 0, kForeignValue, 0, 0, 0);
                break;
            case Op::TargetBind: renderTarget->bind(true); break;
            case Op::TargetUnbind: renderTarget->unbind(true); break;
        }
    }

    bool hidden = false;
    GLboolean savedDsa = GL_FALSE;
    CGcontext context = nullptr;
    GLuint foreign = 0;
    std::unique_ptr<FramebufferObject> renderTarget;
};

TEST_P(CgParameterOrder, EveryValueReachesItsOwnProgram) {
    using O = Op;
    const Case cases[] = {
        {"set before loading", {{O::Set, 'A', 1}, {O::Load, 'A'}, {O::Load, 'B'}}, kUnchecked, 1, 0},
        {"set while unbound", {{O::Load, 'A'}, {O::Load, 'B'}, {O::Set, 'A', 2}}, kUnchecked, 2, 0},
        {"set after binding", {{O::Load, 'A'}, {O::Load, 'B'}, {O::Bind, 'A'}, {O::Set, 'A', 3}}, 3, 3, 0},
        {"set while another program is bound",
         {{O::Load, 'A'}, {O::Load, 'B'}, {O::Bind, 'B'}, {O::Set, 'B', 4}, {O::Set, 'A', 5}}, 4, 5, 4},
        {"set, bind another, set again",
         {{O::Load, 'A'}, {O::Load, 'B'}, {O::Bind, 'A'}, {O::Set, 'A', 1}, {O::Bind, 'B'}, {O::Set, 'A', 6}},
         0, 6, 0},
        {"set after a foreign bind",
         {{O::Load, 'A'}, {O::Load, 'B'}, {O::Bind, 'A'}, {O::ForeignBind}, {O::Set, 'A', 7}}, kForeignValue, 7, 0,
         true},
        {"set after the render target bound its pass-through program",
         {{O::Load, 'A'}, {O::Load, 'B'}, {O::Bind, 'A'}, {O::TargetBind}, {O::Set, 'A', 8}, {O::TargetUnbind}},
         kUnchecked, 8, 0},
        {"bound inside the render target's bind",
         {{O::Load, 'A'}, {O::Load, 'B'}, {O::TargetBind}, {O::Bind, 'A'}, {O::Set, 'A', 10}, {O::TargetUnbind}},
         10, 10, 0},
        {"loading keeps the runtime's binding",
         {{O::Load, 'A'}, {O::Bind, 'A'}, {O::Set, 'A', 11}, {O::Load, 'B'}}, 11, 11, 0},
        {"loading keeps a foreign binding", {{O::ForeignBind}, {O::Load, 'A'}, {O::Load, 'B'}}, kForeignValue, 0, 0},
        {"reloading keeps the values", {{O::Load, 'A'}, {O::Set, 'A', 12}, {O::Load, 'A'}, {O::Load, 'B'}},
         kUnchecked, 12, 0},
        {"one component over four", {{O::Load, 'A'}, {O::Load, 'B'}, {O::Set4, 'A', 20}, {O::Set, 'A', 13}},
         kUnchecked, 13, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CGprogram a = cgCreateProgram(context, CG_SOURCE, kValueProgram, CG_PROFILE_ARBFP1, nullptr, nullptr);
        CGprogram b = cgCreateProgram(context, CG_SOURCE, kValueProgram, CG_PROFILE_ARBFP1, nullptr, nullptr);
        ASSERT_TRUE(a && b);
        for (const Step& step : c.steps) run(step, a, b);
        ASSERT_EQ(cgGetError(), CG_NO_ERROR);
        if (!std::isnan(c.drawnNow) && !(hidden && c.foreignGetsItWithoutDsa)) {
            EXPECT_EQ(drawBound(), c.drawnNow) << "drawn with what GL has bound";
        }
        EXPECT_EQ(drawWith(a), c.a);
        EXPECT_EQ(drawWith(b), c.b);
        EXPECT_TRUE(testgl::drainErrors().empty());
    }
}

TEST_P(CgParameterOrder, TheComponentsLeftAloneKeepTheirValues) {
    CGprogram a = cgCreateProgram(context, CG_SOURCE, kValueProgram, CG_PROFILE_ARBFP1, nullptr, nullptr);
    CGparameter v = cgGetNamedParameter(a, "v");
    cgGLLoadProgram(a);
    cgGLSetParameter4f(v, 1, 2, 3, 4);
    cgGLSetParameter2f(v, 5, 6);
    FloatTarget target(1, 1, GL_RGBA32F_ARB);
    cgtest::drawPass(target, a);
    EXPECT_EQ(target.read(), (std::vector<float>{5, 6, 3, 4}));
    cgGLSetParameter3f(v, 7, 8, 9);
    cgtest::drawPass(target, a);
    EXPECT_EQ(target.read(), (std::vector<float>{7, 8, 9, 4}));
    EXPECT_EQ(cgGetError(), CG_NO_ERROR);
}

// A declared initial value is there from the load on, in every register of
// a matrix, also for the compiler's output loaded as assembly, until a set
// replaces the components it sets.
TEST_P(CgParameterOrder, AnInitialValueLoadsWithTheProgramUntilASetReplacesIt) {
    const char* const vector = "float4 main(uniform float4 v = float4(0.5, 1.5, 2.5, 3.5)) : COLOR { return v; }";
    const char* const matrix =
        "uniform float2x4 v = {1, 2, 3, 4, 5, 6, 7, 8};\nfloat4 main() : COLOR { return v[0] + v[1] * 10; }";
    const struct {
        const char* what;
        const char* source;
        bool assembly;
        bool setBeforeLoad, setAfterLoad;  // cgGLSetParameter1f(v, 7)
        std::vector<float> drawn;
    } rows[] = {
        {"loaded", vector, false, false, false, {0.5f, 1.5f, 2.5f, 3.5f}},
        {"loaded from assembly", vector, true, false, false, {0.5f, 1.5f, 2.5f, 3.5f}},
        {"set before the load", vector, false, true, false, {7, 1.5f, 2.5f, 3.5f}},
        {"set after the load", vector, true, false, true, {7, 1.5f, 2.5f, 3.5f}},
        {"a matrix's rows", matrix, false, false, false, {51, 62, 73, 84}},
        {"a matrix's rows from assembly", matrix, true, false, false, {51, 62, 73, 84}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::string text = row.source;
        if (row.assembly) {
            const cgc::Compiled compiled = cgc::compile(text, "v.cg");
            ASSERT_TRUE(compiled.ok) << compiled.error;
            text = compiled.text;
        }
        CGprogram p = cgCreateProgram(context, CG_SOURCE, text.c_str(), CG_PROFILE_ARBFP1, nullptr, nullptr);
        ASSERT_NE(p, nullptr) << cgGetErrorString(cgGetError());
        CGparameter v = cgGetNamedParameter(p, "v");
        if (row.setBeforeLoad) cgGLSetParameter1f(v, 7);
        cgGLLoadProgram(p);
        if (row.setAfterLoad) cgGLSetParameter1f(v, 7);
        FloatTarget target(1, 1, GL_RGBA32F_ARB);
        cgtest::drawPass(target, p);
        EXPECT_EQ(target.read(), row.drawn);
        EXPECT_EQ(cgGetError(), CG_NO_ERROR);
    }
}

INSTANTIATE_TEST_SUITE_P(DirectStateAccess, CgParameterOrder, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "hidden" : "used";
                         });

}  // namespace
