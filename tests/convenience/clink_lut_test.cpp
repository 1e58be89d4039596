// The Camera Link serial bridge in both feature generations and the look-up table calls: the
// sequences against the test camera's plain registers, and the round trip through the
// simulated camera's echoing serial device and its table.
#include <algorithm>
#include <cstring>
#include <string>

#include "tests/acquisition/acquisition_test_support.h"
#include "tests/convenience/convenience_support.h"
#include "tests/description/description_test_support.h"

namespace kavro::test {
namespace {

// A status's six fields in their order.
Bytes fields(const GevClinkStatus& s) {
    return {s.receiveCount,          s.transmitCount,   s.transmitOverflow,
            s.transmitDataAvailable, s.receiveOverflow, s.receiveDataAvailable};
}

// ---- Buffered bridge and look-up table on the plain-register camera ----

using BufferedSerial = ConvenienceTest;
using LookUpTable = ConvenienceTest;

// Init on a camera without the word-wise features keeps the buffered ones: a send writes the
// bytes and their length (the camera has no SendTXBuf), no more than the transmit buffer holds.
TEST_F(BufferedSerial, InitKeepsTheBufferedFeaturesWhichSendReceiveAndReport) {
    record().oldClinkFeatures = 1;  // as left by an earlier init on another description
    ASSERT_EQ(GEVSetDetailedLog(kDevice, 0x01), GEV_STATUS_SUCCESS);
    ASSERT_EQ(LumexInitClinkSerial(kDevice, 115200), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(reg::kBaudRate), 115200u);
    EXPECT_EQ(record().oldClinkFeatures.load(), 0u);
    EXPECT_FALSE(logged("[INFO] - Old CLink functions active"));
    const Bytes hello = bytesOf("hello");
    ASSERT_EQ(LumexSendClink(kDevice, 5, hello.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(reg::kTxDataLength), 5u);
    EXPECT_EQ(camera().model().readMemory(reg::kTxData, 5), hello);

    const Bytes data(20, 0xAB);
    setWord(reg::kTxData + 16, 0x5A5A5A5A);  // whatever follows TXData in the camera
    EXPECT_EQ(LumexSendClink(kDevice, 17, data.data()), GEV_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(word(reg::kTxData + 16), 0x5A5A5A5Au);
    EXPECT_EQ(word(reg::kTxDataLength), 5u) << "nothing is sent";
    EXPECT_TRUE(logged("[ERROR] - CLink send: 17 bytes exceed the transmit buffer of 16 bytes."));
    EXPECT_EQ(LumexSendClink(kDevice, 16, data.data()), GEV_STATUS_SUCCESS) << "a full buffer";
    setWord(reg::kTxBufOverflow, 1);
    EXPECT_EQ(LumexSendClink(kDevice, 2, data.data()), GEV_STATUS_CLINK_SEND_ERROR);
    EXPECT_EQ(LumexSendClink(kDevice, 2, nullptr), GEV_STATUS_INVALID_ARGUMENT);

    // A receive takes no more than the capacity or the receive buffer.
    const Bytes waiting = bytesOf("abcdefghijklmnop");
    camera().model().writeMemory(reg::kRxData, waiting);
    setWord(reg::kRxBufCnt, 0x30003);  // only the low 16 bits count

    Bytes out(8, 0xEE);
    uint16_t received = 99;
    ASSERT_EQ(LumexReceiveClink(kDevice, 2, out.data(), &received), GEV_STATUS_SUCCESS);
    EXPECT_EQ(received, 2);
    EXPECT_EQ(out, (Bytes{'a', 'b', 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));

    // More waiting than RXData holds: the rest of the camera's memory is not handed out.
    setWord(reg::kRxBufCnt, 40);
    Bytes big(64, 0xEE);
    ASSERT_EQ(LumexReceiveClink(kDevice, 64, big.data(), &received), GEV_STATUS_SUCCESS);
    EXPECT_EQ(received, 16);
    EXPECT_EQ(Bytes(big.begin(), big.begin() + 16), waiting);
    EXPECT_EQ(big[16], 0xEE);

    ASSERT_EQ(LumexReceiveClink(kDevice, 0, nullptr, &received), GEV_STATUS_SUCCESS);
    EXPECT_EQ(received, 0);
    EXPECT_EQ(LumexReceiveClink(kDevice, 4, nullptr, &received), GEV_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(LumexReceiveClink(kDevice, 4, out.data(), nullptr), GEV_STATUS_INVALID_ARGUMENT);

    // The status comes from the buffer counts and flags, unless the link is lost.
    camera().clearReceivedCommands();
    setWord(reg::kTxBufCnt, 0x1FF);
    setWord(reg::kRxBufCnt, 3);
    setWord(reg::kTxBufOverflow, 2);  // flags are reported as 0/1
    setWord(reg::kTxDataAvailable, 1);
    GevClinkStatus status;
    std::memset(&status, 0x77, sizeof status);
    ASSERT_EQ(LumexGetClinkStatus(kDevice, &status), GEV_STATUS_SUCCESS);
    EXPECT_EQ(fields(status), (Bytes{3, 0xFF, 1, 1, 0, 0}));
    EXPECT_EQ(
        touched(false),
        (std::vector<uint32_t>{reg::kTxBufCnt, reg::kRxBufCnt, reg::kTxBufOverflow,
                               reg::kRxBufOverflow, reg::kTxDataAvailable, reg::kRxDataAvailable}));

    // Filled up to the failing read, zero after it.
    load({{"Name=\"TXDataAvailable\"", "Name=\"TXDataAvailableOther\""}});
    std::memset(&status, 0x77, sizeof status);
    EXPECT_EQ(LumexGetClinkStatus(kDevice, &status), GEV_STATUS_FEATURE_NOT_FOUND);
    EXPECT_EQ(fields(status), (Bytes{3, 0xFF, 1, 0, 0, 0}));

    EXPECT_EQ(LumexGetClinkStatus(kDevice, nullptr), GEV_STATUS_INVALID_ARGUMENT);

    // A lost (1) or failed (2) control link: refused before any read.
    camera().clearReceivedCommands();
    for (const uint8_t lost : {1, 2}) {
        record().connectionStatus = lost;
        status.receiveCount = 9;
        EXPECT_EQ(LumexGetClinkStatus(kDevice, &status), GEV_STATUS_TIMEOUT);
        EXPECT_EQ(status.receiveCount, 9) << "left as it was";
    }
    record().connectionStatus = 0;
    EXPECT_TRUE(touched(false).empty());
}

TEST_F(LookUpTable, IncrementThreeFindsPositionSevenInByteOneOfIndexSix) {
    const uint32_t entry6 = reg::kLutEntries + 6 * 4;
    setWord(entry6, 0xFFA1B2C3);
    uint8_t value = 0;
    ASSERT_EQ(LumexGetLut(kDevice, 7, &value), GEV_STATUS_SUCCESS);
    EXPECT_EQ(value, 0xB2);
    uint64_t index = 0;
    ASSERT_EQ(GEVGetFeatureInteger(kDevice, "LUTIndex", &index), GEV_STATUS_SUCCESS);
    EXPECT_EQ(index, 6u);

    ASSERT_EQ(LumexSetLut(kDevice, 7, 0x55), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(entry6), 0xFFA155C3u) << "the other bytes of the word stay";
    ASSERT_EQ(LumexSetLut(kDevice, 8, 0x66), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(entry6), 0xFF6655C3u);
    ASSERT_EQ(LumexGetLut(kDevice, 6, &value), GEV_STATUS_SUCCESS);
    EXPECT_EQ(value, 0xC3);
    EXPECT_EQ(LumexGetLut(kDevice, 6, nullptr), GEV_STATUS_INVALID_ARGUMENT);
}

// Other entry layouts: a camera without LUTEntry reached through LUTValue, one value per index,
// and eight-byte entries written back whole.
TEST_F(LookUpTable, OtherEntryLayoutsAndUnsupportedIncrements) {
    const Replacements lutValue = {{"Name=\"LUTEntry\"", "Name=\"LUTValue\""},
                                   {"<Inc>3</Inc>", "<Inc>1</Inc>"}};
    const Replacements wide = {
        {"<Inc>3</Inc>", "<Inc>8</Inc>"},
        {"<pIndex Offset=\"4\">LUTIndexStore</pIndex>\n    <Length>4</Length>",
         "<pIndex Offset=\"1\">LUTIndexStore</pIndex>\n    <Length>8</Length>"}};
    const struct {
        const char* what;
        Replacements changes;
        uint32_t address, before0, before1;  // the entry's two words
        uint8_t position, read, write;
        uint32_t after0, after1;
    } cases[] = {
        {"LUTValue, index 7", lutValue, reg::kLutEntries + 7 * 4, 0x1234, 0, 7, 0x34, 0x55, 0x55,
         0},
        {"byte 5 of the entry at index 8", wide, reg::kLutEntries + 8, 0x11223344, 0x55667788, 13,
         0x33, 0xAA, 0x1122AA44, 0x55667788},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        load(c.changes);
        setWord(c.address, c.before0);
        setWord(c.address + 4, c.before1);
        uint8_t value = 0;
        ASSERT_EQ(LumexGetLut(kDevice, c.position, &value), GEV_STATUS_SUCCESS);
        EXPECT_EQ(value, c.read);
        ASSERT_EQ(LumexSetLut(kDevice, c.position, c.write), GEV_STATUS_SUCCESS);
        EXPECT_EQ(word(c.address), c.after0);
        EXPECT_EQ(word(c.address + 4), c.after1);
    }

    // Increments of zero and above eight are not supported.
    for (const char* inc : {"0", "9"}) {
        SCOPED_TRACE(inc);
        load({{"<Inc>3</Inc>", std::string("<Inc>") + inc + "</Inc>"}});
        uint8_t value = 0x42;
        EXPECT_EQ(LumexGetLut(kDevice, 7, &value), GEV_STATUS_NOT_SUPPORTED);
        EXPECT_EQ(LumexSetLut(kDevice, 7, 1), GEV_STATUS_NOT_SUPPORTED);
        EXPECT_EQ(value, 0x42);
        EXPECT_TRUE(logged(std::string("[ERROR] - LUT increment ") + inc + " not supported."));
        EXPECT_TRUE(camera().receivedCommands().empty()) << "no index chosen, no entry read";
    }
}

// ---- Both generations against the simulated camera's echoing serial device ----

using SimSerial = DescribedCameraTest;

TEST_F(SimSerial, WordWiseFeaturesWhenTheCameraHasThem) {
    ASSERT_EQ(GEVSetDetailedLog(kDevice, 0x01), GEV_STATUS_SUCCESS);
    ASSERT_EQ(LumexInitClinkSerial(kDevice, 57600), GEV_STATUS_SUCCESS);
    EXPECT_EQ(record().oldClinkFeatures.load(), 1u);
    EXPECT_TRUE(logged("[INFO] - Old CLink functions active"));
    EXPECT_EQ(cameraWord(sim::feature::kSerialBaudRate), 57600u);

    const Bytes sent = bytesOf("ABCDEF");
    ASSERT_EQ(LumexSendClink(kDevice, 6, sent.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(LumexSendClink(kDevice, 0, nullptr), GEV_STATUS_SUCCESS);
    GevClinkStatus status{};
    ASSERT_EQ(LumexGetClinkStatus(kDevice, &status), GEV_STATUS_SUCCESS);
    EXPECT_EQ(fields(status), (Bytes{6, 0, 0, 0, 0, 1}));

    // Four bytes from the first word, the last two from the low bytes of the second.
    camera().clearReceivedCommands();
    Bytes out(16, 0);
    uint16_t received = 0;
    ASSERT_EQ(LumexReceiveClink(kDevice, 16, out.data(), &received), GEV_STATUS_SUCCESS);
    ASSERT_EQ(received, 6);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 6), sent);
    const auto reads = touchedAddresses(camera(), false, sim::feature::kBlockBase);
    EXPECT_EQ(std::count(reads.begin(), reads.end(), sim::feature::kReceiveSerial), 2);
    ASSERT_EQ(LumexGetClinkStatus(kDevice, &status), GEV_STATUS_SUCCESS);
    EXPECT_EQ(fields(status), Bytes(6, 0));
}

}  // namespace
}  // namespace kavro::test
