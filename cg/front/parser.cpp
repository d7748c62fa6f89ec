#include "cg/front/parser.h"

#include "cg/front/lexer.h"
#include "cg/front/preprocessor.h"
#include "cg/types/types.h"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <unordered_set>

namespace cgc {

namespace {

using ast::Expr;
using ast::Operator;
using ast::Stmt;

// The built-in type words, as the type table decides them.
const std::unordered_set<std::string_view>& builtinTypeWords() {
    static const std::unordered_set<std::string_view> set(builtinTypeNames().begin(), builtinTypeNames().end());
    return set;
}

// Binary and assignment operators by precedence, lowest first; ?: sits
// between assignment and ||.
struct BinaryRule {
    Operator op = Operator::Add;
    std::uint8_t precedence = 0;  // 0: not a binary operator
    Expr::Kind kind = Expr::Binary;
};

constexpr int kCommaPrecedence = 1, kAssignPrecedence = 2, kConditionalPrecedence = 3;

const std::array<BinaryRule, std::size_t(Tok::Count)>& binaryRules() {
    static const std::array<BinaryRule, std::size_t(Tok::Count)> rules = [] {
        std::array<BinaryRule, std::size_t(Tok::Count)> r{};
        struct Row {
            Tok tok;
            Operator op;
            int precedence;
            Expr::Kind kind;
        };
        const Row rows[] = {
            {Tok::Comma, Operator::Comma, kCommaPrecedence, Expr::Binary},
            {Tok::Assign, Operator::Assign, kAssignPrecedence, Expr::Assign},
            {Tok::PlusAssign, Operator::AddAssign, kAssignPrecedence, Expr::Assign},
            {Tok::MinusAssign, Operator::SubAssign, kAssignPrecedence, Expr::Assign},
            {Tok::StarAssign, Operator::MulAssign, kAssignPrecedence, Expr::Assign},
            {Tok::SlashAssign, Operator::DivAssign, kAssignPrecedence, Expr::Assign},
            {Tok::PercentAssign, Operator::ModAssign, kAssignPrecedence, Expr::Assign},
            {Tok::AmpAssign, Operator::AndAssign, kAssignPrecedence, Expr::Assign},
            {Tok::PipeAssign, Operator::OrAssign, kAssignPrecedence, Expr::Assign},
            {Tok::CaretAssign, Operator::XorAssign, kAssignPrecedence, Expr::Assign},
            {Tok::ShlAssign, Operator::ShlAssign, kAssignPrecedence, Expr::Assign},
            {Tok::ShrAssign, Operator::ShrAssign, kAssignPrecedence, Expr::Assign},
            {Tok::Question, Operator::Add, kConditionalPrecedence, Expr::Conditional},
            {Tok::PipePipe, Operator::LogicalOr, 4, Expr::Binary},
            {Tok::AmpAmp, Operator::LogicalAnd, 5, Expr::Binary},
            {Tok::Pipe, Operator::BitOr, 6, Expr::Binary},
            {Tok::Caret, Operator::BitXor, 7, Expr::Binary},
            {Tok::Amp, Operator::BitAnd, 8, Expr::Binary},
            {Tok::EqEq, Operator::Eq, 9, Expr::Binary},
            {Tok::NotEq, Operator::Ne, 9, Expr::Binary},
            {Tok::Less, Operator::Lt, 10, Expr::Binary},
            {Tok::LessEq, Operator::Le, 10, Expr::Binary},
            {Tok::Greater, Operator::Gt, 10, Expr::Binary},
            {Tok::GreaterEq, Operator::Ge, 10, Expr::Binary},
            {Tok::Shl, Operator::Shl, 11, Expr::Binary},
            {Tok::Shr, Operator::Shr, 11, Expr::Binary},
            {Tok::Plus, Operator::Add, 12, Expr::Binary},
            {Tok::Minus, Operator::Sub, 12, Expr::Binary},
            {Tok::Star, Operator::Mul, 13, Expr::Binary},
            {Tok::Slash, Operator::Div, 13, Expr::Binary},
            {Tok::Percent, Operator::Mod, 13, Expr::Binary},
        };
        for (const Row& row : rows) r[std::size_t(row.tok)] = {row.op, std::uint8_t(row.precedence), row.kind};
        return r;
    }();
    return rules;
}

bool prefixOperator(Tok t, Operator* op) {
    switch (t) {
    case Tok::Minus: *op = Operator::Negate; return true;
    case Tok::Plus: *op = Operator::Plus; return true;
    case Tok::Bang: *op = Operator::Not; return true;
    case Tok::Tilde: *op = Operator::BitNot; return true;
    case Tok::PlusPlus: *op = Operator::PreInc; return true;
    case Tok::MinusMinus: *op = Operator::PreDec; return true;
    default: return false;
    }
}

bool isQualifier(Tok t) {
    switch (t) {
    case Tok::Const: case Tok::Static: case Tok::Uniform: case Tok::Extern: case Tok::Varying:
    case Tok::Inline: case Tok::In: case Tok::Out: case Tok::Inout:
        return true;
    default:
        return false;
    }
}

class Parser {
public:
    Parser(Preprocessor& pp, ast::Tree& tree) : pp_(pp), tree_(tree) {}

    void parseUnit() {
        advance();
        while (!tok_.is(Tok::EndOfFile)) parseTopLevel();
        tree_.end = tok_.loc;
    }

private:
    // ---- tokens ----

    void advance() {
        prevEnd_ = tok_.end();
        if (haveAhead_) {
            tok_ = ahead_;
            haveAhead_ = false;
        } else {
            tok_ = pp_.next();
        }
    }

    const Token& peek() {
        if (!haveAhead_) {
            ahead_ = pp_.next();
            haveAhead_ = true;
        }
        return ahead_;
    }

    bool accept(Tok kind) {
        if (!tok_.is(kind)) return false;
        advance();
        return true;
    }

    // Where a message about `t` points: its place, naming the macro it came
    // from or, failing that, the one whose expansion ended just before it.
    static Loc placeOf(const Token& t) {
        Loc loc = t.loc;
        if (loc.expansion == 0) loc.expansion = t.after;
        return loc;
    }

    static std::string describe(const Token& t) {
        return t.is(Tok::EndOfFile) ? std::string("end of file") : quoted(t.text);
    }

    [[noreturn]] void errorNear(const std::string& what) { fail(placeOf(tok_), what + " near " + describe(tok_)); }

    void expect(Tok kind) {
        if (!accept(kind)) errorNear("'" + std::string(tokSpelling(kind)) + "' expected");
    }

    // A statement that lacks its ';' is reported just past its last token.
    void expectSemicolon(const char* where) {
        if (accept(Tok::Semicolon)) return;
        unsupportedWord();
        fail(prevEnd_, std::string("expected ';' ") + where);
    }

    std::string expectName(const char* what) {
        if (!tok_.is(Tok::Name)) {
            unsupportedWord();
            errorNear(std::string(what) + " expected");
        }
        std::string name(tok_.text);
        advance();
        return name;
    }

    // A reserved word the target has no use for, where the current token is one.
    void unsupportedWord() {
        if (!isKeyword(tok_.kind) || tok_.kind < kFirstUnsupported) return;
        std::string word = "'" + std::string(tokSpelling(tok_.kind)) + "'";
        switch (tok_.kind) {
        case Tok::Switch: case Tok::Goto: fail(tok_.loc, word + " statements are not supported");
        case Tok::Case: case Tok::Default: fail(tok_.loc, word + " labels are not supported");
        case Tok::Char: case Tok::Short: case Tok::Long: case Tok::Double: case Tok::Signed: case Tok::Unsigned:
            fail(tok_.loc, "type " + word + " is not supported");
        default: fail(tok_.loc, word + " is not supported");
        }
    }

    // ---- nesting ----

    struct Nest {
        Parser& p;
        Nest(Parser& parser, const Loc& loc) : p(parser) {
            if (++p.depth_ > kMaxNesting) fail(loc, "nesting is too deep");
        }
        ~Nest() { --p.depth_; }
        Nest(const Nest&) = delete;
        Nest& operator=(const Nest&) = delete;
    };

    Expr* node(Expr::Kind kind, const Loc& loc, std::vector<Expr*> args = {}) {
        int height = 1;
        for (Expr* a : args) height = std::max(height, heights_[a->id] + 1);
        if (height > kMaxExpressionHeight) fail(loc, "expression is too complex");
        Expr* e = tree_.newExpr(kind, loc);
        e->args = std::move(args);
        if (heights_.size() <= e->id) heights_.resize(e->id + 1);
        heights_[e->id] = height;
        return e;
    }

    Stmt* stmt(Stmt::Kind kind, const Loc& loc) { return tree_.newStmt(kind, loc); }

    // ---- types and scopes ----

    bool isTypeName(std::string_view word) const {
        return builtinTypeWords().count(word) != 0 || userTypes_.count(word) != 0;
    }

    bool atTypeName() const { return tok_.is(Tok::Name) && isTypeName(tok_.text); }

    void declareType(std::string_view name) {
        if (name.empty()) return;
        ++userTypes_[name];
        declaredTypes_.push_back(name);
    }

    void pushScope() { scopes_.push_back(declaredTypes_.size()); }

    void popScope() {
        std::size_t mark = scopes_.back();
        scopes_.pop_back();
        while (declaredTypes_.size() > mark) {
            auto it = userTypes_.find(declaredTypes_.back());
            if (--it->second == 0) userTypes_.erase(it);
            declaredTypes_.pop_back();
        }
    }

    // `word` stands where a type belongs and is none: a misspelt type or keyword.
    [[noreturn]] void unknownType(const Token& word) {
        std::vector<std::string_view> candidates;
        for (std::string_view w : builtinTypeWords()) candidates.push_back(w);
        for (const auto& [name, count] : userTypes_) candidates.push_back(name);
        for (int k = int(kFirstKeyword); k < int(kFirstUnsupported); ++k) {
            Tok t = Tok(k);
            if (t != Tok::True && t != Tok::False) candidates.push_back(tokSpelling(t));
        }
        std::sort(candidates.begin(), candidates.end());  // a stable choice between equally near words
        std::string what = "unknown type name " + quoted(word.text);
        std::string best = nearest(word.text, candidates);
        if (!best.empty()) what += "; did you mean " + quoted(best) + "?";
        fail(placeOf(word), what);
    }

    ast::Qualifiers parseQualifiers() {
        ast::Qualifiers q;
        q.loc = tok_.loc;
        for (;; advance()) {
            switch (tok_.kind) {
            case Tok::Const: q.isConst = true; continue;
            case Tok::Static: q.isStatic = true; continue;
            case Tok::Uniform: q.isUniform = true; continue;
            case Tok::Extern: q.isExtern = true; continue;
            case Tok::Varying: q.isVarying = true; continue;
            case Tok::Inline: q.isInline = true; continue;
            case Tok::In: q.in = true; continue;
            case Tok::Out: q.out = true; continue;
            case Tok::Inout: q.in = q.out = true; continue;
            default: break;
            }
            break;
        }
        return q;
    }

    ast::TypeSpec parseType() {
        ast::TypeSpec type;
        type.loc = tok_.loc;
        if (tok_.is(Tok::Struct)) {
            type = parseStruct();
        } else if (atTypeName()) {
            type.name = std::string(tok_.text);
            advance();
        } else if (tok_.is(Tok::Name)) {
            unknownType(tok_);
        } else {
            unsupportedWord();
            errorNear("type expected");
        }
        if (tok_.is(Tok::Star)) fail(tok_.loc, "pointers are not supported");
        if (tok_.is(Tok::Amp)) fail(tok_.loc, "references are not supported");
        return type;
    }

    ast::TypeSpec parseStruct() {
        Nest nest(*this, tok_.loc);
        ast::TypeSpec type;
        type.loc = tok_.loc;
        Loc structLoc = tok_.loc;
        advance();
        std::string_view name;
        if (tok_.is(Tok::Name)) {
            name = tok_.text;
            structLoc = tok_.loc;
            advance();
        }
        if (!tok_.is(Tok::LBrace)) {
            if (name.empty()) errorNear("'{' expected");
            type.name = std::string(name);
            return type;
        }
        advance();
        ast::StructDef* def = tree_.newStruct(structLoc);
        def->name = std::string(name);
        while (!tok_.is(Tok::RBrace)) {
            if (tok_.is(Tok::EndOfFile)) errorNear("'}' expected");
            ast::Qualifiers q = parseQualifiers();
            ast::TypeSpec memberType = parseType();
            do def->members.push_back({q, memberType, parseDeclarator(false)});
            while (accept(Tok::Comma));
            expectSemicolon("at end of declaration list");
        }
        advance();
        declareType(name);
        type.structDef = def;
        return type;
    }

    // After a struct's '}' only a ';' or a new name may follow: a type there
    // means the ';' was forgotten.
    void structEnd(const ast::TypeSpec& type) {
        if (type.structDef && !(tok_.is(Tok::Name) && !isTypeName(tok_.text)))
            fail(prevEnd_, "expected ';' after struct");
    }

    ast::Semantic parseSemantic() {
        ast::Semantic s;
        s.loc = tok_.loc;
        if (!isWord(tok_.kind)) errorNear("semantic expected");
        s.name = std::string(tok_.text);
        advance();
        if (tok_.is(Tok::LParen)) {  // register(c0): kept as written, meaning decides
            s.name += '(';
            advance();
            while (!tok_.is(Tok::RParen)) {
                if (!isWord(tok_.kind) && !tok_.is(Tok::Number) && !tok_.is(Tok::Comma)) errorNear("')' expected");
                s.name += std::string(tok_.text);
                advance();
            }
            s.name += ')';
            advance();
        }
        return s;
    }

    // name [size]... [: semantic] [= initialiser]
    ast::Declarator parseDeclarator(bool allowInit, bool nameOptional = false) {
        ast::Declarator d;
        d.loc = tok_.loc;
        if (!nameOptional || tok_.is(Tok::Name) || isKeyword(tok_.kind)) d.name = expectName("name");
        while (tok_.is(Tok::LBracket)) {
            advance();
            d.arraySizes.push_back(tok_.is(Tok::RBracket) ? nullptr : parseExpr(kAssignPrecedence));
            expect(Tok::RBracket);
        }
        if (accept(Tok::Colon)) d.semantic = parseSemantic();
        if (allowInit && accept(Tok::Assign)) d.init = parseInitializer();
        return d;
    }

    Expr* parseInitializer() {
        if (!tok_.is(Tok::LBrace)) return parseExpr(kAssignPrecedence);
        Nest nest(*this, tok_.loc);
        Loc loc = tok_.loc;
        advance();
        std::vector<Expr*> elements;
        while (!tok_.is(Tok::RBrace)) {
            elements.push_back(parseInitializer());
            if (!accept(Tok::Comma)) break;
        }
        expect(Tok::RBrace);
        return node(Expr::InitList, loc, std::move(elements));
    }

    // ---- top level ----

    void parseTopLevel() {
        Loc loc = tok_.loc;
        if (accept(Tok::Semicolon)) return;
        if (tok_.is(Tok::Typedef)) {
            tree_.items.push_back({ast::TopLevel::TypedefDecl, loc, nullptr, parseTypedef()});
            return;
        }
        if (tok_.is(Tok::RBrace)) fail(tok_.loc, "'}' without a matching '{'");
        unsupportedWord();
        ast::Qualifiers q = parseQualifiers();
        ast::TypeSpec type = parseType();
        if (tok_.is(Tok::Name) && peek().is(Tok::LParen)) {
            tree_.items.push_back({ast::TopLevel::FunctionDecl, loc, parseFunction(q, type), nullptr});
            return;
        }
        Stmt* decl = stmt(Stmt::Decl, loc);
        decl->qualifiers = q;
        decl->type = type;
        if (type.structDef && tok_.is(Tok::Semicolon)) {
            advance();
            decl->end = prevEnd_;
            tree_.items.push_back({ast::TopLevel::StructDecl, loc, nullptr, decl});
            return;
        }
        structEnd(type);
        do decl->declarators.push_back(parseDeclarator(true));
        while (accept(Tok::Comma));
        expectSemicolon("after top level declarator");
        decl->end = prevEnd_;
        tree_.items.push_back({ast::TopLevel::Variables, loc, nullptr, decl});
    }

    ast::Function* parseFunction(const ast::Qualifiers& q, const ast::TypeSpec& returnType) {
        ast::Function* f = tree_.newFunction(tok_.loc);
        f->qualifiers = q;
        f->returnType = returnType;
        f->name = std::string(tok_.text);
        advance();
        expect(Tok::LParen);
        if (tok_.is(Tok::Name) && tok_.text == "void" && peek().is(Tok::RParen)) advance();
        if (!tok_.is(Tok::RParen)) {
            do {
                ast::Param p;
                p.loc = tok_.loc;
                p.qualifiers = parseQualifiers();
                p.type = parseType();
                p.declarator = parseDeclarator(true, true);
                f->params.push_back(std::move(p));
            } while (accept(Tok::Comma));
        }
        expect(Tok::RParen);
        if (accept(Tok::Colon)) f->semantic = parseSemantic();
        if (tok_.is(Tok::LBrace)) {
            pushScope();
            f->body = parseBlock();
            popScope();
        } else {
            expectSemicolon("after function declaration");
        }
        return f;
    }

    Stmt* parseTypedef() {
        Stmt* s = stmt(Stmt::Typedef, tok_.loc);
        advance();
        s->qualifiers = parseQualifiers();
        s->type = parseType();
        do s->declarators.push_back(parseDeclarator(false));
        while (accept(Tok::Comma));
        expectSemicolon("after typedef");
        for (const ast::Declarator& d : s->declarators) declareTypeName(d.name);
        s->end = prevEnd_;
        return s;
    }

    void declareTypeName(const std::string& name) {
        // The tree owns the name; the view must outlive this scope's entry.
        typedefNames_.push_back(name);
        declareType(typedefNames_.back());
    }

    // ---- statements ----

    bool atDeclaration() {
        if (isQualifier(tok_.kind) || tok_.is(Tok::Struct)) return true;
        return atTypeName() && !peek().is(Tok::LParen);
    }

    Stmt* parseBlock() {
        Stmt* s = stmt(Stmt::Block, tok_.loc);
        expect(Tok::LBrace);
        pushScope();
        while (!tok_.is(Tok::RBrace)) {
            if (tok_.is(Tok::EndOfFile)) errorNear("'}' expected");
            s->body.push_back(parseStatement());
        }
        advance();
        popScope();
        s->end = prevEnd_;
        return s;
    }

    Stmt* parseDeclaration(const char* missingSemicolon) {
        Stmt* s = stmt(Stmt::Decl, tok_.loc);
        s->qualifiers = parseQualifiers();
        s->type = parseType();
        if (!(s->type.structDef && tok_.is(Tok::Semicolon))) {
            structEnd(s->type);
            do s->declarators.push_back(parseDeclarator(true));
            while (accept(Tok::Comma));
        }
        expectSemicolon(missingSemicolon);
        s->end = prevEnd_;
        return s;
    }

    Expr* parseCondition() {
        expect(Tok::LParen);
        Expr* e = parseExpr(kCommaPrecedence);
        expect(Tok::RParen);
        return e;
    }

    Stmt* parseStatement() {
        Nest nest(*this, tok_.loc);
        Loc loc = tok_.loc;
        Stmt* s = nullptr;
        switch (tok_.kind) {
        case Tok::LBrace:
            return parseBlock();
        case Tok::Semicolon:
            s = stmt(Stmt::Empty, loc);
            advance();
            break;
        case Tok::If:
            s = stmt(Stmt::If, loc);
            advance();
            s->expr = parseCondition();
            s->then = parseStatement();
            if (accept(Tok::Else)) s->otherwise = parseStatement();
            break;
        case Tok::Else:
            fail(loc, "'else' without a previous 'if'");
        case Tok::For:
            s = stmt(Stmt::For, loc);
            advance();
            expect(Tok::LParen);
            pushScope();
            if (atDeclaration()) {
                s->init = parseDeclaration("in 'for' statement specifier");
            } else if (!tok_.is(Tok::Semicolon)) {
                s->init = stmt(Stmt::ExprStmt, tok_.loc);
                s->init->expr = parseExpr(kCommaPrecedence);
                expectSemicolon("in 'for' statement specifier");
                s->init->end = prevEnd_;
            } else {
                advance();
            }
            if (!tok_.is(Tok::Semicolon)) s->expr = parseExpr(kCommaPrecedence);
            expectSemicolon("in 'for' statement specifier");
            if (!tok_.is(Tok::RParen)) s->step = parseExpr(kCommaPrecedence);
            expect(Tok::RParen);
            s->then = parseStatement();
            popScope();
            break;
        case Tok::While:
            s = stmt(Stmt::While, loc);
            advance();
            s->expr = parseCondition();
            s->then = parseStatement();
            break;
        case Tok::Do:
            s = stmt(Stmt::DoWhile, loc);
            advance();
            s->then = parseStatement();
            expect(Tok::While);
            s->expr = parseCondition();
            expectSemicolon("after do/while statement");
            break;
        case Tok::Break:
            s = stmt(Stmt::Break, loc);
            advance();
            expectSemicolon("after break statement");
            break;
        case Tok::Continue:
            s = stmt(Stmt::Continue, loc);
            advance();
            expectSemicolon("after continue statement");
            break;
        case Tok::Discard:
            s = stmt(Stmt::Discard, loc);
            advance();
            expectSemicolon("after discard statement");
            break;
        case Tok::Return:
            s = stmt(Stmt::Return, loc);
            advance();
            if (!tok_.is(Tok::Semicolon)) s->expr = parseExpr(kCommaPrecedence);
            expectSemicolon("after return statement");
            break;
        case Tok::Typedef:
            return parseTypedef();
        default:
            unsupportedWord();
            if (atDeclaration()) return parseDeclaration("at end of declaration");
            if (tok_.is(Tok::Name) && peek().is(Tok::Name)) unknownType(tok_);
            s = stmt(Stmt::ExprStmt, loc);
            s->expr = parseExpr(kCommaPrecedence);
            if (!tok_.is(Tok::Semicolon) && s->expr->kind == Expr::Name) misspeltKeyword(*s->expr);
            expectSemicolon("after expression");
            break;
        }
        s->end = prevEnd_;
        return s;
    }

    // A lone word where a statement keyword would have made sense: `esle {`.
    void misspeltKeyword(const Expr& word) {
        std::vector<std::string_view> keywords;
        for (Tok t : {Tok::If, Tok::Else, Tok::For, Tok::While, Tok::Do, Tok::Break, Tok::Continue, Tok::Return,
                      Tok::Discard})
            keywords.push_back(tokSpelling(t));
        std::string best = nearest(word.name, keywords);
        if (!best.empty()) fail(word.loc, "unknown name " + quoted(word.name) + "; did you mean '" + best + "'?");
    }

    // ---- expressions ----

    Expr* parseExpr(int minPrecedence) {
        Nest nest(*this, tok_.loc);
        Expr* left = parseUnary();
        const auto& rules = binaryRules();
        for (;;) {
            const BinaryRule& rule = rules[std::size_t(tok_.kind)];
            if (rule.precedence == 0 || rule.precedence < minPrecedence) return left;
            Loc loc = tok_.loc;
            advance();
            if (rule.kind == Expr::Conditional) {
                Expr* then = parseExpr(kCommaPrecedence);
                expect(Tok::Colon);
                Expr* otherwise = parseExpr(kConditionalPrecedence);
                left = node(Expr::Conditional, loc, {left, then, otherwise});
                continue;
            }
            // Assignment groups to the right, everything else to the left.
            Expr* right = parseExpr(rule.kind == Expr::Assign ? rule.precedence : rule.precedence + 1);
            left = node(rule.kind, loc, {left, right});
            left->op = rule.op;
        }
    }

    Expr* parseUnary() {
        Operator op;
        if (prefixOperator(tok_.kind, &op)) {
            Nest nest(*this, tok_.loc);
            Loc loc = tok_.loc;
            advance();
            Expr* operand = parseUnary();
            Expr* e = node(Expr::Unary, loc, {operand});
            e->op = op;
            return e;
        }
        return parsePostfix(parsePrimary());
    }

    Expr* parsePostfix(Expr* e) {
        for (;;) {
            Loc loc = tok_.loc;
            switch (tok_.kind) {
            case Tok::Dot: {
                advance();
                Loc nameLoc = tok_.loc;
                std::string name = expectName("member name");
                e = node(Expr::Member, nameLoc, {e});
                e->name = std::move(name);
                break;
            }
            case Tok::LBracket: {
                advance();
                Expr* index = parseExpr(kCommaPrecedence);
                expect(Tok::RBracket);
                e = node(Expr::Index, loc, {e, index});
                break;
            }
            case Tok::PlusPlus:
            case Tok::MinusMinus: {
                Operator op = tok_.is(Tok::PlusPlus) ? Operator::PostInc : Operator::PostDec;
                advance();
                e = node(Expr::Unary, loc, {e});
                e->op = op;
                break;
            }
            case Tok::LParen:
                fail(loc, "called object is not a function");
            case Tok::Arrow:
                fail(loc, "pointers are not supported");
            default:
                return e;
            }
        }
    }

    std::vector<Expr*> parseArguments() {
        expect(Tok::LParen);
        std::vector<Expr*> args;
        if (accept(Tok::RParen)) return args;
        do args.push_back(parseExpr(kAssignPrecedence));
        while (accept(Tok::Comma));
        expect(Tok::RParen);
        return args;
    }

    Expr* parsePrimary() {
        Loc loc = tok_.loc;
        switch (tok_.kind) {
        case Tok::Number: {
            static const Expr::LiteralKind kinds[] = {Expr::IntLiteral, Expr::FloatLiteral, Expr::HalfLiteral,
                                                      Expr::FixedLiteral};
            Expr* e = node(Expr::Literal, loc);
            e->literal = kinds[tok_.literal];
            e->number = tok_.number;
            advance();
            return e;
        }
        case Tok::True:
        case Tok::False: {
            Expr* e = node(Expr::Literal, loc);
            e->literal = Expr::BoolLiteral;
            e->number = tok_.is(Tok::True) ? 1 : 0;
            advance();
            return e;
        }
        case Tok::Name: {
            if (isTypeName(tok_.text)) {
                if (!peek().is(Tok::LParen)) fail(placeOf(tok_), "unexpected type name " + quoted(tok_.text) +
                                                                     ": expected expression");
                ast::TypeSpec type;
                type.loc = loc;
                type.name = std::string(tok_.text);
                advance();
                Expr* e = node(Expr::Construct, loc, parseArguments());
                e->type = std::move(type);
                return e;
            }
            std::string name(tok_.text);
            advance();
            if (tok_.is(Tok::LParen)) {
                Expr* e = node(Expr::Call, loc, parseArguments());
                e->name = std::move(name);
                return e;
            }
            Expr* e = node(Expr::Name, loc);
            e->name = std::move(name);
            return e;
        }
        case Tok::LParen: {
            advance();
            if (tok_.is(Tok::Struct) || (atTypeName() && !peek().is(Tok::LParen))) {
                ast::TypeSpec type = parseType();
                expect(Tok::RParen);
                Expr* operand = parseUnary();
                Expr* e = node(Expr::Cast, loc, {operand});
                e->type = std::move(type);
                return e;
            }
            Expr* e = parseExpr(kCommaPrecedence);
            expect(Tok::RParen);
            return e;
        }
        case Tok::LBrace:
            fail(loc, "initialiser lists are only allowed in declarations");
        default:
            unsupportedWord();
            errorNear("expression expected");
        }
    }

    Preprocessor& pp_;
    ast::Tree& tree_;
    Token tok_, ahead_;
    bool haveAhead_ = false;
    Loc prevEnd_;
    int depth_ = 0;
    std::vector<int> heights_;  // by expression id
    std::unordered_map<std::string_view, int> userTypes_;  // struct and typedef names in scope
    std::vector<std::string_view> declaredTypes_;
    std::vector<std::size_t> scopes_;
    std::deque<std::string> typedefNames_;
};

}  // namespace

ast::Tree parseSource(Sources& sources, const char* text, std::size_t length, const std::string& fileName,
                      const Options& options) {
    ast::Tree tree;
    Preprocessor pp(sources, options);
    pp.start(std::string_view(text, length), fileName);
    Parser(pp, tree).parseUnit();
    return tree;
}

}  // namespace cgc
