// Reading and writing the value of a feature node: follows pValue, sums the register address
// from Address, pAddress, pIndex and pOffset, picks indexed values, evaluates swiss-knife and
// converter formulas, reads and writes device registers, cuts bit fields and keeps the cache.
//
// Every function takes the model of the device it works on (held by the caller for the whole
// call) and locks its evaluation lock; references to other nodes are evaluated recursively by
// name. A chain of references that comes back to a node being evaluated ends with
// GEV_STATUS_REFERENCE_CYCLE and a log line instead of endless recursion; so does a chain of
// references nested more than 64 deep.
//
// Statuses: GEV_STATUS_DEVICE_NOT_OPEN, GEV_STATUS_FEATURE_NOT_FOUND (no such node, or its
// pIsImplemented reads 0), GEV_STATUS_FORMULA_ERROR (logged as "[ERROR] - MathParser: " and the
// evaluator's text, two lines), GEV_STATUS_INVALID_ADDRESS (integer read at 0xFFFFFFFF),
// GEV_STATUS_NOT_SUPPORTED (a register length outside 1..8, logged), GEV_STATUS_REFERENCE_CYCLE,
// and whatever a register or memory transaction returns. A failed read leaves the output alone.
//
// Registers: 4 bytes are one register, 8 bytes two (high word at the address, then the low
// word), other lengths up to 8 are read and written as bytes, most significant first. A FloatReg
// of 8 bytes holds an IEEE-754 double, of 4 bytes a single.
#pragma once

#include <cstdint>
#include <string_view>

#include "KavroGigEVisionLib.h"
#include "genicam/feature_model.h"

namespace kavro::features {

// Integer read: the value as an unsigned 64-bit number.
[[nodiscard]] GevStatus readInteger(uint8_t device, genicam::FeatureModel& model,
                                    std::string_view name, uint64_t& value);
// Float read.
[[nodiscard]] GevStatus readFloat(uint8_t device, genicam::FeatureModel& model,
                                  std::string_view name, double& value);
// The integer read converters use for the value their data holder keeps on the device.
[[nodiscard]] GevStatus readNodeRaw(uint8_t device, genicam::FeatureModel& model,
                                    std::string_view name, uint64_t& value);

[[nodiscard]] GevStatus writeInteger(uint8_t device, genicam::FeatureModel& model,
                                     std::string_view name, int64_t value);
[[nodiscard]] GevStatus writeFloat(uint8_t device, genicam::FeatureModel& model,
                                   std::string_view name, double value);

// Mask and right shift of the bit field lo..hi of a register value of `registerBits` bits (the
// register's length times 8); with big-endian numbering bit 0 is the register's most significant
// bit. Bit numbers beyond the register wrap around its width.
struct FieldMask {
    uint64_t mask = 0;
    uint32_t shift = 0;
};
[[nodiscard]] FieldMask fieldMask(uint8_t lo, uint8_t hi, bool bigEndian,
                                  uint32_t registerBits = 32);

}  // namespace kavro::features
