// Exported look-up table calls. The table's 8-bit values are packed into entry words: LUTIndex
// selects a word, LUTEntry holds it, and LUTIndex's increment says how many values one word
// carries. Table position i lives in the word at index (i / inc) * inc, in byte i mod inc
// counted from the least significant byte of the entry's value. A camera without LUTEntry is
// reached through the standard LUTValue: one table value at LUTIndex.
#include <cstdint>

#include "KavroGigEVisionLib.h"
#include "features/convenience_steps.h"
#include "frame/log.h"
#include "genicam/feature_model.h"

using kavro::features::convenience::run;
using kavro::frame::GevDevice;

namespace {

// An entry value is at most 64 bits wide: more values per word cannot be addressed.
constexpr uint32_t kMaxValuesPerEntry = 8;
// Up to this many values per word the entry is written back as an unsigned 32-bit number.
constexpr uint32_t kNarrowEntryValues = 4;

struct EntryWord {
    uint32_t increment = 0;
    unsigned shift = 0;  // bit position of the table value within the entry
    uint64_t value = 0;
};

// Selects the entry word holding `position` and reads it.
GevStatus readEntry(const GevDevice& dev, uint8_t device, uint16_t position, EntryWord& entry) {
    GevFeatureParameter index{};
    if (const GevStatus s = GEVGetFeatureParameter(device, "LUTIndex", &index)) {
        return s;
    }
    entry.increment = index.inc;
    if (entry.increment == 0 || entry.increment > kMaxValuesPerEntry) {
        kavro::frame::gevLogf(dev, "[ERROR] - LUT increment %u not supported.",
                              static_cast<unsigned>(entry.increment));
        return GEV_STATUS_NOT_SUPPORTED;
    }
    const uint32_t word = position / entry.increment * entry.increment;
    entry.shift = 8 * (position % entry.increment);
    if (const GevStatus s = GEVSetFeatureInteger(device, "LUTIndex", word)) {
        return s;
    }
    return GEVGetFeatureInteger(device, "LUTEntry", &entry.value);
}

// Whether the camera's table is reached through LUTValue: it has that feature and no LUTEntry.
bool usesLutValue(uint8_t device) {
    const auto model = kavro::genicam::FeatureModels::instance().get(device);
    return model != nullptr && model->findNode("LUTEntry") == nullptr &&
           model->findNode("LUTValue") != nullptr;
}

}  // namespace

extern "C" {

KAVRO_API GevStatus LumexGetLut(uint8_t device, uint16_t position, uint8_t* value) {
    return run(device, value != nullptr, [&](GevDevice& dev) -> GevStatus {
        if (usesLutValue(device)) {
            if (const GevStatus s = GEVSetFeatureInteger(device, "LUTIndex", position)) {
                return s;
            }
            return kavro::features::convenience::readLowBits(device, "LUTValue", *value);
        }
        EntryWord entry;
        if (const GevStatus s = readEntry(dev, device, position, entry)) {
            return s;
        }
        *value = static_cast<uint8_t>(entry.value >> entry.shift);
        return GEV_STATUS_SUCCESS;
    });
}

// Words of up to four values go back as their four low bytes, unsigned. Wider words go back
// whole: cutting them to 32 bits would lose the value being set and clear its neighbours.
KAVRO_API GevStatus LumexSetLut(uint8_t device, uint16_t position, uint8_t value) {
    return run(device, true, [&](GevDevice& dev) -> GevStatus {
        if (usesLutValue(device)) {
            if (const GevStatus s = GEVSetFeatureInteger(device, "LUTIndex", position)) {
                return s;
            }
            return GEVSetFeatureInteger(device, "LUTValue", value);
        }
        EntryWord entry;
        if (const GevStatus s = readEntry(dev, device, position, entry)) {
            return s;
        }
        uint64_t word = entry.value & ~(uint64_t{0xFF} << entry.shift);
        word |= uint64_t{value} << entry.shift;
        const int64_t written = entry.increment <= kNarrowEntryValues
                                    ? static_cast<int64_t>(static_cast<uint32_t>(word))
                                    : static_cast<int64_t>(word);
        return GEVSetFeatureInteger(device, "LUTEntry", written);
    });
}

}  // extern "C"
