// The ARB program reader's state, shared by its statement half (reader.cpp)
// and its binding half (bindings.cpp: fragment.*, state.*, program.*, result.*).
#pragma once

#include "cg/arb/reader.h"
#include "cg/diag.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace cgc::arbread {

struct Token {
    enum Kind : std::uint8_t { Word, Number, Symbol, End };
    Kind kind = End;
    std::string_view text;
    Loc loc;
    bool integral = false;  // Number: digits only
};

// A declared name, after ALIAS is followed.
struct Name {
    enum Kind : std::uint8_t { Attribute, Param, ParamArray, Temp, Output };
    Kind kind = Temp;
    int size = 1;   // ParamArray: elements
    int index = 0;  // Temp: its number; Output: 1 for result.depth
    std::string binding;  // Attribute: what it binds, for counting
    Loc loc;
};

// A register as an operand names it.
struct Register {
    enum Kind : std::uint8_t { Attribute, Param, Temp, Output };
    Kind kind = Param;
    int index = 0;  // Temp: its number; Output: 1 for result.depth
};

class Reader {
public:
    Reader(std::string_view text, int file, const Limits& limits);
    Stats run();

private:
    // ---- tokens (reader.cpp) ----
    void startLexing();
    void lexOne();
    void dropFinishedTokens();
    const Token& tok() const { return tokens_[pos_]; }
    const Token& peek(std::size_t ahead = 1);
    void advance();
    bool is(std::string_view text) const;
    bool accept(std::string_view text);
    void expect(std::string_view text);
    [[noreturn]] void errorNear(const std::string& what) const;
    std::string word(const char* what);
    int integer(const char* what);
    Loc end() const { return prevEnd_; }

    // ---- statements and instructions (reader.cpp) ----
    void option();
    void statement();
    void declaration(std::string_view keyword);
    std::string newName();
    void instruction();
    Register destination(std::uint8_t* mask);
    Register source(bool* swizzled, int* components);
    Register sourceRegister();
    int component(std::string_view text, bool* rgba) const;
    void count(bool texture, const Loc& loc, Register dst, bool hasDst);
    void limit(int kind, int needed, const Loc& loc);

    // ---- bindings (bindings.cpp) ----
    std::string fragmentBinding();                    // after "fragment"
    int stateBinding(bool multiple, std::string* key);    // after "state"; rows bound
    int programBinding(bool multiple, std::string* key);  // after "program"
    int resultBinding();                              // after "result": 0 color, 1 depth
    int constantVector();                             // "{ ... }": components
    void useParameter(const std::string& key);
    void useAttribute(const std::string& key);

    std::vector<Token> tokens_;  // from the current statement's first on
    std::size_t pos_ = 0;
    std::size_t at_ = 0;  // the lexer's place in the text
    int line_ = 1, col_ = 1;
    bool ended_ = false;
    Loc prevEnd_;
    std::string_view text_;
    int file_;
    const Limits& limits_;

    std::map<std::string, Name, std::less<>> names_;
    std::set<std::string> options_;
    bool shadowOption_ = false, drawBuffersOption_ = false;
    std::set<std::string> parameters_, attributes_;  // distinct bindings
    int declaredParameters_ = 0;
    std::map<int, std::pair<std::string, Loc>> unitTargets_;
    Stats stats_;
    // The node (indirection phase) that last read or wrote each TEMP in an
    // ALU instruction, and that last wrote it at all.
    std::vector<std::uint32_t> aluTemps_, tempsOutput_;
    std::uint32_t node_ = 1;
    std::vector<Register> sourcesRead_;  // by the instruction being read
    // The first place each limit was passed: kind -> (order, place).
    std::map<int, std::pair<int, Loc>> passed_;
    int order_ = 0;
};

enum LimitKind { kInstructions, kAlu, kTex, kIndirections, kTemporaries, kParameters, kAttributes };

}  // namespace cgc::arbread
