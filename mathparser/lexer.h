// Splits a formula into tokens: numbers, names, operators and punctuation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kavro::mathparser {

enum class TokenKind : uint8_t {
    End,
    Invalid,  // a character or number that can't start a token; `error` says why
    Number,
    Name,
    LeftParen,
    RightParen,
    Comma,
    Question,
    Colon,
    LogicalOr,   // ||
    LogicalAnd,  // &&
    BitOr,       // |
    BitXor,      // ^
    BitAnd,      // &
    Equal,       // =
    NotEqual,    // <>
    Less,
    LessEqual,
    Greater,
    GreaterEqual,
    ShiftLeft,
    ShiftRight,
    Plus,
    Minus,
    Multiply,
    Divide,
    Modulo,
    Power,  // **
    Not,    // !
    Complement,
};

struct Token {
    TokenKind kind = TokenKind::End;
    size_t offset = 0;
    std::string_view text;
    // Number tokens: integer literals (decimal or 0x hex) keep their 64-bit two's complement
    // value in `integer` and that value as a double in `real`; floating literals set isFloat.
    bool isFloat = false;
    int64_t integer = 0;
    double real = 0.0;
    const char* error = nullptr;
};

class Lexer {
  public:
    explicit Lexer(std::string_view text) : text_(text) {}

    // The next token; End forever once the text is used up.
    Token next();

  private:
    Token number(size_t start);
    Token operatorToken(size_t start);

    std::string_view text_;
    size_t pos_ = 0;
};

}  // namespace kavro::mathparser
