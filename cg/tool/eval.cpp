#include "cg/tool/eval.h"

#include "cg/interp/interp.h"
#include "cg/sema/sema.h"
#include "heat/pattern.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cgtool {

namespace {

bool number(const std::string& text, double* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    *out = std::strtod(text.c_str(), &end);
    return *end == '\0' && errno == 0 && std::isfinite(*out);
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (;;) {
        std::size_t comma = text.find(',', at);
        parts.push_back(text.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (comma == std::string::npos) return parts;
        at = comma + 1;
    }
}

// The field heat2d starts with: the background, and the face stamped on
// it around the centre.
cgc::interp::Texture startingField() {
    cgc::interp::Texture t;
    t.kind = cgc::SamplerKind::SamplerRect;
    t.width = t.height = kInitialGridSize;
    t.texels.assign(std::size_t(t.width * t.height), {kBackground[0], kBackground[1], kBackground[2], kBackground[3]});
    for (const CellOffset& o : initialPattern) {
        cgc::interp::Vec4& cell = t.texels[std::size_t((t.height / 2 + o.dy) * t.width + t.width / 2 + o.dx)];
        for (int c = 0; c < 4; ++c) cell[std::size_t(c)] += kStamp[c];
    }
    return t;
}

bool writeLine(const std::string& line) {
    return std::fputs(line.c_str(), stdout) >= 0 && std::fputc('\n', stdout) != EOF;
}

}  // namespace

bool parseCell(const std::string& text, EvalRequest* request, std::string* why) {
    std::vector<std::string> parts = split(text);
    double x, y;
    if (parts.size() != 2 || !number(parts[0], &x) || !number(parts[1], &y) || x != std::floor(x) || y != std::floor(y) ||
        x < 0 || y < 0 || x >= kInitialGridSize || y >= kInitialGridSize) {
        *why = "--eval takes a cell X,Y, each 0 to " + std::to_string(kInitialGridSize - 1) + ", got '" + text + "'";
        return false;
    }
    request->x = int(x);
    request->y = int(y);
    return true;
}

bool parseSet(const std::string& text, EvalRequest* request, std::string* why) {
    std::size_t eq = text.find('=');
    std::vector<double> values;
    bool ok = eq != std::string::npos && eq > 0;
    if (ok)
        for (const std::string& part : split(text.substr(eq + 1))) {
            double v;
            ok = ok && number(part, &v);
            values.push_back(v);
        }
    if (!ok) {
        *why = "--set takes NAME=v[,v...], got '" + text + "'";
        return false;
    }
    request->sets.emplace_back(text.substr(0, eq), values);
    return true;
}

int evaluate(const std::string& text, const std::string& name, const cgc::Options& options, const EvalRequest& request) {
    // What heat2d would refuse is refused here too: a debugger for a program
    // that never runs would mislead.
    const cgc::Compiled compiled = cgc::compile(text, name, options);
    if (!compiled.ok) {
        std::fprintf(stderr, "%s\n", compiled.error.c_str());
        return 1;
    }
    cgc::interp::Program program;
    std::string error;
    if (!program.load(text, name, options, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    cgc::interp::Inputs inputs;
    const double cx = request.x + 0.5, cy = request.y + 0.5;
    inputs.attributes[std::size_t(cgc::inputAttribute("TEXCOORD0"))] = {cx, cy, 0, 1};
    inputs.attributes[std::size_t(cgc::inputAttribute("WPOS"))] = {cx, cy, 0.5, 1};
    inputs.attributes[std::size_t(cgc::inputAttribute("COLOR0"))] = {1, 1, 1, 1};
    auto set = [&](const cgc::ParameterInfo& p, const std::vector<double>& v) {
        for (int r = 0; r < p.slots; ++r) {
            cgc::interp::Vec4& reg = inputs.locals[p.slot + r];
            for (int c = 0; c < p.components; ++c) {
                std::size_t i = std::size_t(r * p.components + c);
                reg[std::size_t(c)] = v.size() == 1 ? v[0] : v[i];
            }
        }
    };
    const cgc::interp::Texture field = startingField();
    for (const cgc::ParameterInfo& p : program.parameters()) {
        if (p.kind == cgc::ParameterInfo::Sampler) {
            if (p.target == int(cgc::SamplerKind::SamplerRect)) inputs.textures[p.slot] = field;
        } else if (p.name == "invGridSize") {
            set(p, {1.0 / kInitialGridSize, 1.0 / kInitialGridSize, 0, 0});
        } else if (p.name == "timestep") {
            set(p, {0.4, 0.4, 0.4, 0.4});
        }
    }
    for (const auto& [key, values] : request.sets) {
        const cgc::ParameterInfo* found = nullptr;
        for (const cgc::ParameterInfo& p : program.parameters())
            if (p.name == key) found = &p;
        if (!found || found->kind != cgc::ParameterInfo::Numeric) {
            std::fprintf(stderr, "heat2d-cg: %s has no numeric uniform parameter named '%s'\n", name.c_str(), key.c_str());
            return 1;
        }
        std::size_t want = std::size_t(found->components * found->slots);
        if (values.size() != 1 && values.size() != want) {
            std::fprintf(stderr, "heat2d-cg: --set %s takes %zu %s, got %zu\n", key.c_str(), want,
                         want == 1 ? "value" : "values (or one for all)", values.size());
            return 1;
        }
        set(*found, values);
    }

    bool written = true;
    cgc::interp::Trace trace;
    if (request.trace)
        trace = [&](const cgc::Loc& loc, const std::string& target, const std::string& value) {
            written = writeLine(program.fileName(loc) + ":" + std::to_string(loc.line) + ": " + target + " = " + value) &&
                      written;
        };
    const cgc::interp::Result r = program.run(inputs, trace);
    if (!r.ok) {
        std::fprintf(stderr, "%s\n", r.error.c_str());
        return 1;
    }
    cgc::interp::Vec4 colour = r.color;
    if (r.discarded) {
        // The cell keeps the field's value, as heat2d leaves it.
        const cgc::interp::Vec4& old = field.texels[std::size_t(request.y * field.width + request.x)];
        colour = old;
        written = writeLine("discarded: the cell keeps its value") && written;
    }
    if (r.wroteDepth) written = writeLine("depth " + cgc::interp::formatNumber(r.depth)) && written;
    std::string line;
    for (int c = 0; c < 4; ++c) line += (c ? " " : "") + cgc::interp::formatNumber(colour[std::size_t(c)]);
    written = writeLine(line) && written;
    if (std::fflush(stdout) != 0 || !written) {
        std::fprintf(stderr, "heat2d-cg: cannot write '<stdout>': %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}

}  // namespace cgtool
