// Seeded random functions through every pass and through optimize: the
// interpreter gives the same results before and after, and the IR stays
// valid. Also the time optimize takes on very large functions.
#include "cg/ir/eval.h"
#include "cg/ir/ir.h"
#include "cg/opt/passes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <random>

using namespace cgc;
using namespace cgc::ir;

namespace {

const float kAwkward[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 2.0f, 3.0f, 0.1f, 1e-3f, 1e3f, 1e20f,
                          -1e-20f, 3e38f, 1.2e-38f, 7.25f, -0.75f, 1e-39f, 16777217.0f};

// Builds valid SSA with the shapes the passes look for mixed into random code.
class Generator {
public:
    explicit Generator(std::uint32_t seed) : rng_(seed) {}

    Function make(int size) {
        f_ = Function{};
        values_.clear();
        for (Attr a : {AttrTexCoord0, AttrColor0, AttrColor1, AttrPosition}) {
            Inst in;
            in.op = Op::Input;
            in.index = a;
            push(in);
        }
        for (int u = 0; u < 2; ++u) {
            Inst un;
            un.op = Op::Uniform;
            un.index = std::uint16_t(u);
            push(un);
        }
        for (int k = 0; k < 3; ++k) constant();
        while (int(f_.insts.size()) < size) step();
        // Gather many values into the output, so most of the code is live.
        static const Op kGather[] = {Op::Add, Op::Max, Op::Min, Op::Mul, Op::Cmp, Op::Lrp};
        Src all = source();
        for (int k = 0; k < 3 + size / 6; ++k) {
            Src next = read(values_[std::size_t(below(int(values_.size())))]);
            next.neg = chance(3);
            all = read(emit(kGather[below(6)], all, next, source()));
        }
        Inst out;
        out.op = Op::Output;
        out.nsrc = 1;
        out.index = OutColor;
        out.src[0] = all;
        f_.add(out);
        if (chance(3)) {
            out.index = OutDepth;
            out.src[0] = source();
            f_.add(out);
        }
        if (chance(3)) {
            Inst kil;
            kil.op = Op::Kil;
            kil.nsrc = 1;
            kil.src[0] = source();
            f_.insts.insert(f_.insts.begin() + std::ptrdiff_t(f_.insts.size() - 1), kil);
        }
        return f_;
    }

private:
    bool chance(int oneIn) { return std::uniform_int_distribution<int>(0, oneIn - 1)(rng_) == 0; }
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    float awkward() { return kAwkward[below(int(sizeof kAwkward / sizeof kAwkward[0]))]; }

    std::uint32_t push(const Inst& inst) {
        std::uint32_t n = f_.add(inst);
        values_.push_back(n);
        return n;
    }

    std::uint32_t constant() {
        Inst k;
        k.op = Op::Const;
        for (float& x : k.imm) x = chance(3) ? awkward() : float(below(9) - 4) * 0.5f;
        if (chance(2)) k.imm[1] = k.imm[2] = k.imm[3] = k.imm[0];
        return push(k);
    }

    std::uint32_t constant(float x) {
        Inst k;
        k.op = Op::Const;
        for (float& c : k.imm) c = x;
        return push(k);
    }

    // Mostly recent values, so chains form.
    Src source() {
        Src s;
        std::size_t n = values_.size();
        s.def = values_[chance(2) ? n - 1 - std::size_t(below(int(std::min<std::size_t>(n, 6)))) : std::size_t(below(int(n)))];
        switch (below(4)) {
            case 0: {
                std::uint8_t c = std::uint8_t(below(4));
                for (auto& z : s.swz) z = c;
                break;
            }
            case 1:
                for (auto& z : s.swz) z = std::uint8_t(below(4));
                break;
            default: break;
        }
        s.neg = chance(4);
        return s;
    }

    Src read(std::uint32_t def, bool neg = false) {
        Src s;
        s.def = def;
        s.neg = neg;
        return s;
    }

    std::uint32_t emit(Op op, Src a = {}, Src b = {}, Src c = {}, bool sat = false) {
        Inst inst;
        inst.op = op;
        inst.sat = sat;
        inst.nsrc = std::uint8_t(sourceCount(op));
        inst.src[0] = a;
        inst.src[1] = b;
        inst.src[2] = c;
        return push(inst);
    }

    void step() {
        static const Op kOps[] = {Op::Mov, Op::Add, Op::Mul, Op::Mad, Op::Div, Op::Min, Op::Max, Op::Slt,
                                  Op::Sge, Op::Cmp, Op::Lrp, Op::Abs, Op::Flr, Op::Frc, Op::Rcp, Op::Rsq,
                                  Op::Ex2, Op::Lg2, Op::Pow, Op::Sin, Op::Cos, Op::Dp3, Op::Dp4, Op::Dph,
                                  Op::Xpd, Op::Lit, Op::Dst};
        switch (below(17)) {
            case 0: {  // a product added once, sometimes saturated, sometimes shared
                std::uint32_t m = emit(Op::Mul, source(), source(), {}, chance(4));
                emit(Op::Add, source(), read(m, chance(2)));
                if (chance(3)) emit(Op::Add, read(m), source());
                break;
            }
            case 1: {  // a clamp to [0, 1], either way round
                std::uint32_t zero = constant(chance(4) ? -0.0f : 0.0f), one = constant(1.0f);
                std::uint32_t x = emit(kOps[below(9)], source(), source(), source());
                bool minFirst = chance(2);
                std::uint32_t inner = emit(minFirst ? Op::Min : Op::Max, read(x), read(minFirst ? one : zero));
                emit(minFirst ? Op::Max : Op::Min, read(minFirst ? zero : one), read(inner));
                break;
            }
            case 2:  // a copy chain
                emit(Op::Mov, read(emit(Op::Mov, source(), {}, {}, chance(4))), {}, {}, chance(5));
                break;
            case 3: {  // the same instruction again, commuted sometimes
                const Inst& earlier = f_.insts[std::size_t(below(int(f_.insts.size())))];
                if (isLeaf(earlier.op) || isSink(earlier.op)) break;
                Inst again = earlier;
                if (again.nsrc >= 2 && chance(2)) std::swap(again.src[0], again.src[1]);
                if (again.nsrc >= 1 && again.src[0].def != kNone && chance(3))  // a near twin
                    again.src[0].swz[below(4)] = std::uint8_t(below(4));
                push(again);
                break;
            }
            case 4: {  // division by a constant
                std::uint32_t k = chance(2) ? constant(awkward()) : constant();
                emit(Op::Div, source(), read(k));
                break;
            }
            case 5: {  // identities
                static const float kIdentity[] = {1.0f, -1.0f, 0.0f, -0.0f};
                std::uint32_t k = constant(kIdentity[below(4)]);
                static const Op kWith[] = {Op::Mul, Op::Add, Op::Mad, Op::Div};
                Op op = kWith[below(4)];
                if (chance(2)) emit(op, read(k), source(), source());
                else emit(op, source(), read(k), source());
                break;
            }
            case 6:  // a CMP on a constant
                emit(Op::Cmp, read(constant()), source(), source());
                break;
            case 7: {  // lanes from one value, or from several
                Inst vec;
                vec.op = Op::Vec;
                vec.nsrc = 4;
                Src one = source();
                for (int c = 0; c < 4; ++c) {
                    vec.src[c] = chance(2) ? one : source();
                    vec.src[c].swz[c] = std::uint8_t(below(4));
                }
                vec.sat = chance(6);
                push(vec);
                break;
            }
            case 8:  // constants only
                emit(kOps[below(int(sizeof kOps / sizeof kOps[0]))], read(constant()), read(constant()),
                     read(constant()), chance(4));
                break;
            case 9: {  // a lookup
                Inst tex;
                tex.op = chance(2) ? Op::Tex : Op::Txp;
                tex.nsrc = 1;
                tex.src[0] = source();
                tex.index = std::uint16_t(below(2));
                tex.target = std::uint8_t(below(5));
                tex.sat = chance(5);
                push(tex);
                break;
            }
            case 10:
                constant();
                break;
            case 11: {  // lanes of an input worked on alike, then gathered or read one lane each
                static const Op kAlike[] = {Op::Add, Op::Mul, Op::Mad, Op::Min, Op::Slt, Op::Frc, Op::Div};
                const Src v = read(values_[std::size_t(below(6))], chance(4));
                Src lanes[4];
                for (Src& lane : lanes) {
                    Src x = v;
                    for (auto& z : x.swz) z = std::uint8_t(below(4));
                    const Op op = chance(5) ? Op::Mov : kAlike[below(int(sizeof kAlike / sizeof kAlike[0]))];
                    lane = op == Op::Mov ? x : read(emit(op, x, read(constant()), read(constant())));
                    const std::uint8_t k = std::uint8_t(below(4));
                    for (auto& z : lane.swz) z = k;
                }
                if (chance(2)) {
                    Inst vec;
                    vec.op = Op::Vec;
                    vec.nsrc = 4;
                    for (int c = 0; c < 4; ++c) vec.src[c] = lanes[c];
                    push(vec);
                } else {
                    emit(Op::Add, read(emit(Op::Mul, lanes[0], lanes[1])), read(emit(Op::Max, lanes[2], lanes[3])));
                }
                break;
            }
            case 12: {  // a blend written out: x*t + y*(1 - t), or t + y*(1 - t)
                const Src t = source(), x = source(), y = source();
                Src minusT = t;
                minusT.neg = !t.neg;
                const Src u = read(emit(Op::Add, read(constant(1.0f)), minusT));
                const Src yu = read(emit(Op::Mul, y, u));
                if (chance(3)) emit(Op::Mad, y, u, t);
                else emit(Op::Add, read(emit(Op::Mul, x, t)), yu);
                break;
            }
            case 13: {  // a lookup at a quotient by w
                Src p = source();
                Src w = p;
                for (auto& z : w.swz) z = 3;
                Inst tex;
                tex.op = Op::Tex;
                tex.nsrc = 1;
                tex.src[0] = read(emit(Op::Div, p, w));
                tex.index = std::uint16_t(below(2));
                tex.target = std::uint8_t(below(5));
                push(tex);
                break;
            }
            default:
                emit(kOps[below(int(sizeof kOps / sizeof kOps[0]))], source(), source(), source(), chance(6));
                break;
        }
    }

    std::mt19937 rng_;
    Function f_;
    std::vector<std::uint32_t> values_;
};

// A lookup that is finite for every coordinate and differs by unit, target
// and lane. Like a texture unit, it reads only the coordinate lanes its
// target has (and w for the bias form), the projective form divided by w.
// It is smooth, so coordinates that differ by rounding (a quotient taken as
// a product by a reciprocal) give results that differ by rounding.
Vec4 sample(Op op, int unit, TexTarget target, const Vec4& given) {
    const int dimensions = target == Tex1D ? 1 : target == Tex2D || target == TexRect ? 2 : 3;
    Vec4 coordinate = given;
    if (op == Op::Txp)
        for (int c = 0; c < 3; ++c) coordinate[c] = given[c] / given[3];
    float mix = float(unit) * 0.11f + float(target) * 0.05f;
    for (int c = 0; c < 4; ++c) {
        if (c >= dimensions && !(c == 3 && op == Op::Txb)) continue;
        float x = std::isfinite(coordinate[c]) ? coordinate[c] : 0.25f;
        mix += x / (1 + std::fabs(x)) * (0.37f + 0.1f * float(c));
    }
    Vec4 v;
    for (int c = 0; c < 4; ++c) v[c] = 0.5f + 0.5f * std::sin(3 * mix + float(c));
    return v;
}

Fragment randomFragment(std::mt19937& rng) {
    Fragment frag;
    auto pick = [&] {
        std::uniform_int_distribution<int> d(0, int(sizeof kAwkward / sizeof kAwkward[0]) - 1);
        std::uniform_real_distribution<float> r(-4.0f, 4.0f);
        return rng() % 2 ? kAwkward[d(rng)] : r(rng);
    };
    for (Vec4& in : frag.inputs)
        for (float& x : in) x = pick();
    frag.uniforms.resize(2);
    for (Vec4& u : frag.uniforms)
        for (float& x : u) x = pick();
    frag.sample = sample;
    return frag;
}

// Whether the program's result on this fragment depends on what the passes
// may change: a NaN anywhere in a used component (a clamp's NaN), a division
// or power whose zero operand's sign decides an infinity's, or a division by
// a value whose reciprocal is not a normal float (the passes divide as the
// back end does, by RCP and MUL, and there the two part).
bool dependsOnEdges(const Function& f, const Fragment& frag) {
    const std::vector<std::uint8_t> used = usedComponents(f);
    std::vector<Vec4> values(f.insts.size());
    for (std::size_t n = 0; n < f.insts.size(); ++n) {
        const Inst& inst = f.insts[n];
        Vec4 s[4] = {};
        for (int i = 0; i < inst.nsrc; ++i)
            if (inst.src[i].def != kNone) s[i] = read(inst.src[i], values[inst.src[i].def]);
            else s[i] = Vec4{NAN, NAN, NAN, NAN};
        const std::uint8_t mine = isSink(inst.op) ? 0xf : used[n];
        for (int i = 0; i < inst.nsrc; ++i) {
            std::uint8_t lanes = lanesRead(inst, i, mine);
            for (int c = 0; c < 4; ++c)
                if ((lanes >> c & 1) && std::isnan(s[i][c])) return true;
        }
        if (mine && ((inst.op == Op::Rcp || inst.op == Op::Pow) && s[0][0] == 0)) return true;
        if (mine && inst.op == Op::Lit && s[0][1] == 0) return true;
        if (inst.op == Op::Div)
            for (int c = 0; c < 4; ++c)
                if ((mine >> c & 1) && !std::isnormal(1.0f / s[1][c])) return true;
        Vec4& v = values[n];
        switch (inst.op) {
            case Op::Input: v = frag.inputs[inst.index]; break;
            case Op::Uniform: v = inst.index < frag.uniforms.size() ? frag.uniforms[inst.index] : Vec4{}; break;
            case Op::Undef: v = Vec4{NAN, NAN, NAN, NAN}; break;
            case Op::Tex: case Op::Txp: case Op::Txb:
                v = sample(inst.op, inst.index, TexTarget(inst.target), s[0]);
                if (inst.sat)
                    for (float& x : v) x = std::fmin(std::fmax(x, 0.0f), 1.0f);
                break;
            case Op::Kil: case Op::Output: break;
            default: evaluate(inst, s, &v); break;
        }
        for (int c = 0; c < 4; ++c)
            if ((mine >> c & 1) && !isSink(inst.op) && std::isnan(v[c])) return true;
    }
    return false;
}

bool close(float a, float b) {
    if (std::isinf(a) || std::isinf(b)) return a == b;
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    const float scale = std::fmax(std::fmax(std::fabs(a), std::fabs(b)), 1e-30f);
    return std::fabs(a - b) <= 1e-5f * scale;
}

std::string differs(const Result& want, const Result& got) {
    if (want.killed != got.killed) return "discard differs";
    if (want.killed) return "";
    if (want.wroteColor != got.wroteColor || want.wroteDepth != got.wroteDepth) return "outputs written differ";
    for (int c = 0; c < 4; ++c)
        if (!close(want.color[c], got.color[c]))
            return "color[" + std::to_string(c) + "] " + std::to_string(want.color[c]) + " became " +
                   std::to_string(got.color[c]);
    if (want.wroteDepth && !close(want.depth, got.depth)) return "depth differs";
    return "";
}

struct NamedPass {
    const char* name;
    std::function<void(Function&)> run;
};

// Each pass of the optimiser's list alone, then optimize itself.
const std::vector<NamedPass> kPasses = [] {
    std::vector<NamedPass> out;
    for (const opt::Pass& p : opt::passes()) out.push_back({p.name, [run = p.run](Function& f) { run(f); }});
    out.push_back({"optimize", [](Function& f) { opt::optimize(f); }});
    return out;
}();
const int kSinglePasses = int(kPasses.size()) - 1;

TEST(RandomPrograms, everyPassKeepsWhatTheProgramComputes) {
    int compared = 0, skipped = 0;
    std::mt19937 fragments(7);
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        Function original = Generator(seed).make(12 + int(seed % 50));
        ASSERT_EQ(validate(original), "") << "seed " << seed << "\n" << print(original);
        std::vector<Fragment> frags;
        for (int i = 0; i < 6; ++i) frags.push_back(randomFragment(fragments));
        for (const NamedPass& pass : kPasses) {
            Function f = original;
            pass.run(f);
            ASSERT_EQ(validate(f), "") << pass.name << ", seed " << seed << "\n" << print(original);
            for (const Fragment& frag : frags) {
                if (dependsOnEdges(original, frag)) {
                    ++skipped;
                    continue;
                }
                ++compared;
                std::string why = differs(run(original, frag), run(f, frag));
                ASSERT_EQ(why, "") << pass.name << ", seed " << seed << "\nbefore:\n"
                                   << print(original) << "after:\n" << print(f);
            }
        }
    }
    // Most fragments must really be compared, or the property says little.
    EXPECT_GT(compared, skipped) << compared << " compared, " << skipped << " skipped";
}

TEST(RandomPrograms, passesInRandomOrderKeepWhatTheProgramComputes) {
    std::mt19937 order(11), fragments(13);
    for (std::uint32_t seed = 1000; seed < 1200; ++seed) {
        Function original = Generator(seed).make(40);
        Function f = original;
        std::string applied;
        for (int i = 0; i < 12; ++i) {
            const NamedPass& pass = kPasses[order() % kSinglePasses];
            pass.run(f);
            applied += std::string(" ") + pass.name;
            ASSERT_EQ(validate(f), "") << "after" << applied << ", seed " << seed << "\n" << print(original);
        }
        for (int i = 0; i < 6; ++i) {
            Fragment frag = randomFragment(fragments);
            if (dependsOnEdges(original, frag)) continue;
            ASSERT_EQ(differs(run(original, frag), run(f, frag)), "")
                << "after" << applied << ", seed " << seed << "\nbefore:\n" << print(original) << "after:\n" << print(f);
        }
    }
}

TEST(RandomPrograms, optimizeStopsWhereNoPassFindsMore) {
    for (std::uint32_t seed = 2000; seed < 2200; ++seed) {
        Function f = Generator(seed).make(60);
        opt::optimize(f);
        const std::string settled = print(f);
        for (const NamedPass& pass : kPasses) {
            Function again = f;
            pass.run(again);
            ASSERT_EQ(print(again), settled) << pass.name << " still changes seed " << seed;
        }
    }
}

// Instructions the back end emits code for (constants, inputs and uniforms
// are bindings); a division is at least a reciprocal and a product.
std::size_t computed(const Function& f) {
    std::size_t n = 0;
    for (const Inst& inst : f.insts) n += !isLeaf(inst.op) + (inst.op == Op::Div);
    return n;
}

TEST(RandomPrograms, optimizeNeverGrowsAProgram) {
    for (std::uint32_t seed = 3000; seed < 3200; ++seed) {
        Function f = Generator(seed).make(60);
        Function dceOnly = f;
        opt::eliminateDeadCode(dceOnly);
        opt::optimize(f);
        EXPECT_LE(computed(f), computed(dceOnly)) << "seed " << seed;
    }
}

}  // namespace

// Shapes that hostile input can make very long: copy chains, clamps, lane
// shuffles through VECs, repeated subexpressions and many constants.
Function hostile(int size) {
    Function f;
    Inst in;
    in.op = Op::Input;
    f.add(in);
    auto emit = [&](Op op, Src a, Src b = {}, Src c = {}, Src d = {}) {
        Inst inst;
        inst.op = op;
        inst.nsrc = std::uint8_t(sourceCount(op));
        inst.src[0] = a;
        inst.src[1] = b;
        inst.src[2] = c;
        inst.src[3] = d;
        Src s;
        s.def = f.add(inst);
        return s;
    };
    auto constant = [&](float x) {
        Inst k;
        k.op = Op::Const;
        for (float& c : k.imm) c = x;
        Src s;
        s.def = f.add(k);
        return s;
    };
    Src value;
    value.def = 0;
    for (int n = 0; int(f.insts.size()) < size; ++n) {
        Src lane = value;
        lane.swz[0] = 1, lane.swz[1] = 0;
        switch (n % 6) {
            case 0: value = emit(Op::Mov, emit(Op::Mov, lane)); break;
            case 1: value = emit(Op::Min, emit(Op::Max, value, constant(0)), constant(1)); break;
            case 2: value = emit(Op::Vec, lane, value, lane, value); break;
            case 3: value = emit(Op::Add, emit(Op::Mul, value, value), emit(Op::Mul, value, value)); break;
            case 4: value = emit(Op::Mad, value, constant(float(n % 1000) * 0.25f), constant(0.5f)); break;
            case 5: value = emit(Op::Div, value, constant(float(n % 7 + 1))); break;
        }
    }
    Inst out;
    out.op = Op::Output;
    out.nsrc = 1;
    out.src[0] = value;
    f.add(out);
    return f;
}

double secondsToOptimize(Function f) {
    auto start = std::chrono::steady_clock::now();
    opt::optimize(f);
    EXPECT_EQ(validate(f), "");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

#if defined(__SANITIZE_ADDRESS__) || !defined(__OPTIMIZE__)
constexpr double kSecondsFor400k = 40;  // instrumented or unoptimised builds
#else
constexpr double kSecondsFor400k = 8;
#endif

TEST(LargePrograms, optimizeTakesTimeLinearInTheirSize) {
    for (auto make : {+[](int n) { return hostile(n); }, +[](int n) { return Generator(5).make(n); }}) {
        // The best of two runs, so a busy machine does not decide. Four times
        // the size: about four times the time (more with cache misses), where
        // a quadratic walk would take sixteen.
        double small = std::min(secondsToOptimize(make(100000)), secondsToOptimize(make(100000)));
        double large = std::min(secondsToOptimize(make(400000)), secondsToOptimize(make(400000)));
        printf("optimize: 100k instructions %.3f s, 400k %.3f s\n", small, large);
        EXPECT_LT(large, kSecondsFor400k);
        // Twelve leaves room for a loaded machine and still tells a linear walk from a quadratic one.
        EXPECT_LT(large, 12 * small + 0.05) << "4 times the size took " << large / small << " times as long";
    }
}
