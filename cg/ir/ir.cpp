#include "cg/ir/ir.h"

namespace cgc::ir {

int sourceCount(Op op) {
    switch (op) {
        case Op::Const: case Op::Input: case Op::Uniform: case Op::Undef: return 0;
        case Op::Mov: case Op::Abs: case Op::Flr: case Op::Frc: case Op::Rcp: case Op::Rsq: case Op::Ex2:
        case Op::Lg2: case Op::Sin: case Op::Cos: case Op::Lit: case Op::Tex: case Op::Txp: case Op::Txb:
        case Op::Kil: case Op::Output: return 1;
        case Op::Add: case Op::Mul: case Op::Div: case Op::Min: case Op::Max: case Op::Slt: case Op::Sge:
        case Op::Pow: case Op::Dp3: case Op::Dp4: case Op::Dph: case Op::Xpd: case Op::Dst: return 2;
        case Op::Mad: case Op::Cmp: case Op::Lrp: return 3;
        case Op::Vec: return 4;
    }
    return 0;
}

bool isLeaf(Op op) { return op == Op::Const || op == Op::Input || op == Op::Uniform || op == Op::Undef; }
bool isSink(Op op) { return op == Op::Kil || op == Op::Output; }
bool isScalar(Op op) {
    switch (op) {
        case Op::Rcp: case Op::Rsq: case Op::Ex2: case Op::Lg2: case Op::Pow: case Op::Sin: case Op::Cos: return true;
        default: return false;
    }
}
bool isReduction(Op op) { return op == Op::Dp3 || op == Op::Dp4 || op == Op::Dph; }
bool isTexture(Op op) { return op == Op::Tex || op == Op::Txp || op == Op::Txb; }
bool isPerComponent(Op op) {
    switch (op) {
        case Op::Mov: case Op::Add: case Op::Mul: case Op::Mad: case Op::Div: case Op::Min: case Op::Max:
        case Op::Slt: case Op::Sge: case Op::Cmp: case Op::Lrp: case Op::Abs: case Op::Flr: case Op::Frc:
        case Op::Vec: return true;
        default: return false;
    }
}

const char* opName(Op op) {
    switch (op) {
        case Op::Const: return "CONST";
        case Op::Input: return "INPUT";
        case Op::Uniform: return "UNIFORM";
        case Op::Undef: return "UNDEF";
        case Op::Mov: return "MOV";
        case Op::Add: return "ADD";
        case Op::Mul: return "MUL";
        case Op::Mad: return "MAD";
        case Op::Div: return "DIV";
        case Op::Min: return "MIN";
        case Op::Max: return "MAX";
        case Op::Slt: return "SLT";
        case Op::Sge: return "SGE";
        case Op::Cmp: return "CMP";
        case Op::Lrp: return "LRP";
        case Op::Abs: return "ABS";
        case Op::Flr: return "FLR";
        case Op::Frc: return "FRC";
        case Op::Rcp: return "RCP";
        case Op::Rsq: return "RSQ";
        case Op::Ex2: return "EX2";
        case Op::Lg2: return "LG2";
        case Op::Pow: return "POW";
        case Op::Sin: return "SIN";
        case Op::Cos: return "COS";
        case Op::Dp3: return "DP3";
        case Op::Dp4: return "DP4";
        case Op::Dph: return "DPH";
        case Op::Xpd: return "XPD";
        case Op::Lit: return "LIT";
        case Op::Dst: return "DST";
        case Op::Tex: return "TEX";
        case Op::Txp: return "TXP";
        case Op::Txb: return "TXB";
        case Op::Vec: return "VEC";
        case Op::Kil: return "KIL";
        case Op::Output: return "OUTPUT";
    }
    return "?";
}

namespace {

// Lanes of the coordinate a lookup reads: the target's dimensions, plus w
// for the projective and bias forms.
std::uint8_t coordinateLanes(const Inst& inst) {
    std::uint8_t lanes = 0;
    switch (TexTarget(inst.target)) {
        case Tex1D: lanes = 0x1; break;
        case Tex2D: case TexRect: lanes = 0x3; break;
        case Tex3D: case TexCube: lanes = 0x7; break;
    }
    if (inst.op != Op::Tex) lanes |= 0x8;
    return lanes;
}

}  // namespace

std::uint8_t lanesRead(const Inst& inst, int s, std::uint8_t used) {
    if (s >= inst.nsrc || inst.src[s].def == kNone) return 0;
    switch (inst.op) {
        case Op::Vec: return (used >> s) & 1 ? std::uint8_t(1u << s) : 0;
        case Op::Kil: return 0xf;
        case Op::Output: return inst.index == OutDepth ? 0x1 : 0xf;
        default: break;
    }
    if (!used) return 0;
    if (isPerComponent(inst.op)) return used;
    if (isScalar(inst.op)) return 0x1;
    if (isTexture(inst.op)) return coordinateLanes(inst);
    switch (inst.op) {
        case Op::Dp3: return 0x7;
        case Op::Dp4: return 0xf;
        case Op::Dph: return s == 0 ? 0x7 : 0xf;
        case Op::Xpd: return 0x7;
        case Op::Lit: return 0xb;  // x, y, w
        case Op::Dst: return s == 0 ? 0x6 : 0xa;  // a.yz, b.yw
        default: return 0xf;
    }
}

std::vector<std::uint8_t> usedComponents(const Function& f) {
    std::vector<std::uint8_t> used(f.insts.size(), 0);
    for (std::size_t i = f.insts.size(); i-- > 0;) {
        const Inst& inst = f.insts[i];
        std::uint8_t mine = isSink(inst.op) ? 0xf : used[i];
        for (int s = 0; s < inst.nsrc; ++s) {
            const Src& src = inst.src[s];
            if (src.def == kNone) continue;
            std::uint8_t lanes = lanesRead(inst, s, mine);
            for (int c = 0; c < 4; ++c)
                if (lanes & (1u << c)) used[src.def] |= std::uint8_t(1u << src.swz[c]);
        }
    }
    return used;
}

void compact(Function& f, const std::vector<bool>& keep) {
    std::vector<std::uint32_t> renumber(f.insts.size(), kNone);
    std::size_t next = 0;
    for (std::size_t i = 0; i < f.insts.size(); ++i) {
        if (!keep[i]) continue;
        renumber[i] = std::uint32_t(next);
        Inst inst = f.insts[i];
        for (int s = 0; s < inst.nsrc; ++s)
            if (inst.src[s].def != kNone) inst.src[s].def = renumber[inst.src[s].def];
        f.insts[next++] = inst;
    }
    f.insts.resize(next);
}

void replaceUses(Function& f, std::uint32_t from, const Src& to) {
    for (Inst& inst : f.insts) {
        for (int s = 0; s < inst.nsrc; ++s) {
            Src& src = inst.src[s];
            if (src.def != from) continue;
            Src composed;
            composed.def = to.def;
            for (int c = 0; c < 4; ++c) composed.swz[c] = to.swz[src.swz[c]];
            composed.neg = src.neg != to.neg;
            src = composed;
        }
    }
}

}  // namespace cgc::ir
