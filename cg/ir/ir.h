// The compiler's intermediate form: one straight-line block in SSA form.
// Every instruction defines one 4-component value; every source reads an
// earlier instruction's value through a swizzle and an optional negation.
// Inputs, uniforms and constants are instructions too, so a pass sees every
// value the same way. Ops are close to ARB fragment-program opcodes; the few
// that are not (Div, Vec, Output) are legalised by the back end. Float
// semantics are IEEE single precision; a pass never folds a value into a
// NaN or an infinity, which an ARB program cannot spell as a constant.
#pragma once

#include "cg/diag.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cgc::ir {

enum class Op : std::uint8_t {
    // Leaves: no sources.
    Const,    // imm[0..3]
    Input,    // fragment attribute `index` (Attr)
    Uniform,  // program.local[index]
    Undef,    // a value never written; reading it is the front end's error, so only unused lanes hold it

    // Per-component arithmetic: result.c = f(src0.c, src1.c, src2.c).
    Mov,  // a
    Add,  // a + b
    Mul,  // a * b
    Mad,  // a * b + c
    Div,  // a / b (legalised into RCP and MUL)
    Min,  // min(a, b)
    Max,  // max(a, b)
    Slt,  // a < b ? 1 : 0
    Sge,  // a >= b ? 1 : 0
    Cmp,  // a < 0 ? b : c
    Lrp,  // a * b + (1 - a) * c
    Abs,  // |a|
    Flr,  // floor(a)
    Frc,  // a - floor(a)

    // Scalar: read component x of the swizzled source(s), result replicated
    // to every component.
    Rcp,  // 1 / a
    Rsq,  // 1 / sqrt(|a|)
    Ex2,  // 2^a
    Lg2,  // log2(a)
    Pow,  // a^b
    Sin,  // sin(a)
    Cos,  // cos(a)

    // Reductions and fixed-shape ops, as ARB defines them.
    Dp3,  // a.x*b.x + a.y*b.y + a.z*b.z, replicated
    Dp4,  // over xyzw, replicated
    Dph,  // a.xyz . b.xyz + b.w, replicated
    Xpd,  // (a.y*b.z - a.z*b.y, a.z*b.x - a.x*b.z, a.x*b.y - a.y*b.x, undefined w)
    Lit,  // ARB LIT on a.x, a.y, a.w
    Dst,  // (1, a.y*b.y, a.z, b.w)

    // Texture lookups on unit `index` of target `target` (TexTarget).
    Tex,  // src0 = coordinate
    Txp,  // coordinate divided by its w
    Txb,  // level-of-detail bias in the coordinate's w

    // Composition: result.c = src[c] read at lane c (that is, its component
    // swz[c]); a source whose `def` is kNone leaves lane c undefined.
    Vec,

    // Sinks: no value, kept by dead-code elimination.
    Kil,     // discard the fragment if any lane of src0 is below 0
    Output,  // write src0 to result `index` (OutputReg)
};

enum Attr : std::uint16_t {
    AttrTexCoord0 = 0,  // ..AttrTexCoord0 + 7
    AttrColor0 = 8,
    AttrColor1 = 9,
    AttrPosition = 10,  // window position, WPOS
    AttrFog = 11,       // fog coordinate in x
};

enum TexTarget : std::uint8_t { Tex1D, Tex2D, Tex3D, TexRect, TexCube };

enum OutputReg : std::uint16_t {
    OutColor = 0,  // reads all four lanes of src0
    OutDepth = 1,  // reads lane x of src0, written to result.depth.z
};

constexpr std::uint32_t kNone = 0xffffffffu;

struct Src {
    std::uint32_t def = kNone;  // index of the defining instruction
    std::uint8_t swz[4] = {0, 1, 2, 3};  // lane c reads component swz[c]
    bool neg = false;
};

struct Inst {
    Op op = Op::Undef;
    bool sat = false;        // result clamped to [0, 1]
    std::uint8_t nsrc = 0;   // sources in use
    std::uint8_t target = 0; // Tex*: TexTarget
    std::uint16_t index = 0; // Input: Attr; Uniform: local slot; Tex*: unit; Output: OutputReg
    Src src[4];
    float imm[4] = {0, 0, 0, 0};  // Const
    Loc origin;  // the source place it came from, for errors found late (limits)
};

struct Function {
    std::vector<Inst> insts;  // sources refer only to earlier instructions

    std::uint32_t add(const Inst& inst) {
        insts.push_back(inst);
        return std::uint32_t(insts.size() - 1);
    }
};

// Facts about ops, shared by every pass.
int sourceCount(Op op);
bool isLeaf(Op op);
bool isSink(Op op);          // Kil, Output
bool isScalar(Op op);        // Rcp..Cos: read lane x, replicate
bool isReduction(Op op);     // Dp3, Dp4, Dph: replicated result
bool isTexture(Op op);       // Tex, Txp, Txb
bool isPerComponent(Op op);  // lane c of the result depends on lane c of each source only
const char* opName(Op op);   // "ADD", "DIV", "VEC", ...

// The lanes (bit c = lane c, before the source's swizzle) of source s that an
// instruction reads when lanes `used` of its result are needed. A sink (KIL,
// OUTPUT) reads what it reads whatever `used` says.
std::uint8_t lanesRead(const Inst& inst, int s, std::uint8_t used);

// The components (bit c = component c of the defining value) that some
// instruction reads, for every instruction; sinks count as reading.
std::vector<std::uint8_t> usedComponents(const Function& f);

// Drops the instructions whose `keep` entry is false and renumbers sources.
// Every dropped instruction must be unused by kept ones.
void compact(Function& f, const std::vector<bool>& keep);

// Replaces every read of instruction `from` by a read of `to`, composing
// swizzles and negation: a lane that read component k of `from` reads
// component swz[k] of `to.def`, negated when to.neg.
void replaceUses(Function& f, std::uint32_t from, const Src& to);

// Checks SSA order, source counts and indices, that constants are finite and
// that only computed values saturate. Returns "" or what is wrong.
std::string validate(const Function& f);

// Text form, one instruction a line, for tests and debugging:
//   %3 = ADD %1.xyxy, -%2.x
//   %4 = MUL_SAT %3, %0
//   %0 = CONST 0.5 1 0 0
//   %1 = INPUT texcoord0        (texcoord0..7, color0, color1, wpos, fog)
//   %2 = UNIFORM 1
//   %5 = TEX %1, 0 RECT         (unit, target: 1D 2D 3D RECT CUBE)
//   %6 = VEC %3.x, %4.y, _, _   (_: lane left undefined)
//        OUTPUT color %5         (color or depth; sinks print no %n =)
//        KIL -%3
// A single-letter swizzle repeats to all four lanes, as in ARB.
std::string print(const Function& f);

// Parses print's form; numbering must be dense and in order. Also takes
// blank lines, '#' comments and "CONST x" for x in every component. The
// result must pass validate. On a fault returns false and says why in *error
// ("line 3: unknown op 'FOO'").
bool parse(const std::string& text, Function* f, std::string* error);

}  // namespace cgc::ir
