// Register allocation at component level, in one pass over the straight-line
// code: a lane of a virtual register is live from its register's first write
// to its last read; a physical component is reused once its value is dead.
// The same pass numbers the PARAMs and counts what the program uses.
#include "cg/arb/machine.h"

#include <cstring>
#include <map>
#include <set>

namespace cgc::arb {

namespace {

constexpr std::uint8_t kNoLane = 0xff;
constexpr std::uint32_t kNoTemp = 0xffffffffu;

int bits(unsigned m) { return __builtin_popcount(m & 0xfu); }

const char* targetName(int target) {
    static const char* const names[] = {"1D", "2D", "3D", "RECT", "CUBE"};
    return target >= 0 && target < 5 ? names[target] : "?";
}

class Allocator {
public:
    Allocator(const Program& p, const Limits& limits, Placement* out) : p_(p), limits_(limits), out_(*out) {}

    Fault run() {
        liveness();
        out_ = Placement{};
        out_.temp.assign(p_.registers, kNoTemp);
        out_.lane.assign(p_.registers, {kNoLane, kNoLane, kNoLane, kNoLane});
        out_.param.assign(p_.constants.size(), -1);
        for (std::size_t t = 0; t < p_.code.size(); ++t) {
            for (const auto& [g, l] : release_[t]) freeLane(g, l);
            const Instruction& mi = p_.code[t];
            if (mi.dstFile == File::Temp && start_[mi.dst] == t) place(mi.dst, t, mi);
            for (int s = 0; s < mi.nsrc; ++s)
                if (mi.src[s].file == File::Temp && out_.temp[mi.src[s].index] == kNoTemp)
                    fail(mi.origin, "internal error: the ARB back end read a register nothing wrote");
            indirection(t, mi);
            count(t, mi);
        }
        Stats& st = out_.stats;
        st.instructions = int(p_.code.size());
        st.aluInstructions = alu_;
        st.texInstructions = tex_;
        st.texIndirections = indirections_;
        st.temporaries = int(freeMask_.size());
        st.parameters = bindings_;
        return firstFault();
    }

private:
    void liveness() {
        const std::size_t n = p_.code.size(), r = p_.registers;
        start_.assign(r, n);
        written_.assign(r, 0);
        lookupFirst_.assign(r, false);
        std::vector<std::array<long, 4>> first(r, {-1, -1, -1, -1}), last(r, {-1, -1, -1, -1});
        for (std::size_t t = 0; t < n; ++t) {
            const Instruction& mi = p_.code[t];
            for (int s = 0; s < mi.nsrc; ++s) {
                const Operand& o = mi.src[s];
                if (o.file != File::Temp) continue;
                for (int q = 0; q < 4; ++q)
                    if ((o.needed & (1u << q)) && o.sel[q] < 4) last[o.index][o.sel[q]] = long(t);
            }
            if (mi.dstFile != File::Temp) continue;
            if (start_[mi.dst] == n) {
                start_[mi.dst] = t;
                lookupFirst_[mi.dst] = isTextureInstruction(mi.op);
            }
            written_[mi.dst] |= mi.mask;
            for (int l = 0; l < 4; ++l)
                if ((mi.mask & (1u << l)) && first[mi.dst][l] < 0) first[mi.dst][l] = long(t);
        }
        // A lane is free again for the instruction that reads it last (which
        // reads before it writes), or just after its write when nothing reads it.
        release_.assign(n + 1, {});
        for (std::uint32_t g = 0; g < r; ++g)
            for (std::uint8_t l = 0; l < 4; ++l) {
                if (first[g][l] < 0) continue;
                long at = last[g][l] > first[g][l] ? last[g][l] : first[g][l] + 1;
                release_[std::size_t(at)].push_back({g, l});
            }
    }

    void setMask(std::uint32_t r, std::uint8_t mask) {
        if (freeMask_[r]) byMask_[freeMask_[r]].erase(r);
        freeMask_[r] = mask;
        if (mask) byMask_[mask].insert(r);
    }

    void freeLane(std::uint32_t g, std::uint8_t l) {
        std::uint32_t r = out_.temp[g];
        std::uint8_t ph = out_.lane[g][l];
        if (r == kNoTemp || ph == kNoLane) return;
        setMask(r, std::uint8_t(freeMask_[r] | (1u << ph)));
    }

    // Best fit: the register with the fewest free components that takes the
    // lanes (pinned ones on their own components), lowest number first. A
    // lookup avoids registers arithmetic touched in the current indirection
    // where one fits, since writing one of those starts a new indirection.
    void place(std::uint32_t g, std::size_t t, const Instruction& mi) {
        const std::uint8_t want = written_[g];
        const std::uint8_t pinned = std::uint8_t(p_.pinned[g] & want);
        const int loose = bits(want & ~pinned);
        bool avoidTouched = lookupFirst_[g];
        if (avoidTouched && mi.nsrc > 0 && mi.src[0].file == File::Temp) {
            std::uint32_t c = out_.temp[mi.src[0].index];
            if (c != kNoTemp && tempsOutput_[c] == node_) avoidTouched = false;  // a new one starts anyway
        }
        std::uint32_t best = kNoTemp, bestTouched = kNoTemp;
        int bestBits = 5, bestTouchedBits = 5;
        for (unsigned m = 1; m < 16; ++m) {
            if ((m & pinned) != pinned || bits(m & ~pinned) < loose || byMask_[m].empty()) continue;
            int b = bits(m);
            int scanned = 0;
            for (std::uint32_t r : byMask_[m]) {
                bool touched = avoidTouched && aluTemps_[r] == node_;
                if (!touched) {
                    if (b < bestBits || (b == bestBits && r < best)) best = r, bestBits = b;
                    break;
                }
                if (b < bestTouchedBits || (b == bestTouchedBits && r < bestTouched)) bestTouched = r, bestTouchedBits = b;
                if (++scanned >= 8) break;
            }
        }
        if (best == kNoTemp) best = bestTouched;
        if (best == kNoTemp) {
            best = std::uint32_t(freeMask_.size());
            freeMask_.push_back(0);
            aluTemps_.push_back(0);
            tempsOutput_.push_back(0);
            setMask(best, 0xf);
            if (int(freeMask_.size()) > limits_.temporaries) note(Fault::Temporaries, t);
        }
        std::uint8_t taken = pinned;
        for (std::uint8_t l = 0; l < 4; ++l)
            if (pinned & (1u << l)) out_.lane[g][l] = l;
        for (std::uint8_t l = 0; l < 4; ++l) {
            if (!(want & ~pinned & (1u << l))) continue;
            std::uint8_t open = std::uint8_t(freeMask_[best] & ~taken);
            std::uint8_t ph = (open & (1u << l)) ? l : std::uint8_t(__builtin_ctz(open));
            out_.lane[g][l] = ph;
            taken |= std::uint8_t(1u << ph);
        }
        out_.temp[g] = best;
        setMask(best, std::uint8_t(freeMask_[best] & ~taken));
    }

    std::uint32_t tempOf(const Operand& o) const { return o.file == File::Temp ? out_.temp[o.index] : kNoTemp; }

    // Counted as the extension defines it: per TEMP, ignoring masks and swizzles.
    void indirection(std::size_t t, const Instruction& mi) {
        const std::uint32_t dst = mi.dstFile == File::Temp ? out_.temp[mi.dst] : kNoTemp;
        if (isTextureInstruction(mi.op)) {
            const std::uint32_t coordinate = tempOf(mi.src[0]);
            bool fromThisNode = coordinate != kNoTemp && tempsOutput_[coordinate] == node_;
            bool overwrites = mi.op != Opcode::KIL && dst != kNoTemp && aluTemps_[dst] == node_;
            if (fromThisNode || overwrites) {
                ++node_;
                ++indirections_;
                if (indirections_ > limits_.texIndirections) note(Fault::TexIndirections, t);
            }
        } else {
            for (int s = 0; s < mi.nsrc; ++s)
                if (tempOf(mi.src[s]) != kNoTemp) aluTemps_[tempOf(mi.src[s])] = node_;
            if (dst != kNoTemp) aluTemps_[dst] = node_;
        }
        if (mi.op != Opcode::KIL && dst != kNoTemp) tempsOutput_[dst] = node_;
    }

    void count(std::size_t t, const Instruction& mi) {
        if (std::size_t(limits_.instructions) < t + 1) note(Fault::Instructions, t);
        if (isTextureInstruction(mi.op)) {
            if (++tex_ > limits_.texInstructions) note(Fault::TexInstructions, t);
        } else if (++alu_ > limits_.aluInstructions) {
            note(Fault::AluInstructions, t);
        }
        for (int s = 0; s < mi.nsrc; ++s) {
            const Operand& o = mi.src[s];
            switch (o.file) {
                case File::Constant: bindConstant(o.index, t); break;
                case File::Local:
                    if (locals_.insert(o.index).second) bind(t);
                    if (int(o.index) >= maxLocal_) maxLocal_ = int(o.index) + 1;
                    if (int(o.index) >= limits_.localParameters) note(Fault::LocalParameters, t);
                    break;
                case File::Attribute:
                    if (!(attributes_ & (1u << o.index)) && ++attributeCount_ > limits_.attributes)
                        note(Fault::Attributes, t);
                    attributes_ |= 1u << o.index;
                    break;
                default: break;
            }
        }
        if (mi.op == Opcode::TEX || mi.op == Opcode::TXB || mi.op == Opcode::TXP) {
            if (mi.unit >= maxUnit_) maxUnit_ = mi.unit + 1;
            if (mi.unit >= limits_.textureUnits) note(Fault::TextureUnits, t);
            auto [it, fresh] = unitTarget_.insert({mi.unit, mi.target});
            if (!fresh && it->second != mi.target && conflict_.kind == Fault::None) {
                conflict_.kind = Fault::UnitTargets;
                conflict_.at = t;
                conflict_.loc = mi.origin;
                conflict_.what = "texture unit " + std::to_string(mi.unit) + " is sampled as " +
                                 targetName(it->second) + " and as " + targetName(mi.target) +
                                 "; a unit takes one target";
            }
        }
    }

    void bind(std::size_t t) {
        if (++bindings_ > limits_.parameters) note(Fault::Parameters, t);
    }

    // Constants with the same value in every component read share a PARAM.
    void bindConstant(std::uint32_t c, std::size_t t) {
        if (out_.param[c] >= 0) return;
        const Constant& k = p_.constants[c];
        std::array<std::uint32_t, 4> key{};
        for (int i = 0; i < 4; ++i) {
            float x = (k.needed & (1u << i)) ? k.value[i] : 0.0f;
            std::memcpy(&key[i], &x, sizeof x);
        }
        auto [it, fresh] = params_.insert({key, int(out_.paramConstant.size())});
        if (fresh) {
            out_.paramConstant.push_back(c);
            bind(t);
        }
        out_.param[c] = it->second;
    }

    void note(Fault::Kind kind, std::size_t t) {
        if (first_[kind] < 0) first_[kind] = long(t);
    }

    Fault firstFault() const {
        Fault f = conflict_;
        for (int k = Fault::Instructions; k <= Fault::TexIndirections; ++k) {
            if (first_[k] < 0 || (f.kind != Fault::None && std::size_t(first_[k]) >= f.at)) continue;
            f.kind = Fault::Kind(k);
            f.at = std::size_t(first_[k]);
        }
        if (f.kind == Fault::None || f.kind == Fault::UnitTargets) return f;
        f.loc = p_.code[f.at].origin;
        const Stats& st = out_.stats;
        auto needs = [](int n, const char* what, int limit) {
            return "program needs " + std::to_string(n) + " " + what + "; this target allows " + std::to_string(limit);
        };
        switch (f.kind) {
            case Fault::Instructions: f.what = needs(st.instructions, "instructions", limits_.instructions); break;
            case Fault::AluInstructions:
                f.what = needs(st.aluInstructions, "ALU instructions", limits_.aluInstructions);
                break;
            case Fault::TexInstructions:
                f.what = needs(st.texInstructions, "texture instructions", limits_.texInstructions);
                break;
            case Fault::Temporaries: f.what = needs(st.temporaries, "temporaries", limits_.temporaries); break;
            case Fault::Parameters: f.what = needs(st.parameters, "parameters", limits_.parameters); break;
            case Fault::LocalParameters:
                f.what = needs(maxLocal_, "local parameters", limits_.localParameters);
                break;
            case Fault::Attributes: f.what = needs(attributeCount_, "attributes", limits_.attributes); break;
            case Fault::TextureUnits: f.what = needs(maxUnit_, "texture units", limits_.textureUnits); break;
            case Fault::TexIndirections:
                f.what = needs(st.texIndirections, "texture indirections", limits_.texIndirections);
                break;
            default: break;
        }
        return f;
    }

    const Program& p_;
    const Limits& limits_;
    Placement& out_;

    std::vector<std::size_t> start_;
    std::vector<std::uint8_t> written_;
    std::vector<bool> lookupFirst_;
    std::vector<std::vector<std::pair<std::uint32_t, std::uint8_t>>> release_;

    std::vector<std::uint8_t> freeMask_;
    std::set<std::uint32_t> byMask_[16];

    std::vector<std::uint32_t> aluTemps_, tempsOutput_;  // the node that last touched each TEMP
    std::uint32_t node_ = 1;
    int indirections_ = 1;

    int alu_ = 0, tex_ = 0, bindings_ = 0;
    std::map<std::array<std::uint32_t, 4>, int> params_;
    std::set<std::uint32_t> locals_;
    int maxLocal_ = 0;
    std::uint32_t attributes_ = 0;
    int attributeCount_ = 0;
    std::map<int, int> unitTarget_;
    int maxUnit_ = 0;

    long first_[Fault::UnitTargets + 1] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    Fault conflict_;
};

}  // namespace

Fault allocate(const Program& program, const Limits& limits, Placement* placement) {
    return Allocator(program, limits, placement).run();
}

}  // namespace cgc::arb
