#include "cg/compiler.h"

#include "cg/checker.h"
#include "cg/codegen.h"
#include "cg/lexer.h"
#include "cg/parser.h"

#include <exception>
#include <new>

namespace cgc {

Compiled compile(const char* source, std::size_t length, const std::string& sourceName) {
    Compiled out;
    try {
        Lexer lexer(source, length, sourceName);
        Program program = parse(lexer);
        Checked checked = check(program, sourceName);
        out.text = generate(program, checked, sourceName);
        for (const Symbol* s : checked.parameters) {
            ParameterInfo p;
            p.name = s->name;
            p.sampler = s->kind == Symbol::Sampler;
            p.rect = s->type.base == Type::SamplerRect;
            p.width = s->type.width;
            p.slot = s->slot;
            out.parameters.push_back(p);
        }
        out.ok = true;
    } catch (const CompileError& e) {
        out.error = e.message;
    } catch (const std::bad_alloc&) {
        out.error = sourceName + ": error: out of memory";
    } catch (const std::exception& e) {
        out.error = sourceName + ": error: internal compiler error (" + e.what() + ")";
    }
    return out;
}

Compiled compile(const std::string& source, const std::string& sourceName) {
    return compile(source.data(), source.size(), sourceName);
}

}  // namespace cgc
