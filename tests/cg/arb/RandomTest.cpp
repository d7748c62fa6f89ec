// Random IR functions (every op the back end legalises, random swizzles,
// negations, saturation, gathers with undefined lanes, copies, discards,
// several outputs) must load on GL and compute what the interpreter does.
// Magnitudes are kept small so that rounding differences stay far below the
// tolerance; ops that jump (FLR, FRC) or approximate (SIN, EX2) are left to
// the op table.
#include "cg/arb/backend.h"
#include "cg/ir/eval.h"
#include "tests/cg/support/ArbReference.h"
#include "tests/cg/support/ArbRunner.h"
#include "tests/support/GLTest.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

using cgc::ir::Inst;
using cgc::ir::Op;
using cgc::ir::Src;

class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    cgc::ir::Function make() {
        f_ = cgc::ir::Function{};
        bound_.clear();
        defined_.clear();
        lookups_.clear();
        pool_.clear();
        texcoord_ = leaf(Op::Input, cgc::ir::AttrTexCoord0, 4);
        colour_ = leaf(Op::Input, cgc::ir::AttrColor0, 1);
        pool_ = {leaf(Op::Input, cgc::ir::AttrTexCoord0 + 1, 2), colour_, leaf(Op::Uniform, 0, 3),
                 leaf(Op::Uniform, 3, 7)};
        for (int k = 0; k < 3; ++k) {
            Inst c;
            c.op = Op::Const;
            for (float& x : c.imm) x = k == 2 ? float(pick(-1, 1)) : float(pick(-16, 16)) / 8;
            pool_.push_back(add(c, 2));
        }
        const int steps = pick(3, 24);
        for (int n = 0; n < steps; ++n) step();
        if (chance(20)) discard();
        if (chance(15)) output(cgc::ir::OutColor, pool_[std::size_t(pick(0, int(pool_.size()) - 1))]);
        output(cgc::ir::OutColor, pool_.back());
        return f_;
    }

private:
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool chance(int percent) { return pick(0, 99) < percent; }

    std::uint32_t add(const Inst& inst, float bound) {
        bound_.push_back(bound);
        std::uint8_t defined = inst.op == Op::Xpd ? 0x7 : 0xf;
        if (inst.op == Op::Vec) {
            defined = 0;
            for (int c = 0; c < 4; ++c)
                if (inst.src[c].def != cgc::ir::kNone) defined |= std::uint8_t(1u << c);
        }
        defined_.push_back(defined);
        return f_.add(inst);
    }
    std::uint32_t leaf(Op op, int index, float bound) {
        Inst i;
        i.op = op;
        i.index = std::uint16_t(index);
        return add(i, bound);
    }

    // Reads only components the value defines: an undefined lane is NaN to
    // the interpreter but some number on GL, and a comparison or saturation
    // downstream would turn either into a definite, different result.
    Src source(std::uint32_t def) {
        Src s;
        s.def = def;
        std::vector<std::uint8_t> comps;
        for (std::uint8_t c = 0; c < 4; ++c)
            if (defined_[def] & (1u << c)) comps.push_back(c);
        auto any = [&] { return comps[std::size_t(pick(0, int(comps.size()) - 1))]; };
        int kind = comps.size() == 4 ? pick(0, 3) : pick(1, 3);
        std::uint8_t one = any();
        for (int c = 0; c < 4; ++c) s.swz[c] = kind == 0 ? std::uint8_t(c) : kind == 1 ? one : any();
        s.neg = chance(20);
        return s;
    }
    Src anySource() {
        // Recent values more often, so chains form.
        for (;;) {
            std::size_t n = pool_.size();
            std::size_t at = chance(60) ? n - 1 - std::size_t(pick(0, int(std::min<std::size_t>(n, 4)) - 1))
                                        : std::size_t(pick(0, int(n) - 1));
            if (defined_[pool_[at]]) return source(pool_[at]);
        }
    }
    float b(const Src& s) const { return bound_[s.def]; }

    void step() {
        static const Op ops[] = {Op::Add, Op::Mul, Op::Mad, Op::Min, Op::Max, Op::Slt, Op::Sge, Op::Cmp,
                                 Op::Lrp, Op::Abs, Op::Mov, Op::Dp3, Op::Dp4, Op::Dph, Op::Xpd, Op::Vec,
                                 Op::Vec, Op::Div, Op::Rcp, Op::Rsq, Op::Tex, Op::Dst};
        for (int attempt = 0; attempt < 8; ++attempt) {
            Inst i;
            i.op = ops[pick(0, int(sizeof ops / sizeof ops[0]) - 1)];
            i.nsrc = std::uint8_t(cgc::ir::sourceCount(i.op));
            float bound = 0;
            switch (i.op) {
                case Op::Vec:
                    for (int c = 0; c < 4; ++c) {
                        if (chance(12)) continue;  // an undefined lane
                        i.src[c] = anySource();
                        bound = std::max(bound, b(i.src[c]));
                    }
                    break;
                case Op::Div:
                case Op::Rcp:
                case Op::Rsq: {
                    // Divisors from the colour, whose lanes stay in [0.2, 1].
                    Src d = source(colour_);
                    if (i.op == Op::Div) {
                        i.src[0] = anySource();
                        i.src[1] = d;
                        bound = b(i.src[0]) * 5;
                    } else {
                        i.src[0] = d;
                        bound = 5;
                    }
                    break;
                }
                case Op::Tex: {
                    // Texel centres: the texel coordinate plus a whole offset,
                    // a constant or the floor of an earlier texel (exact on
                    // both sides), which chains indirections.
                    Inst offset;
                    if (!lookups_.empty() && chance(40)) {
                        offset.op = Op::Flr;
                        offset.nsrc = 1;
                        offset.src[0] = source(lookups_[std::size_t(pick(0, int(lookups_.size()) - 1))]);
                        offset.src[0].neg = false;
                    } else {
                        offset.op = Op::Const;
                        for (float& x : offset.imm) x = float(pick(-2, 2));
                    }
                    Inst sum;
                    sum.op = Op::Add;
                    sum.nsrc = 2;
                    sum.src[0].def = texcoord_;
                    sum.src[1].def = add(offset, 4);
                    i.src[0].def = add(sum, 8);
                    i.index = 0;
                    i.target = cgc::ir::TexRect;
                    bound = 5;
                    break;
                }
                default:
                    for (int s = 0; s < i.nsrc; ++s) i.src[s] = anySource();
                    bound = estimate(i);
                    break;
            }
            i.sat = i.op != Op::Vec && chance(15);
            if (i.op == Op::Mov && !i.sat && chance(50)) i.src[0] = anySource();
            if (i.sat) bound = 1;
            if (bound > 64) continue;
            pool_.push_back(add(i, bound));
            if (i.op == Op::Tex && !i.sat) lookups_.push_back(pool_.back());
            return;
        }
    }

    float estimate(const Inst& i) const {
        float x = i.nsrc > 0 ? b(i.src[0]) : 0, y = i.nsrc > 1 ? b(i.src[1]) : 0, z = i.nsrc > 2 ? b(i.src[2]) : 0;
        switch (i.op) {
            case Op::Add: return x + y;
            case Op::Mul: return x * y;
            case Op::Mad: return x * y + z;
            case Op::Min: case Op::Max: return std::max(x, y);
            case Op::Slt: case Op::Sge: return 1;
            case Op::Cmp: return std::max(y, z);
            case Op::Lrp: return x * y + (1 + x) * z;
            case Op::Abs: case Op::Mov: return x;
            case Op::Dp3: case Op::Xpd: return 3 * x * y;
            case Op::Dp4: return 4 * x * y;
            case Op::Dph: return 3 * x * y + y;
            case Op::Dst: return std::max({1.0f, x * y, x, y});
            default: return 1e9f;
        }
    }

    // A discard on a value of its own, so it never reads an undefined lane.
    void discard() {
        Inst threshold;
        threshold.op = Op::Const;
        for (float& x : threshold.imm) x = float(pick(-4, 4)) / 8;
        Inst d;
        d.op = Op::Add;
        d.nsrc = 2;
        d.src[0] = source(pool_[1]);
        d.src[1].def = add(threshold, 1);
        std::uint32_t v = add(d, 4);
        Inst kil;
        kil.op = Op::Kil;
        kil.nsrc = 1;
        kil.src[0] = source(v);
        add(kil, 0);
    }

    void output(cgc::ir::OutputReg reg, std::uint32_t v) {
        Inst out;
        out.op = Op::Output;
        out.index = reg;
        out.nsrc = 1;
        out.src[0] = source(defined_[v] ? v : colour_);
        add(out, 0);
    }

    std::mt19937 rng_;
    cgc::ir::Function f_;
    std::vector<float> bound_;
    std::vector<std::uint8_t> defined_;  // components each value defines
    std::vector<std::uint32_t> pool_;
    std::vector<std::uint32_t> lookups_;  // unsaturated texels, whose floors are whole offsets
    std::uint32_t texcoord_ = 0, colour_ = 0;
};

cgtest::ArbRun randomRun() {
    cgtest::ArbRun run;
    run.texcoord[0] = {{0, 0, 0, 1}, {4, 0, 0, 0}, {0, 4, 0, 0}};
    run.texcoord[1] = {{0.3f, -0.7f, 0.4f, 1.1f}, {0.6f, 0.4f, -0.6f, 0.5f}, {-0.5f, 0.9f, 0.2f, 0.25f}};
    run.color = {{0.3f, 0.4f, 0.6f, 0.8f}, {0.1f, -0.2f, 0.05f, 0}, {0.05f, 0.1f, -0.1f, 0.1f}};
    run.locals = {{1.5f, -2, 0.25f, 3}, {0, 0, 0, 0}, {0, 0, 0, 0}, {-0.75f, 4, 1, 0.125f}};
    run.clear = {-9, -9, -9, -9};
    cgtest::Texture rect;
    rect.target = GL_TEXTURE_RECTANGLE_ARB;
    rect.width = rect.height = 4;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            rect.rgba.insert(rect.rgba.end(), {x + 0.1f * y, y - 0.2f * x, 0.5f + 0.25f * x * y, 1 - 0.1f * x});
    run.textures = {rect};
    return run;
}

using ArbRandomPrograms = FloatTargetTest;

TEST_F(ArbRandomPrograms, computeWhatTheInterpreterComputes) {
    const cgtest::ArbRun run = randomRun();
    Generator generate(20261207);
    int failures = 0;
    for (int n = 0; n < 100 && failures < 3; ++n) {
        cgc::ir::Function f = generate.make();
        SCOPED_TRACE(cgc::ir::print(f));
        cgc::ArbProgram out = cgc::emitArb(f, {}, cgc::Limits{});
        SCOPED_TRACE(out.text);
        cgtest::ArbResult gl = cgtest::runArb(out.text, run);
        if (!gl.loaded) {
            ADD_FAILURE() << "GL refused it at " << gl.errorPosition << ": " << gl.error;
            ++failures;
            continue;
        }
        EXPECT_EQ(gl.temporaries, out.stats.temporaries);
        bool wrong = false;
        for (int j = 0; j < run.height && !wrong; ++j)
            for (int i = 0; i < run.width && !wrong; ++i) {
                cgc::ir::Fragment fragment = cgtest::fragmentAt(run, i, j);
                cgc::ir::Result want = cgc::ir::run(f, fragment);
                cgtest::Rgba got = gl.pixel(i, j);
                for (int c = 0; c < 4; ++c) {
                    float e = want.killed ? run.clear[c] : want.color[c];
                    if (std::isnan(e) || std::fabs(got[c] - e) <= 2e-4f * std::fmax(1.0f, std::fabs(e))) continue;
                    ADD_FAILURE() << "program " << n << " pixel (" << i << ", " << j << ") lane " << c << ": GL "
                                  << got[c] << ", interpreter " << e;
                    wrong = true;
                    break;
                }
            }
        failures += wrong;
    }
}

}  // namespace
