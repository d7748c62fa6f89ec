#include "cg/compiler.h"

#include "cg/checker.h"
#include "cg/codegen.h"
#include "cg/lexer.h"
#include "cg/parser.h"

#include <exception>
#include <new>

namespace cgc {

Compiled compile(const char* source, std::size_t length, const std::string& sourceName, const Options&) {
    Compiled out;
    try {
        Lexer lexer(source, length, sourceName);
        Program program = parse(lexer);
        Checked checked = check(program, sourceName);
        out.text = generate(program, checked, sourceName);
        for (const Symbol* s : checked.parameters) {
            ParameterInfo p;
            p.name = s->name;
            bool sampler = s->kind == Symbol::Sampler;
            p.kind = sampler ? ParameterInfo::Sampler : ParameterInfo::Numeric;
            p.target = s->type.base == Type::SamplerRect ? 3 : 1;
            p.components = sampler ? 1 : s->type.width;
            p.typeName = typeName(s->type);
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

Compiled compile(const std::string& source, const std::string& sourceName, const Options& options) {
    return compile(source.data(), source.size(), sourceName, options);
}

}  // namespace cgc
