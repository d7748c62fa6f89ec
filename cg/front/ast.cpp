#include "cg/front/ast.h"

namespace cgc::ast {

const char* spelling(Operator op) {
    switch (op) {
    case Operator::Add: case Operator::Plus: return "+";
    case Operator::Sub: case Operator::Negate: return "-";
    case Operator::Mul: return "*";
    case Operator::Div: return "/";
    case Operator::Mod: return "%";
    case Operator::Lt: return "<";
    case Operator::Le: return "<=";
    case Operator::Gt: return ">";
    case Operator::Ge: return ">=";
    case Operator::Eq: return "==";
    case Operator::Ne: return "!=";
    case Operator::LogicalAnd: return "&&";
    case Operator::LogicalOr: return "||";
    case Operator::BitAnd: return "&";
    case Operator::BitOr: return "|";
    case Operator::BitXor: return "^";
    case Operator::Shl: return "<<";
    case Operator::Shr: return ">>";
    case Operator::Comma: return ",";
    case Operator::Assign: return "=";
    case Operator::AddAssign: return "+=";
    case Operator::SubAssign: return "-=";
    case Operator::MulAssign: return "*=";
    case Operator::DivAssign: return "/=";
    case Operator::ModAssign: return "%=";
    case Operator::AndAssign: return "&=";
    case Operator::OrAssign: return "|=";
    case Operator::XorAssign: return "^=";
    case Operator::ShlAssign: return "<<=";
    case Operator::ShrAssign: return ">>=";
    case Operator::Not: return "!";
    case Operator::BitNot: return "~";
    case Operator::PreInc: case Operator::PostInc: return "++";
    case Operator::PreDec: case Operator::PostDec: return "--";
    }
    return "?";
}

Expr* Tree::newExpr(Expr::Kind kind, Loc loc) {
    Expr& e = exprs.emplace_back();
    e.kind = kind;
    e.loc = loc;
    e.id = std::uint32_t(exprs.size() - 1);
    return &e;
}

Stmt* Tree::newStmt(Stmt::Kind kind, Loc loc) {
    Stmt& s = stmts.emplace_back();
    s.kind = kind;
    s.loc = loc;
    s.id = std::uint32_t(stmts.size() - 1);
    return &s;
}

StructDef* Tree::newStruct(Loc loc) {
    StructDef& s = structs.emplace_back();
    s.loc = loc;
    s.id = std::uint32_t(structs.size() - 1);
    return &s;
}

Function* Tree::newFunction(Loc loc) {
    Function& f = functions.emplace_back();
    f.loc = loc;
    f.id = std::uint32_t(functions.size() - 1);
    return &f;
}

}  // namespace cgc::ast
