#include "cg/front/preprocessor.h"

namespace cgc {

struct Preprocessor::Macro {};
struct Preprocessor::Frame {
    Lexer lexer;
};
struct Preprocessor::Conditional {};

Preprocessor::Preprocessor(Sources& sources, const Options& options) : sources_(sources), options_(options) {}
Preprocessor::~Preprocessor() = default;

void Preprocessor::start(std::string_view text, const std::string& fileName) {
    frames_.push_back(std::make_unique<Frame>(Frame{Lexer(text, sources_.addFile(fileName))}));
}

// Directives arrive with the next commit; until then a '#' is a plain token.
Token Preprocessor::next() { return frames_.back()->lexer.next(); }

}  // namespace cgc
