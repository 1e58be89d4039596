#include "sim/feature_registers.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>
#include <vector>

#include "gvcp/wire.h"

namespace kavro::sim {

using namespace feature;

namespace {

constexpr uint16_t kOk = gvcp::kStatusSuccess;
constexpr uint16_t kInvalid = gvcp::kStatusInvalidParameter;
constexpr uint16_t kLocked = gvcp::kStatusAccessDenied;

constexpr uint32_t kCapMono16 = 0x1;
constexpr uint32_t kCapMultiFrame = 0x2;
constexpr uint32_t kCapAutoFunctions = 0x4;
constexpr uint32_t kCapFastSerial = 0x8;
constexpr uint32_t kCapColourSensor = 0x10;  // set from the camera's configuration
constexpr uint32_t kCapabilityBits = kCapMono16 | kCapMultiFrame | kCapAutoFunctions;

constexpr uint32_t kMinWidth = 16;
constexpr uint32_t kWidthStep = 4;
constexpr uint32_t kMono12PackedMaxWidth = 1536;  // what the link carries at 12 bits a pixel
constexpr uint32_t kInitialExposureUs = 10000;
constexpr uint32_t kMinExposureUs = 20;
constexpr uint32_t kMaxExposureUs = 1000000;
constexpr double kMinFrameRate = 0.1;
constexpr double kMaxFrameRate = 1000.0;
constexpr uint32_t kGainRawMaxAll = 480;
constexpr uint32_t kGainRawMaxColour = 240;
constexpr uint32_t kMaxByteValue = 255;
constexpr uint32_t kSelectorValues = 4;
constexpr uint32_t kAutoOnce = 1;
constexpr uint32_t kAutoMax = 2;
constexpr uint32_t kEventSelectorMax = 2;
constexpr uint32_t kUnbinned = 0x00010001;  // 1 x 1
constexpr uint32_t kMaxBinning = 4;
constexpr uint32_t kBaudRates[] = {9600, 19200, 57600, 115200};
constexpr uint32_t kFastBaudRate = 230400;
constexpr int32_t kSensorTemperatureRaw = 680;     // 42.5 degree C
constexpr int32_t kMainboardTemperatureRaw = 608;  // 38.0 degree C

// Serial status and buffer flag bits.
constexpr uint32_t kStatusRxAvailable = 0x1;
constexpr uint32_t kStatusRxOverflow = 0x2;
constexpr uint32_t kFlagRxOverflow = 0x2;
constexpr uint32_t kFlagRxAvailable = 0x8;

struct Initial {
    uint32_t address;
    Access access;
    uint32_t value;
};

// Every numeric register of the block with its rule and initial value (the frame rate's two
// words and the look-up table come separately).
const std::vector<Initial>& numericRegisters() {
    static const std::vector<Initial> table = {
        {kTemperatureSelector, Access::ReadWrite, 0},
        {kSensorTemperature, Access::ReadOnly, static_cast<uint32_t>(kSensorTemperatureRaw)},
        {kMainboardTemperature, Access::ReadOnly, static_cast<uint32_t>(kMainboardTemperatureRaw)},
        {kDeviceReset, Access::WriteOnly, 0},
        {kWidth, Access::ReadWrite, kInitialWidth},
        {kHeight, Access::ReadWrite, kInitialHeight},
        {kOffsetX, Access::ReadWrite, 0},
        {kOffsetY, Access::ReadWrite, 0},
        {kSensorWidth, Access::ReadOnly, kSensorWidthPixels},
        {kSensorHeight, Access::ReadOnly, kSensorHeightPixels},
        {kPixelFormat, Access::ReadWrite, kMono8},
        {kImageFlags, Access::ReadWrite, 0},
        {kBinning, Access::ReadWrite, kUnbinned},
        {kCapabilities, Access::ReadOnly, kCapabilityBits},
        {kAcquisitionMode, Access::ReadWrite, 0},
        {kAcquisitionStart, Access::WriteOnly, 0},
        {kAcquisitionStop, Access::WriteOnly, 0},
        {kFrameCountMinusOne, Access::ReadWrite, 0},
        {kExposureTime, Access::ReadWrite, kInitialExposureUs},
        {kExposureTimeMin, Access::ReadOnly, kMinExposureUs},
        {kExposureTimeMax, Access::ReadOnly, kMaxExposureUs},
        {kFrameRateEnable, Access::ReadWrite, 0},
        {kResultingFrameRate, Access::ReadOnly, 0},
        {kExposureAuto, Access::ReadWrite, 0},
        {kTriggerMode, Access::ReadWrite, 0},
        {kTriggerSource, Access::ReadWrite, 0},
        {kTriggerSoftware, Access::WriteOnly, 0},
        {kChunkModeActive, Access::ReadWrite, 0},
        {kPayloadSize, Access::ReadOnly, 0},
        {kGainSelector, Access::ReadWrite, 0},
        {kGainRaw, Access::ReadWrite, 0},
        {kGainRaw + 4, Access::ReadWrite, 0},
        {kGainRaw + 8, Access::ReadWrite, 0},
        {kGainRaw + 12, Access::ReadWrite, 0},
        {kBlackLevel, Access::ReadWrite, 0},
        {kBlackLevel + 4, Access::ReadWrite, 0},
        {kBlackLevel + 8, Access::ReadWrite, 0},
        {kBlackLevel + 12, Access::ReadWrite, 0},
        {kGainRawMin, Access::ReadOnly, 0},
        {kGainAuto, Access::ReadWrite, 0},
        {kGlobalGain, Access::ReadWrite, 32},
        {kLutControl, Access::ReadWrite, 0},
        {kSendSerial, Access::WriteOnly, 0},
        {kReceiveSerial, Access::ReadOnly, 0},
        {kSerialStatus, Access::ReadOnly, 0},
        {kSerialBaudRate, Access::ReadWrite, 9600},
        {kTxDataLength, Access::ReadWrite, 0},
        {kSendTxBuffer, Access::WriteOnly, 0},
        {kRxBufferCount, Access::ReadOnly, 0},
        {kTxBufferCount, Access::ReadOnly, 0},
        {kSerialBufferFlags, Access::ReadOnly, 0},
        {kEventSelector, Access::ReadWrite, 0},
        {kEventNotification, Access::ReadWrite, 0},
        {kEventNotification + 4, Access::ReadWrite, 0},
        {kEventNotification + 8, Access::ReadWrite, 0},
        {kEventExposureEndTimestamp, Access::ReadOnly, 0},
        {kEventExposureEndTimestamp + 4, Access::ReadOnly, 0},
        {kEventExposureEndFrameId, Access::ReadOnly, 0},
        {kTlParamsLocked, Access::ReadWrite, 0},
        {kBankSelector, Access::ReadWrite, 0},
        {kBankWindow, Access::ReadWrite, 100},
        {kBankStore, Access::ReadOnly, 100},
        {kBankStore + 4, Access::ReadOnly, 200},
        {kBankStore + 8, Access::ReadOnly, 300},
        {kBankStore + 12, Access::ReadOnly, 400},
        {kAcquisitionActive, Access::ReadOnly, 0},
        {kAcquisitionStarts, Access::ReadOnly, 0},
        {kSoftwareTriggers, Access::ReadOnly, 0},
    };
    return table;
}

double frameRateOf(const DeviceMemory& m) {
    const uint64_t bits = uint64_t{m.value(kFrameRate)} << 32 | m.value(kFrameRate + 4);
    return std::bit_cast<double>(bits);
}

void setFrameRate(DeviceMemory& m, double rate) {
    const auto bits = std::bit_cast<uint64_t>(rate);
    m.setValue(kFrameRate, static_cast<uint32_t>(bits >> 32));
    m.setValue(kFrameRate + 4, static_cast<uint32_t>(bits));
}

// The limited frame rate when it is switched on and usable; 0 otherwise.
double limitedFrameRate(const DeviceMemory& m) {
    if ((m.value(kFrameRateEnable) & 1) == 0)
        return 0.0;
    const double rate = frameRateOf(m);
    return std::isfinite(rate) ? std::clamp(rate, kMinFrameRate, kMaxFrameRate) : 0.0;
}

// Exposure maximum, exposure and resulting frame rate after a change of any of them.
void updateTiming(DeviceMemory& m) {
    const double limited = limitedFrameRate(m);
    uint32_t maxExposure = kMaxExposureUs;
    if (limited > 0.0)
        maxExposure = std::max(
            kMinExposureUs, static_cast<uint32_t>(std::min<double>(kMaxExposureUs, 1e6 / limited)));
    m.setValue(kExposureTimeMax, maxExposure);
    const uint32_t exposure = std::clamp(m.value(kExposureTime), kMinExposureUs, maxExposure);
    m.setValue(kExposureTime, exposure);
    const double rate =
        std::min(limited > 0.0 ? limited : kFreeRunFrameRate, 1e6 / static_cast<double>(exposure));
    m.setValue(kResultingFrameRate, std::bit_cast<uint32_t>(static_cast<float>(rate)));
}

void initLookUpTables(DeviceMemory& m) {
    // Identity: position i (0..1023) maps to i / 4.
    for (uint32_t table = 0; table < kLutTables; ++table) {
        for (uint32_t i = 0; i < kLutTableSize; i += 4) {
            const uint32_t v = i / 4;
            m.setValue(kLutEntries + table * kLutTableSize + i, v * 0x01010101u);
        }
    }
}

// The receive queue lives in the RXData bytes; the registers that show it follow it.
void showReceiveQueue(DeviceMemory& m, uint32_t count, bool overflow) {
    const auto queue = m.bytes(kRxData, kSerialBufferSize);
    uint32_t next = 0;
    for (uint32_t i = 0; i < std::min<uint32_t>(count, 4); ++i)
        next = next << 8 | queue[i];
    m.setValue(kReceiveSerial, next);
    m.setValue(kRxBufferCount, count);
    const uint32_t available = count != 0 ? 1 : 0;
    m.setValue(kSerialStatus, std::min<uint32_t>(count, 0xFF) << 24 |
                                  (overflow ? kStatusRxOverflow : 0) |
                                  (available != 0 ? kStatusRxAvailable : 0));
    m.setValue(kSerialBufferFlags,
               (overflow ? kFlagRxOverflow : 0) | (available != 0 ? kFlagRxAvailable : 0));
}

bool receiveOverflow(const DeviceMemory& m) {
    return (m.value(kSerialBufferFlags) & kFlagRxOverflow) != 0;
}

// The device on the serial port answers by echoing every byte it gets.
void serialEcho(DeviceMemory& m, std::span<const uint8_t> bytes) {
    uint32_t count = m.value(kRxBufferCount);
    bool overflow = receiveOverflow(m);
    std::vector<uint8_t> queue = m.bytes(kRxData, kSerialBufferSize);
    for (const uint8_t b : bytes) {
        if (count == kSerialBufferSize) {
            overflow = true;
            break;
        }
        queue[count++] = b;
    }
    m.setBytes(kRxData, queue);
    showReceiveQueue(m, count, overflow);
}

// PayloadSize as it is once the accepted write of `value` to `address` is stored.
uint32_t payloadSizeAfter(const DeviceMemory& m, uint32_t address, uint32_t value) {
    const auto current = [&](uint32_t a) { return a == address ? value : m.value(a); };
    StreamFormat f;
    f.payloadType = (current(kChunkModeActive) & 1) != 0 ? 0x4001 : 0x0001;
    f.pixelFormat = current(kPixelFormat);
    f.width = current(kWidth);
    f.height = current(kHeight);
    return blockBytes(f);
}

void resetToDefaults(DeviceMemory& m) {
    const uint32_t sensor = m.value(kCapabilities) & kCapColourSensor;  // hardware, kept
    for (const Initial& r : numericRegisters())
        m.setValue(r.address, r.value);
    m.setValue(kCapabilities, m.value(kCapabilities) | sensor);
    setFrameRate(m, kFreeRunFrameRate);
    initLookUpTables(m);
    m.setValue(kPayloadSize, payloadSizeAfter(m, kWidth, m.value(kWidth)));
    for (uint32_t a = kWhiteBalance; a < kWhiteBalance + 4 * kSelectorValues * kBanks; a += 4)
        m.setValue(a, std::bit_cast<uint32_t>(1.0f));
    m.setBytes(kRxData, std::vector<uint8_t>(kSerialBufferSize, 0));
    m.setBytes(kTxData, std::vector<uint8_t>(kSerialBufferSize, 0));
    updateTiming(m);
}

bool locked(const DeviceMemory& m) {
    return m.value(kTlParamsLocked) != 0 || m.value(kAcquisitionActive) != 0;
}

bool pixelFormatAvailable(const DeviceMemory& m, uint32_t format, uint32_t width) {
    switch (format) {
        case kMono8:
            return true;
        case kMono12Packed:
            return width <= kMono12PackedMaxWidth;
        case kMono16:
            return (m.value(kCapabilities) & kCapMono16) != 0;
        case kBayerRG8:
            return (m.value(kCapabilities) & kCapColourSensor) != 0;
        default:
            return false;
    }
}

uint16_t checkWindow(const DeviceMemory& m, uint32_t address, uint32_t value) {
    const uint64_t sensorWidth = m.value(kSensorWidth);
    const uint64_t sensorHeight = m.value(kSensorHeight);
    switch (address) {
        case kWidth:
            return value >= kMinWidth && value % kWidthStep == 0 &&
                           value + uint64_t{m.value(kOffsetX)} <= sensorWidth &&
                           pixelFormatAvailable(m, m.value(kPixelFormat), value)
                       ? kOk
                       : kInvalid;
        case kHeight:
            return value >= 1 && value + uint64_t{m.value(kOffsetY)} <= sensorHeight ? kOk
                                                                                     : kInvalid;
        case kOffsetX:
            return value % kWidthStep == 0 && value + uint64_t{m.value(kWidth)} <= sensorWidth
                       ? kOk
                       : kInvalid;
        case kOffsetY:
            return value + uint64_t{m.value(kHeight)} <= sensorHeight ? kOk : kInvalid;
        default:
            return kOk;
    }
}

uint32_t gainRawMax(uint32_t selector) {
    return selector == 0 ? kGainRawMaxAll : kGainRawMaxColour;
}

bool validBaudRate(const DeviceMemory& m, uint32_t rate) {
    if (std::find(std::begin(kBaudRates), std::end(kBaudRates), rate) != std::end(kBaudRates))
        return true;
    return rate == kFastBaudRate && (m.value(kCapabilities) & kCapFastSerial) != 0;
}

// The registers that decide the payload (and the acquisition's frame count): held by the
// transport-layer lock and by a running acquisition. Offsets do not change the payload, but the
// image a running stream sends is fixed at its start.
bool heldWhileLocked(uint32_t address) {
    switch (address) {
        case kWidth:
        case kHeight:
        case kOffsetX:
        case kOffsetY:
        case kPixelFormat:
        case kBinning:
        case kAcquisitionMode:
        case kFrameCountMinusOne:
        case kChunkModeActive:
            return true;
        default:
            return false;
    }
}

uint16_t onLockedRegisterWrite(const DeviceMemory& m, uint32_t a, uint32_t v) {
    if (locked(m))
        return kLocked;
    if (a == kPixelFormat)
        return pixelFormatAvailable(m, v, m.value(kWidth)) ? kOk : kInvalid;
    if (a == kBinning) {
        const uint32_t h = v & 0xF;
        const uint32_t vert = (v >> 16) & 0xF;
        return h >= 1 && h <= kMaxBinning && vert >= 1 && vert <= kMaxBinning ? kOk : kInvalid;
    }
    if (a == kAcquisitionMode) {
        if (v > 2 || (v == 2 && (m.value(kCapabilities) & kCapMultiFrame) == 0))
            return kInvalid;
        return kOk;
    }
    if (a == kFrameCountMinusOne)
        return v != UINT32_MAX ? kOk : kInvalid;  // a count of 0 frames
    if (a == kChunkModeActive)
        return v <= 1 ? kOk : kInvalid;
    return checkWindow(m, a, v);
}

// The camera's answer to a write in the block. A refused write returns its status and changes
// nothing; an accepted one may adjust the value (limits) and the registers that follow from it.
uint16_t decideFeatureWrite(DeviceMemory& m, RegisterWriteRequest& r) {
    const uint32_t a = r.address;
    uint32_t& v = r.value;
    if (heldWhileLocked(a))
        return onLockedRegisterWrite(m, a, v);
    if (a >= kLutEntries && a < kLutEntries + kLutTables * kLutTableSize)
        return kOk;
    if (a >= kTxData && a < kTxData + kSerialBufferSize)
        return kOk;
    if (a >= kGainRaw && a < kGainRaw + 4 * kSelectorValues) {
        v = std::clamp(v, m.value(kGainRawMin), gainRawMax((a - kGainRaw) / 4));
        return kOk;
    }
    if (a >= kBlackLevel && a < kBlackLevel + 4 * kSelectorValues) {
        v = std::min(v, kMaxByteValue);
        return kOk;
    }
    if (a >= kEventNotification && a <= kEventNotification + 4 * kEventSelectorMax)
        return v <= 1 ? kOk : kInvalid;
    if (a >= kWhiteBalance && a < kWhiteBalance + 4 * kSelectorValues * kBanks)
        return kOk;
    switch (a) {
        case kBankSelector:
            if (v >= kBanks)
                return kInvalid;
            m.setValue(kBankWindow, m.value(kBankStore + 4 * v));
            return kOk;
        case kBankWindow:
            m.setValue(kBankStore + 4 * m.value(kBankSelector), v);
            return kOk;
        case kTemperatureSelector:
            return v <= 1 ? kOk : kInvalid;
        case kDeviceReset:
            if (v == 1)
                resetToDefaults(m);
            v = 0;
            return kOk;
        case kImageFlags:
        case kLutControl:
            return kOk;
        case kAcquisitionStart:
            if (v == 1 && m.value(kAcquisitionActive) == 0) {
                m.setValue(kAcquisitionActive, 1);
                m.setValue(kAcquisitionStarts, m.value(kAcquisitionStarts) + 1);
            }
            return kOk;
        case kAcquisitionStop:
            if (v == 1)
                m.setValue(kAcquisitionActive, 0);
            return kOk;
        case kTriggerSoftware:
            if (v == 1 && m.value(kTriggerMode) != 0 && m.value(kAcquisitionActive) != 0)
                m.setValue(kSoftwareTriggers, m.value(kSoftwareTriggers) + 1);
            return kOk;
        case kExposureTime:
            m.setValue(a, v);
            updateTiming(m);
            v = m.value(a);
            return kOk;
        case kFrameRate:
        case kFrameRate + 4:
        case kFrameRateEnable:
            m.setValue(a, v);
            updateTiming(m);
            return kOk;
        case kExposureAuto:
        case kGainAuto:
            if (v > kAutoMax)
                return kInvalid;
            // "Once" adjusts at once and falls back to Off.
            if (v == kAutoOnce)
                v = 0;
            return kOk;
        case kTriggerMode:
            return v <= 1 ? kOk : kInvalid;
        case kTriggerSource:
            return v == 0 ? kOk : kInvalid;  // no input lines: software only
        case kGainSelector:
            return v < kSelectorValues ? kOk : kInvalid;
        case kGlobalGain:
            v = std::min(v, kMaxByteValue);
            return kOk;
        case kSerialBaudRate:
            return validBaudRate(m, v) ? kOk : kInvalid;
        case kTxDataLength:
            return v <= kSerialBufferSize ? kOk : kInvalid;
        case kSendSerial: {
            const uint8_t byte = static_cast<uint8_t>(v);
            serialEcho(m, std::span<const uint8_t>(&byte, 1));
            return kOk;
        }
        case kSendTxBuffer:
            if (v == 1) {
                const auto data = m.bytes(kTxData, kSerialBufferSize);
                const uint32_t length = std::min(m.value(kTxDataLength), kSerialBufferSize);
                serialEcho(m, std::span<const uint8_t>(data.data(), length));
            }
            return kOk;
        case kEventSelector:
            return v <= kEventSelectorMax ? kOk : kInvalid;
        case kTlParamsLocked:
            return v <= 1 ? kOk : kInvalid;
        default:
            return kOk;
    }
}

uint16_t onFeatureWrite(DeviceMemory& m, RegisterWriteRequest& r) {
    const uint16_t status = decideFeatureWrite(m, r);
    if (status == kOk && heldWhileLocked(r.address))
        m.setValue(kPayloadSize, payloadSizeAfter(m, r.address, r.value));
    return status;
}

}  // namespace

void defineFeatureRegisters(DeviceMemory& memory, const CameraConfig& config) {
    // The block is a region of its own; each word takes the rule of the register or area
    // defined over it, and words that are neither read as zero and refuse writes.
    if (!memory.defineReadOnlyRegion(kBlockBase, std::vector<uint8_t>(kBlockSize, 0)))
        return;
    const WriteHook hook = [](DeviceMemory& m, RegisterWriteRequest& r) {
        return onFeatureWrite(m, r);
    };
    memory.defineString(kVendorName, 32, Access::ReadOnly, config.manufacturer);
    memory.defineString(kModelName, 32, Access::ReadOnly, config.model);
    memory.defineString(kVersion, 32, Access::ReadOnly, config.deviceVersion);
    memory.defineString(kFirmware, 32, Access::ReadOnly, "KSIM firmware 1.0");
    memory.defineString(kSerial, 16, Access::ReadOnly, config.serialNumber);
    memory.defineString(kUserId, 16, Access::ReadWrite, config.userName);
    for (const Initial& r : numericRegisters())
        memory.defineRegister(r.address, r.access, r.value,
                              r.access == Access::ReadOnly ? WriteHook{} : hook);
    memory.defineRegister(kFrameRate, Access::ReadWrite, 0, hook);
    memory.defineRegister(kFrameRate + 4, Access::ReadWrite, 0, hook);
    for (uint32_t a = kLutEntries; a < kLutEntries + kLutTables * kLutTableSize; a += 4)
        memory.defineRegister(a, Access::ReadWrite, 0, hook);
    for (uint32_t a = kWhiteBalance; a < kWhiteBalance + 4 * kSelectorValues * kBanks; a += 4)
        memory.defineRegister(a, Access::ReadWrite, 0, hook);
    // Bytes to send can't be read back; received bytes can't be written.
    for (uint32_t a = kTxData; a < kTxData + kSerialBufferSize; a += 4)
        memory.defineRegister(a, Access::WriteOnly, 0, hook);
    memory.defineString(kRxData, kSerialBufferSize, Access::ReadOnly, "");
    if (config.colourSensor)
        memory.setValue(kCapabilities, kCapColourSensor);
    resetToDefaults(memory);
}

void afterFeatureRead(DeviceMemory& memory, uint32_t address, uint32_t count) {
    const uint64_t end = uint64_t{address} + count;
    uint32_t taken = 0;
    if (address <= kReceiveSerial && kReceiveSerial < end) {
        taken = 4;
    } else if (address < kRxData + kSerialBufferSize && kRxData < end) {
        // A read of the buffer takes what it covered from the front of the queue.
        taken = address <= kRxData
                    ? static_cast<uint32_t>(std::min<uint64_t>(end - kRxData, kSerialBufferSize))
                    : 0;
    }
    const uint32_t count0 = memory.value(kRxBufferCount);
    taken = std::min(taken, count0);
    if (taken == 0)
        return;
    std::vector<uint8_t> queue = memory.bytes(kRxData, kSerialBufferSize);
    std::move(queue.begin() + taken, queue.end(), queue.begin());
    std::fill(queue.end() - taken, queue.end(), uint8_t{0});
    memory.setBytes(kRxData, queue);
    const uint32_t left = count0 - taken;
    // The overflow mark goes once everything waiting was read.
    showReceiveQueue(memory, left, left != 0 && receiveOverflow(memory));
}

StreamFormat featureStreamFormat(const CameraModel& model) {
    StreamFormat f;
    f.payloadType = (model.readRegister(kChunkModeActive) & 1) != 0 ? 0x4001 : 0x0001;
    f.chunkExposureUs = model.readRegister(kExposureTime);
    f.chunkTemperatureRaw = static_cast<int32_t>(model.readRegister(kSensorTemperature));
    f.pixelFormat = model.readRegister(kPixelFormat);
    f.width = model.readRegister(kWidth);
    f.height = model.readRegister(kHeight);
    f.offsetX = model.readRegister(kOffsetX);
    f.offsetY = model.readRegister(kOffsetY);
    f.extendedIds = (model.config().gevVersion >> 16) >= 2;
    if (model.config().streamParts != 0) {
        f.dataBytes = blockBytes(f);
        f.payloadType = 0x000A;
        f.parts = model.config().streamParts;
    }
    f.frameRate = std::bit_cast<float>(model.readRegister(kResultingFrameRate));
    f.linkBitsPerSecond = model.config().linkBitsPerSecond;
    f.runLength = model.config().streamRunLength;
    switch (model.readRegister(kAcquisitionMode)) {
        case 1:
            f.frameCount = 1;
            break;
        case 2:
            f.frameCount = model.readRegister(kFrameCountMinusOne) + 1;
            break;
        default:
            f.frameCount = 0;
            break;
    }
    return f;
}

FeatureStream::FeatureStream(CameraModel& model, uint32_t cameraAddressNet)
    : model_(model), addressNet_(cameraAddressNet) {}

FeatureStream::~FeatureStream() = default;

void FeatureStream::begin() {
    format_ = featureStreamFormat(model_);
    frameLimit_ = format_.frameCount;
    framesStarted_ = 0;
    nextBlockId_ = 1;
    triggered_ = model_.readRegister(kTriggerMode) != 0;
    triggersSeen_ = model_.readRegister(kSoftwareTriggers);
    running_ = true;
    if (!triggered_)
        startBurst(frameLimit_);
}

void FeatureStream::end() {
    if (source_)
        source_->stop();
    running_ = false;
}

void FeatureStream::startBurst(uint32_t frames) {
    if (!source_) {
        source_ = std::make_unique<StreamSource>(model_, addressNet_);
        const CameraConfig& config = model_.config();
        StreamFaults faults;
        faults.seed = config.streamSeed;
        faults.lose = config.streamLoss;
        faults.loseLeader = config.streamLeaderLoss;
        faults.loseTrailer = config.streamTrailerLoss;
        faults.flagResentPackets = !config.plainResends;
        source_->setFaults(faults);
    }
    source_->stop();
    StreamFormat f = format_;
    f.frameCount = frames;
    f.firstBlockId = nextBlockId_;
    if (triggered_)
        f.frameRate = 0.0;  // a triggered frame leaves at once
    if (!source_->start(f)) {
        model_.writeRegister(kAcquisitionActive, 0);
        running_ = false;
        return;
    }
    framesStarted_ += frames;
    nextBlockId_ += frames;
}

void FeatureStream::sync() {
    const bool active = model_.readRegister(kAcquisitionActive) != 0;
    const uint32_t starts = model_.readRegister(kAcquisitionStarts);
    if (running_ && (!active || starts != startsSeen_))
        end();
    if (!running_ && active) {
        startsSeen_ = starts;
        begin();
    }
    if (!running_)
        return;
    const bool limitReached = frameLimit_ != 0 && framesStarted_ >= frameLimit_;
    const bool sent = source_ && source_->waitFinished(std::chrono::milliseconds(0));
    if (triggered_) {
        const uint32_t triggers = model_.readRegister(kSoftwareTriggers);
        if (triggers != triggersSeen_ && !limitReached && (!source_ || sent)) {
            ++triggersSeen_;
            startBurst(1);
            return;
        }
    }
    // SingleFrame and MultiFrame end the acquisition by themselves once their frames are out.
    if (limitReached && sent) {
        model_.writeRegister(kAcquisitionActive, 0);
        end();
    }
}

}  // namespace kavro::sim
