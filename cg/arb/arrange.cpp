#include "cg/arb/arrange.h"

#include <algorithm>

namespace cgc::arb {

namespace {

using ir::Inst;
using ir::kNone;
using ir::Op;
using ir::Src;

class Arranger {
public:
    Arranger(const ir::Function& f, bool schedule) : w_(f) {
        resolveAliases(ir::usedComponents(f));
        used_ = ir::usedComponents(w_);
        countReaders();
        arrange(schedule);
    }

    Arrangement take() {
        Arrangement a;
        a.function = std::move(w_);
        a.used = std::move(used_);
        a.readers = std::move(readers_);
        a.outputs[0] = outputs_[0];
        a.outputs[1] = outputs_[1];
        a.order = std::move(order_);
        return a;
    }

private:
    const Inst& at(std::uint32_t i) const { return w_.insts[i]; }
    bool isLeafValue(std::uint32_t i) const { return ir::isLeaf(at(i).op); }
    bool undefinedSource(const Src& s) const { return s.def == kNone || at(s.def).op == Op::Undef; }

    // Copies become views of what they copy, and a VEC that gathers nothing
    // (its lanes from one value, or constants only) becomes that view or a
    // constant, so nothing downstream sees either.
    void resolveAliases(const std::vector<std::uint8_t>& used) {
        std::vector<Src> alias(w_.insts.size());
        for (std::uint32_t i = 0; i < w_.insts.size(); ++i) {
            Inst& inst = w_.insts[i];
            for (int s = 0; s < inst.nsrc; ++s) {
                Src& src = inst.src[s];
                if (src.def == kNone || alias[src.def].def == kNone) continue;
                const Src& to = alias[src.def];
                Src composed;
                composed.def = to.def;
                for (int c = 0; c < 4; ++c) composed.swz[c] = to.swz[src.swz[c]];
                composed.neg = src.neg != to.neg;
                src = composed;
            }
            if (inst.op == Op::Mov && !inst.sat)
                alias[i] = inst.src[0];
            else if (inst.op == Op::Vec && used[i])
                foldGather(i, used[i], &alias[i]);
        }
    }

    void foldGather(std::uint32_t i, std::uint8_t lanes, Src* alias) {
        Inst& inst = w_.insts[i];
        bool any = false, single = true, constants = true;
        Src first;
        for (int c = 0; c < 4; ++c) {
            if (!(lanes & (1u << c)) || undefinedSource(inst.src[c])) continue;
            const Src& s = inst.src[c];
            if (!any) first = s;
            any = true;
            single = single && s.def == first.def && s.neg == first.neg;
            constants = constants && at(s.def).op == Op::Const;
        }
        if (!any) {
            becomeLeaf(inst, Op::Undef);
        } else if (single) {
            alias->def = first.def;
            alias->neg = first.neg;
            for (int c = 0; c < 4; ++c) {
                bool defined = (lanes & (1u << c)) && !undefinedSource(inst.src[c]);
                alias->swz[c] = defined ? inst.src[c].swz[c] : first.swz[lowestDefined(inst, lanes)];
            }
        } else if (constants) {
            float value[4] = {0, 0, 0, 0};
            for (int c = 0; c < 4; ++c) {
                if (!(lanes & (1u << c)) || undefinedSource(inst.src[c])) continue;
                const Src& s = inst.src[c];
                float x = at(s.def).imm[s.swz[c]];
                value[c] = s.neg ? -x : x;
            }
            becomeLeaf(inst, Op::Const);
            std::copy(value, value + 4, inst.imm);
        }
    }

    int lowestDefined(const Inst& inst, std::uint8_t lanes) const {
        for (int c = 0; c < 4; ++c)
            if ((lanes & (1u << c)) && !undefinedSource(inst.src[c])) return c;
        return 0;
    }

    static void becomeLeaf(Inst& inst, Op op) {
        inst.op = op;
        inst.nsrc = 0;
        inst.sat = false;
    }

    bool live(std::uint32_t i) const {
        const Inst& inst = at(i);
        if (inst.op == Op::Output || inst.op == Op::Kil) return !undefinedSource(inst.src[0]);
        return used_[i] && !ir::isLeaf(inst.op);
    }

    void countReaders() {
        readers_.assign(w_.insts.size(), 0);
        outputs_[0] = outputs_[1] = 0;
        for (std::uint32_t i = 0; i < w_.insts.size(); ++i) {
            if (!live(i)) continue;
            const Inst& inst = at(i);
            if (inst.op == Op::Output && inst.index < 2) ++outputs_[inst.index];
            std::uint8_t mine = ir::isSink(inst.op) ? 0xf : used_[i];
            std::uint32_t seen[4];
            int nseen = 0;
            for (int s = 0; s < inst.nsrc; ++s) {
                const Src& src = inst.src[s];
                if (src.def == kNone || !ir::lanesRead(inst, s, mine)) continue;
                if (std::find(seen, seen + nseen, src.def) != seen + nseen) continue;
                seen[nseen++] = src.def;
                ++readers_[src.def];
            }
        }
    }

    // Texture lookups whose coordinates were computed form a chain of
    // indirections; each link is a run of lookups followed by arithmetic.
    // A lookup goes in the earliest link its coordinate allows, lookups first
    // within a link, which gives the fewest links the data allows.
    // Arithmetic that ends a value's life goes as early as it can, other
    // arithmetic as late as its readers allow, so nothing is held across
    // lookups it does not feed. Outputs go last, in their order.
    void arrange(bool schedule) {
        const std::size_t n = w_.insts.size();
        for (std::uint32_t i = 0; i < n; ++i)
            if (live(i)) order_.push_back(i);
        if (!schedule) return;
        auto lookup = [&](std::uint32_t i) { return ir::isTexture(at(i).op) || at(i).op == Op::Kil; };
        auto computed = [&](const Src& s) { return !undefinedSource(s) && !isLeafValue(s.def); };
        std::vector<std::uint32_t> earliest(n, 1), latest(n, 0xffffffffu), link(n, 1);
        std::uint32_t last = 1;
        for (std::uint32_t i : order_) {
            const Inst& inst = at(i);
            std::uint32_t k = 1;
            for (int s = 0; s < inst.nsrc; ++s)
                if (computed(inst.src[s])) k = std::max(k, earliest[inst.src[s].def] + (lookup(i) ? 1 : 0));
            earliest[i] = k;
            last = std::max(last, k);
        }
        for (std::size_t idx = order_.size(); idx-- > 0;) {
            const std::uint32_t i = order_[idx];
            const Inst& inst = at(i);
            if (lookup(i)) {
                link[i] = earliest[i];
            } else if (inst.op == Op::Output) {
                link[i] = last;
            } else {
                bool ends = false;
                for (int s = 0; s < inst.nsrc; ++s)
                    ends = ends || (computed(inst.src[s]) && readers_[inst.src[s].def] == 1);
                link[i] = ends ? earliest[i] : std::max(earliest[i], std::min(latest[i], last));
            }
            for (int s = 0; s < inst.nsrc; ++s)
                if (computed(inst.src[s]))
                    latest[inst.src[s].def] = std::min(latest[inst.src[s].def], lookup(i) ? link[i] - 1 : link[i]);
        }
        std::stable_sort(order_.begin(), order_.end(), [&](std::uint32_t a, std::uint32_t b) {
            if (link[a] != link[b]) return link[a] < link[b];
            return lookup(a) && !lookup(b);
        });
    }

    ir::Function w_;
    std::vector<std::uint8_t> used_;
    std::vector<std::uint32_t> readers_;
    std::uint32_t outputs_[2] = {0, 0};
    std::vector<std::uint32_t> order_;
};

}  // namespace

Arrangement arrange(const ir::Function& f, bool schedule) { return Arranger(f, schedule).take(); }

}  // namespace cgc::arb
