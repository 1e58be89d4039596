// Control privilege, heartbeat expiry and takeovers of the camera model, from raw datagrams.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <thread>

#include "gvcp/bootstrap.h"
#include "gvcp/wire.h"
#include "platform/byte_cursor.h"
#include "sim/camera_model.h"

namespace kavro::sim {
namespace {

using namespace kavro::gvcp;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

const Peer kHostA{htonl(0x7F000001), 50000};
const Peer kHostB{htonl(0x7F000001), 50001};  // another application on the same machine
constexpr uint32_t kUser = 0x10000;

class ControlPrivilegeTest : public ::testing::Test {
  protected:
    uint16_t read(const Peer& from, uint32_t address = reg::kVersion) {
        return status(model.handleCommand(buildReadReg(1, address, 1), from));
    }
    uint16_t write(const Peer& from, uint32_t address, uint32_t value) {
        const uint32_t values[] = {value};
        return status(model.handleCommand(buildWriteReg(1, address, values), from));
    }
    uint16_t writeMem(const Peer& from, uint32_t address) {
        return status(model.handleCommand(buildWriteMem(1, address, Bytes(4, 7), 4), from));
    }
    static uint16_t status(const std::optional<Bytes>& ack) {
        EXPECT_TRUE(ack.has_value());
        return ack ? parseAckHeader(*ack)->status : 0xFFFF;
    }
    void setDestinations() {
        for (const uint32_t r : {reg::kScda0, reg::kScp0, reg::kMcda, reg::kMcp})
            model.writeRegister(r, 0x7F000001);
    }
    bool destinationsCleared() const {
        return model.readRegister(reg::kScda0) == 0 && model.readRegister(reg::kScp0) == 0 &&
               model.readRegister(reg::kMcda) == 0 && model.readRegister(reg::kMcp) == 0;
    }

    CameraConfig config;
    CameraModel model{config};
};

TEST_F(ControlPrivilegeTest, ControlAccessLetsOtherHostsReadAndExclusiveAccessShutsThemOut) {
    EXPECT_EQ(read(kHostB), kStatusSuccess) << "reads need no control";
    EXPECT_EQ(write(kHostA, reg::kCcp, reg::kCcpControlAccess), kStatusSuccess);
    EXPECT_EQ(model.controlHolder(), kHostA);
    EXPECT_EQ(model.readRegister(reg::kPrimaryApplicationPort), 50000u);
    EXPECT_EQ(model.readRegister(reg::kPrimaryApplicationAddress), 0x7F000001u);
    EXPECT_EQ(read(kHostB), kStatusSuccess);
    EXPECT_EQ(write(kHostB, kUser, 1), kStatusAccessDenied);
    EXPECT_EQ(writeMem(kHostB, kUser), kStatusAccessDenied);
    EXPECT_EQ(writeMem(kHostB, reg::kCcp), kStatusAccessDenied);

    // The holder may change its mode, and release control for another host to take.
    EXPECT_EQ(write(kHostA, reg::kCcp, reg::kCcpExclusiveAccess), kStatusSuccess);
    EXPECT_EQ(read(kHostB), kStatusAccessDenied);
    EXPECT_EQ(write(kHostB, reg::kCcp, reg::kCcpExclusiveAccess), kStatusAccessDenied);
    EXPECT_EQ(model.controlHolder(), kHostA);
    EXPECT_EQ(read(kHostA), kStatusSuccess);
    EXPECT_EQ(writeMem(kHostA, kUser), kStatusSuccess);
    EXPECT_EQ(write(kHostA, reg::kCcp, 0), kStatusSuccess);
    EXPECT_EQ(model.controlHolder(), std::nullopt);
    EXPECT_EQ(model.readRegister(reg::kPrimaryApplicationPort), 0u);
    EXPECT_EQ(write(kHostB, reg::kCcp, reg::kCcpControlAccess), kStatusSuccess);
    EXPECT_EQ(model.controlHolder(), kHostB);
    EXPECT_EQ(model.readRegister(reg::kPrimaryApplicationPort), 50001u);

    // Without control only the CCP register is writable: one WRITEREG may take control and then
    // use it.
    EXPECT_EQ(write(kHostB, reg::kCcp, 0), kStatusSuccess);
    EXPECT_EQ(write(kHostA, reg::kMcp, 5000), kStatusAccessDenied);
    EXPECT_EQ(writeMem(kHostA, kUser), kStatusAccessDenied);
    Bytes command(kHeaderSize + 16);
    writeCommandHeader(std::span<uint8_t, kHeaderSize>(command.data(), kHeaderSize),
                       {kFlagAckRequired, kWriteRegCmd, 16, 1});
    platform::ByteWriter w{std::span<uint8_t>(command).subspan(kHeaderSize)};
    for (const uint32_t v : {reg::kCcp, 1u, reg::kMcp, 5000u})
        w.u32(v);
    EXPECT_EQ(status(model.handleCommand(command, kHostA)), kStatusSuccess);
    EXPECT_EQ(model.readRegister(reg::kMcp), 5000u);
}

TEST_F(ControlPrivilegeTest, SilentHolderLosesControlAndAnotherHostTakesItUntilReleased) {
    ASSERT_EQ(write(kHostA, reg::kCcp, 1), kStatusSuccess);
    setDestinations();
    // Commands of other hosts are no heartbeat; any command of the holder is.
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(read(kHostB, reg::kCcp), kStatusAccessDenied);
    EXPECT_EQ(read(kHostA, reg::kVersion), kStatusSuccess);
    const auto heard = CameraModel::Clock::now();
    EXPECT_FALSE(model.superviseHeartbeat(heard + 2900ms));
    EXPECT_EQ(model.readRegister(reg::kCcp), 1u);

    // Disabled heartbeat: no expiry.
    model.writeRegister(reg::kGvcpConfiguration, reg::kGvcpConfigHeartbeatDisable);
    EXPECT_FALSE(model.superviseHeartbeat(heard + 10s));
    model.writeRegister(reg::kGvcpConfiguration, 0);

    EXPECT_TRUE(model.superviseHeartbeat(heard + 3001ms));
    EXPECT_EQ(model.readRegister(reg::kCcp), 0u);
    EXPECT_EQ(model.controlHolder(), std::nullopt);
    EXPECT_TRUE(destinationsCleared());
    EXPECT_EQ(read(kHostB), kStatusSuccess);
    EXPECT_FALSE(model.superviseHeartbeat(heard + 10s)) << "nothing left to drop";

    // Another host takes control until released.
    ASSERT_EQ(write(kHostA, reg::kCcp, 1), kStatusSuccess);
    setDestinations();
    model.takeControlAsOtherHost(reg::kCcpExclusiveAccess);
    EXPECT_TRUE(destinationsCleared());
    EXPECT_EQ(model.readRegister(reg::kPrimaryApplicationAddress), CameraModel::kOtherHostAddress);
    EXPECT_EQ(read(kHostA, reg::kCcp), kStatusAccessDenied);
    EXPECT_EQ(write(kHostA, reg::kCcp, 1), kStatusAccessDenied);
    EXPECT_FALSE(model.superviseHeartbeat(CameraModel::Clock::now() + 1h))
        << "its heartbeat goes on";

    model.takeControlAsOtherHost(reg::kCcpControlAccess);
    EXPECT_EQ(read(kHostA, reg::kCcp), kStatusSuccess);
    EXPECT_EQ(write(kHostA, reg::kCcp, 1), kStatusAccessDenied);

    model.releaseOtherHost();
    EXPECT_EQ(model.readRegister(reg::kCcp), 0u);
    EXPECT_EQ(write(kHostA, reg::kCcp, 1), kStatusSuccess);
    model.releaseOtherHost();
    EXPECT_EQ(model.controlHolder(), kHostA) << "only the other host is released";

    model.refuseControl(true);
    EXPECT_EQ(write(kHostA, reg::kCcp, 0), kStatusAccessDenied);
}

}  // namespace
}  // namespace kavro::sim
