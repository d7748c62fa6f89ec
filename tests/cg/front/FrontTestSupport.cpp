#include "FrontTestSupport.h"

#include <sstream>

namespace fronttest {

using cgc::ast::Expr;
using cgc::ast::Operator;

std::string shape(const Expr* e) {
    if (!e) return "null";
    std::string s;
    switch (e->kind) {
    case Expr::Literal: {
        std::ostringstream out;
        out << e->number;
        return out.str();
    }
    case Expr::Name: return e->name;
    case Expr::Member: return "(. " + shape(e->args[0]) + " " + e->name + ")";
    case Expr::Call: s = "(call " + e->name; break;
    case Expr::Construct: s = "(" + e->type.name; break;
    case Expr::Cast: s = "(cast " + (e->type.structDef ? "struct" : e->type.name); break;
    case Expr::Index: s = "([]"; break;
    case Expr::Conditional: s = "(?:"; break;
    case Expr::InitList: s = "({}"; break;
    default:
        s = std::string("(") + cgc::ast::spelling(e->op);
        if (e->op == Operator::PostInc || e->op == Operator::PostDec) s += "post";
        if (e->op == Operator::Negate || e->op == Operator::Plus) s += "u";
    }
    for (const Expr* a : e->args) s += " " + shape(a);
    return s + ")";
}

}  // namespace fronttest
