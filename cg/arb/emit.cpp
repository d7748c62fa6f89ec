// The text of an allocated program: header, declarations, instructions.
#include "cg/arb/machine.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cgc::arb {

namespace {

constexpr std::uint8_t kNoLane = 0xff;
const char kLane[] = "xyzw";

// The shortest decimal form that reads back as the same float, always with
// a point or an exponent, as the grammar's float constants have.
std::string number(float x) {
    char buf[48];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, double(x));
        float back = std::strtof(buf, nullptr);
        if (std::memcmp(&back, &x, sizeof x) == 0) break;
    }
    std::string s = buf;
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

const char* attributeName(std::uint32_t a) {
    static const char* const names[] = {
        "fragment.texcoord[0]", "fragment.texcoord[1]", "fragment.texcoord[2]", "fragment.texcoord[3]",
        "fragment.texcoord[4]", "fragment.texcoord[5]", "fragment.texcoord[6]", "fragment.texcoord[7]",
        "fragment.color",       "fragment.color.secondary", "fragment.position", "fragment.fogcoord",
    };
    return a < 12 ? names[a] : "fragment.color";
}

const char* targetName(int target) {
    static const char* const names[] = {"1D", "2D", "3D", "RECT", "CUBE"};
    return target >= 0 && target < 5 ? names[target] : "2D";
}

bool scalarOperands(Opcode op) {
    switch (op) {
        case Opcode::RCP: case Opcode::RSQ: case Opcode::EX2: case Opcode::LG2: case Opcode::SIN: case Opcode::COS:
        case Opcode::POW:
            return true;
        default: return false;
    }
}

class Writer {
public:
    explicit Writer(const Placement& pl) : pl_(pl) {}

    void instruction(const Instruction& mi, std::string& out) const {
        out += opcodeName(mi.op);
        if (mi.sat) out += "_SAT";
        out += ' ';
        if (mi.dstFile != File::None) {
            destination(mi, out);
            out += ", ";
        }
        if (mi.op == Opcode::SWZ) {
            extendedSwizzle(mi, out);
        } else {
            for (int s = 0; s < mi.nsrc; ++s) {
                if (s) out += ", ";
                operand(mi, mi.src[s], out);
            }
        }
        if (mi.op == Opcode::TEX || mi.op == Opcode::TXB || mi.op == Opcode::TXP) {
            out += ", texture[" + std::to_string(mi.unit) + "], ";
            out += targetName(mi.target);
        }
        out += ";\n";
    }

private:
    // The physical component a virtual lane of the destination landed on.
    std::uint8_t destinationLane(const Instruction& mi, int l) const {
        return mi.dstFile == File::Temp ? pl_.lane[mi.dst][l] : std::uint8_t(l);
    }

    std::uint8_t physical(const Operand& o, std::uint8_t sel) const {
        if (o.file != File::Temp) return sel < 4 ? sel : 0;
        const auto& lanes = pl_.lane[o.index];
        if (sel < 4 && lanes[sel] != kNoLane) return lanes[sel];
        for (std::uint8_t l : lanes)
            if (l != kNoLane) return l;  // an undefined component: any lane reads as well
        return 0;
    }

    void destination(const Instruction& mi, std::string& out) const {
        std::uint8_t mask = 0;
        for (int l = 0; l < 4; ++l)
            if (mi.mask & (1u << l)) mask |= std::uint8_t(1u << destinationLane(mi, l));
        switch (mi.dstFile) {
            case File::Temp: out += "r" + std::to_string(pl_.temp[mi.dst]); break;
            case File::Color: out += "result.color"; break;
            case File::Depth: out += "result.depth"; break;
            default: break;
        }
        if (mask != 0xf) {
            out += '.';
            for (int c = 0; c < 4; ++c)
                if (mask & (1u << c)) out += kLane[c];
        }
    }

    // SWZ's source is a bare register; each position names a component, 0
    // or 1, each with its own sign.
    void extendedSwizzle(const Instruction& mi, std::string& out) const {
        const Operand& o = mi.src[0];
        registerName(o, out);
        std::string position[4] = {"0", "0", "0", "0"};
        for (int l = 0; l < 4; ++l) {
            if (!(mi.mask & (1u << l))) continue;
            std::string& p = position[destinationLane(mi, l)];
            p = (mi.swzNeg & (1u << l)) ? "-" : "";
            if (mi.swzConstant & (1u << l))
                p += (mi.swzOne & (1u << l)) ? '1' : '0';
            else
                p += kLane[physical(o, o.sel[l])];
        }
        for (const std::string& p : position) out += ", " + p;
    }

    void registerName(const Operand& o, std::string& out) const {
        switch (o.file) {
            case File::Temp: out += "r" + std::to_string(pl_.temp[o.index]); break;
            case File::Attribute: out += attributeName(o.index); break;
            case File::Local: out += "program.local[" + std::to_string(o.index) + "]"; break;
            case File::Constant: out += "c" + std::to_string(pl_.param[o.index]); break;
            default: out += "0"; break;
        }
    }

    void operand(const Instruction& mi, const Operand& o, std::string& out) const {
        std::uint8_t sel[4] = {0, 1, 2, 3};
        std::uint8_t needed = 0;
        if (mi.shape == Shape::PerLane) {
            for (int l = 0; l < 4; ++l) {
                if (!(mi.mask & (1u << l))) continue;
                std::uint8_t at = destinationLane(mi, l);
                sel[at] = physical(o, o.sel[l]);
                needed |= std::uint8_t(1u << at);
            }
        } else {
            for (int q = 0; q < 4; ++q) {
                if (!(o.needed & (1u << q))) continue;
                sel[q] = physical(o, o.sel[q]);
                needed |= std::uint8_t(1u << q);
            }
        }
        if (scalarOperands(mi.op)) needed = 0x1;
        if (!needed) needed = 0x1;

        if (o.neg) out += '-';
        registerName(o, out);
        // Shortest swizzle that reads the needed positions right.
        bool same = true, identity = true;
        int firstNeeded = -1;
        for (int q = 0; q < 4; ++q) {
            if (!(needed & (1u << q))) continue;
            if (firstNeeded < 0) firstNeeded = q;
            same = same && sel[q] == sel[firstNeeded];
            identity = identity && sel[q] == q;
        }
        if (identity && !scalarOperands(mi.op)) return;
        if (same) {
            out += '.';
            out += kLane[sel[firstNeeded]];
            return;
        }
        std::uint8_t fill = sel[firstNeeded];
        out += '.';
        for (int q = 0; q < 4; ++q) {
            if (needed & (1u << q)) fill = sel[q];
            out += kLane[fill];
        }
    }

    const Placement& pl_;
};

}  // namespace

const char* opcodeName(Opcode op) {
    static const char* const names[] = {"ABS", "ADD", "CMP", "COS", "DP3", "DP4", "DPH", "DST", "EX2", "FLR",
                                        "FRC", "KIL", "LG2", "LIT", "LRP", "MAD", "MAX", "MIN", "MOV", "MUL",
                                        "POW", "RCP", "RSQ", "SGE", "SIN", "SLT", "SWZ", "TEX", "TXB", "TXP", "XPD"};
    return names[int(op)];
}

std::string emit(const Program& program, const Placement& placement, const std::vector<std::string>& headerComments) {
    std::string out = "!!ARBfp1.0\n";
    for (std::string line : headerComments) {
        for (char& c : line)
            if (c == '\n' || c == '\r') c = ' ';
        if (line.empty() || line[0] != '#') line = "# " + line;
        out += line;
        out += '\n';
    }
    const int temps = placement.stats.temporaries;
    for (int r = 0; r < temps; r += 16) {
        out += "TEMP ";
        for (int i = r; i < temps && i < r + 16; ++i) {
            if (i > r) out += ", ";
            out += "r" + std::to_string(i);
        }
        out += ";\n";
    }
    for (std::size_t n = 0; n < placement.paramConstant.size(); ++n) {
        const Constant& k = program.constants[placement.paramConstant[n]];
        out += "PARAM c" + std::to_string(n) + " = {";
        for (int c = 0; c < 4; ++c) {
            if (c) out += ", ";
            out += number((k.needed & (1u << c)) ? k.value[c] : 0.0f);
        }
        out += "};\n";
    }
    Writer writer(placement);
    out.reserve(out.size() + program.code.size() * 40);
    for (const Instruction& mi : program.code) writer.instruction(mi, out);
    out += "END\n";
    return out;
}

}  // namespace cgc::arb
