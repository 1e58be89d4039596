// The registers behind the simulated camera's device description (0x00100000..0x0010FFFF) and
// what the camera does when they are written: image window and pixel format with their limits
// and the transport-layer lock, acquisition modes and commands, exposure, gain and black level
// kept within their limits, the look-up table, temperatures, events and a Camera Link serial
// port whose device echoes what it is sent. The stream itself is started and stopped by
// FeatureStream, outside the model's lock.
#pragma once

#include <cstdint>
#include <memory>

#include "sim/camera_config.h"
#include "sim/camera_model.h"
#include "sim/device_memory.h"
#include "sim/stream_source.h"

namespace kavro::sim {

namespace feature {

inline constexpr uint32_t kBlockBase = 0x00100000;
inline constexpr uint32_t kBlockSize = 0x00010000;

// Device control.
inline constexpr uint32_t kVendorName = 0x00100000;  // 32 bytes
inline constexpr uint32_t kModelName = 0x00100020;   // 32 bytes
inline constexpr uint32_t kVersion = 0x00100040;     // 32 bytes
inline constexpr uint32_t kFirmware = 0x00100060;    // 32 bytes
inline constexpr uint32_t kSerial = 0x00100080;      // 16 bytes
inline constexpr uint32_t kUserId = 0x00100090;      // 16 bytes
inline constexpr uint32_t kTemperatureSelector = 0x001000A0;
inline constexpr uint32_t kSensorTemperature = 0x001000A4;     // signed, 1/16 degree C
inline constexpr uint32_t kMainboardTemperature = 0x001000A8;  // signed, 1/16 degree C
inline constexpr uint32_t kDeviceReset = 0x001000B0;

// Image format.
inline constexpr uint32_t kWidth = 0x00100100;
inline constexpr uint32_t kHeight = 0x00100104;
inline constexpr uint32_t kOffsetX = 0x00100108;
inline constexpr uint32_t kOffsetY = 0x0010010C;
inline constexpr uint32_t kSensorWidth = 0x00100110;
inline constexpr uint32_t kSensorHeight = 0x00100114;
inline constexpr uint32_t kPixelFormat = 0x00100118;
inline constexpr uint32_t kImageFlags = 0x0010011C;
inline constexpr uint32_t kBinning = 0x00100120;
inline constexpr uint32_t kCapabilities = 0x00100124;

// Acquisition.
inline constexpr uint32_t kAcquisitionMode = 0x00100200;  // 0 Continuous, 1 Single, 2 Multi
inline constexpr uint32_t kAcquisitionStart = 0x00100204;
inline constexpr uint32_t kAcquisitionStop = 0x00100208;
inline constexpr uint32_t kFrameCountMinusOne = 0x0010020C;
inline constexpr uint32_t kExposureTime = 0x00100210;  // microseconds
inline constexpr uint32_t kExposureTimeMin = 0x00100214;
inline constexpr uint32_t kExposureTimeMax = 0x00100218;
inline constexpr uint32_t kFrameRate = 0x00100220;  // 8-byte double
inline constexpr uint32_t kFrameRateEnable = 0x00100228;
inline constexpr uint32_t kResultingFrameRate = 0x0010022C;  // single
inline constexpr uint32_t kExposureAuto = 0x00100230;
inline constexpr uint32_t kTriggerMode = 0x00100234;
inline constexpr uint32_t kTriggerSource = 0x00100238;
inline constexpr uint32_t kTriggerSoftware = 0x0010023C;
// Bit 0: image blocks carry chunks (payload type 0x4001, see sim::chunkBytes).
inline constexpr uint32_t kChunkModeActive = 0x00100240;
// Bytes of one block: the image, plus the chunks while chunk mode is on. Read-only.
inline constexpr uint32_t kPayloadSize = 0x00100244;

// Analog.
inline constexpr uint32_t kGainSelector = 0x00100300;
inline constexpr uint32_t kGainRaw = 0x00100304;     // one per selector value, 4 bytes apart
inline constexpr uint32_t kBlackLevel = 0x00100314;  // one per selector value, 4 bytes apart
inline constexpr uint32_t kGainRawMin = 0x00100324;
inline constexpr uint32_t kGainAuto = 0x00100328;
inline constexpr uint32_t kGlobalGain = 0x0010032C;

// Look-up table: 1024 one-byte values per selector value, four to an entry word, the value of
// position i in byte i mod 4 (from the least significant) of the word at kLutEntries + i - i mod 4.
inline constexpr uint32_t kLutControl = 0x00100400;  // bit 0 enable, bits 4..5 selector
inline constexpr uint32_t kLutEntries = 0x00101000;
inline constexpr uint32_t kLutTableSize = 0x400;
inline constexpr uint32_t kLutTables = 4;

// Camera Link serial port.
inline constexpr uint32_t kSendSerial = 0x00100500;
inline constexpr uint32_t kReceiveSerial = 0x00100504;
inline constexpr uint32_t kSerialStatus = 0x00100508;
inline constexpr uint32_t kSerialBaudRate = 0x0010050C;
inline constexpr uint32_t kTxDataLength = 0x00100510;
inline constexpr uint32_t kSendTxBuffer = 0x00100514;
inline constexpr uint32_t kRxBufferCount = 0x00100518;
inline constexpr uint32_t kTxBufferCount = 0x0010051C;
inline constexpr uint32_t kSerialBufferFlags = 0x00100520;
inline constexpr uint32_t kTxData = 0x00100600;  // 256 bytes
inline constexpr uint32_t kRxData = 0x00100700;  // 256 bytes: the receive queue, oldest first
inline constexpr uint32_t kSerialBufferSize = 256;

// Events.
inline constexpr uint32_t kEventSelector = 0x00100800;
inline constexpr uint32_t kEventNotification = 0x00100804;  // one per selector value
inline constexpr uint32_t kEventExposureEndTimestamp = 0x00100820;
inline constexpr uint32_t kEventExposureEndFrameId = 0x00100828;

inline constexpr uint32_t kTlParamsLocked = 0x00100900;

// A banked register as many cameras have one: the window at one address shows the bank the
// selector picks; the banks themselves are kept in kBankStore (not in the description).
inline constexpr uint32_t kBankSelector = 0x00100910;  // 0..kBanks - 1
inline constexpr uint32_t kBankWindow = 0x00100914;
inline constexpr uint32_t kBankStore = 0x00100920;  // kBanks words, bank i starts at 100 (i + 1)
inline constexpr uint32_t kBanks = 4;
// White balance ratios, IEEE singles starting at 1.0: one per gain channel and bank, at
// kWhiteBalance + 4 * channel + 16 * bank.
inline constexpr uint32_t kWhiteBalance = 0x00100940;

// The camera's own acquisition state, read-only to hosts (not in the description): 1 while an
// acquisition runs; the count of AcquisitionStart commands; the count of software triggers.
inline constexpr uint32_t kAcquisitionActive = 0x0010F000;
inline constexpr uint32_t kAcquisitionStarts = 0x0010F004;
inline constexpr uint32_t kSoftwareTriggers = 0x0010F008;

// Values the camera starts with.
inline constexpr uint32_t kSensorWidthPixels = 1280;
inline constexpr uint32_t kSensorHeightPixels = 1024;
inline constexpr uint32_t kInitialWidth = 640;
inline constexpr uint32_t kInitialHeight = 480;
inline constexpr uint32_t kMono8 = 0x01080001;
inline constexpr uint32_t kMono12Packed = 0x010C0006;
inline constexpr uint32_t kMono16 = 0x01100007;
inline constexpr uint32_t kBayerRG8 = 0x01080009;  // on a colour sensor only
// Frame rate of a free-running camera (AcquisitionFrameRateEnable off); an exposure longer than
// its period lowers the rate.
inline constexpr double kFreeRunFrameRate = 30.0;

}  // namespace feature

// Declares the feature register block in `memory`: every register with its access rule and
// initial value, and the camera's reactions to writes.
void defineFeatureRegisters(DeviceMemory& memory, const CameraConfig& config);

// What a read of [address, address + count) does to the camera beyond returning the bytes:
// reading the serial receive register or buffer takes the bytes read off the receive queue.
// Called under the model's lock after a successful read.
void afterFeatureRead(DeviceMemory& memory, uint32_t address, uint32_t count);

// The stream an acquisition started through the features sends, from the current registers.
StreamFormat featureStreamFormat(const CameraModel& model);

// The camera's stream as its acquisition registers ask: starts a StreamSource at
// AcquisitionStart, stops it at AcquisitionStop, ends the acquisition by itself after the frames
// of SingleFrame and MultiFrame, and sends one frame per software trigger in trigger mode. Used
// by one thread (the server's) without the model's lock.
class FeatureStream {
  public:
    FeatureStream(CameraModel& model, uint32_t cameraAddressNet);
    ~FeatureStream();
    FeatureStream(const FeatureStream&) = delete;
    FeatureStream& operator=(const FeatureStream&) = delete;

    // Carries out what the registers ask; call after every command and every few milliseconds.
    void sync();
    // The camera's address changed (Force IP): the next stream leaves from the new one.
    void setAddress(uint32_t cameraAddressNet) { addressNet_ = cameraAddressNet; }

  private:
    void begin();
    void end();
    void startBurst(uint32_t frames);

    CameraModel& model_;
    uint32_t addressNet_;
    // Made at the first feature-started acquisition: a camera streamed by hand (tests) keeps
    // the packet resend handler of its own StreamSource until then.
    std::unique_ptr<StreamSource> source_;
    bool running_ = false;
    bool triggered_ = false;
    uint32_t startsSeen_ = 0;
    uint32_t triggersSeen_ = 0;
    uint32_t frameLimit_ = 0;  // 0 = continuous
    uint32_t framesStarted_ = 0;
    uint64_t nextBlockId_ = 1;
    StreamFormat format_;
};

}  // namespace kavro::sim
