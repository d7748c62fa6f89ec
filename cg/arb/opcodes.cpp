#include "cg/arb/opcodes.h"

namespace cgc::arb {

using ir::Inst;
using ir::Op;

Shape shapeOf(Op op) {
    switch (op) {
        case Op::Rcp: case Op::Rsq: case Op::Ex2: case Op::Lg2: case Op::Pow: case Op::Sin: case Op::Cos:
        case Op::Dp3: case Op::Dp4: case Op::Dph:
            return Shape::Replicated;
        case Op::Xpd: case Op::Lit: case Op::Dst: case Op::Tex: case Op::Txp: case Op::Txb:
            return Shape::Fixed;
        default: return Shape::PerLane;
    }
}

Opcode opcodeOf(Op op) {
    switch (op) {
        case Op::Mov: return Opcode::MOV;
        case Op::Add: return Opcode::ADD;
        case Op::Mul: return Opcode::MUL;
        case Op::Mad: return Opcode::MAD;
        case Op::Min: return Opcode::MIN;
        case Op::Max: return Opcode::MAX;
        case Op::Slt: return Opcode::SLT;
        case Op::Sge: return Opcode::SGE;
        case Op::Cmp: return Opcode::CMP;
        case Op::Lrp: return Opcode::LRP;
        case Op::Abs: return Opcode::ABS;
        case Op::Flr: return Opcode::FLR;
        case Op::Frc: return Opcode::FRC;
        case Op::Rcp: return Opcode::RCP;
        case Op::Rsq: return Opcode::RSQ;
        case Op::Ex2: return Opcode::EX2;
        case Op::Lg2: return Opcode::LG2;
        case Op::Pow: return Opcode::POW;
        case Op::Sin: return Opcode::SIN;
        case Op::Cos: return Opcode::COS;
        case Op::Dp3: return Opcode::DP3;
        case Op::Dp4: return Opcode::DP4;
        case Op::Dph: return Opcode::DPH;
        case Op::Xpd: return Opcode::XPD;
        case Op::Lit: return Opcode::LIT;
        case Op::Dst: return Opcode::DST;
        case Op::Tex: return Opcode::TEX;
        case Op::Txp: return Opcode::TXP;
        case Op::Txb: return Opcode::TXB;
        case Op::Kil: return Opcode::KIL;
        default: return Opcode::MOV;
    }
}

std::uint8_t negationSources(const Inst& inst) {
    if (inst.sat) return 0;
    switch (inst.op) {
        case Op::Mov: case Op::Mul: case Op::Div: case Op::Dp3: case Op::Dp4: case Op::Xpd: case Op::Rcp:
        case Op::Sin:
            return 0x1;
        case Op::Add: return 0x3;
        case Op::Mad: return 0x5;
        case Op::Lrp: case Op::Cmp: return 0x6;
        case Op::Dph: return 0x2;
        default: return 0;
    }
}

std::uint8_t positionsRead(const Inst& inst, int s) {
    switch (inst.op) {
        case Op::Dp3: case Op::Xpd: return 0x7;
        case Op::Dp4: return 0xf;
        case Op::Dph: return s == 0 ? 0x7 : 0xf;
        case Op::Lit: return 0xb;
        case Op::Dst: return s == 0 ? 0x6 : 0xa;
        case Op::Tex: case Op::Txp: case Op::Txb: return ir::lanesRead(inst, s, 0xf);
        default: return isScalar(inst.op) ? 0x1 : 0xf;
    }
}

bool isTextureInstruction(Opcode op) {
    return op == Opcode::TEX || op == Opcode::TXB || op == Opcode::TXP || op == Opcode::KIL;
}

}  // namespace cgc::arb
