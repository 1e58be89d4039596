// The evaluator inside the node access calls: reads and writes that run on one chain, and the
// steps they share (address offset, index, register length, formula variables). References to
// other nodes are evaluated through these by name, so a whole call is one chain.
#pragma once

#include <cstdint>
#include <mutex>
#include <new>
#include <string_view>

#include "KavroGigEVisionLib.h"
#include "features/formula_binding.h"
#include "features/node_chain.h"
#include "features/node_rules.h"
#include "frame/device_table.h"

namespace kavro::features::detail {

[[nodiscard]] GevStatus integerRead(Chain& chain, std::string_view name, uint64_t& value);
[[nodiscard]] GevStatus floatRead(Chain& chain, std::string_view name, double& value);
// `holder`, when given, receives the node whose value was read.
[[nodiscard]] GevStatus rawRead(Chain& chain, std::string_view name, uint64_t& value,
                                const FeatureNode** holder = nullptr);
// `byCaller` marks the write an application asked for: a converter it names converts the value
// before the data holder gets it. The writes a converter makes by its own name reach the holder
// directly.
[[nodiscard]] GevStatus integerWrite(Chain& chain, std::string_view name, int64_t value,
                                     bool byCaller = false);
[[nodiscard]] GevStatus floatWrite(Chain& chain, std::string_view name, double value);

// Sum of the low 32 bits of every pAddress value, wrapping.
[[nodiscard]] GevStatus addressOffset(Chain& chain, const FeatureNode& node, uint32_t& offset);
// Low 32 bits of each pIndex, times the low 32 bits of its pOffset when given, summed
// (32-bit arithmetic).
[[nodiscard]] GevStatus selectorIndex(Chain& chain, const FeatureNode& node, uint32_t& index);
// Low 8 bits of pLength when given, else Length; an unusable length is logged and refused.
[[nodiscard]] GevStatus registerLength(Chain& chain, const FeatureNode& node, uint32_t& length);

// How double variables take their values (float read and float write rules).
enum class DoubleRule : uint8_t {
    IntegerValue,    // the integer read of the variable's node, as a signed number
    SwissKnife,      // swiss-knife variables of the float read and float write
    ConverterRead,   // converter variables of the float read
    ConverterWrite,  // converter variables of the float write
};

// Reads the pVariable values of `node`. A variable whose node is missing or whose read fails is
// left out, so a formula using it fails; only a reference cycle ends the gathering.
[[nodiscard]] GevStatus gatherIntegerVariables(Chain& chain, const FeatureNode& node,
                                               Bindings<int64_t>& out);
[[nodiscard]] GevStatus gatherDoubleVariables(Chain& chain, const FeatureNode& node,
                                              DoubleRule rule, Bindings<double>& out);

// Binds, evaluates, and on an evaluator error logs the two lines and gives
// GEV_STATUS_FORMULA_ERROR.
[[nodiscard]] GevStatus runIntegerFormula(Chain& chain, const Bindings<int64_t>& variables,
                                          const std::string& formula, int64_t& result);
[[nodiscard]] GevStatus runDoubleFormula(Chain& chain, const Bindings<double>& variables,
                                         const std::string& formula, double& result);

// The swiss-knife formula of `node` with integer variables.
[[nodiscard]] GevStatus integerSwissKnife(Chain& chain, const FeatureNode& node, int64_t& result);

// Runs one top-level call: takes the model's evaluation lock, finds the open device and starts a
// fresh chain; nothing thrown leaves.
template <typename Body>
GevStatus onChain(uint8_t device, genicam::FeatureModel& model, Body&& body) {
    try {
        std::lock_guard lock(model.evaluationLock());
        frame::GevDevice* dev = frame::openDevice(device);
        if (dev == nullptr) {
            return GEV_STATUS_DEVICE_NOT_OPEN;
        }
        Chain chain(*dev, model);
        return body(chain);
    } catch (const std::bad_alloc&) {
        return GEV_STATUS_OUT_OF_MEMORY;
    } catch (...) {
        return GEV_STATUS_INTERNAL_ERROR;
    }
}

}  // namespace kavro::features::detail
