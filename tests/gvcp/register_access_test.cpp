// Register and memory transactions against the simulated camera over loopback UDP.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "frame/device_table.h"
#include "gvcp/bootstrap.h"
#include "gvcp/wire.h"
#include "platform/byte_order.h"
#include "tests/support/sim_fixture.h"

namespace kavro::test {
namespace {

namespace reg = gvcp::reg;

constexpr uint32_t kUserMemory = 0x10000;

class GvcpTransport : public SimCameraTest {
  protected:
    void SetUp() override {
        SimCameraTest::SetUp();
        sim::CameraConfig config;
        config.enforceControlPrivilege = false;  // the transport is opened without taking control
        startCamera(config);
        openTransportOnly();
        camera().clearReceivedCommands();
    }
    frame::GevDevice& device() { return *frame::DeviceTable::instance().openDevice(kDevice); }
    uint16_t reqIdOfCommand(size_t i) { return camera().receivedCommands().at(i).reqId; }
};

TEST_F(GvcpTransport, RequestIdsWrapPast65535ToOneAndStaleAcknowledgesAreDropped) {
    uint32_t value = 0;
    ASSERT_EQ(GEVReadRegister(kDevice, reg::kVersion, 1, &value), GEV_STATUS_SUCCESS);
    EXPECT_EQ(reqIdOfCommand(0), 1);
    EXPECT_EQ(value, 0x00020000u);

    device().requestId = 65535;
    ASSERT_EQ(GEVReadRegister(kDevice, reg::kVersion, 1, &value), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVReadRegister(kDevice, reg::kVersion, 1, &value), GEV_STATUS_SUCCESS);
    EXPECT_EQ(reqIdOfCommand(1), 65535);
    EXPECT_EQ(reqIdOfCommand(2), 1);

    // An acknowledge with a stale id is dropped and never ends the transaction.
    camera().clearReceivedCommands();
    camera().faults().staleAckBeforeNext(1);
    uint32_t values[2] = {};
    ASSERT_EQ(GEVReadRegister(kDevice, reg::kMacHigh, 2, values), GEV_STATUS_SUCCESS);
    EXPECT_EQ(values[0], 0x0000000Cu);
    EXPECT_EQ(values[1], 0x4B102030u);
    EXPECT_EQ(camera().receivedCommands().size(), 1u) << "the command must not be sent again";

    // A memory read whose right acknowledge is lost after a stale one: the stale one is no
    // answer, so the read is sent again (same id) and succeeds.
    camera().clearReceivedCommands();
    camera().faults().staleAckBeforeNext(1);
    camera().faults().loseNextAnswers(1);
    uint8_t name[5] = {};
    ASSERT_EQ(GEVReadMemory(kDevice, reg::kManufacturerName, 5, name), GEV_STATUS_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name), 5), "Kavro");
    const auto reads = commands(gvcp::kReadMemCmd);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].reqId, reads[1].reqId);
}

// Answers that are no success keep their status; a not-implemented write answer logs no error.
TEST_F(GvcpTransport, RefusingAnswersKeepTheirStatusAndSilentCamerasGetTheirTries) {
    uint32_t value = 0;
    camera().faults().deviceStatusNext(1, 0x8003);
    EXPECT_EQ(GEVReadRegister(kDevice, reg::kCcp, 1, &value), 0x8003);
    EXPECT_TRUE(LogCapture::instance().contains("[ERROR] - ReadRegister[0x00000A00] Status: 8003"));
    camera().faults().deviceStatusNext(1, GEV_STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(GEVWriteRegister(kDevice, reg::kCcp, 1, &value), GEV_STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(LogCapture::instance().count("[ERROR] - WriteRegister"), 0u);
    camera().faults().wrongAckCodeNext(1, gvcp::kPendingAck);
    EXPECT_EQ(GEVReadRegister(kDevice, reg::kVersion, 1, &value), GEV_STATUS_WRONG_ACKNOWLEDGE);
    camera().faults().wrongAckCodeNext(1, gvcp::kReadRegAck);
    EXPECT_EQ(GEVWriteRegister(kDevice, reg::kCcp, 1, &value), GEV_STATUS_WRONG_ACKNOWLEDGE);

    // A silent camera gets the configured number of tries (at least one), all with the same id.
    camera().faults().dropNextCommands(10);
    for (const uint16_t retries : {2, 0}) {
        camera().clearReceivedCommands();
        ASSERT_EQ(GEVSetReadWriteParameter(kDevice, 30, retries), GEV_STATUS_SUCCESS);
        EXPECT_EQ(GEVReadRegister(kDevice, reg::kVersion, 1, &value), GEV_STATUS_TIMEOUT);
        const auto sent = camera().receivedCommands();
        ASSERT_EQ(sent.size(), std::max<size_t>(retries, 1));
        EXPECT_EQ(sent.front().reqId, sent.back().reqId);
    }
    uint8_t bytes[8];
    EXPECT_EQ(GEVReadMemory(kDevice, reg::kManufacturerName, 8, bytes), GEV_STATUS_TIMEOUT);
}

// Calls refused before they go, or with nothing to do, send nothing; a failed link still lets
// memory reads try.
TEST_F(GvcpTransport, CallsThatCannotOrNeedNotGoSendNothing) {
    std::vector<uint32_t> values(200, 0);
    EXPECT_EQ(GEVReadRegister(kDevice, 0, 136, values.data()), GEV_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(GEVWriteRegister(kDevice, 0x0B00, 68, values.data()), GEV_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(GEVReadRegister(kDevice, 0, 0, values.data()), GEV_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(GEVReadRegister(kDevice, 0, 1, nullptr), GEV_STATUS_INVALID_ARGUMENT);
    uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_EQ(GEVReadMemory(kDevice, kUserMemory, 0, bytes), GEV_STATUS_SUCCESS);
    device().connectionStatus = 2;
    EXPECT_EQ(GEVReadRegister(kDevice, reg::kVersion, 1, values.data()), GEV_STATUS_ACCESS_DENIED);
    EXPECT_EQ(GEVWriteRegister(kDevice, reg::kCcp, 1, values.data()), GEV_STATUS_ACCESS_DENIED);
    EXPECT_TRUE(camera().receivedCommands().empty());
    EXPECT_EQ(GEVReadMemory(kDevice, reg::kManufacturerName, 4, bytes), GEV_STATUS_SUCCESS);
    EXPECT_EQ(commands(gvcp::kReadMemCmd).size(), 1u);
    device().connectionStatus = 0;
    const uint32_t capability = camera().model().readRegister(reg::kGvcpCapability);
    camera().model().writeRegister(reg::kGvcpCapability, capability & ~reg::kCapWriteMem);
    EXPECT_EQ(GEVWriteMemory(kDevice, kUserMemory, 4, bytes), GEV_STATUS_NOT_SUPPORTED);
    EXPECT_TRUE(commands(gvcp::kWriteMemCmd).empty());

    // Without control, writes succeed without traffic.
    closeTransportOnly();
    openTransportOnly(0);
    camera().clearReceivedCommands();
    EXPECT_EQ(GEVWriteRegister(kDevice, reg::kCcp, 1, values.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(GEVWriteMemory(kDevice, kUserMemory, 4, bytes), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(camera().receivedCommands().empty());
    // The largest register count goes as one command.
    (void)GEVReadRegister(kDevice, kUserMemory, 135, values.data());
    EXPECT_EQ(camera().receivedCommands().at(0).length, 540);
}

// Acknowledges that do not fit their length field, or are cut short, are read only as far as
// the bytes that arrived.
TEST_F(GvcpTransport, MalformedAcknowledgesAreReadOnlyAsFarAsTheyGo) {
    ASSERT_EQ(GEVSetReadWriteParameter(kDevice, 50, 1), GEV_STATUS_SUCCESS);
    uint32_t values[2] = {0xAAAAAAAA, 0xBBBBBBBB};

    // Shorter than a header: not an acknowledge at all.
    camera().faults().rawAnswerNext(1, {0x00, 0x00, 0x00}, false);
    EXPECT_EQ(GEVReadRegister(kDevice, reg::kVersion, 2, values), GEV_STATUS_TIMEOUT);

    // Length field claims 400 bytes, one value arrived: only that value is stored.
    camera().faults().rawAnswerNext(
        1, {0x00, 0x00, 0x00, 0x81, 0x01, 0x90, 0, 0, 0x12, 0x34, 0x56, 0x78});
    values[1] = 0xBBBBBBBB;
    EXPECT_EQ(GEVReadRegister(kDevice, reg::kVersion, 2, values), GEV_STATUS_SUCCESS);
    EXPECT_EQ(values[0], 0x12345678u);
    EXPECT_EQ(values[1], 0xBBBBBBBBu);

    // A READMEM answer without the data asked for is not data.
    camera().faults().rawAnswerNext(
        1, {0x00, 0x00, 0x00, 0x85, 0x00, 0x08, 0, 0, 0, 0, 0, 0x48, 'K', 'a', 'v', 'r'});
    uint8_t bytes[8] = {};
    EXPECT_EQ(GEVReadMemory(kDevice, reg::kManufacturerName, 8, bytes),
              GEV_STATUS_WRONG_ACKNOWLEDGE);

    // A datagram longer than the expected acknowledge is cut to it.
    std::vector<uint8_t> longAck = {0x00, 0x00, 0x00, 0x81, 0x00, 0x08, 0, 0,
                                    0,    0,    0,    1,    0,    0,    0, 2};
    longAck.resize(1400, 0xEE);
    camera().faults().rawAnswerNext(1, longAck);
    EXPECT_EQ(GEVReadRegister(kDevice, reg::kVersion, 1, values), GEV_STATUS_SUCCESS);
    EXPECT_EQ(values[0], 1u);
}

TEST_F(GvcpTransport, UnalignedAccessTouchesOnlyTheBytesAskedFor) {
    uint8_t bytes[8];
    std::memset(bytes, 0xEE, sizeof bytes);
    ASSERT_EQ(GEVReadMemory(kDevice, reg::kManufacturerName, 5, bytes), GEV_STATUS_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 5), "Kavro");
    EXPECT_EQ(bytes[5], 0xEE);
    const auto reads = commands(gvcp::kReadMemCmd);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(platform::loadBe16(&reads[0].bytes[14]), 8);

    // From an unaligned address the caller gets the bytes of that address.
    std::memset(bytes, 0xEE, sizeof bytes);
    ASSERT_EQ(GEVReadMemory(kDevice, reg::kManufacturerName + 2, 5, bytes), GEV_STATUS_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 5), "vro S");
    EXPECT_EQ(bytes[5], 0xEE);

    // Unaligned writes leave neighbouring bytes alone, or pad what cannot be read.
    const std::vector<uint8_t> before = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    camera().model().writeMemory(kUserMemory, before);
    const uint8_t update[6] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
    ASSERT_EQ(GEVWriteMemory(kDevice, kUserMemory + 3, 5, update), GEV_STATUS_SUCCESS);
    EXPECT_EQ(camera().model().readMemory(kUserMemory, 12),
              (std::vector<uint8_t>{1, 2, 3, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 9, 10, 11, 12}));

    const uint8_t one = 0xFF;
    ASSERT_EQ(GEVWriteMemory(kDevice, kUserMemory + 9, 1, &one), GEV_STATUS_SUCCESS);
    EXPECT_EQ(camera().model().readMemory(kUserMemory + 8, 4),
              (std::vector<uint8_t>{9, 0xFF, 11, 12}));

    // The last 16 bytes of user memory take writes but refuse reads: the words are padded.
    closeTransportOnly();
    camera_.reset();
    sim::CameraConfig config;
    config.enforceControlPrivilege = false;
    config.writeOnlyUserMemoryFrom = config.userMemorySize - 16;
    startCamera(config);
    openTransportOnly();
    const uint32_t writeOnly = kUserMemory + config.userMemorySize - 16;
    ASSERT_EQ(GEVWriteMemory(kDevice, writeOnly + 1, 6, update), GEV_STATUS_SUCCESS);
    EXPECT_EQ(camera().model().readMemory(writeOnly, 8),
              (std::vector<uint8_t>{0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0}));
}

std::vector<int32_t> g_progress;
void recordProgress(uint8_t, int32_t percent) {
    g_progress.push_back(percent);
}

TEST_F(GvcpTransport, LongTransfersGoIn536ByteChunksWithProgress) {
    std::vector<uint8_t> pattern(1073);
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<uint8_t>(i * 7 + 3);
    camera().model().writeMemory(kUserMemory, pattern);
    ASSERT_EQ(GEVSetReadWriteMemoryCallback(kDevice, &recordProgress), GEV_STATUS_SUCCESS);

    g_progress.clear();
    std::vector<uint8_t> back(1073);
    ASSERT_EQ(GEVReadMemory(kDevice, kUserMemory, 1073, back.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(back, pattern);
    EXPECT_EQ(g_progress, (std::vector<int32_t>{0, 34, 67}));
    std::vector<uint16_t> sizes;
    for (auto& c : commands(gvcp::kReadMemCmd))
        sizes.push_back(platform::loadBe16(&c.bytes[14]));
    EXPECT_EQ(sizes, (std::vector<uint16_t>{536, 536, 4}));

    // Writing goes the same way; the bytes of the last word past the caller's end are kept.
    camera().model().writeMemory(kUserMemory + 1073, std::vector<uint8_t>{0x11, 0x22, 0x33});
    camera().clearReceivedCommands();
    g_progress.clear();
    std::vector<uint8_t> update(1073, 0x5A);
    ASSERT_EQ(GEVWriteMemory(kDevice, kUserMemory, 1073, update.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(g_progress, (std::vector<int32_t>{0, 34, 67}));
    EXPECT_EQ(commands(gvcp::kWriteMemCmd).size(), 3u);
    const auto stored = camera().model().readMemory(kUserMemory, 1076);
    EXPECT_TRUE(
        std::all_of(stored.begin(), stored.begin() + 1073, [](uint8_t b) { return b == 0x5A; }));
    EXPECT_EQ(std::vector<uint8_t>(stored.begin() + 1073, stored.end()),
              (std::vector<uint8_t>{0x11, 0x22, 0x33}));
}

TEST_F(GvcpTransport, DetailedLogFlagsGateTheTraceLines) {
    uint32_t values[2];
    ASSERT_EQ(GEVReadRegister(kDevice, reg::kMacHigh, 2, values), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVSetDetailedLog(kDevice, 0xF0), GEV_STATUS_SUCCESS);  // no known bit
    ASSERT_EQ(GEVReadRegister(kDevice, reg::kMacHigh, 2, values), GEV_STATUS_SUCCESS);
    EXPECT_EQ(LogCapture::instance().count("[INFO] - Read Register"), 0u);

    LogCapture::instance().clear();
    ASSERT_EQ(GEVSetDetailedLog(kDevice, GEV_LOG_REGISTER_TRACE), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVReadRegister(kDevice, reg::kMacHigh, 2, values), GEV_STATUS_SUCCESS);
    const uint32_t written[2] = {0, 0};
    EXPECT_EQ(GEVWriteRegister(kDevice, reg::kMacHigh, 2, written), GEV_STATUS_ACCESS_DENIED);
    EXPECT_EQ(
        LogCapture::instance().lines(),
        (std::vector<std::string>{"[INFO] - Read Register: Address 0x00000008, Data: 0x0000000C",
                                  "[INFO] - Read Register: Address 0x0000000C, Data: 0x4B102030",
                                  "[INFO] - Write Register: Address 0x00000008, Data: 0x00000000",
                                  "[INFO] - Write Register: Address 0x0000000C, Data: 0x00000000",
                                  "[ERROR] - WriteRegister[0x00000008] Status: 8006"}));

    LogCapture::instance().clear();
    ASSERT_EQ(GEVSetDetailedLog(kDevice, GEV_LOG_PROTOCOL | GEV_LOG_REGISTER_TRACE),
              GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVSetReadWriteParameter(kDevice, 30, 1), GEV_STATUS_SUCCESS);
    camera().faults().dropNextCommands(1);
    EXPECT_EQ(GEVReadRegister(kDevice, reg::kVersion, 1, values), GEV_STATUS_TIMEOUT);
    EXPECT_EQ(LogCapture::instance().lines(),
              (std::vector<std::string>{"[INFO] - Read Register: No acknowledge header available",
                                        "[ERROR] - ReadRegister[0x00000000] Status: C008"}));
}

}  // namespace
}  // namespace kavro::test
