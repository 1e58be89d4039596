// GEVGetFeatureParameter: a feature's limits in integer and float form, increment, access mode,
// flags, enumeration entry count and register properties.
#include <cstring>
#include <string>

#include "KavroGigEVisionLib.h"
#include "features/feature_calls.h"
#include "features/node_access.h"
#include "features/node_rules.h"

using kavro::features::readFloat;
using kavro::features::readInteger;
using kavro::features::calls::addressOf;
using kavro::features::calls::ChainEnd;
using kavro::features::calls::entryAvailable;
using kavro::features::calls::FeatureModel;
using kavro::features::calls::FeatureNode;
using kavro::features::calls::findReferenced;
using kavro::features::calls::lengthOf;
using kavro::features::calls::walkValueChain;
using kavro::features::calls::withFeatureModel;
using kavro::features::detail::truncateToInt64;
using kavro::frame::GevDevice;
using kavro::genicam::NodeKind;
namespace genicam = kavro::genicam;

namespace {

// Limits a float node reports when its description gives none (FloatMin/FloatMax keep -1.0).
constexpr double kFloatLowest = -9223372036854775808.0;
constexpr double kFloatHighest = 9223372036854775808.0;
constexpr double kFloatUnset = -1.0;
constexpr int64_t kIntegerUnset = -1;
constexpr int64_t kIntegerHighest = 4294967295;

// A value read or taken from a node, in the form it came in.
struct Number {
    bool isFloat = false;
    double f = 0.0;
    int64_t i = 0;

    static Number integer(int64_t value) { return Number{false, 0.0, value}; }
    static Number floating(double value) { return Number{true, value, 0}; }
    [[nodiscard]] double asDouble() const { return isFloat ? f : static_cast<double>(i); }
    [[nodiscard]] int64_t asInteger() const { return isFloat ? truncateToInt64(f) : i; }
};

struct Call {
    uint8_t device;
    GevDevice& dev;
    FeatureModel& model;
};

// Reads the node `reference` names: the float read when that node (or `source` when there is
// none) is of the float kind, else the integer read. A node that does not exist or is not
// implemented gives 0.
GevStatus readReference(const Call& call, const std::string& reference, const FeatureNode& source,
                        Number& out) {
    const FeatureNode* target = findReferenced(call.model, reference);
    const NodeKind kind = target != nullptr ? target->kind : source.kind;
    GevStatus status = GEV_STATUS_SUCCESS;
    if (kind == NodeKind::Float) {
        double value = 0.0;
        status = readFloat(call.device, call.model, reference, value);
        out = Number::floating(status == GEV_STATUS_SUCCESS ? value : 0.0);
    } else {
        uint64_t value = 0;
        status = readInteger(call.device, call.model, reference, value);
        out = Number::integer(status == GEV_STATUS_SUCCESS ? static_cast<int64_t>(value) : 0);
    }
    return status == GEV_STATUS_FEATURE_NOT_FOUND ? GEV_STATUS_SUCCESS : status;
}

// Integer and float form of a limit: a float node keeps the float form and truncates it, any
// other node keeps the integer form and converts it.
void fillForms(const FeatureNode& named, const Number& value, int64_t& integer, double& floating) {
    if (named.kind == NodeKind::Float) {
        floating = value.asDouble();
        integer = truncateToInt64(floating);
    } else {
        integer = value.asInteger();
        floating = static_cast<double>(integer);
    }
}

enum class Side : uint8_t { Minimum, Maximum };

const std::string& referenceOf(const FeatureNode& node, Side side) {
    return side == Side::Minimum ? node.pMin : node.pMax;
}
bool hasLiteral(const FeatureNode& node, Side side) {
    return (side == Side::Minimum ? node.Min : node.Max) != kIntegerUnset;
}

// The literal limit of `source` on `side`, with the marks for "not given" replaced.
Number literalLimit(const FeatureNode& source, Side side) {
    if (source.kind == NodeKind::Float) {
        const double value = side == Side::Minimum ? source.FloatMin : source.FloatMax;
        if (value == kFloatUnset) {
            return Number::floating(side == Side::Minimum ? kFloatLowest : kFloatHighest);
        }
        return Number::floating(value);
    }
    const int64_t value = side == Side::Minimum ? source.Min : source.Max;
    if (value == kIntegerUnset) {
        return Number::integer(side == Side::Minimum ? 0 : kIntegerHighest);
    }
    return Number::integer(value);
}

// One limit of the named node. The source is the first node along the pValue chain that gives
// this side (by reference or literal), or the node the chain ends at; a decreasing slope takes
// the source's opposite side.
GevStatus limit(const Call& call, FeatureNode& named, Side side, int64_t& integer,
                double& floating) {
    ChainEnd end;
    const auto givesSide = [side](const FeatureNode& node) {
        return !referenceOf(node, side).empty() || hasLiteral(node, side);
    };
    if (const GevStatus s = walkValueChain(call.dev, call.model, named, givesSide, end)) {
        return s;
    }
    const FeatureNode& source = end.found != nullptr ? *end.found : *end.last;
    const Side taken =
        named.Slope == 1 ? (side == Side::Minimum ? Side::Maximum : Side::Minimum) : side;
    Number value;
    if (!referenceOf(source, side).empty()) {
        const std::string& reference = referenceOf(source, taken);
        if (!reference.empty()) {
            if (const GevStatus s = readReference(call, reference, source, value)) {
                return s;
            }
        }
    } else {
        value = literalLimit(source, taken);
    }
    fillForms(named, value, integer, floating);
    return GEV_STATUS_SUCCESS;
}

// The increment: read through pInc of the named node or the first node along its pValue chain
// that has one (when that node is of the named node's kind), else the named node's literal.
GevStatus increment(const Call& call, FeatureNode& named, GevFeatureParameter& out) {
    ChainEnd end;
    const auto hasReference = [](const FeatureNode& node) { return !node.pInc.empty(); };
    if (const GevStatus s = walkValueChain(call.dev, call.model, named, hasReference, end)) {
        return s;
    }
    const bool isFloat = named.kind == NodeKind::Float;
    if (end.found == nullptr || end.found->kind != named.kind) {
        if (isFloat) {
            out.floatInc = named.FloatInc;
        } else {
            out.inc = named.Inc;
        }
        return GEV_STATUS_SUCCESS;
    }
    Number value;
    if (const GevStatus s = readReference(call, end.found->pInc, *end.found, value)) {
        return s;
    }
    if (isFloat) {
        out.floatInc = value.asDouble();
    } else {
        out.inc = static_cast<uint32_t>(value.asInteger());
    }
    return GEV_STATUS_SUCCESS;
}

// Low 8 bits of a flag node's integer value; `absent` without the flag.
GevStatus flagByte(const Call& call, const std::string& flag, uint8_t absent, uint8_t& out) {
    if (flag.empty()) {
        out = absent;
        return GEV_STATUS_SUCCESS;
    }
    uint64_t value = 0;
    if (const GevStatus s = readInteger(call.device, call.model, flag, value)) {
        return s;
    }
    out = static_cast<uint8_t>(value);
    return GEV_STATUS_SUCCESS;
}

// Available enumeration entries; an entry whose flag node is missing or not implemented counts
// as unavailable.
GevStatus availableEntries(const Call& call, const FeatureNode& named, uint8_t& count) {
    count = 0;
    for (const std::string& name : named.pEnumEntry) {
        const FeatureNode* entry = findReferenced(call.model, name);
        if (entry == nullptr) {
            continue;
        }
        bool available = false;
        const GevStatus s = entryAvailable(call.device, call.model, *entry, available);
        if (s != GEV_STATUS_SUCCESS && s != GEV_STATUS_FEATURE_NOT_FOUND) {
            return s;
        }
        if (s == GEV_STATUS_SUCCESS && available) {
            ++count;
        }
    }
    return GEV_STATUS_SUCCESS;
}

// The access mode reported: the named node's imposed mode against the holder's own; neither
// given: read-write for a holder without pValue, else not given.
uint16_t reportedAccess(const FeatureNode& named, const FeatureNode& holder) {
    const uint16_t imposed = named.ImposedAccessMode;
    const uint16_t own = holder.AccessMode;
    if (imposed == 0) {
        return own == 0 && holder.pValue.empty() ? genicam::kAccessRW : own;
    }
    if (imposed == own || own == genicam::kAccessRO) {
        return own;
    }
    return imposed;
}

// Follows the named node's pValue to the node that holds its data. The holder takes the access
// mode and sign of the device registers its variables read (kept in the model). A data holder
// that is not implemented ends the call with GEV_STATUS_FEATURE_NOT_FOUND.
GevStatus dataHolder(const Call& call, FeatureNode& named, uint8_t& implemented,
                     FeatureNode*& holder) {
    holder = &named;
    if (named.pValue.empty()) {
        return GEV_STATUS_SUCCESS;
    }
    FeatureNode* target = findReferenced(call.model, named.pValue);
    if (target == nullptr) {
        return GEV_STATUS_SUCCESS;
    }
    if (!target->pIsImplemented.empty()) {
        uint64_t value = 0;
        const GevStatus s = readInteger(call.device, call.model, target->pIsImplemented, value);
        if (s == GEV_STATUS_SUCCESS) {
            implemented = static_cast<uint8_t>(value);
            if (implemented == 0) {
                return GEV_STATUS_FEATURE_NOT_FOUND;
            }
        } else if (s != GEV_STATUS_FEATURE_NOT_FOUND) {
            return s;
        }
    }
    holder = &kavro::features::detail::resolveForRawRead(call.model, named);
    for (const auto& variable : holder->pVariable) {
        const FeatureNode* v = findReferenced(call.model, variable.node);
        if (v == nullptr) {
            continue;
        }
        for (const auto& inner : v->pVariable) {
            const FeatureNode* w = findReferenced(call.model, inner.node);
            if (w != nullptr && w->portIsDevice != 0) {
                holder->AccessMode = w->AccessMode;
            }
        }
        if (v->portIsDevice != 0) {
            holder->AccessMode = v->AccessMode;
        }
        holder->Sign = v->Sign;
    }
    return GEV_STATUS_SUCCESS;
}

GevStatus describe(const Call& call, FeatureNode& named, GevFeatureParameter& out) {
    out.kind = static_cast<uint8_t>(named.kind);
    if (const GevStatus s = limit(call, named, Side::Minimum, out.min, out.floatMin)) {
        return s;
    }
    if (const GevStatus s = limit(call, named, Side::Maximum, out.max, out.floatMax)) {
        return s;
    }
    if (const GevStatus s = increment(call, named, out)) {
        return s;
    }

    out.onValue = named.OnValue;
    out.offValue = named.OffValue;
    if (named.kind == NodeKind::Boolean && named.OnValue == 0) {
        out.onValue = named.OffValue == 0 ? 1 : 0;
    }
    out.representation = named.Representation;
    out.visibility = named.Visibility;
    out.displayNotation = named.DisplayNotation;
    out.displayPrecision = named.DisplayPrecision;

    if (named.pCommandValue.empty()) {
        out.commandValue = named.CommandValue;
    } else {
        // The whole 32-bit value, as a literal CommandValue gives it: GEVSetFeatureCommand
        // writes exactly what is reported here.
        uint64_t value = 0;
        if (const GevStatus s = readInteger(call.device, call.model, named.pCommandValue, value)) {
            return s;
        }
        out.commandValue = static_cast<uint32_t>(value);
    }

    if (const GevStatus s = availableEntries(call, named, out.enumEntries)) {
        return s;
    }
    if (const GevStatus s = flagByte(call, named.pIsImplemented, 1, out.implemented)) {
        return s;
    }
    if (const GevStatus s = flagByte(call, named.pIsAvailable, 1, out.available)) {
        return s;
    }
    if (const GevStatus s = flagByte(call, named.pIsLocked, 0, out.locked)) {
        return s;
    }

    FeatureNode* holder = nullptr;
    if (const GevStatus s = dataHolder(call, named, out.implemented, holder)) {
        return s;
    }
    out.invalidators = static_cast<uint8_t>(holder->pInvalidator.size());
    out.pollingTime = static_cast<uint64_t>(holder->PollingTime);
    out.accessMode = reportedAccess(named, *holder);
    if (const GevStatus s = lengthOf(call.device, call.model, *holder, out.length)) {
        return s;
    }
    out.sign = holder->Sign;
    return addressOf(call.device, call.model, *holder, out.address);
}

}  // namespace

extern "C" {

KAVRO_API GevStatus GEVGetFeatureParameter(uint8_t device, const char* name,
                                           GevFeatureParameter* parameter) {
    const bool valid = name != nullptr && parameter != nullptr;
    return withFeatureModel(device, valid, [&](GevDevice& dev, FeatureModel& model) -> GevStatus {
        std::memset(parameter, 0, sizeof *parameter);
        FeatureNode* named = model.findNode(name);
        if (named == nullptr) {
            return GEV_STATUS_FEATURE_NOT_FOUND;
        }
        const Call call{device, dev, model};
        return describe(call, *named, *parameter);
    });
}

}  // extern "C"
