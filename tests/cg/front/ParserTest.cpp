#include "FrontTestSupport.h"

#include <gtest/gtest.h>


using namespace cgc;
using fronttest::parseError;
using fronttest::shape;

namespace {

ast::Tree parse(const std::string& text) {
    Sources sources;
    try {
        return parseSource(sources, text.data(), text.size(), "<string>", Options{});
    } catch (const CompileError& e) {
        ADD_FAILURE() << sources.format(e.loc, e.what) << "\n  in: " << text;
        return {};
    }
}

std::string qualifiers(const ast::Qualifiers& q) {
    std::string s;
    for (auto [on, word] : {std::pair<bool, const char*>{q.isConst, "const"}, {q.isStatic, "static"},
                            {q.isUniform, "uniform"}, {q.isExtern, "extern"}, {q.isVarying, "varying"},
                            {q.isInline, "inline"}, {q.in, "in"}, {q.out, "out"}})
        if (on) s += std::string(word) + " ";
    return s;
}

std::string declarator(const ast::Declarator& d);

std::string type(const ast::TypeSpec& t) {
    if (!t.structDef) return t.name;
    std::string s = "struct " + t.structDef->name + "{";
    for (std::size_t i = 0; i < t.structDef->members.size(); ++i) {
        const auto& m = t.structDef->members[i];
        s += (i ? "; " : "") + qualifiers(m.qualifiers) + type(m.type) + " " + declarator(m.declarator);
    }
    return s + "}";
}

std::string declarator(const ast::Declarator& d) {
    std::string s = d.name;
    for (const ast::Expr* size : d.arraySizes) s += "[" + (size ? shape(size) : "") + "]";
    if (!d.semantic.name.empty()) s += " : " + d.semantic.name;
    if (d.init) s += " = " + shape(d.init);
    return s;
}

std::string declarators(const std::vector<ast::Declarator>& ds) {
    std::string s;
    for (std::size_t i = 0; i < ds.size(); ++i) s += (i ? ", " : " ") + declarator(ds[i]);
    return s;
}

// One top-level item as a line: what it declares, with its parts.
std::string summary(const ast::TopLevel& item) {
    if (item.kind == ast::TopLevel::FunctionDecl) {
        const ast::Function& f = *item.function;
        std::string s = qualifiers(f.qualifiers) + type(f.returnType) + " " + f.name + "(";
        for (std::size_t i = 0; i < f.params.size(); ++i) {
            const ast::Param& p = f.params[i];
            s += (i ? ", " : "") + qualifiers(p.qualifiers) + type(p.type);
            if (!p.declarator.name.empty()) s += " " + declarator(p.declarator);
        }
        s += ")";
        if (!f.semantic.name.empty()) s += " : " + f.semantic.name;
        return s + (f.body ? " {" + std::to_string(f.body->body.size()) + "}" : ";");
    }
    const ast::Stmt& d = *item.decl;
    std::string kind = item.kind == ast::TopLevel::TypedefDecl ? "typedef "
                       : item.kind == ast::TopLevel::StructDecl ? "struct-decl "
                                                                : "";
    return kind + qualifiers(d.qualifiers) + type(d.type) + declarators(d.declarators);
}

std::string statement(const ast::Stmt* s) {
    if (!s) return "_";
    switch (s->kind) {
    case ast::Stmt::ExprStmt: return shape(s->expr);
    case ast::Stmt::Decl: return "(decl " + qualifiers(s->qualifiers) + type(s->type) + declarators(s->declarators) + ")";
    case ast::Stmt::Typedef: return "(typedef " + type(s->type) + declarators(s->declarators) + ")";
    case ast::Stmt::Block: {
        std::string b = "{";
        for (std::size_t i = 0; i < s->body.size(); ++i) b += (i ? " " : "") + statement(s->body[i]);
        return b + "}";
    }
    case ast::Stmt::If:
        return "(if " + shape(s->expr) + " " + statement(s->then) +
               (s->otherwise ? " " + statement(s->otherwise) : "") + ")";
    case ast::Stmt::For:
        return "(for " + statement(s->init) + " " + (s->expr ? shape(s->expr) : "_") + " " +
               (s->step ? shape(s->step) : "_") + " " + statement(s->then) + ")";
    case ast::Stmt::While: return "(while " + shape(s->expr) + " " + statement(s->then) + ")";
    case ast::Stmt::DoWhile: return "(do " + statement(s->then) + " " + shape(s->expr) + ")";
    case ast::Stmt::Break: return "break";
    case ast::Stmt::Continue: return "continue";
    case ast::Stmt::Return: return s->expr ? "(return " + shape(s->expr) + ")" : "return";
    case ast::Stmt::Discard: return "discard";
    case ast::Stmt::Empty: return ";";
    }
    return "?";
}

// The statements of a function body written around `body`.
std::string statements(const std::string& body) {
    ast::Tree tree = parse("void f() {" + body + "}");
    if (tree.items.empty()) return "(no tree)";
    std::string s = statement(tree.items.back().function->body);
    return s.substr(1, s.size() - 2);
}

}  // namespace

TEST(Parser, expressionsFollowCPrecedenceAndGrouping) {
    struct Case {
        const char* expr;
        const char* shape;
    } cases[] = {
        {"a + b * c", "(+ a (* b c))"},
        {"a * b + c", "(+ (* a b) c)"},
        {"a - b - c", "(- (- a b) c)"},
        {"a / b % c", "(% (/ a b) c)"},
        {"a = b += c", "(= a (+= b c))"},
        {"a ? b : c ? d : e", "(?: a b (?: c d e))"},
        {"a ? b, c : d", "(?: a (, b c) d)"},
        {"x = a ? b : c", "(= x (?: a b c))"},
        {"a || b && c", "(|| a (&& b c))"},
        {"a | b ^ c & d", "(| a (^ b (& c d)))"},
        {"a == b < c", "(== a (< b c))"},
        {"a != b >= c << d + e", "(!= a (>= b (<< c (+ d e))))"},
        {"a >>= b <= c", "(>>= a (<= b c))"},
        {"a, b = c, d", "(, (, a (= b c)) d)"},
        {"-a * b", "(* (-u a) b)"},
        {"!a++ + ~b--", "(+ (! (++post a)) (~ (--post b)))"},
        {"- -a", "(-u (-u a))"},
        {"--a + +b", "(+ (-- a) (+u b))"},
        {"(a + b) * c", "(* (+ a b) c)"},
        {"(float3)v.xyz", "(cast float3 (. v xyz))"},
        {"(float)a + b", "(+ (cast float a) b)"},
        {"(int)-x", "(cast int (-u x))"},
        {"(float4(1, 2, 3, 4)).w", "(. (float4 1 2 3 4) w)"},
        {"float2x2(1, 0, 0, 1)[1][0]", "([] ([] (float2x2 1 0 0 1) 1) 0)"},
        {"m._m00_m11 + m._11", "(+ (. m _m00_m11) (. m _11))"},
        {"s.light.color.rgb", "(. (. (. s light) color) rgb)"},
        {"f(a, b = c) + g()", "(+ (call f a (= b c)) (call g))"},
        {"a[i][j]++", "(++post ([] ([] a i) j))"},
        {"x = 0x1F + .5 + 1e-3 + true", "(= x (+ (+ (+ 31 0.5) 0.001) 1))"},
    };
    for (const Case& c : cases) EXPECT_EQ(statements(std::string(c.expr) + ";"), c.shape) << c.expr;
}

TEST(Parser, literalsKeepTheirKind) {
    ast::Tree tree = parse("float f() { return f(1, 1.0, 1.5h, 0.5x, 2.5f, false); }");
    ASSERT_EQ(tree.items.size(), 1u);
    const ast::Expr* call = tree.items[0].function->body->body[0]->expr;
    ASSERT_EQ(call->args.size(), 6u);
    const ast::Expr::LiteralKind expected[] = {ast::Expr::IntLiteral,  ast::Expr::FloatLiteral,
                                               ast::Expr::HalfLiteral, ast::Expr::FixedLiteral,
                                               ast::Expr::FloatLiteral, ast::Expr::BoolLiteral};
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(call->args[i]->literal, expected[i]) << i;
}

TEST(Parser, declarationsRecordQualifiersTypesSemanticsAndInitialisers) {
    struct Case {
        const char* source;
        const char* summary;  // of the last item
    } cases[] = {
        {"float4 main(float2 t : TEXCOORD0, uniform samplerRECT s) : COLOR { return t.xyxy; }",
         "float4 main(float2 t : TEXCOORD0, uniform samplerRECT s) : COLOR {1}"},
        {"inline float f(in float a, out float b, inout float c, const float d = 2);",
         "inline float f(in float a, out float b, in out float c, const float d = 2);"},
        {"static float g(float w[3], float);", "static float g(float w[3], float);"},
        {"float h(void) {}", "float h() {0}"},
        {"void k(uniform float4 c : register(c0)) {}", "void k(uniform float4 c : register(c0)) {0}"},
        {"static const float w[3] = {1, 2, 3,};", "const static float w[3] = ({} 1 2 3)"},
        {"uniform float2x2 m = {{1, 0}, {0, 1}}, n;", "uniform float2x2 m = ({} ({} 1 0) ({} 0 1)), n"},
        {"float k[] = {1, 2}, a[2][3], b : TEXCOORD1;", "float k[] = ({} 1 2), a[2][3], b : TEXCOORD1"},
        {"extern varying float3 v;", "extern varying float3 v"},
        {"struct V { float4 c : COLOR; float d : DEPTH; };", "struct-decl struct V{float4 c : COLOR; float d : DEPTH}"},
        {"struct L { float3 p, q; } light;", "struct L{float3 p; float3 q} light"},
        {"struct { float a; } anon;", "struct {float a} anon"},
        {"struct A { float x; }; struct B { A a; struct A b; };", "struct-decl struct B{A a; A b}"},
        {"typedef float4 color, rgba;", "typedef float4 color, rgba"},
        {"typedef struct { float a; } T; T t;", "T t"},
        {"typedef float3 v3; v3 f(v3 x);", "v3 f(v3 x);"},
        {";;float x;", "float x"},
    };
    for (const Case& c : cases) {
        ast::Tree tree = parse(c.source);
        ASSERT_FALSE(tree.items.empty()) << c.source;
        EXPECT_EQ(summary(tree.items.back()), c.summary) << c.source;
    }
}

TEST(Parser, statementsNestAsWritten) {
    struct Case {
        const char* body;
        const char* shape;
    } cases[] = {
        {"if (a) b; else if (c) d; else e;", "(if a b (if c d e))"},
        {"if (a) if (b) c; else d;", "(if a (if b c d))"},
        {"for (int i = 0, j; i < 3; ++i, j++) { continue; }",
         "(for (decl int i = 0, j) (< i 3) (, (++ i) (++post j)) {continue})"},
        {"for (;;) ;", "(for _ _ _ ;)"},
        {"for (i = 0; i < 3; i++) break;", "(for (= i 0) (< i 3) (++post i) break)"},
        {"while (x < 1) x += 1;", "(while (< x 1) (+= x 1))"},
        {"do { discard; } while (false);", "(do {discard} 0)"},
        {"return; return a, b;", "return (return (, a b))"},
        {"const static float k = 1, l;", "(decl const static float k = 1, l)"},
        {"float4(1, 2, 3, 4);", "(float4 1 2 3 4)"},
        {"struct S { float a; }; S s; (S)s;", "(decl struct S{float a}) (decl S s) (cast S s)"},
        {"typedef float2 T; T t = (T)0; T(1, 2);", "(typedef float2 T) (decl T t = (cast T 0)) (T 1 2)"},
        {"{ typedef float F; F x; } F * y;", "{(typedef float F) (decl F x)} (* F y)"},
        {"{ float a; { float b; } }", "{(decl float a) {(decl float b)}}"},
    };
    for (const Case& c : cases) EXPECT_EQ(statements(c.body), c.shape) << c.body;
}

TEST(Parser, placesPointAtTheirTokens) {
    ast::Tree tree = parse("float4 main() : COLOR {\n  float4 a = b + c;\n  return a;\n}\n");
    ASSERT_EQ(tree.items.size(), 1u);
    const ast::Function& f = *tree.items[0].function;
    EXPECT_EQ(f.loc.line, 1);
    EXPECT_EQ(f.loc.col, 8);
    const ast::Stmt* decl = f.body->body[0];
    EXPECT_EQ(decl->loc.line, 2);
    EXPECT_EQ(decl->loc.col, 3);
    EXPECT_EQ(decl->end.line, 2);
    EXPECT_EQ(decl->end.col, 20);
    EXPECT_EQ(decl->declarators[0].loc.col, 10);
    EXPECT_EQ(decl->declarators[0].init->loc.col, 16);  // the operator
    EXPECT_EQ(tree.end.line, 5);
}

TEST(Parser, syntaxErrorsGiveOneLineAtTheFault) {
    struct Case {
        std::string source, error;
    } cases[] = {
        // A missing ';' belongs just past the statement that lacks it.
        {"float4 main(float4 t : TEXCOORD0) : COLOR {\n    float4 a = t\n    return a;\n}",
         "<string>:2:17: error: expected ';' at end of declaration"},
        {"void f() {\n  x = 1\n  y = 2;\n}", "<string>:2:8: error: expected ';' after expression"},
        {"float f() {\n  return 1\n}", "<string>:2:11: error: expected ';' after return statement"},
        {"void f() { break }", "<string>:1:17: error: expected ';' after break statement"},
        {"void f() { do {} while (1) }", "<string>:1:27: error: expected ';' after do/while statement"},
        {"float x = 1\nfloat y;", "<string>:1:12: error: expected ';' after top level declarator"},
        {"struct S { float a } s;", "<string>:1:19: error: expected ';' at end of declaration list"},
        {"struct S { float a; }\nfloat4 main() : COLOR {}", "<string>:1:22: error: expected ';' after struct"},
        {"void f() { struct S { float a; } float b; }", "<string>:1:33: error: expected ';' after struct"},
        {"struct S { float a; }\nuniform float b;", "<string>:1:22: error: expected ';' after struct"},
        {"float f(float x)\nfloat g;", "<string>:1:17: error: expected ';' after function declaration"},
        {"void f() { for (i = 0 i < 1; i++) ; }", "<string>:1:22: error: expected ';' in 'for' statement specifier"},
        // Other faults name the token they met.
        {"void f() { if x) {} }", "<string>:1:15: error: '(' expected near 'x'"},
        {"void f() { f(1, 2; }", "<string>:1:18: error: ')' expected near ';'"},
        {"void f() {", "<string>:1:11: error: '}' expected near end of file"},
        {"float4 main(", "<string>:1:13: error: type expected near end of file"},
        {"void f() { x = ; }", "<string>:1:16: error: expression expected near ';'"},
        {"void f() { do x; until (1); }", "<string>:1:18: error: 'while' expected near 'until'"},
        {"void f() { x = a ? b; }", "<string>:1:21: error: ':' expected near ';'"},
        {"void f() { x = a. ; }", "<string>:1:19: error: member name expected near ';'"},
        {"float4 main() : { }", "<string>:1:17: error: semantic expected near '{'"},
        {"void f() { x = float4; }", "<string>:1:16: error: unexpected type name 'float4': expected expression"},
        {"void f() { else x; }", "<string>:1:12: error: 'else' without a previous 'if'"},
        {"void f() { x = {1, 2}; }", "<string>:1:16: error: initialiser lists are only allowed in declarations"},
        {"void f() { a.b(1); }", "<string>:1:15: error: called object is not a function"},
        {"void f() { x = #; }", "<string>:1:16: error: expression expected near '#'"},
        {"void f() { }\n}", "<string>:2:1: error: '}' without a matching '{'"},
        {"float4 main(float4 in : COLOR) : COLOR {}", "<string>:1:20: error: name expected near 'in'"},
        // Misspelt keywords and types are named, with the nearest word.
        {"float4 main(float4 c) : COLOR {\n    retrun c + 1;\n}",
         "<string>:2:5: error: unknown type name 'retrun'; did you mean 'return'?"},
        {"void f() { flaot4 x; }", "<string>:1:12: error: unknown type name 'flaot4'; did you mean 'float4'?"},
        {"flaot4 main() : COLOR {}", "<string>:1:1: error: unknown type name 'flaot4'; did you mean 'float4'?"},
        {"void f(uniform samplerRect s) {}",
         "<string>:1:16: error: unknown type name 'samplerRect'; did you mean 'samplerRECT'?"},
        {"unifrom float x;", "<string>:1:1: error: unknown type name 'unifrom'; did you mean 'uniform'?"},
        {"struct Light { float a; }; void f() { Lihgt l; }",
         "<string>:1:39: error: unknown type name 'Lihgt'; did you mean 'Light'?"},
        {"void f() { zzzz x; }", "<string>:1:12: error: unknown type name 'zzzz'"},
        {"void f() { esle { } }", "<string>:1:12: error: unknown name 'esle'; did you mean 'else'?"},
        // Words the language reserves and this target lacks.
        {"void f() { switch (x) { } }", "<string>:1:12: error: 'switch' statements are not supported"},
        {"void f() { goto end; }", "<string>:1:12: error: 'goto' statements are not supported"},
        {"void f() { case 1: }", "<string>:1:12: error: 'case' labels are not supported"},
        {"void f() { x = sizeof(float); }", "<string>:1:16: error: 'sizeof' is not supported"},
        {"void f() { this; }", "<string>:1:12: error: 'this' is not supported"},
        {"class C {};", "<string>:1:1: error: 'class' is not supported"},
        {"template <T> void f();", "<string>:1:1: error: 'template' is not supported"},
        {"asm { }", "<string>:1:1: error: 'asm' is not supported"},
        {"void f() { double d; }", "<string>:1:12: error: type 'double' is not supported"},
        {"unsigned int u;", "<string>:1:1: error: type 'unsigned' is not supported"},
        {"float4 *p;", "<string>:1:8: error: pointers are not supported"},
        {"void f(float &r) {}", "<string>:1:14: error: references are not supported"},
        {"void f() { x = a->b; }", "<string>:1:17: error: pointers are not supported"},
        {"void f() { x = 1 } ", "<string>:1:17: error: expected ';' after expression"},
    };
    for (const Case& c : cases) EXPECT_EQ(parseError(c.source), c.error) << c.source;
}

TEST(Parser, deepNestingIsAnErrorNotACrash) {
    std::string chain = "1", swizzles = "v";
    for (int i = 0; i < 2000; ++i) chain += "+1", swizzles += ".x";
    struct Case {
        std::string source;
        const char* error;
    } cases[] = {
        {"void f() { x = " + std::string(300, '(') + "1" + std::string(300, ')') + "; }", "nesting is too deep"},
        {"void f() " + std::string(300, '{') + std::string(300, '}'), "nesting is too deep"},
        {"void f() { x = " + std::string(300, '!') + "1; }", "nesting is too deep"},
        {"float x = " + std::string(300, '{') + "1" + std::string(300, '}') + ";", "nesting is too deep"},
        {"void f() { x = " + chain + "; }", "expression is too complex"},
        {"void f() { x = " + swizzles + "; }", "expression is too complex"},
    };
    for (const Case& c : cases) {
        std::string error = parseError(c.source);
        EXPECT_TRUE(fronttest::isErrorAt(error, "<string>", c.error)) << error;
        EXPECT_EQ(error.substr(0, 11), "<string>:1:");
    }
    std::string withinBounds = "void f() { x = " + std::string(200, '(') + "1" + std::string(200, ')') + "; }";
    EXPECT_EQ(parseError(withinBounds), "");
}
