// Instruction selection (legalisation): the IR's ops, in the order arrange
// chose, become ARB instructions over virtual registers.
// Copies vanish into the reads of what they copy; a VEC becomes its
// producers writing the lanes of one register (or result.color) in place,
// plus one MOV per other register its lanes come from; DIV becomes one RCP
// per distinct divisor component and a MUL (no MUL for a dividend of 1).
#include "cg/arb/arrange.h"
#include "cg/arb/machine.h"
#include "cg/arb/opcodes.h"

#include <algorithm>
#include <cmath>

namespace cgc::arb {

namespace {

using ir::Inst;
using ir::kNone;
using ir::Op;
using ir::Src;

constexpr std::uint8_t kNoLane = 0xff;

std::uint8_t lowestLane(std::uint8_t mask) {
    for (std::uint8_t c = 0; c < 4; ++c)
        if (mask & (1u << c)) return c;
    return kNoLane;
}

// Where a value lives: a register (or result, or leaf binding), whether it
// holds the value negated, and for each component the lanes holding it.
struct Home {
    bool set = false;
    File file = File::None;
    std::uint32_t index = 0;
    bool neg = false;
    std::uint8_t lanes[4] = {0, 0, 0, 0};
};

class Selector {
public:
    Selector(const ir::Function& f, bool schedule) {
        Arrangement a = arrange(f, schedule);
        w_ = std::move(a.function);
        used_ = std::move(a.used);
        readers_ = std::move(a.readers);
        outputs_[0] = a.outputs[0];
        outputs_[1] = a.outputs[1];
        order_ = std::move(a.order);
        const std::size_t n = w_.insts.size();
        home_.resize(n);
        merged_.assign(n, false);
        constantOf_.assign(n, kNone);
        chooseHomes();
        for (std::uint32_t i : order_) build(i);
        checkConstants();
    }

    Program take() { return std::move(p_); }

private:
    const Inst& at(std::uint32_t i) const { return w_.insts[i]; }
    bool isLeafValue(std::uint32_t i) const { return ir::isLeaf(at(i).op); }
    bool undefinedSource(const Src& s) const { return s.def == kNone || at(s.def).op == Op::Undef; }

    // Consumers that only gather (VEC) or write a result (OUTPUT) choose
    // where their producers put their values; last consumers first, so a
    // gather knows its own place before it places its sources.
    void chooseHomes() {
        for (std::size_t n = order_.size(); n-- > 0;) {
            std::uint32_t i = order_[n];
            const Inst& inst = at(i);
            if (inst.op == Op::Output) {
                if (inst.index < 2 && outputs_[inst.index] == 1) placeOutputSource(inst);
            } else if (inst.op == Op::Vec) {
                if (!home_[i].set) home_[i] = defaultHome(i);
                placeGatherSources(i);
            }
        }
    }

    void placeOutputSource(const Inst& out) {
        const Src& s = out.src[0];
        std::uint32_t d = s.def;
        if (isLeafValue(d) || home_[d].set || readers_[d] != 1) return;
        Home h;
        h.set = true;
        h.file = out.index == ir::OutDepth ? File::Depth : File::Color;
        h.neg = s.neg;
        if (out.index == ir::OutDepth)
            h.lanes[s.swz[0]] = 1u << 2;
        else
            for (int c = 0; c < 4; ++c) h.lanes[s.swz[c]] |= std::uint8_t(1u << c);
        tryHome(d, h);
    }

    // A source read in several lanes with both signs is placed by the lanes
    // of one sign; the others copy it from there, negated.
    void placeGatherSources(std::uint32_t v) {
        const Inst& inst = at(v);
        const Home& hv = home_[v];
        struct Want {
            std::uint32_t def;
            std::uint8_t lanes[2][4];  // by sign relative to the gather's home
        } wants[4];
        int nwants = 0;
        for (int c = 0; c < 4; ++c) {
            const Src& s = inst.src[c];
            if (!(used_[v] & (1u << c)) || undefinedSource(s) || isLeafValue(s.def) || !hv.lanes[c]) continue;
            Want* w = nullptr;
            for (int k = 0; k < nwants; ++k)
                if (wants[k].def == s.def) w = &wants[k];
            if (!w) {
                w = &wants[nwants++];
                *w = Want{s.def, {{0, 0, 0, 0}, {0, 0, 0, 0}}};
            }
            w->lanes[s.neg != hv.neg][s.swz[c]] |= hv.lanes[c];
        }
        for (int k = 0; k < nwants; ++k) {
            for (int sign = 0; sign < 2 && !home_[wants[k].def].set; ++sign) {
                // A result register cannot be read back for the other sign's lanes.
                const std::uint8_t* other = wants[k].lanes[1 - sign];
                if (hv.file != File::Temp && (other[0] | other[1] | other[2] | other[3])) break;
                Home h;
                h.set = true;
                h.file = hv.file;
                h.index = hv.index;
                h.neg = sign != 0;
                std::copy(wants[k].lanes[sign], wants[k].lanes[sign] + 4, h.lanes);
                if (h.lanes[0] | h.lanes[1] | h.lanes[2] | h.lanes[3]) tryHome(wants[k].def, h);
            }
        }
    }

    // Puts value d at h if its producer can write there: it negates by its
    // sources when h is negated, a fixed-lane producer's lanes stay its own,
    // and every component read anywhere has a lane there (a result register
    // cannot be read back, so there d must have no other reader).
    bool tryHome(std::uint32_t d, Home h) {
        const Inst& inst = at(d);
        Shape shape = shapeOf(inst.op);
        if (h.neg && inst.op != Op::Vec && !negationSources(inst)) return false;
        if (shape == Shape::Fixed)
            for (int k = 0; k < 4; ++k)
                if (h.lanes[k] & ~(1u << k)) return false;
        if (shape == Shape::Replicated) {
            std::uint8_t all = h.lanes[0] | h.lanes[1] | h.lanes[2] | h.lanes[3];
            for (int k = 0; k < 4; ++k)
                if (!h.lanes[k]) h.lanes[k] = std::uint8_t(1u << lowestLane(all));
        }
        if (h.file != File::Temp && readers_[d] != 1) return false;
        for (int k = 0; k < 4; ++k)
            if ((used_[d] & (1u << k)) && !h.lanes[k]) return false;
        home_[d] = h;
        merged_[d] = true;
        return true;
    }

    std::uint32_t newRegister() {
        p_.pinned.push_back(0);
        aluWritten_.push_back(false);
        return p_.registers++;
    }

    Home defaultHome(std::uint32_t v) {
        Home h;
        h.set = true;
        h.file = File::Temp;
        h.index = newRegister();
        const Inst& inst = at(v);
        if (shapeOf(inst.op) == Shape::Replicated) {
            for (auto& l : h.lanes) l = 1;
        } else {
            for (int k = 0; k < 4; ++k)
                if (used_[v] & (1u << k)) h.lanes[k] = std::uint8_t(1u << k);
        }
        return h;
    }

    const Home& destination(std::uint32_t v) {
        if (!home_[v].set) home_[v] = defaultHome(v);
        return home_[v];
    }

    // The lanes of v's home that v's own instructions write.
    std::uint8_t writtenLanes(std::uint32_t v) const {
        const Home& h = home_[v];
        const Inst& inst = at(v);
        std::uint8_t mask = 0;
        for (int k = 0; k < 4; ++k) {
            if (!(used_[v] & (1u << k))) continue;
            if (inst.op == Op::Vec && undefinedSource(inst.src[k])) continue;
            mask |= h.lanes[k];
        }
        return mask;
    }

    std::uint32_t constantFor(std::uint32_t i) {
        if (constantOf_[i] == kNone) {
            Constant k;
            std::copy(at(i).imm, at(i).imm + 4, k.value);
            k.origin = at(i).origin;
            constantOf_[i] = std::uint32_t(p_.constants.size());
            p_.constants.push_back(k);
        }
        return constantOf_[i];
    }

    std::uint32_t newConstant(const float value[4], const Loc& origin) {
        Constant k;
        std::copy(value, value + 4, k.value);
        k.origin = origin;
        p_.constants.push_back(k);
        return std::uint32_t(p_.constants.size() - 1);
    }

    // Where a read of value d finds it.
    Home readHome(std::uint32_t d) {
        const Inst& inst = at(d);
        Home h;
        h.set = true;
        for (int k = 0; k < 4; ++k) h.lanes[k] = std::uint8_t(1u << k);
        switch (inst.op) {
            case Op::Const: h.file = File::Constant; h.index = constantFor(d); break;
            case Op::Input: h.file = File::Attribute; h.index = inst.index; break;
            case Op::Uniform: h.file = File::Local; h.index = inst.index; break;
            case Op::Undef: h.file = File::None; break;
            default: h = home_[d].set ? home_[d] : Home{}; break;
        }
        return h;
    }

    // A source as an operand whose position p reads component s.swz[p].
    Operand operandOf(const Src& s) {
        Operand o;
        o.needed = 0xf;
        if (s.def == kNone) return o;
        Home h = readHome(s.def);
        o.file = h.file;
        o.index = h.index;
        o.neg = s.neg != h.neg;
        for (int p = 0; p < 4; ++p) o.sel[p] = lowestLane(h.lanes[s.swz[p]]);
        return o;
    }

    // For a per-lane instruction: position L of the operand feeds virtual
    // lane L of the destination, which holds component k of the value.
    static Operand toDestinationLanes(const Operand& o, const Home& h, std::uint8_t mask) {
        Operand r = o;
        for (int k = 0; k < 4; ++k)
            for (int l = 0; l < 4; ++l)
                if (h.lanes[k] & mask & (1u << l)) r.sel[l] = o.sel[k];
        r.needed = mask;
        return r;
    }

    Instruction instruction(Opcode op, const Inst& from, const Home& h, std::uint8_t mask, Shape shape) {
        Instruction mi;
        mi.op = op;
        mi.sat = from.sat;
        mi.shape = shape;
        mi.dstFile = h.file;
        mi.dst = h.index;
        mi.mask = mask;
        mi.origin = from.origin;
        return mi;
    }

    void push(Instruction mi) {
        // An operand reading nothing (an undefined value in lanes nobody
        // needs) still has to name a register.
        for (int s = 0; s < mi.nsrc; ++s) {
            if (mi.src[s].file != File::None) continue;
            const Operand* other = nullptr;
            for (int t = 0; t < mi.nsrc && !other; ++t)
                if (mi.src[t].file != File::None) other = &mi.src[t];
            std::uint8_t needed = mi.src[s].needed;
            if (other) {
                mi.src[s] = *other;
            } else {
                const float zero[4] = {0, 0, 0, 0};
                mi.src[s] = Operand{};
                mi.src[s].file = File::Constant;
                mi.src[s].index = newConstant(zero, mi.origin);
            }
            mi.src[s].needed = needed;
        }
        for (int s = 0; s < mi.nsrc; ++s) {
            const Operand& o = mi.src[s];
            if (o.file != File::Constant) continue;
            for (int p = 0; p < 4; ++p)
                if ((o.needed & (1u << p)) && o.sel[p] < 4) p_.constants[o.index].needed |= std::uint8_t(1u << o.sel[p]);
        }
        if (mi.dstFile == File::Temp) {
            if (mi.shape == Shape::Fixed) p_.pinned[mi.dst] |= mi.mask;
            if (!isTextureInstruction(mi.op)) aluWritten_[mi.dst] = true;
        }
        p_.code.push_back(mi);
    }

    void build(std::uint32_t v) {
        const Inst& inst = at(v);
        switch (inst.op) {
            case Op::Vec: buildGather(v); break;
            case Op::Div: buildDivision(v); break;
            case Op::Output: buildOutput(inst); break;
            case Op::Kil: {
                Instruction mi;
                mi.op = Opcode::KIL;
                mi.shape = Shape::Fixed;
                mi.nsrc = 1;
                mi.src[0] = operandOf(inst.src[0]);
                mi.origin = inst.origin;
                push(mi);
                break;
            }
            default: buildPlain(v); break;
        }
    }

    void buildPlain(std::uint32_t v) {
        const Inst& inst = at(v);
        // A lookup written into a register that arithmetic already wrote in
        // this link would start a new indirection: it takes its own register,
        // and the gather copies it.
        if (ir::isTexture(inst.op) && merged_[v] && home_[v].file == File::Temp && aluWritten_[home_[v].index]) {
            home_[v] = defaultHome(v);
            merged_[v] = false;
        }
        const Home& h = destination(v);
        const Shape shape = shapeOf(inst.op);
        const std::uint8_t mask = writtenLanes(v);
        if (!mask) return;
        Instruction mi = instruction(opcodeOf(inst.op), inst, h, mask, shape);
        mi.nsrc = inst.nsrc;
        for (int s = 0; s < inst.nsrc; ++s) {
            Operand o = operandOf(inst.src[s]);
            if (shape == Shape::PerLane) {
                o = toDestinationLanes(o, h, mask);
            } else {
                o.needed = positionsRead(inst, s);
            }
            mi.src[s] = o;
        }
        if (h.neg) {
            std::uint8_t which = negationSources(inst);
            for (int s = 0; s < mi.nsrc; ++s)
                if (which & (1u << s)) mi.src[s].neg = !mi.src[s].neg;
        }
        if (ir::isTexture(inst.op)) {
            mi.unit = inst.index;
            mi.target = inst.target;
        }
        push(mi);
    }

    // a / b: the reciprocal of each distinct divisor lane, then one MUL. The
    // reciprocals go into the quotient's own lanes, which the MUL reads
    // before it overwrites them; a constant divisor becomes a constant factor.
    void buildDivision(std::uint32_t v) {
        const Inst& inst = at(v);
        const Home h = destination(v);
        const std::uint8_t mask = writtenLanes(v);
        if (buildReciprocals(v, h, mask)) return;
        Instruction mul = instruction(Opcode::MUL, inst, h, mask, Shape::PerLane);
        mul.nsrc = 2;
        mul.src[0] = toDestinationLanes(operandOf(inst.src[0]), h, mask);
        if (h.neg) mul.src[0].neg = !mul.src[0].neg;
        const Src& b = inst.src[1];

        if (!undefinedSource(b) && at(b.def).op == Op::Const) {
            float inverse[4] = {0, 0, 0, 0};
            bool finite = true;
            for (int k = 0; k < 4; ++k) {
                if (!(used_[v] & (1u << k))) continue;
                float x = at(b.def).imm[b.swz[k]];
                inverse[k] = 1.0f / (b.neg ? -x : x);
                finite = finite && std::isfinite(inverse[k]);
            }
            if (finite) {
                Operand k;
                k.file = File::Constant;
                k.index = newConstant(inverse, inst.origin);
                mul.src[1] = toDestinationLanes(k, h, mask);
                push(mul);
                return;
            }
        }

        Operand divisor = operandOf(b);
        std::uint32_t scratch = h.file == File::Temp ? h.index : newRegister();
        std::uint8_t keys[4], lanes[4];
        int nkeys = 0;
        Operand factor;
        factor.file = File::Temp;
        factor.index = scratch;
        factor.needed = mask;
        for (int k = 0; k < 4; ++k) {
            if (!(used_[v] & (1u << k)) || !(h.lanes[k] & mask)) continue;
            std::uint8_t key = divisor.sel[k];
            int found = -1;
            for (int j = 0; j < nkeys; ++j)
                if (keys[j] == key) found = j;
            if (found < 0) {
                found = nkeys++;
                keys[found] = key;
                lanes[found] = h.file == File::Temp ? lowestLane(h.lanes[k] & mask) : std::uint8_t(found);
                Instruction rcp = instruction(Opcode::RCP, inst, h, std::uint8_t(1u << lanes[found]), Shape::Replicated);
                rcp.sat = false;
                rcp.dstFile = File::Temp;
                rcp.dst = scratch;
                rcp.nsrc = 1;
                rcp.src[0] = divisor;
                rcp.src[0].sel[0] = key;
                rcp.src[0].needed = 0x1;
                push(rcp);
            }
            for (int l = 0; l < 4; ++l)
                if (h.lanes[k] & mask & (1u << l)) factor.sel[l] = lanes[found];
        }
        mul.src[1] = factor;
        push(mul);
    }

    // 1 / b and -1 / b are the reciprocals themselves, one RCP per distinct
    // divisor lane and sign, written where the quotient lives.
    bool buildReciprocals(std::uint32_t v, const Home& h, std::uint8_t mask) {
        const Inst& inst = at(v);
        const Src& a = inst.src[0];
        if (undefinedSource(a) || at(a.def).op != Op::Const) return false;
        bool negative[4] = {false, false, false, false};
        for (int k = 0; k < 4; ++k) {
            if (!(used_[v] & (1u << k))) continue;
            const float x = a.neg ? -at(a.def).imm[a.swz[k]] : at(a.def).imm[a.swz[k]];
            if (x != 1 && x != -1) return false;
            negative[k] = x < 0;
        }
        const Operand divisor = operandOf(inst.src[1]);
        struct Group {
            std::uint8_t sel, lanes;
            bool neg;
        } groups[4];
        int n = 0;
        for (int k = 0; k < 4; ++k) {
            const std::uint8_t lanes = h.lanes[k] & mask;
            if (!(used_[v] & (1u << k)) || !lanes) continue;
            const bool neg = negative[k] != h.neg;
            Group* g = nullptr;
            for (int j = 0; j < n; ++j)
                if (groups[j].sel == divisor.sel[k] && groups[j].neg == neg) g = &groups[j];
            if (!g) {
                g = &groups[n++];
                *g = Group{divisor.sel[k], 0, neg};
            }
            g->lanes |= lanes;
        }
        for (int j = 0; j < n; ++j) {
            Instruction rcp = instruction(Opcode::RCP, inst, h, groups[j].lanes, Shape::Replicated);
            rcp.nsrc = 1;
            rcp.src[0] = divisor;
            rcp.src[0].sel[0] = groups[j].sel;
            rcp.src[0].needed = 0x1;
            rcp.src[0].neg = divisor.neg != groups[j].neg;
            push(rcp);
        }
        return true;
    }

    // Lanes already written in place by their producers need nothing; the
    // rest take one MOV per register they come from and one for all their
    // constants, or an SWZ where a register's lanes differ in sign or the
    // constants are all 0 and 1.
    void buildGather(std::uint32_t v) {
        const Inst& inst = at(v);
        const Home& h = destination(v);
        struct Move {
            Operand from;
            std::uint8_t mask, negated;
        } moves[4];
        int nmoves = 0;
        float constant[4] = {0, 0, 0, 0};
        std::uint8_t constantMask = 0;
        for (int c = 0; c < 4; ++c) {
            const Src& s = inst.src[c];
            const std::uint8_t lanes = h.lanes[c];
            if (!(used_[v] & (1u << c)) || undefinedSource(s) || !lanes) continue;
            const bool sign = s.neg != h.neg;
            const std::uint32_t d = s.def;
            const int k = s.swz[c];
            const Home& hd = home_[d];
            if (!isLeafValue(d) && hd.set && hd.file == h.file && hd.index == h.index && hd.neg == sign &&
                (hd.lanes[k] & lanes) == lanes)
                continue;  // its producer wrote it here
            if (at(d).op == Op::Const) {
                for (int l = 0; l < 4; ++l)
                    if (lanes & (1u << l)) constant[l] = sign ? -at(d).imm[k] : at(d).imm[k];
                constantMask |= lanes;
                continue;
            }
            Home from = readHome(d);
            Move* m = nullptr;
            for (int j = 0; j < nmoves; ++j)
                if (moves[j].from.file == from.file && moves[j].from.index == from.index) m = &moves[j];
            if (!m) {
                m = &moves[nmoves++];
                m->from = Operand{};
                m->from.file = from.file;
                m->from.index = from.index;
                m->mask = m->negated = 0;
            }
            for (int l = 0; l < 4; ++l)
                if (lanes & (1u << l)) m->from.sel[l] = lowestLane(from.lanes[k]);
            m->mask |= lanes;
            if (sign != from.neg) m->negated |= lanes;
        }
        bool zeroOrOne = constantMask != 0;
        for (int l = 0; l < 4; ++l)
            if (constantMask & (1u << l)) zeroOrOne = zeroOrOne && (constant[l] == 0 || std::fabs(constant[l]) == 1);
        Inst mov = inst;
        mov.sat = false;
        if (constantMask && !(zeroOrOne && nmoves)) {
            Instruction mi = instruction(Opcode::MOV, mov, h, constantMask, Shape::PerLane);
            mi.nsrc = 1;
            mi.src[0].file = File::Constant;
            mi.src[0].index = newConstant(constant, inst.origin);
            mi.src[0].needed = constantMask;
            push(mi);
        }
        for (int j = 0; j < nmoves; ++j) {
            const Move& m = moves[j];
            const std::uint8_t constants = zeroOrOne && j == nmoves - 1 ? constantMask : 0;
            if (!constants && (m.negated == 0 || m.negated == m.mask)) {
                Instruction mi = instruction(Opcode::MOV, mov, h, m.mask, Shape::PerLane);
                mi.nsrc = 1;
                mi.src[0] = m.from;
                mi.src[0].neg = m.negated != 0;
                mi.src[0].needed = m.mask;
                push(mi);
                continue;
            }
            Instruction mi = instruction(Opcode::SWZ, mov, h, std::uint8_t(m.mask | constants), Shape::PerLane);
            mi.nsrc = 1;
            mi.src[0] = m.from;
            mi.src[0].needed = m.mask;
            mi.swzConstant = constants;
            mi.swzNeg = m.negated;
            for (int l = 0; l < 4; ++l) {
                if (!(constants & (1u << l))) continue;
                if (constant[l] != 0) mi.swzOne |= std::uint8_t(1u << l);
                if (std::signbit(constant[l])) mi.swzNeg |= std::uint8_t(1u << l);
            }
            push(mi);
        }
    }

    void buildOutput(const Inst& out) {
        const Src& s = out.src[0];
        const std::uint32_t d = s.def;
        if (!isLeafValue(d) && merged_[d] && (home_[d].file == File::Color || home_[d].file == File::Depth)) return;
        Operand o = operandOf(s);
        Home h;
        h.set = true;
        Instruction mi;
        mi.op = Opcode::MOV;
        mi.shape = Shape::PerLane;
        mi.origin = out.origin;
        mi.nsrc = 1;
        if (out.index == ir::OutDepth) {
            mi.dstFile = File::Depth;
            mi.mask = 1u << 2;
            o.sel[2] = o.sel[0];
        } else {
            mi.dstFile = File::Color;
            // Lanes gathered from nothing stay unwritten.
            for (int c = 0; c < 4; ++c)
                if (isLeafValue(d) || componentDefined(d, s.swz[c])) mi.mask |= std::uint8_t(1u << c);
        }
        o.needed = mi.mask;
        mi.src[0] = o;
        if (mi.mask) push(mi);
    }

    bool componentDefined(std::uint32_t d, int k) const {
        const Inst& inst = at(d);
        if (inst.op != Op::Vec) return true;
        return !undefinedSource(inst.src[k]);
    }

    void checkConstants() {
        for (const Constant& k : p_.constants)
            for (int c = 0; c < 4; ++c)
                if ((k.needed & (1u << c)) && !std::isfinite(k.value[c]))
                    fail(k.origin, "internal error: a constant that is not finite reached the ARB back end");
    }

    ir::Function w_;
    std::vector<std::uint8_t> used_;
    std::vector<std::uint32_t> readers_;
    std::uint32_t outputs_[2] = {0, 0};
    std::vector<std::uint32_t> order_;
    std::vector<Home> home_;
    std::vector<bool> merged_;
    std::vector<std::uint32_t> constantOf_;
    std::vector<bool> aluWritten_;
    Program p_;
};

}  // namespace

Program select(const ir::Function& f, bool schedule) { return Selector(f, schedule).take(); }

}  // namespace cgc::arb
