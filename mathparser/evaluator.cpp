#include "mathparser/evaluator.h"

#include <array>
#include <string>

#include "mathparser/compiler.h"
#include "mathparser/error_text.h"

namespace kavro::mathparser {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kE = 2.71828182845904523536;

const char* unknownVariable(std::string_view name) {
    try {
        return internErrorText("unknown variable \"" + std::string(name) + "\"",
                               "unknown variable");
    } catch (...) {
        return "unknown variable";
    }
}

}  // namespace

const char* run(const Program& program, Mode mode, const VariableSource& variables, Value& out) {
    if (program.maxStack > kMaxStack || program.code.empty()) {
        return kInternalError;
    }
    std::array<Value, kMaxStack> stack;
    size_t top = 0;  // number of values on the stack
    // In double mode every value on the stack is a double.
    const auto push = [&](Value v) {
        stack[top++] = (mode == Mode::Double && !v.isDouble) ? doubleValue(asDouble(v)) : v;
    };

    const auto& code = program.code;
    for (size_t pc = 0; pc < code.size(); ++pc) {
        const Instruction& in = code[pc];
        switch (in.op) {
            case Op::PushLiteral: {
                const Literal& literal = program.literals[in.operand];
                push(literal.isFloat ? doubleValue(literal.real) : integerValue(literal.integer));
                break;
            }
            case Op::LoadVariable:
            case Op::LoadConstant: {
                const std::string& name = program.names[in.operand];
                Value v;
                if (!variables.load(name, v)) {
                    if (in.op == Op::LoadVariable) {
                        return unknownVariable(name);
                    }
                    v = doubleValue(name == "PI" ? kPi : kE);
                }
                push(v);
                break;
            }
            case Op::Negate:
            case Op::Not:
            case Op::Complement:
                --top;
                push(applyUnary(in.op, stack[top]));
                break;
            case Op::Call:
                --top;
                push(applyFunction(in.function, stack[top]));
                break;
            case Op::RoundDigits:
                top -= 2;
                push(roundDigits(stack[top], stack[top + 1]));
                break;
            case Op::Jump:
                pc = in.operand - 1;
                break;
            case Op::JumpIfFalse:
                if (!isTrue(stack[--top])) {
                    pc = in.operand - 1;
                }
                break;
            case Op::AndJump:
            case Op::OrJump: {
                const bool value = isTrue(stack[--top]);
                if (value == (in.op == Op::OrJump)) {
                    push(integerValue(value));
                    pc = in.operand - 1;
                }
                break;
            }
            case Op::ToBool:
                --top;
                push(integerValue(isTrue(stack[top])));
                break;
            default: {
                top -= 2;
                Value result;
                if (applyBinary(in.op, stack[top], stack[top + 1], result) ==
                    MathError::DivisionByZero) {
                    return "division by zero";
                }
                push(result);
                break;
            }
        }
    }
    if (top != 1) {
        return kInternalError;
    }
    out = stack[0];
    return nullptr;
}

}  // namespace kavro::mathparser
