#include "cg/front/preprocessor.h"

#include "cg/front/files.h"
#include "cg/front/if_expression.h"

#include <algorithm>
#include <climits>

namespace cgc {

struct Preprocessor::Macro {
    enum Builtin : std::uint8_t { Plain, LineNumber, FileName };
    std::string_view name;
    Loc definition;
    Builtin builtin = Plain;
    bool functionLike = false, variadic = false;
    bool disabled = false;  // while its expansion is read: a name inside it stays a name
    std::vector<std::string_view> params;
    std::vector<Token> body;
    std::vector<int> paramOf;  // function-like: per body token, its parameter or -1
};

// A file being read, or the tokens of an expansion. A boundary holds a macro
// argument being expanded on its own: reading stops at its end.
struct Preprocessor::Frame {
    std::unique_ptr<Lexer> lexer;
    std::string path;  // where #include looks beside
    std::size_t conditionalBase = 0;
    std::vector<Token> tokens;
    std::size_t pos = 0;
    Macro* macro = nullptr;
    int expansion = 0;
    bool boundary = false;
};

struct Preprocessor::Conditional {
    Loc loc;
    std::string_view directive;  // "if", "ifdef", "ifndef"
    bool taken = false;          // one of its groups was (or is being) read
    bool sawElse = false;
};

struct Preprocessor::UseKey {
    const Macro* macro;
    int file, line, col;
};

std::size_t Preprocessor::UseKeyHash::operator()(const UseKey& k) const {
    std::size_t h = std::hash<const void*>()(k.macro);
    for (int v : {k.file, k.line, k.col}) h = h * 1000003u ^ std::size_t(unsigned(v));
    return h;
}

bool Preprocessor::UseKeyEqual::operator()(const UseKey& a, const UseKey& b) const {
    return a.macro == b.macro && a.file == b.file && a.line == b.line && a.col == b.col;
}

namespace {

std::string describe(const Token& t) { return t.is(Tok::EndOfFile) ? "end of line" : quoted(t.text); }

}  // namespace

Preprocessor::Preprocessor(Sources& sources, const Options& options) : sources_(sources), options_(options) {
    for (auto [name, builtin] : {std::pair<std::string_view, Macro::Builtin>{"__LINE__", Macro::LineNumber},
                                 {"__FILE__", Macro::FileName}}) {
        Macro& m = definitions_.emplace_back();
        m.name = name;
        m.builtin = builtin;
        macros_[name] = &m;
    }
}

Preprocessor::~Preprocessor() = default;

void Preprocessor::start(std::string_view text, const std::string& fileName) {
    pushFile(text, fileName, fileId(fileName));
    includeDepth_ = 0;
}

int Preprocessor::fileId(const std::string& name) {
    auto [it, inserted] = fileIds_.try_emplace(name, 0);
    if (inserted) it->second = sources_.addFile(name);
    return it->second;
}

std::string_view Preprocessor::store(std::string text) {
    texts_.push_back(std::move(text));
    return texts_.back();
}

Lexer& Preprocessor::fileLexer() { return *frames_.back()->lexer; }

void Preprocessor::pushFile(std::string_view text, const std::string& path, int file) {
    auto f = std::make_unique<Frame>();
    f->lexer = std::make_unique<Lexer>(text, file);
    f->path = path;
    f->conditionalBase = conditionals_.size();
    frames_.push_back(std::move(f));
    ++includeDepth_;
}

void Preprocessor::pushList(std::vector<Token> tokens, Macro* macro, int expansion, bool boundary, const Token& use) {
    if (macro && !outermost_) {
        outermost_ = macro;
        outermostUse_ = use;
    }
    if (++listDepth_ > kMaxExpansionDepth)
        fail(placeOf(use), "macro " + quoted(macro ? macro->name : use.text) + " nests more than " +
                               std::to_string(kMaxExpansionDepth) + " expansions deep");
    if (!boundary) spend(std::max<std::size_t>(1, tokens.size()), use);
    auto f = std::make_unique<Frame>();
    f->tokens = std::move(tokens);
    f->macro = macro;
    f->expansion = expansion;
    f->boundary = boundary;
    if (macro) macro->disabled = true;
    frames_.push_back(std::move(f));
}

void Preprocessor::popFrame() {
    Frame& f = *frames_.back();
    if (f.lexer) {
        --includeDepth_;
    } else {
        if (f.macro) f.macro->disabled = false;
        if (f.expansion && !pendingAfter_) pendingAfter_ = f.expansion;
        if (--listDepth_ == 0) outermost_ = nullptr;
    }
    frames_.pop_back();
}

void Preprocessor::spend(std::size_t tokens, const Token& at) {
    spent_ += tokens;
    if (spent_ <= kMaxTokens) return;
    // Inside an expansion the macro used in the text is to blame.
    if (outermost_)
        fail(placeOf(outermostUse_),
             "macro " + quoted(outermost_->name) + " expands past " + std::to_string(kMaxTokens) + " tokens");
    fail(at.loc, "the program is longer than " + std::to_string(kMaxTokens) + " tokens");
}

// A token of a directive that is kept (a macro body, a condition): it counts
// against the budget like any other.
Token Preprocessor::lineToken(Lexer& lexer) {
    Token t = lexer.nextInLine();
    if (!t.is(Tok::EndOfFile)) spend(1, t);
    return t;
}

// The next token with directives done, before macro expansion.
Token Preprocessor::lex() {
    if (havePeek_) {
        havePeek_ = false;
        return peeked_;
    }
    for (;;) {
        Frame& f = *frames_.back();
        if (!f.lexer) {
            if (f.pos < f.tokens.size()) return f.tokens[f.pos++];
            if (f.boundary) {
                Token end;
                end.loc = f.tokens.empty() ? Loc{} : f.tokens.back().end();
                return end;
            }
            popFrame();
            continue;
        }
        Token t = f.lexer->next();
        if (t.is(Tok::Hash) && t.has(Token::AtLineStart)) {
            directive(t);
            continue;
        }
        if (t.is(Tok::EndOfFile)) {
            if (conditionals_.size() > f.conditionalBase) {
                const Conditional& c = conditionals_.back();
                fail(c.loc, "unterminated " + directiveName(c.directive));
            }
            if (frames_.size() == 1) return t;
            popFrame();
            continue;
        }
        spend(1, t);
        return t;
    }
}

const Token& Preprocessor::peekLex() {
    if (!havePeek_) {
        peeked_ = lex();
        havePeek_ = true;
    }
    return peeked_;
}

Token Preprocessor::next() {
    for (;;) {
        Token t = lex();
        if (isWord(t.kind) && !t.has(Token::NoExpand)) {
            auto it = macros_.find(t.text);
            if (it != macros_.end()) {
                if (it->second->disabled)
                    t.flags |= Token::NoExpand;
                else if (expand(t, *it->second))
                    continue;
            }
        }
        t.after = pendingAfter_;
        pendingAfter_ = 0;
        return t;
    }
}

bool Preprocessor::expand(Token& name, Macro& macro) {
    if (macro.builtin != Macro::Plain) {
        Token t = name;
        t.flags = name.flags & Token::SpaceBefore;
        if (macro.builtin == Macro::LineNumber) {
            t.kind = Tok::Number;
            t.literal = Token::Int;
            t.number = name.loc.line;
            t.text = store(std::to_string(name.loc.line));
        } else {
            t.kind = Tok::String;
            t.text = store("\"" + sources_.fileName(name.loc.file) + "\"");
        }
        pushList({t}, &macro, 0, false, name);
        return true;
    }
    if (macro.functionLike && !peekLex().is(Tok::LParen)) return false;
    if (listDepth_ == 0) {  // a use in the text: what the budget names
        outermost_ = &macro;
        outermostUse_ = name;
    }
    Token close = name;
    std::vector<std::vector<Token>> args;
    if (macro.functionLike) {
        lex();
        args = collectArguments(name, macro, &close);
    }
    int expansion = expansionRecord(macro, name);
    std::vector<Token> tokens = substitute(macro, name, close, args, expansion);
    pushList(std::move(tokens), &macro, expansion, false, name);
    return true;
}

std::vector<std::vector<Token>> Preprocessor::collectArguments(const Token& name, Macro& macro, Token* close) {
    std::vector<std::vector<Token>> args(1);
    int depth = 0;
    for (;;) {
        Token t = lex();
        if (t.is(Tok::EndOfFile))
            fail(placeOf(name), "unterminated argument list invoking macro " + quoted(macro.name));
        if (t.is(Tok::LParen)) {
            ++depth;
        } else if (t.is(Tok::RParen)) {
            if (depth == 0) {
                *close = t;
                break;
            }
            --depth;
        } else if (t.is(Tok::Comma) && depth == 0 && !(macro.variadic && args.size() == macro.params.size())) {
            args.emplace_back();
            continue;
        }
        if (isWord(t.kind) && !t.has(Token::NoExpand)) {
            auto it = macros_.find(t.text);
            if (it != macros_.end() && it->second->disabled) t.flags |= Token::NoExpand;
        }
        args.back().push_back(t);
    }
    std::size_t want = macro.params.size();
    if (want == 0 && args.size() == 1 && args[0].empty()) args.clear();
    if (macro.variadic && args.size() + 1 == want) args.emplace_back();
    if (args.size() != want)
        fail(placeOf(name), "macro " + quoted(macro.name) + " takes " + std::to_string(want) +
                                (want == 1 ? " argument, " : " arguments, ") + std::to_string(args.size()) +
                                " given");
    return args;
}

int Preprocessor::expansionRecord(const Macro& macro, const Token& use) {
    // One record per macro and place of use: a macro used again inside
    // another's expansion points at the same place and shares it.
    auto [it, inserted] = expansionIds_.try_emplace(UseKey{&macro, use.loc.file, use.loc.line, use.loc.col}, 0);
    if (inserted) it->second = sources_.addExpansion(Expansion{std::string(macro.name), use.loc, macro.definition});
    return it->second;
}

std::vector<Token> Preprocessor::substitute(const Macro& macro, const Token& use, const Token& close,
                                            const std::vector<std::vector<Token>>& args, int expansion) {
    // The macro's own tokens stand at the place of its use; argument tokens
    // keep the place where they were written.
    auto placed = [&](Token t) {
        t.loc = Loc{use.loc.line, use.loc.col, use.loc.file, expansion};
        t.endLine = close.endLine;
        t.endCol = close.endCol;
        t.flags &= Token::SpaceBefore;
        t.after = 0;
        return t;
    };
    auto param = [&](std::size_t i) { return macro.functionLike ? macro.paramOf[i] : -1; };
    std::vector<Token> out;
    std::vector<std::vector<Token>> expanded(args.size());
    std::vector<bool> isExpanded(args.size(), false);
    std::size_t operand = 0;  // where the last operand of a ## begins in `out`
    const std::vector<Token>& body = macro.body;
    for (std::size_t i = 0; i < body.size(); ++i) {
        const Token& b = body[i];
        if (b.is(Tok::Hash) && macro.functionLike) {  // #x: checked at the definition to name a parameter
            const std::vector<Token>& arg = args[std::size_t(param(i + 1))];
            std::string text = "\"";
            for (std::size_t j = 0; j < arg.size(); ++j) {
                if (j > 0 && arg[j].has(Token::SpaceBefore)) text += ' ';
                for (char c : arg[j].text) {
                    if (arg[j].is(Tok::String) && (c == '"' || c == '\\')) text += '\\';
                    text += c;
                }
            }
            Token s = placed(b);
            s.kind = Tok::String;
            s.text = store(text + "\"");
            operand = out.size();
            out.push_back(s);
            ++i;
            continue;
        }
        if (b.is(Tok::HashHash)) {  // never first or last: checked at the definition
            ++i;
            std::vector<Token> right;
            if (param(i) >= 0)
                right = args[std::size_t(param(i))];
            else
                right.push_back(placed(body[i]));
            if (right.empty()) continue;  // an empty argument leaves the left operand as it is
            if (out.size() == operand) {  // and an empty left one leaves the right
                out.insert(out.end(), right.begin(), right.end());
                continue;
            }
            Token& left = out.back();
            Token pasted;
            std::string_view text = store(std::string(left.text) + std::string(right[0].text));
            if (!Lexer::single(text, &pasted))
                fail(placeOf(use), "pasting " + quoted(left.text) + " and " + quoted(right[0].text) +
                                       " does not give a valid token");
            pasted.loc = left.loc;
            pasted.endLine = left.endLine;
            pasted.endCol = left.endCol;
            pasted.flags = left.flags & Token::SpaceBefore;
            left = pasted;
            operand = out.size() - 1;
            out.insert(out.end(), right.begin() + 1, right.end());
            continue;
        }
        operand = out.size();
        int p = param(i);
        if (p < 0) {
            out.push_back(placed(b));
        } else if (i + 1 < body.size() && body[i + 1].is(Tok::HashHash)) {
            out.insert(out.end(), args[std::size_t(p)].begin(), args[std::size_t(p)].end());
        } else {
            if (!isExpanded[std::size_t(p)]) {
                expanded[std::size_t(p)] = expandList(args[std::size_t(p)], use);
                isExpanded[std::size_t(p)] = true;
            }
            out.insert(out.end(), expanded[std::size_t(p)].begin(), expanded[std::size_t(p)].end());
        }
    }
    return out;
}

// An argument, or a #if line, fully expanded on its own.
std::vector<Token> Preprocessor::expandList(std::vector<Token> tokens, const Token& use) {
    bool hadPeek = havePeek_;
    Token saved = peeked_;
    havePeek_ = false;
    pushList(std::move(tokens), nullptr, 0, true, use);
    std::vector<Token> out;
    for (;;) {
        Token t = next();
        if (t.is(Tok::EndOfFile)) break;
        out.push_back(t);
    }
    havePeek_ = hadPeek;
    peeked_ = saved;
    popFrame();
    return out;
}

// ---- directives ----

namespace {

// The rest of a directive line, comments included, is of no interest.
void skipLine(Lexer& lexer) {
    lexer.setLenient(true);
    while (!lexer.nextInLine().is(Tok::EndOfFile)) {
    }
    lexer.setLenient(false);
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\\')) s.remove_suffix(1);
    return s;
}

}  // namespace

void Preprocessor::directive(const Token& hash) {
    Lexer& lexer = fileLexer();
    Token word = lexer.nextInLine();
    if (word.is(Tok::EndOfFile)) return;  // a lone '#'
    std::string_view w = isWord(word.kind) ? word.text : std::string_view();
    if (w == "define") {
        define(lexer, word);
    } else if (w == "undef") {
        Token name = lexer.nextInLine();
        if (!isWord(name.kind)) fail(name.loc, "macro name expected near " + describe(name));
        macros_.erase(name.text);
    } else if (w == "include") {
        include(lexer, word);
        return;
    } else if (w == "if" || w == "ifdef" || w == "ifndef") {
        Conditional c;
        c.loc = hash.loc;
        c.directive = w;
        if (w == "if") {
            c.taken = condition(lexer, word);
        } else {
            Token name = lexer.nextInLine();
            if (!isWord(name.kind)) fail(name.loc, "macro name expected near " + describe(name));
            c.taken = (macros_.count(name.text) != 0) == (w == "ifdef");
        }
        conditionals_.push_back(c);
        skipLine(lexer);
        if (!c.taken) skipGroup(lexer);
        return;
    } else if (w == "elif" || w == "else" || w == "endif") {
        if (conditionals_.size() <= frames_.back()->conditionalBase)
            fail(hash.loc, directiveName(w) + " without '#if'");
        if (w == "endif") {
            conditionals_.pop_back();
        } else {
            Conditional& c = conditionals_.back();
            if (c.sawElse) fail(hash.loc, directiveName(w) + " after '#else'");
            c.sawElse = w == "else";
            // The group just read was the one taken: the rest up to #endif is not.
            skipLine(lexer);
            skipGroup(lexer);
            return;
        }
    } else if (w == "line") {
        line(lexer, word);
    } else if (w == "error") {
        // The user's own words are the message, so they get more room than a quote.
        std::string text = clipped(trim(lexer.restOfLine()), 160);
        fail(hash.loc, text.empty() ? "#error" : text);
    } else if (w != "pragma") {
        fail(word.loc, "unknown preprocessor directive " + directiveName(word.text));
    }
    skipLine(lexer);
}

bool Preprocessor::sameDefinition(const Macro& a, const Macro& b) {
    if (a.builtin != b.builtin || a.functionLike != b.functionLike || a.variadic != b.variadic ||
        a.params != b.params || a.body.size() != b.body.size())
        return false;
    for (std::size_t i = 0; i < a.body.size(); ++i) {
        const Token &x = a.body[i], &y = b.body[i];
        if (x.kind != y.kind || x.text != y.text) return false;
        if (i > 0 && x.has(Token::SpaceBefore) != y.has(Token::SpaceBefore)) return false;
    }
    return true;
}

void Preprocessor::define(Lexer& lexer, const Token& at) {
    Token name = lineToken(lexer);
    if (name.is(Tok::EndOfFile)) fail(at.loc, "macro name missing after '#define'");
    if (!isWord(name.kind)) fail(name.loc, "macro name expected near " + describe(name));
    if (name.text == "defined") fail(name.loc, "'defined' cannot be used as a macro name");
    Macro& m = definitions_.emplace_back();
    m.name = name.text;
    m.definition = name.loc;
    Token t = lineToken(lexer);
    std::unordered_map<std::string_view, int> index;
    if (t.is(Tok::LParen) && !t.has(Token::SpaceBefore)) {
        m.functionLike = true;
        t = lineToken(lexer);
        while (!t.is(Tok::RParen) || !m.params.empty()) {
            if (t.is(Tok::Ellipsis)) {
                m.variadic = true;
                index.emplace("__VA_ARGS__", int(m.params.size()));
                m.params.push_back("__VA_ARGS__");
                t = lineToken(lexer);
                if (!t.is(Tok::RParen)) fail(t.loc, "')' expected after '...' near " + describe(t));
                break;
            }
            if (!isWord(t.kind)) fail(t.loc, "macro parameter name expected near " + describe(t));
            if (!index.emplace(t.text, int(m.params.size())).second)
                fail(t.loc, "duplicate macro parameter " + quoted(t.text));
            m.params.push_back(t.text);
            t = lineToken(lexer);
            if (t.is(Tok::RParen)) break;
            if (!t.is(Tok::Comma)) fail(t.loc, "')' expected in macro parameter list near " + describe(t));
            t = lineToken(lexer);
        }
        t = lineToken(lexer);
    }
    for (; !t.is(Tok::EndOfFile); t = lineToken(lexer)) m.body.push_back(t);
    if (!m.body.empty() && (m.body.front().is(Tok::HashHash) || m.body.back().is(Tok::HashHash))) {
        const Token& bad = m.body.front().is(Tok::HashHash) ? m.body.front() : m.body.back();
        fail(bad.loc, "'##' cannot appear at either end of a macro expansion");
    }
    if (m.functionLike) {
        m.paramOf.assign(m.body.size(), -1);
        for (std::size_t i = 0; i < m.body.size(); ++i) {
            if (!isWord(m.body[i].kind)) continue;
            auto it = index.find(m.body[i].text);
            if (it != index.end()) m.paramOf[i] = it->second;
        }
        for (std::size_t i = 0; i < m.body.size(); ++i)
            if (m.body[i].is(Tok::Hash) && (i + 1 == m.body.size() || m.paramOf[i + 1] < 0))
                fail(m.body[i].loc, "'#' is not followed by a macro parameter");
    }
    // As in C, a macro may be defined again only as it was.
    Macro*& slot = macros_[m.name];
    if (slot && !sameDefinition(*slot, m)) fail(name.loc, "macro " + quoted(m.name) + " is redefined differently");
    slot = &m;
}

void Preprocessor::include(Lexer& lexer, const Token& at) {
    Token file = lexer.nextInLine();
    if (!file.is(Tok::String) || file.text.size() < 2 || file.text.back() != '"')
        fail(file.loc, "#include expects \"FILENAME\" near " + describe(file));
    std::string name(file.text.substr(1, file.text.size() - 2));
    skipLine(lexer);
    if (includeDepth_ > kMaxIncludeDepth)
        fail(at.loc, "#include nested more than " + std::to_string(kMaxIncludeDepth) + " files deep");
    std::string path = name;
    if (name.empty() || name[0] != '/') {
        const std::string& including = frames_.back()->path;
        std::size_t slash = including.rfind('/');
        if (slash != std::string::npos) path = including.substr(0, slash + 1) + name;
    }
    std::string text, error;
    bool ok = options_.readFile ? options_.readFile(path, &text, &error) : readSourceFile(path, &text, &error);
    if (!ok) fail(file.loc, "cannot read " + quoted(path) + (error.empty() ? "" : ": " + error));
    texts_.push_back(std::move(text));
    pushFile(texts_.back(), path, fileId(path));
}

void Preprocessor::line(Lexer& lexer, const Token& at) {
    Token number = lexer.nextInLine();
    if (!number.is(Tok::Number) || number.literal != Token::Int || number.number > INT_MAX / 2)
        fail(number.is(Tok::EndOfFile) ? at.loc : number.loc, "#line expects a line number near " + describe(number));
    Token file = lexer.nextInLine();
    int id = -1;
    if (file.is(Tok::String)) {
        // An empty name would leave messages without a file: the file keeps its own.
        if (file.text.size() > 2) id = fileId(std::string(file.text.substr(1, file.text.size() - 2)));
    } else if (!file.is(Tok::EndOfFile)) {
        fail(file.loc, "#line expects a file name in quotes near " + describe(file));
    }
    lexer.setNextLine(int(number.number), id);
}

bool Preprocessor::condition(Lexer& lexer, const Token& at) {
    std::vector<Token> tokens;
    for (Token t = lineToken(lexer); !t.is(Tok::EndOfFile); t = lineToken(lexer)) {
        if (t.is(Tok::Name) && t.text == "defined") {
            Token name = lineToken(lexer);
            bool paren = name.is(Tok::LParen);
            if (paren) name = lineToken(lexer);
            if (!isWord(name.kind)) fail(name.loc, "macro name expected after 'defined' near " + describe(name));
            if (paren) {
                Token close = lineToken(lexer);
                if (!close.is(Tok::RParen)) fail(close.loc, "')' expected after 'defined' near " + describe(close));
            }
            t.kind = Tok::Number;
            t.literal = Token::Int;
            t.number = macros_.count(name.text) != 0 ? 1 : 0;
            t.text = t.number != 0 ? "1" : "0";
        }
        tokens.push_back(t);
    }
    if (tokens.empty()) fail(at.loc, directiveName(at.text) + " with no expression");
    std::vector<Token> expanded = expandList(std::move(tokens), at);
    return evaluateIfExpression(expanded, at) != 0;
}

// Skips the rest of a conditional group that is not read, up to the #elif or
// #else that is taken or the #endif that closes it; nested groups are only
// counted.
void Preprocessor::skipGroup(Lexer& lexer) {
    int depth = 0;
    lexer.setLenient(true);
    for (;;) {
        Token t = lexer.next();
        if (t.is(Tok::EndOfFile)) {
            lexer.setLenient(false);
            const Conditional& c = conditionals_.back();
            fail(c.loc, "unterminated " + directiveName(c.directive));
        }
        if (!t.is(Tok::Hash) || !t.has(Token::AtLineStart)) continue;
        Token word = lexer.nextInLine();
        std::string_view w = isWord(word.kind) ? word.text : std::string_view();
        if (w == "if" || w == "ifdef" || w == "ifndef") {
            ++depth;
        } else if (w == "endif") {
            if (depth-- == 0) {
                conditionals_.pop_back();
                break;
            }
        } else if (depth == 0 && (w == "else" || w == "elif")) {
            Conditional& c = conditionals_.back();
            if (c.sawElse) {
                lexer.setLenient(false);
                fail(t.loc, directiveName(w) + " after '#else'");
            }
            c.sawElse = w == "else";
            if (!c.taken) {
                lexer.setLenient(false);
                c.taken = c.sawElse || condition(lexer, word);
                lexer.setLenient(true);
                if (c.taken) break;
            }
        }
        skipLine(lexer);
        lexer.setLenient(true);
    }
    skipLine(lexer);
    lexer.setLenient(false);
}

}  // namespace cgc
