// Exported Camera Link serial bridge calls. Cameras bridge the serial port of a device behind
// them through one of two generations of features: word-wise (SendCLSerial takes one byte,
// ReceiveCLSerial hands out four, StatusCLSerial packs counts and flags) or buffered (TXData and
// RXData blocks with their counts and flags). LumexInitClinkSerial picks one per device.
#include <algorithm>
#include <cstdint>

#include "KavroGigEVisionLib.h"
#include "features/convenience_steps.h"
#include "frame/log.h"

using kavro::features::convenience::readLowBits;
using kavro::features::convenience::run;
using kavro::frame::GevDevice;

namespace {

constexpr uint8_t kDetailInfo = 0x01;

// StatusCLSerial: bits 31..24 received bytes waiting, 23..16 bytes to transmit, then flags.
constexpr uint32_t kStatusTxOverflow = 1u << 3;
constexpr uint32_t kStatusTxAvailable = 1u << 2;
constexpr uint32_t kStatusRxOverflow = 1u << 1;
constexpr uint32_t kStatusRxAvailable = 1u << 0;

bool wordWise(const GevDevice& dev) {
    return dev.oldClinkFeatures.load() != 0;
}

// The length in bytes GEVGetFeatureParameter reports for a buffer feature; 0 when unknown (the
// feature cannot be described or gives no length), in which case nothing is bounded by it.
uint32_t bufferLength(uint8_t device, const char* name) {
    GevFeatureParameter parameter{};
    if (GEVGetFeatureParameter(device, name, &parameter) != GEV_STATUS_SUCCESS) {
        return 0;
    }
    return parameter.length;
}

GevStatus sendWordWise(uint8_t device, uint16_t length, const uint8_t* data) {
    for (uint16_t i = 0; i < length; ++i) {
        if (GEVSetFeatureInteger(device, "SendCLSerial", data[i]) != GEV_STATUS_SUCCESS) {
            return GEV_STATUS_CLINK_SEND_ERROR;
        }
        uint32_t status = 0;
        if (const GevStatus s = readLowBits(device, "StatusCLSerial", status)) {
            return s;
        }
        if ((status & kStatusTxOverflow) != 0) {
            return GEV_STATUS_CLINK_SEND_ERROR;
        }
    }
    return GEV_STATUS_SUCCESS;
}

GevStatus sendBuffered(const GevDevice& dev, uint8_t device, uint16_t length, const uint8_t* data) {
    // More than TXData holds would be written over whatever follows it in the camera's memory.
    const uint32_t capacity = bufferLength(device, "TXData");
    if (capacity != 0 && length > capacity) {
        kavro::frame::gevLogf(dev,
                              "[ERROR] - CLink send: %u bytes exceed the transmit buffer of %u "
                              "bytes.",
                              static_cast<unsigned>(length), static_cast<unsigned>(capacity));
        return GEV_STATUS_INVALID_ARGUMENT;
    }
    if (const GevStatus s = GEVSetFeatureInteger(device, "TXDataLength", length)) {
        return s;
    }
    if (GEVSetFeatureRegister(device, "TXData", length, data) != GEV_STATUS_SUCCESS) {
        return GEV_STATUS_CLINK_SEND_ERROR;
    }
    uint32_t overflow = 0;
    if (const GevStatus s = GEVGetFeatureBoolean(device, "TXBufOverflow", &overflow)) {
        return s;
    }
    if (overflow != 0) {
        return GEV_STATUS_CLINK_SEND_ERROR;
    }
    // Cameras without the command transmit as soon as TXData is written.
    GevFeatureParameter send{};
    const GevStatus s = GEVGetFeatureParameter(device, "SendTXBuf", &send);
    if (s == GEV_STATUS_SUCCESS) {
        (void)GEVSetFeatureCommand(device, "SendTXBuf", send.commandValue);
        return GEV_STATUS_SUCCESS;
    }
    return s == GEV_STATUS_FEATURE_NOT_FOUND ? GEV_STATUS_SUCCESS : s;
}

// Each ReceiveCLSerial value holds up to four bytes, the first in bits 31..24; the last, partial
// value holds its r bytes in its r lowest bytes, the first of them the most significant.
GevStatus receiveWordWise(uint8_t device, uint16_t capacity, uint8_t* data, uint16_t& received) {
    uint32_t status = 0;
    if (const GevStatus s = readLowBits(device, "StatusCLSerial", status)) {
        return s;
    }
    const uint16_t n = std::min<uint16_t>(static_cast<uint16_t>(status >> 24), capacity);
    uint16_t stored = 0;
    while (stored < n) {
        const unsigned inWord = std::min(4u, static_cast<unsigned>(n - stored));
        uint32_t word = 0;
        if (readLowBits(device, "ReceiveCLSerial", word) != GEV_STATUS_SUCCESS) {
            return GEV_STATUS_CLINK_RECEIVE_ERROR;
        }
        for (unsigned i = inWord; i > 0; --i) {
            data[stored++] = static_cast<uint8_t>(word >> (8 * (i - 1)));
        }
    }
    received = n;
    return GEV_STATUS_SUCCESS;
}

GevStatus receiveBuffered(uint8_t device, uint16_t capacity, uint8_t* data, uint16_t& received) {
    uint16_t count = 0;
    if (const GevStatus s = readLowBits(device, "RXBufCnt", count)) {
        return s;
    }
    uint16_t n = std::min(count, capacity);
    // A count above RXData's size would hand out the bytes of whatever follows it; the rest
    // stays waiting for the next call.
    const uint32_t size = bufferLength(device, "RXData");
    if (size != 0 && n > size) {
        n = static_cast<uint16_t>(size);
    }
    if (GEVGetFeatureRegister(device, "RXData", n, data) != GEV_STATUS_SUCCESS) {
        return GEV_STATUS_CLINK_RECEIVE_ERROR;
    }
    received = n;
    return GEV_STATUS_SUCCESS;
}

}  // namespace

extern "C" {

KAVRO_API GevStatus LumexInitClinkSerial(uint8_t device, uint32_t baudRate) {
    return run(device, true, [&](GevDevice& dev) -> GevStatus {
        if (const GevStatus s = GEVSetFeatureInteger(device, "CLSerialBaudrate", baudRate)) {
            return s;
        }
        dev.oldClinkFeatures = 0;
        uint64_t ignored = 0;
        if (GEVGetFeatureInteger(device, "ReceiveCLSerial", &ignored) != GEV_STATUS_SUCCESS) {
            return GEV_STATUS_SUCCESS;
        }
        dev.oldClinkFeatures = 1;
        if ((dev.detailedLog.load() & kDetailInfo) != 0) {
            kavro::frame::gevLog(dev, "[INFO] - Old CLink functions active");
        }
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus LumexGetClinkStatus(uint8_t device, GevClinkStatus* status) {
    return run(device, status != nullptr, [&](GevDevice& dev) -> GevStatus {
        if (dev.connectionStatus.load() != 0) {
            return GEV_STATUS_TIMEOUT;
        }
        *status = GevClinkStatus{};
        if (wordWise(dev)) {
            uint32_t word = 0;
            if (const GevStatus s = readLowBits(device, "StatusCLSerial", word)) {
                return s;
            }
            status->receiveCount = static_cast<uint8_t>(word >> 24);
            status->transmitCount = static_cast<uint8_t>(word >> 16);
            status->transmitOverflow = (word & kStatusTxOverflow) != 0 ? 1 : 0;
            status->transmitDataAvailable = (word & kStatusTxAvailable) != 0 ? 1 : 0;
            status->receiveOverflow = (word & kStatusRxOverflow) != 0 ? 1 : 0;
            status->receiveDataAvailable = (word & kStatusRxAvailable) != 0 ? 1 : 0;
            return GEV_STATUS_SUCCESS;
        }
        if (const GevStatus s = readLowBits(device, "TXBufCnt", status->transmitCount)) {
            return s;
        }
        if (const GevStatus s = readLowBits(device, "RXBufCnt", status->receiveCount)) {
            return s;
        }
        // The flags are reported as 0/1 whatever OnValue the camera's booleans use.
        const struct {
            const char* name;
            uint8_t* field;
        } flags[] = {
            {"TXBufOverflow", &status->transmitOverflow},
            {"RXBufOverflow", &status->receiveOverflow},
            {"TXDataAvailable", &status->transmitDataAvailable},
            {"RXDataAvailable", &status->receiveDataAvailable},
        };
        for (const auto& flag : flags) {
            uint32_t value = 0;
            if (const GevStatus s = GEVGetFeatureBoolean(device, flag.name, &value)) {
                return s;
            }
            *flag.field = value != 0 ? 1 : 0;
        }
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus LumexSendClink(uint8_t device, uint16_t length, const uint8_t* data) {
    return run(device, data != nullptr || length == 0, [&](GevDevice& dev) -> GevStatus {
        if (wordWise(dev)) {
            return sendWordWise(device, length, data);
        }
        return sendBuffered(dev, device, length, data);
    });
}

KAVRO_API GevStatus LumexReceiveClink(uint8_t device, uint16_t capacity, uint8_t* data,
                                      uint16_t* received) {
    const bool valid = received != nullptr && (data != nullptr || capacity == 0);
    return run(device, valid, [&](GevDevice& dev) -> GevStatus {
        if (wordWise(dev)) {
            return receiveWordWise(device, capacity, data, *received);
        }
        return receiveBuffered(device, capacity, data, *received);
    });
}

}  // extern "C"
