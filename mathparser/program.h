// The compiled form of a formula: a stack program in postfix order with forward jumps for the
// short-circuit operators and the conditional. One program serves integer and double evaluation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kavro::mathparser {

enum class Function : uint8_t {
    Sgn,
    Neg,
    Atan,
    Cos,
    Sin,
    Tan,
    Abs,
    Exp,
    Ln,
    Lg,
    Sqrt,
    Trunc,
    Floor,
    Ceil,
    Round,
    Asin,
    Acos,
};

enum class Op : uint8_t {
    PushLiteral,   // operand: index into literals
    LoadVariable,  // operand: index into names
    LoadConstant,  // operand: index into names (PI or E); a variable of that name wins
    Negate,
    Not,
    Complement,
    BitOr,
    BitXor,
    BitAnd,
    Equal,
    NotEqual,
    Less,
    LessEqual,
    Greater,
    GreaterEqual,
    ShiftLeft,
    ShiftRight,
    Add,
    Subtract,
    Multiply,
    Divide,
    Modulo,
    Power,
    Call,         // function: one argument
    RoundDigits,  // ROUND(x, digits)
    Jump,         // operand: target
    JumpIfFalse,  // pops the condition
    AndJump,      // pops; if false pushes 0 and jumps
    OrJump,       // pops; if true pushes 1 and jumps
    ToBool,       // replaces the top with 1 or 0
};

struct Instruction {
    Op op = Op::PushLiteral;
    Function function = Function::Sgn;
    uint32_t operand = 0;
};

struct Literal {
    bool isFloat = false;
    int64_t integer = 0;
    double real = 0.0;
};

struct Program {
    std::vector<Instruction> code;
    std::vector<Literal> literals;
    std::vector<std::string> names;
    size_t maxStack = 0;
    // Set when the text did not compile; the program is then empty.
    const char* error = nullptr;
};

}  // namespace kavro::mathparser
