// One node of a device's feature model: every property of a top-level element of the flattened
// description that feature access needs, as plain fields, owned strings and ordered sub-lists.
// Values are not evaluated here; evaluation follows the names stored in the node.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kavro::genicam {

enum class NodeKind : uint8_t {
    Category = 0,
    Integer = 2,  // Integer, MaskedIntReg, IntReg, IntSwissKnife, IntConverter, EnumEntry
    Float = 3,    // Float, FloatReg, SwissKnife, Converter
    String = 4,   // StringReg, String
    Enumeration = 5,
    Command = 6,
    Boolean = 7,
    Register = 8,
    Port = 9,
};

// AccessMode and ImposedAccessMode as coded from their two letters.
inline constexpr uint16_t kAccessRO = 0x524F;
inline constexpr uint16_t kAccessRW = 0x5257;
inline constexpr uint16_t kAccessWO = 0x574F;
inline constexpr uint16_t kAccessNA = 0x4E41;
inline constexpr uint16_t kAccessNI = 0x4E49;

// Cachable: bit 7 set while no value is cached.
inline constexpr uint8_t kCacheNone = 0x00;
inline constexpr uint8_t kCacheWriteThrough = 0x81;
inline constexpr uint8_t kCacheWriteAround = 0x82;
inline constexpr uint8_t kCacheEmptyBit = 0x80;

inline constexpr uint8_t kBitNotGiven = 0xFF;

// Sub-lists hold at most this many elements; further ones are dropped at build time.
inline constexpr size_t kMaxSubListSize = 255;

struct VariableRef {
    std::string node;      // the referenced node
    std::string variable;  // the variable name used in formulas
};

// A further pIndex element: its node and the node its index is multiplied by (empty: 1).
struct IndexRef {
    std::string node;
    std::string pOffset;
};

struct IndexedValue {
    uint8_t index = 0;
    int64_t value = 0;          // ValueIndexed
    double floatValue = 0.0;    // ValueIndexed read as floating point (of Float nodes)
    std::string pValueIndexed;  // pValueIndexed; empty for ValueIndexed
};

// Strings are empty when the description did not give them (an empty element is skipped when
// the node is read, so "empty" and "not given" cannot be told apart and need not be).
struct FeatureNode {
    uint32_t index = 0;  // 1-based position in the node list
    std::string Name;
    NodeKind kind = NodeKind::Category;
    std::string elementName;  // the element the node came from (IntReg, Converter, ...)

    uint32_t Address = 0;
    std::vector<std::string> pAddress;
    int64_t Value = 0;
    std::string pValue;
    int64_t Min = -1;
    std::string pMin;
    int64_t Max = -1;
    std::string pMax;
    uint32_t OnValue = 1;
    uint32_t OffValue = 0;
    uint16_t AccessMode = 0;
    uint8_t LSB = kBitNotGiven;
    uint8_t MSB = kBitNotGiven;
    uint32_t Inc = 1;
    std::string pInc;
    uint8_t Representation = 5;
    uint32_t CommandValue = 0;
    std::string pCommandValue;
    uint8_t Endianess = 0;  // 1 = big endian
    uint32_t Length = 0;
    std::string Formula;
    std::string FormulaTo;
    std::string FormulaFrom;
    std::vector<std::string> pEnumEntry;
    std::string Symbolic;
    std::vector<VariableRef> pVariable;
    uint8_t portIsDevice = 0;  // pPort names "Device"
    std::string pPort;         // the port the register is on, when given
    uint8_t Visibility = 1;
    double FloatValue = 0.0;
    double FloatMin = -1.0;
    double FloatMax = -1.0;
    double FloatInc = 0.0;
    std::string pIsImplemented;
    std::string pIsAvailable;
    std::string DisplayName;
    std::string ToolTip;
    std::string Unit;
    std::string pIsLocked;
    uint8_t Sign = 0;  // 0 unsigned, 1 signed
    std::vector<IndexedValue> ValueIndexed;
    std::string pIndex;  // the first pIndex (its pOffset below); further ones in morePIndex
    std::vector<IndexRef> morePIndex;
    std::string pValueDefault;
    int64_t ValueDefault = 0;
    double FloatValueDefault = 0.0;
    std::vector<std::string> pValueCopy;
    uint8_t Slope = 0;  // 1 = decreasing
    std::string pOffset;
    std::string pLength;
    uint8_t Cachable = kCacheNone;
    // Kind 4 "Value": Length + 1 bytes, NUL-terminated; empty when not given.
    std::vector<char> StringValue;
    uint16_t ImposedAccessMode = 0;
    uint8_t DisplayNotation = 0;
    uint8_t DisplayPrecision = 0;
    std::vector<std::string> pInvalidator;
    std::vector<std::string> pSelected;
    uint8_t changed = 0;  // set when the node's value is written
    // Model write count at the node's last write, and when its cached value was read (from
    // cachedAddress): a cache is stale once one of its invalidators was written after it.
    uint64_t writtenAt = 0;
    uint64_t cachedAt = 0;
    uint32_t cachedAddress = 0;
    // Port nodes: the chunk the port reads (ChunkID, hexadecimal), when it is a chunk port.
    bool hasChunkId = false;
    uint64_t ChunkID = 0;
    int64_t PollingTime = 0;
};

}  // namespace kavro::genicam
