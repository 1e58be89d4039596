#include "mathparser/compiler.h"

#include <array>
#include <string>
#include <utility>

#include "mathparser/error_text.h"
#include "mathparser/lexer.h"

namespace kavro::mathparser {
namespace {

constexpr std::array<std::pair<std::string_view, Function>, 17> kFunctions{{
    {"SGN", Function::Sgn},
    {"NEG", Function::Neg},
    {"ATAN", Function::Atan},
    {"COS", Function::Cos},
    {"SIN", Function::Sin},
    {"TAN", Function::Tan},
    {"ABS", Function::Abs},
    {"EXP", Function::Exp},
    {"LN", Function::Ln},
    {"LG", Function::Lg},
    {"SQRT", Function::Sqrt},
    {"TRUNC", Function::Trunc},
    {"FLOOR", Function::Floor},
    {"CEIL", Function::Ceil},
    {"ROUND", Function::Round},
    {"ASIN", Function::Asin},
    {"ACOS", Function::Acos},
}};

const std::pair<std::string_view, Function>* findFunction(std::string_view name) {
    for (const auto& entry : kFunctions) {
        if (entry.first == name) {
            return &entry;
        }
    }
    return nullptr;
}

// Binding strength of binary operators, weakest first; 0 for tokens that are not one.
int precedence(TokenKind kind) {
    switch (kind) {
        case TokenKind::LogicalOr:
            return 1;
        case TokenKind::LogicalAnd:
            return 2;
        case TokenKind::BitOr:
            return 3;
        case TokenKind::BitXor:
            return 4;
        case TokenKind::BitAnd:
            return 5;
        case TokenKind::Equal:
        case TokenKind::NotEqual:
            return 6;
        case TokenKind::Less:
        case TokenKind::LessEqual:
        case TokenKind::Greater:
        case TokenKind::GreaterEqual:
            return 7;
        case TokenKind::ShiftLeft:
        case TokenKind::ShiftRight:
            return 8;
        case TokenKind::Plus:
        case TokenKind::Minus:
            return 9;
        case TokenKind::Multiply:
        case TokenKind::Divide:
        case TokenKind::Modulo:
            return 10;
        case TokenKind::Power:
            return 11;
        default:
            return 0;
    }
}

Op binaryOp(TokenKind kind) {
    switch (kind) {
        case TokenKind::BitOr:
            return Op::BitOr;
        case TokenKind::BitXor:
            return Op::BitXor;
        case TokenKind::BitAnd:
            return Op::BitAnd;
        case TokenKind::Equal:
            return Op::Equal;
        case TokenKind::NotEqual:
            return Op::NotEqual;
        case TokenKind::Less:
            return Op::Less;
        case TokenKind::LessEqual:
            return Op::LessEqual;
        case TokenKind::Greater:
            return Op::Greater;
        case TokenKind::GreaterEqual:
            return Op::GreaterEqual;
        case TokenKind::ShiftLeft:
            return Op::ShiftLeft;
        case TokenKind::ShiftRight:
            return Op::ShiftRight;
        case TokenKind::Plus:
            return Op::Add;
        case TokenKind::Minus:
            return Op::Subtract;
        case TokenKind::Multiply:
            return Op::Multiply;
        case TokenKind::Divide:
            return Op::Divide;
        case TokenKind::Modulo:
            return Op::Modulo;
        default:
            return Op::Power;
    }
}

// Recursive descent with precedence climbing; emits postfix code while it parses.
class Parser {
  public:
    Parser(std::string_view text, Program& program) : lexer_(text), program_(program) { advance(); }

    void run() {
        if (token_.kind == TokenKind::End) {
            program_.error = "empty formula";
            return;
        }
        if (parseTernary() && token_.kind != TokenKind::End) {
            unexpected();
        }
        if (program_.error != nullptr) {
            program_.code.clear();
        }
    }

  private:
    class DepthGuard {
      public:
        explicit DepthGuard(int& depth) : depth_(depth) { ++depth_; }
        ~DepthGuard() { --depth_; }
        DepthGuard(const DepthGuard&) = delete;
        DepthGuard& operator=(const DepthGuard&) = delete;

      private:
        int& depth_;
    };

    void advance() { token_ = lexer_.next(); }

    bool fail(const Token& at, std::string_view what) {
        if (program_.error == nullptr) {
            std::string text(what);
            text += " at column ";
            text += std::to_string(at.offset + 1);
            program_.error = internErrorText(text, "syntax error");
        }
        return false;
    }

    bool unexpected() {
        if (token_.kind == TokenKind::Invalid) {
            return fail(token_,
                        std::string(token_.error) + " \"" + std::string(token_.text) + "\"");
        }
        if (token_.kind == TokenKind::End) {
            return fail(token_, "unexpected end of formula");
        }
        return fail(token_, "unexpected \"" + std::string(token_.text) + "\"");
    }

    bool expect(TokenKind kind, std::string_view what) {
        if (token_.kind != kind) {
            const std::string found = token_.kind == TokenKind::End
                                          ? std::string("end of formula")
                                          : "\"" + std::string(token_.text) + "\"";
            return fail(token_, "expected \"" + std::string(what) + "\" but found " + found);
        }
        advance();
        return true;
    }

    bool tooDeep() {
        if (depth_ <= kMaxNestingDepth) {
            return false;
        }
        if (program_.error == nullptr) {
            program_.error = "formula nested too deeply";
        }
        return true;
    }

    // Appends an instruction that changes the stack height by `delta`.
    size_t emit(Op op, int delta, uint32_t operand = 0, Function function = Function::Sgn) {
        program_.code.push_back(Instruction{op, function, operand});
        stack_ = static_cast<size_t>(static_cast<int64_t>(stack_) + delta);
        if (stack_ > program_.maxStack) {
            program_.maxStack = stack_;
        }
        return program_.code.size() - 1;
    }

    void patchToHere(size_t jump) {
        program_.code[jump].operand = static_cast<uint32_t>(program_.code.size());
    }

    uint32_t nameIndex(std::string_view name) {
        auto& names = program_.names;
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i] == name) {
                return static_cast<uint32_t>(i);
            }
        }
        names.emplace_back(name);
        return static_cast<uint32_t>(names.size() - 1);
    }

    // condition ? a : b, right-associative, only the chosen branch runs.
    bool parseTernary() {
        DepthGuard guard(depth_);
        if (tooDeep() || !parseBinary(1)) {
            return false;
        }
        if (token_.kind != TokenKind::Question) {
            return true;
        }
        advance();
        const size_t toElse = emit(Op::JumpIfFalse, -1);
        if (!parseTernary()) {
            return false;
        }
        const size_t toEnd = emit(Op::Jump, 0);
        --stack_;  // the else branch starts where the then branch started
        patchToHere(toElse);
        if (!expect(TokenKind::Colon, ":") || !parseTernary()) {
            return false;
        }
        patchToHere(toEnd);
        return true;
    }

    bool parseBinary(int minPrecedence) {
        DepthGuard guard(depth_);
        if (tooDeep() || !parseUnary()) {
            return false;
        }
        for (;;) {
            const TokenKind kind = token_.kind;
            const int prec = precedence(kind);
            if (prec == 0 || prec < minPrecedence) {
                return true;
            }
            advance();
            if (kind == TokenKind::LogicalAnd || kind == TokenKind::LogicalOr) {
                const size_t skip =
                    emit(kind == TokenKind::LogicalAnd ? Op::AndJump : Op::OrJump, -1);
                if (!parseBinary(prec + 1)) {
                    return false;
                }
                emit(Op::ToBool, 0);
                patchToHere(skip);
                continue;
            }
            // ** groups to the right, everything else to the left.
            if (!parseBinary(kind == TokenKind::Power ? prec : prec + 1)) {
                return false;
            }
            emit(binaryOp(kind), -1);
        }
    }

    bool parseUnary() {
        DepthGuard guard(depth_);
        if (tooDeep()) {
            return false;
        }
        const TokenKind kind = token_.kind;
        if (kind != TokenKind::Minus && kind != TokenKind::Plus && kind != TokenKind::Not &&
            kind != TokenKind::Complement) {
            return parsePrimary();
        }
        advance();
        if (!parseUnary()) {
            return false;
        }
        if (kind == TokenKind::Minus) {
            emit(Op::Negate, 0);
        } else if (kind == TokenKind::Not) {
            emit(Op::Not, 0);
        } else if (kind == TokenKind::Complement) {
            emit(Op::Complement, 0);
        }
        return true;
    }

    bool parsePrimary() {
        switch (token_.kind) {
            case TokenKind::Number:
                program_.literals.push_back(Literal{token_.isFloat, token_.integer, token_.real});
                emit(Op::PushLiteral, 1, static_cast<uint32_t>(program_.literals.size() - 1));
                advance();
                return true;
            case TokenKind::LeftParen:
                advance();
                return parseTernary() && expect(TokenKind::RightParen, ")");
            case TokenKind::Name:
                return parseName();
            default:
                return unexpected();
        }
    }

    bool parseName() {
        const Token name = token_;
        advance();
        const auto* function = findFunction(name.text);
        if (token_.kind == TokenKind::LeftParen) {
            if (function == nullptr) {
                return fail(name, "unknown function \"" + std::string(name.text) + "\"");
            }
            return parseCall(name, function->second);
        }
        if (function != nullptr) {
            return fail(token_, "expected \"(\" after " + std::string(name.text));
        }
        const bool constant = name.text == "PI" || name.text == "E";
        emit(constant ? Op::LoadConstant : Op::LoadVariable, 1, nameIndex(name.text));
        return true;
    }

    bool parseCall(const Token& name, Function function) {
        advance();  // (
        if (!parseTernary()) {
            return false;
        }
        if (token_.kind == TokenKind::Comma) {
            if (function != Function::Round) {
                return fail(token_, std::string(name.text) + " takes one argument");
            }
            advance();
            if (!parseTernary()) {
                return false;
            }
            if (token_.kind == TokenKind::Comma) {
                return fail(token_, "ROUND takes one or two arguments");
            }
            emit(Op::RoundDigits, -1);
        } else {
            emit(Op::Call, 0, 0, function);
        }
        return expect(TokenKind::RightParen, ")");
    }

    Lexer lexer_;
    Program& program_;
    Token token_;
    int depth_ = 0;
    size_t stack_ = 0;
};

}  // namespace

std::shared_ptr<const Program> compile(std::string_view text) {
    auto program = std::make_shared<Program>();
    if (text.size() > kMaxFormulaLength) {
        program->error = "formula too long";
        return program;
    }
    Parser(text, *program).run();
    if (program->error == nullptr && program->maxStack > kMaxStack) {
        program->error = "formula too complex";
        program->code.clear();
    }
    return program;
}

}  // namespace kavro::mathparser
