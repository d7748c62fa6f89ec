// The back end's own form of a program, between the IR and the text: ARB
// instructions over virtual registers. A virtual register stands for one
// TEMP; its lanes are placed on the TEMP's components only by the
// allocator, so an instruction reading or writing it names virtual lanes.
#pragma once

#include "cg/limits.h"
#include "cg/options.h"
#include "cg/diag.h"
#include "cg/ir/ir.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace cgc::arb {

enum class Opcode : std::uint8_t {
    ABS, ADD, CMP, COS, DP3, DP4, DPH, DST, EX2, FLR, FRC, KIL, LG2, LIT, LRP,
    MAD, MAX, MIN, MOV, MUL, POW, RCP, RSQ, SGE, SIN, SLT, SWZ, TEX, TXB, TXP, XPD,
};

const char* opcodeName(Opcode op);
bool isTextureInstruction(Opcode op);  // TEX, TXB, TXP and KIL, as the limits count them

enum class File : std::uint8_t {
    None,       // nothing (an undefined value)
    Temp,       // virtual register `index`
    Attribute,  // fragment attribute `index` (ir::Attr)
    Local,      // program.local[index]
    Constant,   // constant `index` of Program::constants
    Color,      // result.color (written only)
    Depth,      // result.depth, its z (written only)
};

// How an instruction's result lanes relate to its sources' lanes.
enum class Shape : std::uint8_t {
    PerLane,     // lane c from lane c of each source: any lane can be computed anywhere
    Replicated,  // one value in every lane: any lane will do
    Fixed,       // each lane where the opcode puts it (TEX, XPD, LIT, DST)
};

struct Operand {
    File file = File::None;
    std::uint32_t index = 0;
    // What each position reads: a virtual lane (Temp) or a component. For a
    // PerLane instruction position c is destination virtual lane c, so the
    // allocator's placement of the destination re-aims the read.
    std::uint8_t sel[4] = {0, 1, 2, 3};
    std::uint8_t needed = 0;  // positions whose value matters
    bool neg = false;
};

struct Instruction {
    Opcode op = Opcode::MOV;
    bool sat = false;
    Shape shape = Shape::PerLane;
    File dstFile = File::None;  // Temp, Color, Depth; None for KIL
    std::uint32_t dst = 0;      // virtual register
    std::uint8_t mask = 0;      // virtual lanes written
    std::uint8_t nsrc = 0;
    Operand src[3];
    std::uint16_t unit = 0;     // texture image unit
    std::uint8_t target = 0;    // ir::TexTarget
    // SWZ, by destination virtual lane: lanes that take a constant instead of
    // the operand, which of those take 1 rather than 0, and negated lanes.
    std::uint8_t swzConstant = 0, swzOne = 0, swzNeg = 0;
    Loc origin;
};

struct Constant {
    float value[4] = {0, 0, 0, 0};
    std::uint8_t needed = 0;  // components some instruction reads
    Loc origin;
};

struct Program {
    std::vector<Instruction> code;
    std::uint32_t registers = 0;       // virtual registers
    std::vector<std::uint8_t> pinned;  // per virtual register: lanes that must stay on their own component
    std::vector<Constant> constants;
};

// Legalises f into ARB instructions. `schedule` orders texture lookups so
// that dependent lookups form as few indirections as the data allows;
// without it the IR's order is kept.
Program select(const ir::Function& f, bool schedule);

// Where the allocator put each virtual register, and what the program uses.
struct Placement {
    std::vector<std::uint32_t> temp;           // physical TEMP per virtual register
    std::vector<std::array<std::uint8_t, 4>> lane;  // physical component per virtual lane (0xff: unused)
    std::vector<int> param;                    // PARAM number per constant (-1: unused or merged away)
    std::vector<std::uint32_t> paramConstant;  // the constant each PARAM declares, in order
    Stats stats;
};

// A limit the program passes, at the instruction where it first does, or a
// texture unit sampled on two targets.
struct Fault {
    enum Kind {
        None, Instructions, AluInstructions, TexInstructions, Temporaries, Parameters, LocalParameters,
        Attributes, TextureUnits, TexIndirections, UnitTargets,
    };
    Kind kind = None;
    std::size_t at = 0;
    Loc loc;
    std::string what;
};

// Allocates TEMPs at component level, numbers PARAMs and counts every
// resource against `limits`. Returns the first fault in program order
// (kind None when there is none).
Fault allocate(const Program& program, const Limits& limits, Placement* placement);

// The program's text.
std::string emit(const Program& program, const Placement& placement, const std::vector<std::string>& headerComments);

}  // namespace cgc::arb
