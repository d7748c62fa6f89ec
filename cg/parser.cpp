#include "cg/parser.h"

#include <cstring>

namespace cgc {

namespace {

// Deep enough for any program a person writes; shallow enough that the
// recursive phases never run out of stack.
const int kMaxNesting = 100;
const int kMaxExprDepth = 200;

struct Priority {
    int op;
    int left, right;
};
const Priority kBinary[] = {
    {'+', 10, 10}, {'-', 10, 10},
    {'*', 11, 11}, {'/', 11, 11},
};
const int kUnaryPriority = 12;

// Words of the full language that we recognise only to reject clearly.
// Returns the message, or an empty string for any other word.
std::string unsupportedWord(const std::string& w) {
    static const struct {
        const char* word;
        const char* message;
    } words[] = {
        {"if", "'if' statements are not supported"},
        {"else", "'else' is not supported"},
        {"switch", "'switch' statements are not supported"},
        {"case", "'case' is not supported"},
        {"default", "'default' is not supported"},
        {"for", "loops ('for') are not supported"},
        {"while", "loops ('while') are not supported"},
        {"do", "loops ('do') are not supported"},
        {"break", "'break' is not supported"},
        {"continue", "'continue' is not supported"},
        {"goto", "'goto' is not supported"},
        {"discard", "'discard' is not supported"},
        {"struct", "structs are not supported"},
        {"typedef", "'typedef' is not supported"},
        {"inout", "'inout' parameters are not supported"},
        {"true", "boolean values are not supported"},
        {"false", "boolean values are not supported"},
    };
    for (const auto& e : words)
        if (w == e.word) return e.message;
    static const char* types[] = {"int", "bool", "fixed", "double", "sampler", "sampler1D",
                                  "sampler3D", "samplerCUBE", "string"};
    for (const char* t : types) {
        std::size_t n = std::strlen(t);
        if (w.compare(0, n, t) == 0) {
            std::string rest = w.substr(n);
            if (rest.empty() || rest == "1" || rest == "2" || rest == "3" || rest == "4" ||
                (rest.size() == 3 && rest[1] == 'x'))
                return "type '" + w + "' is not supported";
        }
    }
    if ((w.compare(0, 5, "float") == 0 || w.compare(0, 4, "half") == 0) && w.size() >= 3 &&
        w[w.size() - 2] == 'x' && w[w.size() - 1] >= '1' && w[w.size() - 1] <= '4')
        return "matrix type '" + w + "' is not supported";
    return "";
}

bool isUnsupportedOperator(int kind) {
    return kind == TK_OTHER_OP || kind == '<' || kind == '>' || kind == '%' || kind == '&' ||
           kind == '|' || kind == '^' || kind == '?' || kind == '!' || kind == '~';
}

class Parser {
public:
    explicit Parser(Lexer& lexer) : lx_(lexer) {}

    Program program() {
        while (tok().kind != TK_EOF) topLevel();
        if (!prog_.hasMain) lx_.error(tok(), "no 'main' function");
        return std::move(prog_);
    }

private:
    struct Nest {
        Parser& p;
        explicit Nest(Parser& parser) : p(parser) {
            if (++p.depth_ > kMaxNesting) p.lx_.error(p.tok(), "nesting is too deep");
        }
        ~Nest() { --p.depth_; }
    };

    const Token& tok() const { return lx_.current(); }
    static Loc at(const Token& t) { return Loc{t.line, t.col}; }
    bool isWord(const char* w) const { return tok().kind == TK_NAME && tok().text == w; }

    bool accept(int kind) {
        if (tok().kind != kind) return false;
        lx_.next();
        return true;
    }
    bool acceptWord(const char* w) {
        if (!isWord(w)) return false;
        lx_.next();
        return true;
    }
    void expect(int kind, const char* what) {
        if (!accept(kind)) lx_.error(tok(), std::string(what) + " expected near " + describe(tok()));
    }
    Token expectName(const char* what) {
        Token t = tok();
        if (t.kind != TK_NAME) lx_.error(t, std::string(what) + " expected near " + describe(t));
        rejectWord(t);
        Type ignored;
        if (typeFromName(t.text, &ignored) || t.text == "void" || t.text == "return")
            lx_.error(t, std::string(what) + " expected near " + describe(t));
        lx_.next();
        return t;
    }
    void rejectWord(const Token& t) {
        if (t.kind != TK_NAME) return;
        std::string why = unsupportedWord(t.text);
        if (!why.empty()) lx_.error(t, why);
    }
    void rejectArray() {
        if (tok().kind == '[') lx_.error(tok(), "arrays are not supported");
    }
    // A type name, or an error naming what stood there.
    Type type(const char* what) {
        rejectWord(tok());
        Type t;
        if (tok().kind != TK_NAME || !typeFromName(tok().text, &t))
            lx_.error(tok(), std::string(what) + " expected near " + describe(tok()));
        lx_.next();
        return t;
    }
    bool atTypeName() {
        Type t;
        return tok().kind == TK_NAME && typeFromName(tok().text, &t);
    }

    void topLevel() {
        if (accept(';')) return;
        Token start = tok();
        bool isStatic = false, isConst = false, isUniform = false;
        for (;;) {
            if (acceptWord("static")) isStatic = true;
            else if (acceptWord("const")) isConst = true;
            else if (acceptWord("uniform")) isUniform = true;
            else break;
        }
        Type t;
        if (acceptWord("void")) t = Type{};
        else t = type("declaration");
        Token name = expectName("name");
        if (tok().kind == '(') {
            if (name.text != "main")
                lx_.error(name, "functions other than 'main' are not supported ('" + name.text + "')");
            if (prog_.hasMain)
                lx_.error(name, "'main' is defined twice (first at line " + std::to_string(prog_.mainLoc.line) + ")");
            if (isStatic || isConst || isUniform) lx_.error(start, "'main' takes no qualifiers");
            mainFunction(t, name);
            return;
        }
        if (isUniform)
            lx_.error(start, "uniforms are declared as parameters of 'main' ('" + name.text + "')");
        if (!isConst) lx_.error(start, "global '" + name.text + "' must be 'static const'");
        if (!t.isFloat()) lx_.error(start, "global constants must have a float type ('" + name.text + "')");
        for (;;) {
            rejectArray();
            GlobalConst g;
            g.type = t;
            g.name = name.text;
            g.loc = at(name);
            expect('=', "'='");
            g.init = expr();
            prog_.globals.push_back(std::move(g));
            if (!accept(',')) break;
            name = expectName("name");
        }
        expect(';', "';'");
    }

    void mainFunction(Type returnType, const Token& name) {
        prog_.hasMain = true;
        prog_.mainLoc = at(name);
        prog_.returnType = returnType;
        expect('(', "'('");
        if (isWord("void") && lx_.lookahead().kind == ')') lx_.next();
        if (!accept(')')) {
            do parameter();
            while (accept(','));
            expect(')', "')'");
        }
        if (accept(':')) {
            prog_.returnSemanticLoc = at(tok());
            prog_.returnSemantic = expectName("semantic").text;
        }
        if (tok().kind != '{') lx_.error(tok(), "'{' expected near " + describe(tok()));
        prog_.body = statement();
    }

    void parameter() {
        Param p;
        bool in = false, out = false, uniform = false;
        for (;;) {
            if (acceptWord("in")) in = true;
            else if (acceptWord("out")) out = true;
            else if (acceptWord("uniform")) uniform = true;
            else if (acceptWord("const")) {}
            else break;
        }
        Token start = tok();
        p.type = type("parameter type");
        Token name = expectName("parameter name");
        p.name = name.text;
        p.loc = at(name);
        rejectArray();
        if ((in && out) || (uniform && (in || out)))
            lx_.error(start, "conflicting qualifiers on '" + p.name + "'");
        p.qualifier = uniform ? Param::Uniform : out ? Param::Out : Param::In;
        if (accept(':')) {
            p.semanticLoc = at(tok());
            p.semantic = expectName("semantic").text;
        }
        prog_.params.push_back(std::move(p));
    }

    std::unique_ptr<Stmt> statement() {
        Nest nest(*this);
        auto s = std::make_unique<Stmt>();
        s->loc = at(tok());
        if (accept('{')) {
            s->kind = Stmt::Block;
            while (!accept('}')) {
                if (tok().kind == TK_EOF) lx_.error(tok(), "'}' expected near end of file");
                s->body.push_back(statement());
            }
            return s;
        }
        if (accept(';')) {
            s->kind = Stmt::Empty;
            return s;
        }
        rejectWord(tok());
        if (acceptWord("return")) {
            s->kind = Stmt::Return;
            if (tok().kind != ';') s->value = expr();
            expect(';', "';'");
            return s;
        }
        if (isWord("static") || isWord("uniform") || isWord("in") || isWord("out"))
            lx_.error(tok(), "'" + tok().text + "' is not allowed on a local variable");
        if (isWord("const") || atTypeName()) {
            declaration(*s);
            return s;
        }
        auto target = expr();
        int op = tok().kind;
        switch (op) {
            case '=': break;
            case TK_ADD_ASSIGN: op = '+'; break;
            case TK_SUB_ASSIGN: op = '-'; break;
            case TK_MUL_ASSIGN: op = '*'; break;
            case TK_DIV_ASSIGN: op = '/'; break;
            default: lx_.error(tok(), "'=' expected near " + describe(tok()));
        }
        lx_.next();
        s->kind = Stmt::Assign;
        s->op = op;
        s->target = std::move(target);
        s->value = expr();
        expect(';', "';'");
        return s;
    }

    void declaration(Stmt& s) {
        s.kind = Stmt::Decl;
        s.isConst = acceptWord("const");
        s.type = type("type");
        do {
            Token name = expectName("variable name");
            rejectArray();
            Declarator d;
            d.name = name.text;
            d.loc = at(name);
            if (accept('=')) d.init = expr();
            s.decls.push_back(std::move(d));
        } while (accept(','));
        expect(';', "';'");
    }

    std::unique_ptr<Expr> node(Expr::Kind kind, const Token& t) {
        auto e = std::make_unique<Expr>();
        e->kind = kind;
        e->loc = at(t);
        return e;
    }

    std::unique_ptr<Expr> expr() { return subexpr(0); }

    // Operator precedence in the manner of a table-driven climb: binary
    // operators whose left priority exceeds the limit bind here.
    std::unique_ptr<Expr> subexpr(int limit) {
        Nest nest(*this);
        std::unique_ptr<Expr> e;
        Token t = tok();
        if (t.kind == '-' || t.kind == '+') {
            lx_.next();
            e = node(Expr::Unary, t);
            e->op = t.kind;
            adopt(*e, subexpr(kUnaryPriority));
        } else if (isUnsupportedOperator(t.kind)) {
            lx_.error(t, "operator '" + t.text + "' is not supported");
        } else {
            e = postfix();
        }
        for (;;) {
            const Priority* p = nullptr;
            for (const Priority& q : kBinary)
                if (q.op == tok().kind) p = &q;
            if (!p) {
                if (isUnsupportedOperator(tok().kind))
                    lx_.error(tok(), "operator '" + tok().text + "' is not supported");
                break;
            }
            if (p->left <= limit) break;
            Token opTok = tok();
            lx_.next();
            auto b = node(Expr::Binary, opTok);
            b->op = opTok.kind;
            adopt(*b, std::move(e));
            adopt(*b, subexpr(p->right));
            e = std::move(b);
        }
        return e;
    }

    // Left-leaning chains (a + b + c ...) nest without recursion here, but
    // the later phases walk the tree recursively: bound its depth too.
    void adopt(Expr& parent, std::unique_ptr<Expr> child) {
        if (child->depth + 1 > parent.depth) parent.depth = child->depth + 1;
        if (parent.depth > kMaxExprDepth) lx_.error(tok(), "expression is too complex");
        parent.args.push_back(std::move(child));
    }

    std::unique_ptr<Expr> postfix() {
        auto e = primary();
        for (;;) {
            if (tok().kind == '.') {
                Token dot = tok();
                lx_.next();
                if (tok().kind != TK_NAME) lx_.error(tok(), "swizzle expected near " + describe(tok()));
                auto s = node(Expr::Swizzle, dot);
                s->name = tok().text;
                lx_.next();
                adopt(*s, std::move(e));
                e = std::move(s);
            } else if (tok().kind == '[') {
                lx_.error(tok(), "indexing is not supported");
            } else {
                return e;
            }
        }
    }

    void arguments(Expr& call) {
        expect('(', "'('");
        if (accept(')')) return;
        do adopt(call, expr());
        while (accept(','));
        expect(')', "')'");
    }

    std::unique_ptr<Expr> primary() {
        Token t = tok();
        switch (t.kind) {
            case TK_NUMBER: {
                lx_.next();
                auto e = node(Expr::Number, t);
                e->number = t.number;
                return e;
            }
            case '(': {
                const Token& next = lx_.lookahead();
                Type ignored;
                if (next.kind == TK_NAME && typeFromName(next.text, &ignored)) {
                    lx_.next();
                    auto e = node(Expr::Cast, t);
                    e->target = type("type");
                    if (!e->target.isFloat()) lx_.error(t, "cannot cast to '" + typeName(e->target) + "'");
                    expect(')', "')'");
                    adopt(*e, subexpr(kUnaryPriority));
                    return e;
                }
                lx_.next();
                auto e = expr();
                expect(')', "')'");
                return e;
            }
            case TK_NAME: {
                rejectWord(t);
                Type ctor;
                if (typeFromName(t.text, &ctor)) {
                    if (!ctor.isFloat()) lx_.error(t, "'" + t.text + "' cannot be constructed");
                    lx_.next();
                    if (tok().kind != '(') lx_.error(tok(), "'(' expected after '" + t.text + "' near " + describe(tok()));
                    auto e = node(Expr::Construct, t);
                    e->target = ctor;
                    arguments(*e);
                    return e;
                }
                if (t.text == "void" || t.text == "return" || t.text == "const" || t.text == "static" ||
                    t.text == "uniform" || t.text == "in" || t.text == "out")
                    lx_.error(t, "expression expected near " + describe(t));
                lx_.next();
                if (tok().kind == '(') {
                    auto e = node(Expr::Call, t);
                    e->name = t.text;
                    arguments(*e);
                    return e;
                }
                auto e = node(Expr::Name, t);
                e->name = t.text;
                return e;
            }
            default:
                lx_.error(t, "expression expected near " + describe(t));
        }
    }

    Lexer& lx_;
    Program prog_;
    int depth_ = 0;
};

}  // namespace

bool typeFromName(const std::string& name, Type* type) {
    if (name == "samplerRECT") return *type = Type{Type::SamplerRect, 1}, true;
    if (name == "sampler2D") return *type = Type{Type::Sampler2D, 1}, true;
    std::string base = name;
    int width = 1;
    if (!base.empty() && base.back() >= '1' && base.back() <= '4') {
        width = base.back() - '0';
        base.pop_back();
    }
    if (base != "float" && base != "half") return false;
    *type = floatType(width);
    return true;
}

std::string typeName(const Type& t) {
    switch (t.base) {
        case Type::Void: return "void";
        case Type::SamplerRect: return "samplerRECT";
        case Type::Sampler2D: return "sampler2D";
        case Type::Float: break;
    }
    return t.width == 1 ? "float" : "float" + std::to_string(t.width);
}

Program parse(Lexer& lexer) { return Parser(lexer).program(); }

}  // namespace cgc
