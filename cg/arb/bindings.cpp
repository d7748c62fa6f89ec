// What an ARB fragment program's names bind to: fragment attributes, GL
// state, program parameters, results and constant vectors.
#include "cg/arb/reader_impl.h"

namespace cgc::arbread {

namespace {

// Texture coordinate sets, lights, program matrices and draw buffers Mesa
// and the common drivers have.
constexpr int kCoordinateSets = 8;
constexpr int kLights = 8;
constexpr int kProgramMatrices = 8;
constexpr int kDrawBuffers = 8;

bool oneOf(std::string_view word, std::initializer_list<const char*> words) {
    for (const char* w : words)
        if (word == w) return true;
    return false;
}

std::string list(std::initializer_list<const char*> words) {
    std::string out;
    for (const char* w : words) out += (out.empty() ? "" : ", ") + std::string(w);
    return out;
}

}  // namespace

std::string Reader::fragmentBinding() {
    expect(".");
    const Loc at = tok().loc;
    const std::string item = word("fragment attribute");
    std::string key = "fragment." + item;
    if (item == "color") {
        if (is(".") && (peek().text == "primary" || peek().text == "secondary")) {
            advance();
            if (tok().text == "secondary") key += ".secondary";
            advance();
        }
    } else if (item == "texcoord") {
        int set = 0;
        const Loc setAt = peek().loc;
        if (accept("[")) {
            set = integer("texture coordinate set");
            expect("]");
        }
        if (set >= kCoordinateSets)
            fail(setAt, "fragment.texcoord[" + std::to_string(set) + "] is past the last texture coordinate set (at most " +
                            std::to_string(kCoordinateSets) + ")");
        key += "[" + std::to_string(set) + "]";
    } else if (item != "fogcoord" && item != "position") {
        fail(at, "unknown fragment attribute " + quoted(item) + "; the attributes are color, texcoord, fogcoord and position");
    }
    return key;
}

int Reader::resultBinding() {
    expect(".");
    const Loc at = tok().loc;
    const std::string item = word("result");
    if (item == "depth") return 1;
    if (item != "color") fail(at, "unknown result " + quoted(item) + "; a fragment program writes color and depth");
    if (is("[")) {
        if (!drawBuffersOption_) fail(tok().loc, "'result.color[N]' needs 'OPTION ARB_draw_buffers;'");
        advance();
        const Loc bufferAt = tok().loc;
        if (integer("draw buffer number") >= kDrawBuffers)
            fail(bufferAt, "draw buffer past the last one (at most " + std::to_string(kDrawBuffers) + ")");
        expect("]");
    }
    return 0;
}

int Reader::programBinding(bool multiple, std::string* key) {
    expect(".");
    const Loc at = tok().loc;
    const std::string space = word("'env' or 'local'");
    if (space != "env" && space != "local") fail(at, "unknown program parameter space " + quoted(space) + "; it is env or local");
    expect("[");
    const Loc firstAt = tok().loc;
    const int first = integer("parameter number");
    int last = first;
    if (multiple && accept("..")) {
        last = integer("parameter number");
        if (last < first) fail(firstAt, "program." + space + "[" + std::to_string(first) + ".." + std::to_string(last) + "] counts down");
    }
    expect("]");
    // Env and local parameters come in the same number on every driver we meet.
    if (last >= limits_.localParameters)
        fail(firstAt, "program." + space + "[" + std::to_string(last) + "] is past the last " + space +
                          " parameter (at most " + std::to_string(limits_.localParameters) + ")");
    *key = "program." + space + "[" + std::to_string(first) + "]";
    return last - first + 1;
}

int Reader::stateBinding(bool multiple, std::string* key) {
    const std::size_t from = pos_;
    expect(".");
    const Loc at = tok().loc;
    const std::string item = word("state item");
    auto property = [&](std::initializer_list<const char*> allowed) {
        expect(".");
        const Loc p = tok().loc;
        const std::string name = word("state property");
        if (!oneOf(name, allowed)) fail(p, "unknown property " + quoted(name) + " of state." + item + "; it is one of " + list(allowed));
        return name;
    };
    auto face = [&] {
        if (is(".") && (peek().text == "front" || peek().text == "back")) advance(), advance();
    };
    auto number = [&](const char* what, int most, bool optional) {
        if (optional && !is("[")) return;
        expect("[");
        const Loc n = tok().loc;
        if (integer(what) >= most) fail(n, std::string(what) + " past the last one (at most " + std::to_string(most) + ")");
        expect("]");
    };
    int rows = 1;
    if (item == "material") {
        face();
        property({"ambient", "diffuse", "specular", "emission", "shininess"});
    } else if (item == "light") {
        number("light number", kLights, false);
        if (property({"ambient", "diffuse", "specular", "position", "attenuation", "spot", "half"}) == "spot")
            property({"direction"});
    } else if (item == "lightmodel") {
        face();
        property({"ambient", "scenecolor"});
    } else if (item == "lightprod") {
        number("light number", kLights, false);
        face();
        property({"ambient", "diffuse", "specular"});
    } else if (item == "texenv") {
        number("texture environment unit", kCoordinateSets, true);
        property({"color"});
    } else if (item == "fog") {
        property({"color", "params"});
    } else if (item == "depth") {
        property({"range"});
    } else if (item == "matrix") {
        expect(".");
        const Loc m = tok().loc;
        const std::string matrix = word("matrix name");
        if (matrix == "modelview") {
            const Loc n = peek().loc;
            if (accept("[")) {
                if (integer("modelview matrix number") != 0) fail(n, "only modelview[0] exists without vertex blending");
                expect("]");
            }
        } else if (matrix == "texture") {
            number("texture matrix number", kCoordinateSets, true);
        } else if (matrix == "program") {
            number("program matrix number", kProgramMatrices, false);
        } else if (matrix != "projection" && matrix != "mvp") {
            fail(m, "unknown matrix " + quoted(matrix) + "; it is one of modelview, projection, mvp, texture, program");
        }
        if (is(".") && oneOf(peek().text, {"inverse", "transpose", "invtrans"})) advance(), advance();
        if (is(".") && peek().text == "row") {
            advance(), advance();
            expect("[");
            const Loc r = tok().loc;
            const int first = integer("row number");
            int last = first;
            if (multiple && accept("..")) last = integer("row number");
            if (first > 3 || last > 3 || last < first) fail(r, "matrix rows are numbered 0 to 3, in order");
            expect("]");
            rows = last - first + 1;
        } else if (multiple) {
            rows = 4;
        } else {
            fail(m, "a single parameter is one matrix row, as in 'state.matrix.mvp.row[0]'");
        }
    } else {
        fail(at, "unknown state " + quoted(item) +
                     "; it is one of material, light, lightmodel, lightprod, texenv, fog, depth, matrix");
    }
    *key = "state";
    for (std::size_t k = from; k < pos_; ++k) *key += tokens_[k].text;
    return rows;
}

int Reader::constantVector() {
    expect("{");
    int components = 0;
    do {
        const Loc at = tok().loc;
        if (!accept("-")) accept("+");
        if (tok().kind != Token::Number) errorNear("number expected");
        advance();
        if (++components > 4) fail(at, "a constant vector has at most 4 components");
    } while (accept(","));
    expect("}");
    return components;
}

void Reader::useParameter(const std::string& key) {
    parameters_.insert(key);
    limit(kParameters, int(parameters_.size()) + declaredParameters_, end());
}

void Reader::useAttribute(const std::string& key) {
    attributes_.insert(key);
    limit(kAttributes, int(attributes_.size()), end());
}

}  // namespace cgc::arbread
