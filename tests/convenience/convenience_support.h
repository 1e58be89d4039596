// The convenience test camera: the simulator with a small description whose registers sit in
// its plain user memory, loaded as written or with some of its texts replaced, and the order in
// which the library touched those registers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "gvcp/wire.h"
#include "platform/byte_order.h"
#include "tests/support/description_file_fixture.h"

namespace kavro::test {

// Register addresses of tests/data/convenience/camera.xml.
namespace reg {
inline constexpr uint32_t kExposureAuto = 0x10000;
inline constexpr uint32_t kExposureTime = 0x10004;
inline constexpr uint32_t kGainAuto = 0x10008;
inline constexpr uint32_t kGlobalGain = 0x1000C;
inline constexpr uint32_t kWidth = 0x10010;
inline constexpr uint32_t kHeight = 0x10014;
inline constexpr uint32_t kOffsetX = 0x10018;
inline constexpr uint32_t kOffsetY = 0x1001C;
inline constexpr uint32_t kWidthMax = 0x10020;
inline constexpr uint32_t kHeightMax = 0x10024;
inline constexpr uint32_t kPixelFormat = 0x10028;
inline constexpr uint32_t kBaudRate = 0x10030;
inline constexpr uint32_t kTxDataLength = 0x10040;
inline constexpr uint32_t kRxBufCnt = 0x10044;
inline constexpr uint32_t kTxBufCnt = 0x10048;
inline constexpr uint32_t kTxBufOverflow = 0x1004C;
inline constexpr uint32_t kRxBufOverflow = 0x10050;
inline constexpr uint32_t kTxDataAvailable = 0x10054;
inline constexpr uint32_t kRxDataAvailable = 0x10058;
inline constexpr uint32_t kLutEntries = 0x10100;  // 4 bytes per LUTIndex step
inline constexpr uint32_t kTxData = 0x10200;      // 16 bytes
inline constexpr uint32_t kRxData = 0x10300;      // 16 bytes
}  // namespace reg

// Addresses from `from` on that the camera was asked to read (`write` false) or write, in the
// order the requests arrived (every address of a multi-register read).
inline std::vector<uint32_t> touchedAddresses(const sim::CameraServer& camera, bool write,
                                              uint32_t from = 0x10000) {
    std::vector<uint32_t> addresses;
    for (const sim::ReceivedCommand& c : camera.receivedCommands()) {
        const bool isWrite = c.command == gvcp::kWriteRegCmd || c.command == gvcp::kWriteMemCmd;
        const bool isRead = c.command == gvcp::kReadRegCmd || c.command == gvcp::kReadMemCmd;
        if (write ? !isWrite : !isRead)
            continue;
        // Register writes carry address/value pairs, memory requests one address.
        const size_t step = c.command == gvcp::kReadRegCmd    ? 4
                            : c.command == gvcp::kWriteRegCmd ? 8
                                                              : 0;
        for (size_t at = 8; at + 4 <= c.bytes.size(); at += step) {
            const uint32_t a = platform::loadBe32(&c.bytes[at]);
            if (a >= from)
                addresses.push_back(a);
            if (step == 0)
                break;
        }
    }
    return addresses;
}

using Replacements = std::vector<std::pair<std::string, std::string>>;

class ConvenienceTest : public DescriptionFileTest {
  protected:
    void SetUp() override {
        DescriptionFileTest::SetUp();
        load({});
    }

    // Builds the device's description from camera.xml with `replacements` applied (each text
    // must occur).
    void load(const Replacements& replacements) {
        std::ifstream in(std::string(KAVRO_TEST_DATA_DIR) + "/convenience/camera.xml");
        std::stringstream text;
        text << in.rdbuf();
        std::string xml = text.str();
        ASSERT_FALSE(xml.empty());
        for (const auto& [from, to] : replacements) {
            const size_t at = xml.find(from);
            ASSERT_NE(at, std::string::npos) << from;
            xml.replace(at, from.size(), to);
        }
        const std::string path = ::testing::TempDir() + "convenience_" +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                                 ".xml";
        std::ofstream(path) << xml;
        describe(path);
    }

    frame::GevDevice& record() { return test::record(kDevice); }
    std::vector<uint32_t> touched(bool write) const { return touchedAddresses(*camera_, write); }
};

}  // namespace kavro::test
