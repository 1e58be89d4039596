#include "mathparser/lexer.h"

#include <charconv>
#include <system_error>

namespace kavro::mathparser {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool isNameChar(char c) {
    return isLetter(c) || isDigit(c) || c == '.';
}
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

int hexValue(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

Token Lexer::next() {
    while (pos_ < text_.size() && isSpace(text_[pos_])) {
        ++pos_;
    }
    Token token;
    token.offset = pos_;
    if (pos_ >= text_.size()) {
        return token;
    }
    const char c = text_[pos_];
    if (isDigit(c) || (c == '.' && pos_ + 1 < text_.size() && isDigit(text_[pos_ + 1]))) {
        return number(pos_);
    }
    if (isLetter(c)) {
        const size_t start = pos_;
        while (pos_ < text_.size() && isNameChar(text_[pos_])) {
            ++pos_;
        }
        token.kind = TokenKind::Name;
        token.text = text_.substr(start, pos_ - start);
        return token;
    }
    return operatorToken(pos_);
}

Token Lexer::number(size_t start) {
    Token token;
    token.kind = TokenKind::Number;
    token.offset = start;
    size_t p = start;
    const size_t n = text_.size();

    if (text_[p] == '0' && p + 1 < n && (text_[p + 1] == 'x' || text_[p + 1] == 'X')) {
        p += 2;
        uint64_t value = 0;
        size_t digits = 0;
        for (; p < n && hexValue(text_[p]) >= 0; ++p, ++digits) {
            if (value >> 60 != 0) {
                token.kind = TokenKind::Invalid;
                token.error = "number does not fit in 64 bits";
            }
            value = (value << 4) | static_cast<uint64_t>(hexValue(text_[p]));
        }
        if (digits == 0) {
            token.kind = TokenKind::Invalid;
            token.error = "hexadecimal number without digits";
        }
        token.integer = static_cast<int64_t>(value);
        token.real = static_cast<double>(token.integer);
    } else {
        uint64_t value = 0;
        bool overflow = false;
        for (; p < n && isDigit(text_[p]); ++p) {
            const auto digit = static_cast<uint64_t>(text_[p] - '0');
            if (value > (UINT64_MAX - digit) / 10) {
                overflow = true;
            }
            value = value * 10 + digit;
        }
        if (p < n && text_[p] == '.') {
            token.isFloat = true;
            for (++p; p < n && isDigit(text_[p]); ++p) {
            }
        }
        // An exponent needs digits; "2e" is the number 2 followed by the name "e".
        if (p < n && (text_[p] == 'e' || text_[p] == 'E')) {
            size_t q = p + 1;
            if (q < n && (text_[q] == '+' || text_[q] == '-')) {
                ++q;
            }
            if (q < n && isDigit(text_[q])) {
                token.isFloat = true;
                for (p = q; p < n && isDigit(text_[p]); ++p) {
                }
            }
        }
        if (token.isFloat) {
            const auto [end, ec] =
                std::from_chars(text_.data() + start, text_.data() + p, token.real);
            if (ec != std::errc() || end != text_.data() + p) {
                token.kind = TokenKind::Invalid;
                token.error = "number out of range";
            }
            token.integer = 0;
        } else if (overflow) {
            token.kind = TokenKind::Invalid;
            token.error = "number does not fit in 64 bits";
        } else {
            token.integer = static_cast<int64_t>(value);
            token.real = static_cast<double>(token.integer);
        }
    }
    pos_ = p;
    token.text = text_.substr(start, p - start);
    return token;
}

Token Lexer::operatorToken(size_t start) {
    Token token;
    token.offset = start;
    const char c = text_[start];
    const char c2 = start + 1 < text_.size() ? text_[start + 1] : '\0';
    size_t length = 1;
    switch (c) {
        case '(':
            token.kind = TokenKind::LeftParen;
            break;
        case ')':
            token.kind = TokenKind::RightParen;
            break;
        case ',':
            token.kind = TokenKind::Comma;
            break;
        case '?':
            token.kind = TokenKind::Question;
            break;
        case ':':
            token.kind = TokenKind::Colon;
            break;
        case '^':
            token.kind = TokenKind::BitXor;
            break;
        case '=':
            token.kind = TokenKind::Equal;
            break;
        case '+':
            token.kind = TokenKind::Plus;
            break;
        case '-':
            token.kind = TokenKind::Minus;
            break;
        case '/':
            token.kind = TokenKind::Divide;
            break;
        case '%':
            token.kind = TokenKind::Modulo;
            break;
        case '!':
            token.kind = TokenKind::Not;
            break;
        case '~':
            token.kind = TokenKind::Complement;
            break;
        case '|':
            token.kind = c2 == '|' ? TokenKind::LogicalOr : TokenKind::BitOr;
            break;
        case '&':
            token.kind = c2 == '&' ? TokenKind::LogicalAnd : TokenKind::BitAnd;
            break;
        case '*':
            token.kind = c2 == '*' ? TokenKind::Power : TokenKind::Multiply;
            break;
        case '<':
            token.kind = c2 == '='   ? TokenKind::LessEqual
                         : c2 == '>' ? TokenKind::NotEqual
                         : c2 == '<' ? TokenKind::ShiftLeft
                                     : TokenKind::Less;
            break;
        case '>':
            token.kind = c2 == '='   ? TokenKind::GreaterEqual
                         : c2 == '>' ? TokenKind::ShiftRight
                                     : TokenKind::Greater;
            break;
        default:
            token.kind = TokenKind::Invalid;
            token.error = "unexpected character";
            break;
    }
    if ((c == '|' && c2 == '|') || (c == '&' && c2 == '&') || (c == '*' && c2 == '*') ||
        (c == '<' && (c2 == '=' || c2 == '>' || c2 == '<')) ||
        (c == '>' && (c2 == '=' || c2 == '>'))) {
        length = 2;
    }
    pos_ = start + length;
    token.text = text_.substr(start, length);
    return token;
}

}  // namespace kavro::mathparser
