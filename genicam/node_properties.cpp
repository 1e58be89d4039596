#include "genicam/node_properties.h"

#include <array>
#include <charconv>
#include <limits>
#include <string>
#include <unordered_map>

namespace kavro::genicam {
namespace {

constexpr bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view skipSpace(std::string_view text) {
    size_t first = 0;
    while (first < text.size() && isSpace(text[first])) {
        ++first;
    }
    return text.substr(first);
}

struct SignedText {
    bool negative = false;
    bool hex = false;
    std::string_view digits;  // the digits, up to the first character that is none
};

SignedText splitNumber(std::string_view text) {
    SignedText out;
    text = skipSpace(text);
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        out.negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        out.hex = true;
        text.remove_prefix(2);
    }
    out.digits = text;
    return out;
}

// Magnitude of the leading digits; nullopt when there is none or it needs more than 64 bits.
std::optional<uint64_t> magnitude(std::string_view digits, int base) {
    uint64_t value = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (error != std::errc() || end == digits.data()) {
        return std::nullopt;
    }
    return value;
}

enum class Prop {
    Address,
    Value,
    Min,
    Max,
    Inc,
    CommandValue,
    Length,
    LSB,
    MSB,
    OnValue,
    OffValue,
    DisplayPrecision,
    PollingTime,
    ValueDefault,
    AccessMode,
    ImposedAccessMode,
    pValue,
    pMin,
    pMax,
    pInc,
    pCommandValue,
    pLength,
    Formula,
    FormulaTo,
    FormulaFrom,
    Symbolic,
    pIsImplemented,
    pIsAvailable,
    DisplayName,
    ToolTip,
    Unit,
    pIsLocked,
    pIndex,
    pValueDefault,
    Representation,
    Endianess,
    Visibility,
    Sign,
    Slope,
    Cachable,
    DisplayNotation,
    pPort,
    pAddress,
    pEnumEntry,
    pValueCopy,
    pInvalidator,
    pSelected,
    pVariable,
    ValueIndexed,
    pValueIndexed,
    ChunkID,
};

const std::unordered_map<std::string_view, Prop>& propertyTable() {
    static const std::unordered_map<std::string_view, Prop> table = {
        {"Address", Prop::Address},
        {"Value", Prop::Value},
        {"Min", Prop::Min},
        {"Max", Prop::Max},
        {"Inc", Prop::Inc},
        {"CommandValue", Prop::CommandValue},
        {"Length", Prop::Length},
        {"LSB", Prop::LSB},
        {"MSB", Prop::MSB},
        {"OnValue", Prop::OnValue},
        {"OffValue", Prop::OffValue},
        {"DisplayPrecision", Prop::DisplayPrecision},
        {"PollingTime", Prop::PollingTime},
        {"ValueDefault", Prop::ValueDefault},
        {"AccessMode", Prop::AccessMode},
        {"ImposedAccessMode", Prop::ImposedAccessMode},
        {"pValue", Prop::pValue},
        {"pMin", Prop::pMin},
        {"pMax", Prop::pMax},
        {"pInc", Prop::pInc},
        {"pCommandValue", Prop::pCommandValue},
        {"pLength", Prop::pLength},
        {"Formula", Prop::Formula},
        {"FormulaTo", Prop::FormulaTo},
        {"FormulaFrom", Prop::FormulaFrom},
        {"Symbolic", Prop::Symbolic},
        {"pIsImplemented", Prop::pIsImplemented},
        {"pIsAvailable", Prop::pIsAvailable},
        {"DisplayName", Prop::DisplayName},
        {"ToolTip", Prop::ToolTip},
        {"Unit", Prop::Unit},
        {"pIsLocked", Prop::pIsLocked},
        {"pIndex", Prop::pIndex},
        {"pValueDefault", Prop::pValueDefault},
        {"Representation", Prop::Representation},
        {"Endianess", Prop::Endianess},
        {"Visibility", Prop::Visibility},
        {"Sign", Prop::Sign},
        {"Slope", Prop::Slope},
        {"Cachable", Prop::Cachable},
        {"DisplayNotation", Prop::DisplayNotation},
        {"pPort", Prop::pPort},
        {"pAddress", Prop::pAddress},
        {"pEnumEntry", Prop::pEnumEntry},
        {"pValueCopy", Prop::pValueCopy},
        {"pInvalidator", Prop::pInvalidator},
        {"pSelected", Prop::pSelected},
        {"pVariable", Prop::pVariable},
        {"ValueIndexed", Prop::ValueIndexed},
        {"pValueIndexed", Prop::pValueIndexed},
        {"ChunkID", Prop::ChunkID},
    };
    return table;
}

std::optional<std::string> attributeOf(const xmlNode* element, const char* name) {
    if (element == nullptr) {
        return std::nullopt;
    }
    xmlChar* value = xmlGetProp(element, reinterpret_cast<const xmlChar*>(name));
    if (value == nullptr) {
        return std::nullopt;
    }
    std::string text(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return text;
}

uint16_t accessCode(std::string_view text) {
    const auto first = static_cast<uint8_t>(text.size() > 0 ? text[0] : '\0');
    const auto second = static_cast<uint8_t>(text.size() > 1 ? text[1] : '\0');
    return static_cast<uint16_t>(first * 256u + second);
}

template <class T>
bool appendBounded(std::vector<T>& list, T element) {
    if (list.size() >= kMaxSubListSize) {
        return false;
    }
    list.push_back(std::move(element));
    return true;
}

bool isFloatKind(const FeatureNode& node) {
    return node.kind == NodeKind::Float;
}

// Applies a keyword: `entries` maps texts to values; other texts leave the field. The
// stylesheets trim every leaf text, so keywords compare exactly.
template <class T, size_t N>
void applyKeyword(T& field, std::string_view text,
                  const std::array<std::pair<std::string_view, T>, N>& entries) {
    for (const auto& [word, value] : entries) {
        if (text == word) {
            field = value;
            return;
        }
    }
}

}  // namespace

std::optional<int64_t> scanInteger64(std::string_view text) {
    const SignedText number = splitNumber(text);
    const auto value = magnitude(number.digits, number.hex ? 16 : 10);
    if (!value) {
        return std::nullopt;
    }
    if (number.hex) {
        // All 64 bits of a hexadecimal text are kept: 0xFFFFFFFFFFFFFFFF is -1.
        const auto bits = number.negative ? 0 - *value : *value;
        return static_cast<int64_t>(bits);
    }
    constexpr uint64_t kMaxPositive = std::numeric_limits<int64_t>::max();
    if (number.negative) {
        if (*value > kMaxPositive + 1) {
            return std::nullopt;
        }
        return static_cast<int64_t>(0 - *value);
    }
    if (*value > kMaxPositive) {
        return std::nullopt;
    }
    return static_cast<int64_t>(*value);
}

std::optional<uint32_t> scanInteger32(std::string_view text) {
    const SignedText number = splitNumber(text);
    const auto value = magnitude(number.digits, number.hex ? 16 : 10);
    if (!value) {
        return std::nullopt;
    }
    constexpr uint64_t kMaxUnsigned = std::numeric_limits<uint32_t>::max();
    constexpr uint64_t kMaxNegative = uint64_t{1} << 31;
    if (number.negative ? *value > kMaxNegative : *value > kMaxUnsigned) {
        return std::nullopt;
    }
    const uint64_t bits = number.negative ? 0 - *value : *value;
    return static_cast<uint32_t>(bits & kMaxUnsigned);
}

int64_t leadingDecimal(std::string_view text) {
    const SignedText number = splitNumber(text);
    // A "0x" prefix is no decimal: its leading "0" is the number.
    if (number.hex) {
        return 0;
    }
    uint64_t value = 0;
    for (const char c : number.digits) {
        if (c < '0' || c > '9') {
            break;
        }
        value = value * 10u + static_cast<uint64_t>(c - '0');
    }
    return static_cast<int64_t>(number.negative ? 0 - value : value);
}

std::optional<double> scanFloat(std::string_view text) {
    text = skipSpace(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() == '+' || text.front() == '-') {
        return std::nullopt;
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (end == text.data() || error == std::errc::invalid_argument) {
        return std::nullopt;
    }
    // Out of range: from_chars leaves the value; an overflow reads as infinity, an underflow
    // as zero, like the C library's scan.
    if (error == std::errc::result_out_of_range) {
        value = 0.0;
        size_t mantissaEnd = 0;
        while (mantissaEnd < text.size() && text[mantissaEnd] != 'e' && text[mantissaEnd] != 'E') {
            ++mantissaEnd;
        }
        const bool largeExponent = mantissaEnd + 1 < text.size() && text[mantissaEnd + 1] != '-';
        if (largeExponent) {
            value = std::numeric_limits<double>::infinity();
        }
    }
    return negative ? -value : value;
}

bool applyProperty(FeatureNode& node, const xmlNode* element, std::string_view property,
                   std::string_view text) {
    const auto& table = propertyTable();
    const auto found = table.find(property);
    if (found == table.end()) {
        return true;
    }
    const bool floatKind = isFloatKind(node);
    switch (found->second) {
        case Prop::Address:
            if (const auto value = scanInteger64(text)) {
                node.Address += static_cast<uint32_t>(static_cast<uint64_t>(*value));
            }
            break;
        case Prop::Value:
            if (floatKind) {
                if (const auto value = scanFloat(text)) {
                    node.FloatValue = *value;
                }
            } else if (node.kind == NodeKind::String) {
                node.Length = text.size() >= 255 ? static_cast<uint32_t>(text.size()) : 255u;
                node.StringValue.assign(size_t{node.Length} + 1, '\0');
                std::copy(text.begin(), text.end(), node.StringValue.begin());
            } else if (const auto value = scanInteger64(text)) {
                node.Value = *value;
            }
            break;
        case Prop::Min:
        case Prop::Max: {
            const bool isMin = found->second == Prop::Min;
            if (floatKind) {
                if (const auto value = scanFloat(text)) {
                    (isMin ? node.FloatMin : node.FloatMax) = *value;
                }
                (isMin ? node.Min : node.Max) = 0;
            } else if (const auto value = scanInteger64(text)) {
                (isMin ? node.Min : node.Max) = *value;
            }
            break;
        }
        case Prop::Inc:
            if (floatKind) {
                if (const auto value = scanFloat(text)) {
                    node.FloatInc = *value;
                }
            } else if (const auto value = scanInteger32(text)) {
                node.Inc = *value;
            }
            break;
        case Prop::CommandValue:
            if (const auto value = scanInteger64(text)) {
                node.Value = *value;
            }
            if (const auto value = scanInteger32(text)) {
                node.CommandValue = *value;
            }
            break;
        case Prop::Length:
            if (node.Length == 0) {
                if (const auto value = scanInteger32(text)) {
                    node.Length = *value;
                }
            }
            break;
        case Prop::LSB:
            if (node.LSB == kBitNotGiven) {
                node.LSB = static_cast<uint8_t>(static_cast<uint64_t>(leadingDecimal(text)));
            }
            break;
        case Prop::MSB:
            if (node.MSB == kBitNotGiven) {
                node.MSB = static_cast<uint8_t>(static_cast<uint64_t>(leadingDecimal(text)));
            }
            break;
        case Prop::OnValue:
            if (const auto value = scanInteger32(text)) {
                node.OnValue = *value;
            }
            break;
        case Prop::OffValue:
            if (const auto value = scanInteger32(text)) {
                node.OffValue = *value;
            }
            break;
        case Prop::DisplayPrecision:
            if (const auto value = scanInteger64(text)) {
                node.DisplayPrecision = static_cast<uint8_t>(static_cast<uint64_t>(*value));
            }
            break;
        case Prop::PollingTime:
            if (const auto value = scanInteger64(text)) {
                node.PollingTime = *value;
            }
            break;
        case Prop::ValueDefault:
            if (floatKind) {
                if (const auto value = scanFloat(text)) {
                    node.FloatValueDefault = *value;
                }
            } else if (const auto value = scanInteger64(text)) {
                node.ValueDefault = *value;
            }
            break;
        case Prop::AccessMode:
            if (node.AccessMode == 0) {
                node.AccessMode = accessCode(text);
            }
            break;
        case Prop::ImposedAccessMode:
            if (node.ImposedAccessMode == 0) {
                node.ImposedAccessMode = accessCode(text);
            }
            break;
        case Prop::pValue:
            node.pValue = text;
            break;
        case Prop::pMin:
            node.pMin = text;
            break;
        case Prop::pMax:
            node.pMax = text;
            break;
        case Prop::pInc:
            node.pInc = text;
            break;
        case Prop::pCommandValue:
            node.pCommandValue = text;
            break;
        case Prop::pLength:
            node.pLength = text;
            break;
        case Prop::Formula:
            node.Formula = text;
            break;
        case Prop::FormulaTo:
            node.FormulaTo = text;
            break;
        case Prop::FormulaFrom:
            node.FormulaFrom = text;
            break;
        case Prop::Symbolic:
            node.Symbolic = text;
            break;
        case Prop::pIsImplemented:
            node.pIsImplemented = text;
            break;
        case Prop::pIsAvailable:
            node.pIsAvailable = text;
            break;
        case Prop::DisplayName:
            node.DisplayName = text;
            break;
        case Prop::ToolTip:
            node.ToolTip = text;
            break;
        case Prop::Unit:
            node.Unit = text;
            break;
        case Prop::pIsLocked:
            node.pIsLocked = text;
            break;
        case Prop::pIndex: {
            // Every pIndex counts, each with its own multiplier.
            std::string offset = attributeOf(element, "pOffset").value_or(std::string());
            if (node.pIndex.empty()) {
                node.pIndex = text;
                node.pOffset = std::move(offset);
                break;
            }
            return appendBounded(node.morePIndex, IndexRef{std::string(text), std::move(offset)});
        }
        case Prop::ChunkID: {
            // Hexadecimal, with or without "0x".
            const SignedText number = splitNumber(text);
            if (const auto value = magnitude(number.digits, 16); value && !number.negative) {
                node.ChunkID = *value;
                node.hasChunkId = true;
            }
            break;
        }
        case Prop::pValueDefault:
            node.pValueDefault = text;
            break;
        case Prop::Representation:
            applyKeyword<uint8_t, 5>(node.Representation, text,
                                     {{{"Linear", 0},
                                       {"Logarithmic", 1},
                                       {"Boolean", 2},
                                       {"PureNumber", 3},
                                       {"HexNumber", 4}}});
            break;
        case Prop::Endianess:
            node.Endianess = text == "BigEndian" ? 1 : 0;
            break;
        case Prop::Visibility:
            applyKeyword<uint8_t, 4>(
                node.Visibility, text,
                {{{"Invisible", 0}, {"Beginner", 1}, {"Expert", 2}, {"Guru", 3}}});
            break;
        case Prop::Sign:
            node.Sign = text == "Unsigned" ? 0 : 1;
            break;
        case Prop::Slope:
            node.Slope = text == "Decreasing" ? 1 : 0;
            break;
        case Prop::Cachable:
            applyKeyword<uint8_t, 3>(node.Cachable, text,
                                     {{{"NoCache", kCacheNone},
                                       {"WriteThrough", kCacheWriteThrough},
                                       {"WriteAround", kCacheWriteAround}}});
            break;
        case Prop::DisplayNotation:
            applyKeyword<uint8_t, 3>(node.DisplayNotation, text,
                                     {{{"Automatic", 0}, {"Fixed", 1}, {"Scientific", 2}}});
            break;
        case Prop::pPort:
            node.portIsDevice = text == "Device" ? 1 : 0;
            node.pPort = text;
            break;
        case Prop::pAddress:
            return appendBounded(node.pAddress, std::string(text));
        case Prop::pEnumEntry:
            return appendBounded(node.pEnumEntry, std::string(text));
        case Prop::pValueCopy:
            return appendBounded(node.pValueCopy, std::string(text));
        case Prop::pInvalidator:
            return appendBounded(node.pInvalidator, std::string(text));
        case Prop::pSelected:
            return appendBounded(node.pSelected, std::string(text));
        case Prop::pVariable: {
            // Without a variable name the reference cannot be used in a formula: ignored.
            auto variable = attributeOf(element, "Name");
            if (!variable) {
                break;
            }
            return appendBounded(node.pVariable, VariableRef{std::string(text), *variable});
        }
        case Prop::ValueIndexed:
        case Prop::pValueIndexed: {
            const auto index = attributeOf(element, "Index");
            if (!index) {
                break;
            }
            IndexedValue entry;
            // Index: the schema allows hexadecimal as well as decimal; 8 bits are kept.
            if (const auto number = scanInteger64(*index)) {
                entry.index = static_cast<uint8_t>(static_cast<uint64_t>(*number));
            }
            if (found->second == Prop::ValueIndexed) {
                if (const auto value = scanInteger64(text)) {
                    entry.value = *value;
                }
                entry.floatValue = static_cast<double>(entry.value);
                if (!splitNumber(text).hex) {
                    if (const auto value = scanFloat(text)) {
                        entry.floatValue = *value;
                    }
                }
            } else {
                entry.pValueIndexed = text;
            }
            return appendBounded(node.ValueIndexed, std::move(entry));
        }
    }
    return true;
}

}  // namespace kavro::genicam
