// The library side of the filter driver against a recording device that stands in for the
// driver: the bytes of every request, the answers taken from it, and each failure's status and
// log lines, with the simulated camera described and streaming over loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "filterdriver/filter_device.h"
#include "filterdriver/requests.h"
#include "gvsp/acquisition.h"
#include "platform/socket.h"
#include "tests/acquisition/acquisition_test_support.h"

namespace kavro::test {
namespace {

namespace fd = filterdriver;
using Bytes = std::vector<uint8_t>;

struct Request {
    uint32_t code;
    Bytes in;
    size_t outSize;
    bool operator==(const Request&) const = default;
};
using Requests = std::vector<Request>;

// What the recording devices saw and what they answer. Shared by every device opened while it
// is installed.
struct DriverScript {
    std::vector<std::string> namesTried;
    std::string acceptedName = fd::kDriverName;
    std::vector<Request> requests;
    std::vector<uint8_t> readFirstBytes;
    std::map<uint32_t, uint32_t> errors;  // per request code
    std::map<uint32_t, Bytes> answers;    // per request code
    uint32_t readError = 0;
    int liveDevices = 0;
};

class RecordingDevice final : public fd::FilterDevice {
  public:
    explicit RecordingDevice(DriverScript& script) : script_(script) { ++script_.liveDevices; }
    ~RecordingDevice() override { --script_.liveDevices; }
    uint32_t control(uint32_t code, std::span<const uint8_t> in, std::span<uint8_t> out) override {
        script_.requests.push_back({code, Bytes(in.begin(), in.end()), out.size()});
        const Bytes& answer = script_.answers[code];
        std::copy_n(answer.begin(), std::min(answer.size(), out.size()), out.begin());
        return script_.errors[code];
    }
    uint32_t read(std::span<uint8_t> dest) override {
        script_.readFirstBytes.push_back(dest[0]);
        std::fill(dest.begin(), dest.end(), uint8_t{0xA5});
        return script_.readError;
    }

  private:
    DriverScript& script_;
};

Bytes le32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes zeros(size_t n) {
    return Bytes(n, 0);
}
Bytes indexed(size_t size, uint8_t device = 1) {
    Bytes b(size, 0);
    b[0] = device;
    return b;
}

class FilterDriverTest : public DescribedCameraTest {
  protected:
    void SetUp() override {
        fd::setFilterDeviceOpener([this](const std::string& name, uint32_t& error) {
            script.namesTried.push_back(name);
            if (name != script.acceptedName) {
                error = fd::kErrorFileNotFound;
                return std::unique_ptr<fd::FilterDevice>();
            }
            return std::unique_ptr<fd::FilterDevice>(new RecordingDevice(script));
        });
        DescribedCameraTest::SetUp();
    }
    void TearDown() override {
        DescribedCameraTest::TearDown();
        fd::setFilterDeviceOpener(nullptr);
    }
    // Opens the driver and starts an acquisition through it; the requests are forgotten.
    void startOnDriver() {
        ASSERT_EQ(GEVInitFilterDriver(kDevice), GEV_STATUS_SUCCESS);
        ASSERT_EQ(GEVAcquisitionStart(kDevice, 0), GEV_STATUS_SUCCESS);
        script.requests.clear();
    }
    // What one call asked of the driver; the call must succeed.
    Requests sent(GevStatus status) {
        EXPECT_EQ(status, GEV_STATUS_SUCCESS);
        return std::exchange(script.requests, {});
    }
    DriverScript script;
};

TEST_F(FilterDriverTest, EveryRequestCarriesItsExactBytes) {
    ASSERT_EQ(GEVSetPacketResend(kDevice, 1), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVSetPacketsOutOfOrder(kDevice, 3), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVSetBufferCount(kDevice, 6), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(script.requests.empty()) << "nothing goes to a driver that is not open";

    const Bytes deviceName = {'\\', 0, 'D', 0, 'E',  0, 'V', 0, 'I', 0,
                              'C',  0, 'E', 0, '\\', 0, 'l', 0, 'o', 0};
    auto& dev = record();
    const uint32_t cameraHost = ntohl(camera().addressNet());
    const auto u16 = [](uint32_t v) { return Bytes{uint8_t(v), uint8_t(v >> 8)}; };
    const auto start = [&] {
        return le32(kWidth) + le32(kHeight) +
               Bytes{uint8_t(cameraHost >> 24), uint8_t(cameraHost >> 16), uint8_t(cameraHost >> 8),
                     uint8_t(cameraHost)} +
               u16(dev.streamPort) + u16(dev.controlPort) + le32(0x01080001) + Bytes{127, 0, 0, 1} +
               le32(kWidth * kHeight) + u16(dev.packetDataSize) + Bytes{1, 10, 1, 0, 0, 0} +
               le32(kImageTimeoutMs);
    };
    uint8_t major = 0;
    uint8_t minor = 0;
    GevImageHeader header{};
    double fps = 0;
    EXPECT_EQ(sent(GEVInitFilterDriver(kDevice)),
              (Requests{{fd::kRequestBindAdapter, deviceName, 4}}));
    // The start's bytes hold the packet size, which the start learns.
    const Requests started = sent(GEVAcquisitionStart(kDevice, 0));
    EXPECT_EQ(started, (Requests{{fd::kRequestSetPacketsOutOfOrder, {1, 3}, 0},
                                 {fd::kRequestSetBufferCount, {1, 0, 6, 0}, 0},
                                 {fd::kRequestStartStream, start(), 0}}));
    EXPECT_EQ(sent(get_image_header(kDevice, &header)),
              (Requests{{fd::kRequestGetImageHeader, indexed(64), 64}}));
    EXPECT_EQ(sent(GEVGetImageFPS(kDevice, &fps)),
              (Requests{{fd::kRequestGetStatistics, indexed(32), 32}}));
    EXPECT_EQ(sent(GEVSetPacketResend(kDevice, 0)),
              (Requests{{fd::kRequestSetPacketResend, {1, 0}, 0}}));
    EXPECT_EQ(sent(GEVSetPacketsOutOfOrder(kDevice, 0xFE)),
              (Requests{{fd::kRequestSetPacketsOutOfOrder, {1, 0xFE}, 0}}));
    EXPECT_EQ(sent(GEVSetBufferCount(kDevice, 256)),
              (Requests{{fd::kRequestSetBufferCount, {1, 0, 0, 1}, 0}}));
    EXPECT_EQ(sent(GEVTestPacketResend(kDevice, 1, 0x0102, 0x0304)),
              (Requests{{fd::kRequestTestPacketResend, {1, 0, 2, 1, 4, 3}, 0}}));
    EXPECT_EQ(sent(GEVTestPacketResend(kDevice, 0, 5, 3)),
              (Requests{{fd::kRequestTestPacketResend, {1, 0, 0, 0, 3, 0}, 0}}));
    EXPECT_EQ(sent(GEVGetFilterDriverVersion(kDevice, &major, &minor)),
              (Requests{{fd::kRequestGetVersion, {0}, 2}}));
    EXPECT_EQ(sent(GEVAcquisitionStop(kDevice)),
              (Requests{{fd::kRequestStopStream, zeros(32) + Bytes{1} + zeros(7), 40},
                        {fd::kRequestGetStatistics, indexed(32), 32}}));
    // The stream port stays bound with a token buffer that nobody reads.
    EXPECT_LT(platform::receiveBufferSize(dev.streamSocket).value_or(0), 65536u);
    EXPECT_EQ(script.namesTried, std::vector<std::string>{fd::kDriverName});
    EXPECT_EQ(gvsp::currentAcquisition(dev), nullptr) << "no ring on the driver path";
}

TEST_F(FilterDriverTest, AnswersReachTheCaller) {
    script.acceptedName = fd::kGlobalDriverName;  // found under its second name
    script.answers[fd::kRequestGetVersion] = {2, 7};
    Bytes header = zeros(8) + le32(9) + le32(0) + le32(0x12345678) + le32(0) + le32(0x01080001) +
                   le32(kWidth) + le32(kHeight) + zeros(8) + le32(0x00100008) + le32(3) +
                   Bytes{1, 0, 0, 0} + le32(0xDDCCBBAA) + le32(0x44332211);
    script.answers[fd::kRequestGetImageHeader] = header;
    // 100 images, 2 with errors, 5 packet errors, 50 intervals over 2000 ms.
    script.answers[fd::kRequestGetStatistics] =
        zeros(4) + le32(100) + le32(2) + le32(5) + le32(50) + zeros(4) + le32(2000) + zeros(4);
    startOnDriver();
    EXPECT_EQ(script.namesTried,
              (std::vector<std::string>{fd::kDriverName, fd::kGlobalDriverName}));

    uint8_t major = 0;
    uint8_t minor = 0;
    ASSERT_EQ(GEVGetFilterDriverVersion(kDevice, &major, &minor), GEV_STATUS_SUCCESS);
    EXPECT_EQ(major * 10 + minor, 27);

    std::vector<uint8_t> image(kWidth * kHeight, 0);
    GevImageHeader h{};
    // The header says three packets are missing: the image is incomplete although the read
    // itself succeeded.
    EXPECT_EQ(GEVGetImageBuffer(kDevice, &h, image.data()), GEV_STATUS_IMAGE_INCOMPLETE);
    EXPECT_EQ(script.readFirstBytes, Bytes{0});
    EXPECT_EQ(image.back(), 0xA5);
    using Fields = std::vector<uint64_t>;
    EXPECT_EQ((Fields{h.blockId, h.timestamp, h.sizeX, h.paddingX, h.paddingY, h.missingPackets,
                      h.payloadType, h.chunkLength, h.chunkLayoutId}),
              (Fields{9, 0x12345678, kWidth, 8, 16, 3, 1, 0xDDCCBBAA, 0x44332211}));

    double fps = 0;
    ASSERT_EQ(GEVGetImageFPS(kDevice, &fps), GEV_STATUS_SUCCESS);
    EXPECT_DOUBLE_EQ(fps, 25.0);
    ASSERT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(logged("[INFO] - Frames: 100, Errors: 2 Lost: 2.00 %"));
    EXPECT_TRUE(logged("[INFO] - 25.0 fps"));
    EXPECT_EQ(record().counters.packetsLost.load(), 5u);

    // Reads name their device zero-based.
    RecordingDevice device3(script);
    Bytes dest(4);
    EXPECT_EQ(fd::readImage(device3, 3, dest), GEV_STATUS_SUCCESS);
    EXPECT_EQ(script.readFirstBytes.back(), 2);

    EXPECT_EQ(GEVClose(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_EQ(script.liveDevices, 1) << "the close closed the driver; device3 remains";
}

TEST_F(FilterDriverTest, RingBuffersAndSecureTransferStayOffTheDriver) {
    std::vector<uint8_t> buffer(kWidth * kHeight);
    ASSERT_EQ(GEVSetRingBuffer(kDevice, 0, buffer.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(GEVInitFilterDriver(kDevice), GEV_STATUS_NOT_SUPPORTED);
    EXPECT_TRUE(logged("[WARNING] - Filter driver doesn't support user ring buffer."));
    EXPECT_TRUE(script.namesTried.empty());
    ASSERT_EQ(GEVReleaseRingBuffer(kDevice), GEV_STATUS_SUCCESS);

    ASSERT_EQ(GEVInitFilterDriver(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_EQ(GEVSetRingBuffer(kDevice, 0, buffer.data()), GEV_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(GEVQueueRingBuffer(kDevice, 0), GEV_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(GEVReleaseRingBuffer(kDevice), GEV_STATUS_NOT_SUPPORTED);
    uint8_t index = 9;
    EXPECT_EQ(GEVGetImageRingBuffer(kDevice, nullptr, &index), GEV_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(index, 9) << "nothing handed out";
    uint16_t free = 9;
    EXPECT_EQ(GEVGetFreeBufferCount(kDevice, &free), GEV_STATUS_NOT_SUPPORTED);
    // A second open keeps the bound driver.
    EXPECT_EQ(GEVInitFilterDriver(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_EQ(script.namesTried.size(), 1u);

    // Secure transfer takes the device off the driver but leaves the handle open, until the
    // device closes; a stream the driver runs still stops there.
    ASSERT_EQ(GEVAcquisitionStart(kDevice, 0), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVSetSecureTransfer(kDevice, 1, nullptr), GEV_STATUS_SUCCESS);
    script.requests.clear();
    ASSERT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
    ASSERT_EQ(script.requests.size(), 2u);
    EXPECT_EQ(script.requests[0].code, fd::kRequestStopStream);
    script.requests.clear();
    EXPECT_EQ(GEVSetBufferCount(kDevice, 5), GEV_STATUS_SUCCESS);
    EXPECT_EQ(GEVCloseFilterDriver(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(script.requests.empty());
    EXPECT_EQ(script.liveDevices, 1);
    EXPECT_EQ(GEVClose(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_EQ(script.liveDevices, 0);
}

// One failure each: the request that fails (or the read), the error number the driver gives,
// and what the caller gets.
enum class Step { Open, Version, Start, StartWithoutChannel, Read, Stop };
constexpr uint32_t kRead = 0;  // in place of a request code: the image read fails
constexpr uint32_t kBind = fd::kRequestBindAdapter;
constexpr uint32_t kStart = fd::kRequestStartStream;
struct Failure {
    const char* name;
    Step step;
    uint32_t code;  // the failing request
    uint32_t error;
    GevStatus expected;
    const char* line = nullptr;  // log lines that must appear
    const char* line2 = nullptr;
};

class FilterDriverFailure : public FilterDriverTest,
                            public ::testing::WithParamInterface<Failure> {};

TEST_P(FilterDriverFailure, GivesItsStatusAndLines) {
    const Failure& f = GetParam();
    if (f.code == kRead) {
        script.readError = f.error;
        script.answers[fd::kRequestGetImageHeader] = zeros(8) + le32(5) + zeros(52);
    } else if (f.code == fd::kRequestBindAdapter) {
        script.answers[f.code] = le32(f.error);  // the driver answers with a status word
    } else {
        script.errors[f.code] = f.error;
    }
    ASSERT_EQ(GEVSetDetailedLog(kDevice, GEV_LOG_STREAM_ERRORS), GEV_STATUS_SUCCESS);
    if (f.step != Step::Open && f.code != fd::kRequestBindAdapter) {
        ASSERT_EQ(GEVInitFilterDriver(kDevice), GEV_STATUS_SUCCESS);
    }
    if (f.step == Step::Read || f.step == Step::Stop) {
        ASSERT_EQ(GEVAcquisitionStart(kDevice, 0), GEV_STATUS_SUCCESS);
    }
    LogCapture::instance().clear();

    uint8_t major = 9;
    uint8_t minor = 9;
    GevImageHeader h{};
    h.blockId = 77;
    std::vector<uint8_t> image(kWidth * kHeight);
    GevStatus status = 0;
    switch (f.step) {
        case Step::Open:
            status = GEVInitFilterDriver(kDevice);
            EXPECT_EQ(record().filterDriverOpen.load(), 0u);
            EXPECT_EQ(script.liveDevices, 0) << "a driver that did not bind is closed again";
            break;
        case Step::Version:
            status = GEVGetFilterDriverVersion(kDevice, &major, &minor);
            EXPECT_EQ(major + minor, 0);
            break;
        case Step::Start:
            status = GEVAcquisitionStart(kDevice, 0);
            EXPECT_EQ(record().acquisitionStopped.load(), 1u);
            break;
        case Step::StartWithoutChannel:
            ASSERT_EQ(GEVCloseStreamChannel(kDevice), GEV_STATUS_SUCCESS);
            script.requests.clear();
            status = GEVAcquisitionStart(kDevice, 0);
            EXPECT_TRUE(script.requests.empty()) << "no port for the driver to filter on";
            break;
        case Step::Read:
            status = GEVGetImageBuffer(kDevice, &h, image.data());
            // A timed-out read clears the header; a failed one still gives the driver's.
            EXPECT_EQ(h.blockId, f.expected == GEV_STATUS_TIMEOUT ? 0u : 5u);
            break;
        case Step::Stop:
            status = GEVAcquisitionStop(kDevice);
            EXPECT_EQ(LogCapture::instance().count("[INFO] - Frames:"), 0u);
            break;
    }
    EXPECT_EQ(status, f.expected);
    for (const char* line : {f.line, f.line2})
        EXPECT_TRUE(line == nullptr || logged(line)) << line;
}

const char* const kCantOpen = "[INFO] - GEVInitFilterDriver: Can't open MORVAGEVFilter driver..";
const char* const kCheckInstalled =
    "[INFO] - GEVInitFilterDriver: Check if driver is installed or you don't have administrator "
    "privileges.";
const char* const kVersionClosed =
    "[INFO] - GEVGetFilterDriverVersion: MORVAGEVFilter driver is not open. Open driver with "
    "GEVInitFilterDriver function.";
const char* const kVersionRefused =
    "[INFO] - GEVGetFilterDriverVersion: Can't read from MORVAGEVFilter driver. Check if "
    "MORVAGEVFilter driver is installed.";

INSTANTIATE_TEST_SUITE_P(
    Table, FilterDriverFailure,
    ::testing::Values(
        Failure{"BindRefused", Step::Open, kBind, 5, 0xC00D, kCantOpen, kCheckInstalled},
        Failure{"VersionWhileClosed", Step::Version, kBind, 5, 0xC00D, kVersionClosed},
        Failure{"VersionRefused", Step::Version, fd::kRequestGetVersion, 31, 0xC011,
                kVersionRefused},
        Failure{"OutOfOrderRefused", Step::Start, fd::kRequestSetPacketsOutOfOrder, 31, 0xC011,
                "[ERROR] - Can't set packets out of order in driver."},
        Failure{"BufferCountRefused", Step::Start, fd::kRequestSetBufferCount, 31, 0xC011,
                "[ERROR] - Can't set buffer count in driver."},
        Failure{"StartInvalidHandle", Step::Start, kStart, 6, 0xC019},
        Failure{"StartOutOfMemory", Step::Start, kStart, 8, 0xC007},
        Failure{"StartRefused", Step::Start, kStart, 31, 0xC011},
        Failure{"StartWithoutStreamChannel", Step::StartWithoutChannel, kStart, 0, 0xC003},
        Failure{"ReadTimedOut", Step::Read, kRead, 121, 0xC008},
        Failure{"ReadInvalidParameter", Step::Read, kRead, 87, 0xC027},
        Failure{"ReadFailed", Step::Read, kRead, 31, 0xC010},
        Failure{"StopRefused", Step::Stop, fd::kRequestStopStream, 31, 0xC011}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(AdapterDeviceName, IsUtf16WithoutTerminatorAndRefusesBadText) {
    const Bytes accented = fd::adapterDeviceName("\xC3\xA9");  // U+00E9
    EXPECT_EQ(Bytes(accented.end() - 2, accented.end()), (Bytes{0xE9, 0x00}));
    const Bytes astral = fd::adapterDeviceName("\xF0\x9F\x93\xB7");  // U+1F4F7
    EXPECT_EQ(Bytes(astral.end() - 4, astral.end()), (Bytes{0x3D, 0xD8, 0xF7, 0xDC}));
    EXPECT_TRUE(fd::adapterDeviceName("\xC0\xAF").empty()) << "overlong form";
    EXPECT_TRUE(fd::adapterDeviceName("\xFF").empty());
    EXPECT_TRUE(fd::adapterDeviceName(std::string(513, 'a')).empty()) << "beyond 520 units";
}

}  // namespace
}  // namespace kavro::test
