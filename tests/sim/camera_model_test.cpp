// The camera model answering raw GVCP command datagrams, without any network.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "gvcp/bootstrap.h"
#include "gvcp/wire.h"
#include "gvcp/wire_events.h"
#include "platform/byte_cursor.h"
#include "sim/bootstrap_map.h"
#include "sim/camera_model.h"

namespace kavro::sim {
namespace {

using namespace kavro::gvcp;
using Bytes = std::vector<uint8_t>;

const Peer kHost{htonl(0x7F000001), 50000};

struct Reply {
    AckHeader header;
    Bytes payload;
};

class CameraModelTest : public ::testing::Test {
  protected:
    std::optional<Bytes> raw(const Bytes& datagram) { return model.handleCommand(datagram, kHost); }
    Reply ask(const Bytes& datagram) {
        const auto ack = raw(datagram);
        EXPECT_TRUE(ack.has_value());
        if (!ack)
            return {};
        const auto header = parseAckHeader(*ack);
        EXPECT_TRUE(header.has_value());
        EXPECT_EQ(header->length + kHeaderSize, ack->size());
        const auto payload = ackPayload(*ack, *header);
        return {*header, Bytes(payload.begin(), payload.end())};
    }
    std::vector<uint32_t> words(const Bytes& payload) {
        platform::ByteReader r(payload);
        std::vector<uint32_t> out;
        while (r.remaining() >= 4)
            out.push_back(r.u32());
        return out;
    }
    // Writes need the control privilege.
    void takeControl() { ASSERT_EQ(writeRegStatus(reg::kCcp, reg::kCcpControlAccess), 0); }
    uint16_t writeRegStatus(uint32_t address, uint32_t value) {
        const uint32_t values[] = {value};
        return ask(buildWriteReg(1, address, values)).header.status;
    }
    // A command with any header and payload, as a faulty host might send it.
    static Bytes command(uint16_t code, uint16_t length, const Bytes& payload,
                         uint8_t flags = kFlagAckRequired) {
        Bytes out(kHeaderSize);
        writeCommandHeader(std::span<uint8_t, kHeaderSize>(out.data(), kHeaderSize),
                           {flags, code, length, 3});
        out.insert(out.end(), payload.begin(), payload.end());
        return out;
    }

    CameraConfig config;
    CameraModel model{config};
};

TEST_F(CameraModelTest, ReadAcksMatchGoldenBytesAndStringsFitTheirArea) {
    EXPECT_EQ(raw(buildReadReg(7, reg::kVersion, 2)),
              (Bytes{0x00, 0x00, 0x00, 0x81, 0x00, 0x08, 0x00, 0x07,     // header
                     0x00, 0x02, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00}));  // version, mode
    EXPECT_EQ(raw(buildReadMem(9, reg::kManufacturerName, 8)),
              (Bytes{0x00, 0x00, 0x00, 0x85, 0x00, 0x0C, 0x00, 0x09,  // header
                     0x00, 0x00, 0x00, 0x48,                          // address
                     'K',  'a',  'v',  'r',  'o',  ' ',  'S',  'i'}));

    // Strings are zero-padded and cut to their area.
    config.serialNumber = "S123";
    config.model = std::string(40, 'M');  // longer than its 32 bytes
    CameraModel m(config);
    Bytes serial(16, 0);
    std::memcpy(serial.data(), "S123", 4);
    EXPECT_EQ(m.readMemory(reg::kSerialNumber, 16), serial);
    const Bytes name = m.readMemory(reg::kModelName, 32);
    EXPECT_EQ(name[30], 'M');
    EXPECT_EQ(name[31], 0) << "a full string keeps its terminating zero";
}

TEST_F(CameraModelTest, RegisterAccessRulesGiveTheirStatusAndStopAtTheFirstBadAddress) {
    takeControl();
    EXPECT_EQ(writeRegStatus(reg::kVersion, 1), kStatusAccessDenied);
    EXPECT_EQ(writeRegStatus(reg::kSerialNumber, 1), kStatusAccessDenied);
    EXPECT_EQ(writeRegStatus(0x0700, 1), kStatusInvalidAddress);
    EXPECT_EQ(writeRegStatus(reg::kCcp + 2, 1), kStatusBadAlignment);
    EXPECT_EQ(ask(buildReadReg(1, 0x0702, 1)).header.status, kStatusBadAlignment);
    EXPECT_EQ(ask(buildReadReg(1, reg::kActionDeviceKey, 1)).header.status, kStatusAccessDenied);
    EXPECT_EQ(ask(buildReadReg(1, 0xFFFFFFFC, 1)).header.status, kStatusInvalidAddress);
    // Writable registers take the value; the user name is a writable string.
    EXPECT_EQ(writeRegStatus(reg::kUserDefinedName, 0x41424300), kStatusSuccess);
    EXPECT_EQ(writeRegStatus(reg::kActionDeviceKey, 0x1234), kStatusSuccess);
    // A write-only key never shows through memory either.
    EXPECT_EQ(model.readRegister(reg::kActionDeviceKey), 0x1234u);
    EXPECT_EQ(ask(buildReadMem(1, reg::kActionDeviceKey, 4)).payload,
              (Bytes{0, 0, 0x09, 0x0C, 0, 0, 0, 0}));

    // READREG stops at the first bad address, WRITEREG at the first bad pair and reports its index.
    const Bytes read = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x09, 0x00};
    auto reply = ask(command(kReadRegCmd, 12, read));
    EXPECT_EQ(reply.header.status, kStatusInvalidAddress);
    EXPECT_EQ(reply.header.ackCode, kReadRegAck);
    EXPECT_EQ(words(reply.payload), std::vector<uint32_t>{0x00020000});

    takeControl();
    Bytes write(24);
    platform::ByteWriter w(write);
    for (const uint32_t v :
         {reg::kHeartbeatTimeout, 1000u, reg::kVersion, 5u, reg::kGvcpConfiguration, 1u}) {
        w.u32(v);
    }
    reply = ask(command(kWriteRegCmd, 24, write));
    EXPECT_EQ(reply.header.status, kStatusAccessDenied);
    EXPECT_EQ(reply.header.ackCode, kWriteRegAck);
    EXPECT_EQ(reply.payload, (Bytes{0, 0, 0, 1}));
    EXPECT_EQ(model.readRegister(reg::kHeartbeatTimeout), 1000u);
    EXPECT_EQ(model.readRegister(reg::kGvcpConfiguration), 0u) << "nothing after the bad pair";
    // The heartbeat time-out never goes below its minimum.
    EXPECT_EQ(writeRegStatus(reg::kHeartbeatTimeout, 100), kStatusSuccess);
    EXPECT_EQ(model.readRegister(reg::kHeartbeatTimeout), 500u);
}

TEST_F(CameraModelTest, MemoryCommandsCheckAddressAndCount) {
    takeControl();
    const uint32_t userEnd = config.userMemoryBase + config.userMemorySize;
    const struct {
        const char* what;
        Bytes datagram;
        uint16_t status;
    } cases[] = {
        {"read of 0 bytes", buildReadMem(1, 0, 0), kStatusInvalidParameter},
        {"read of 6 bytes", buildReadMem(1, 0, 6), kStatusInvalidParameter},
        {"read of 540 bytes", buildReadMem(1, 0, 540), kStatusInvalidParameter},
        {"read past the bootstrap", buildReadMem(1, 0x9FFC, 8), kStatusInvalidAddress},
        {"read past user memory", buildReadMem(1, userEnd - 4, 8), kStatusInvalidAddress},
        {"read between regions", buildReadMem(1, 0xB000, 4), kStatusInvalidAddress},
        {"misaligned read", buildReadMem(1, 0x0049, 4), kStatusBadAlignment},
        {"write of 6 bytes", command(kWriteMemCmd, 10, Bytes(10, 0)), kStatusInvalidParameter},
        {"write of 540 bytes", command(kWriteMemCmd, 544, Bytes(544, 0)), kStatusInvalidParameter},
        {"write of nothing", command(kWriteMemCmd, 4, Bytes(4, 0)), kStatusInvalidParameter},
        {"write past user memory", buildWriteMem(1, userEnd - 4, Bytes(8, 1), 8),
         kStatusInvalidAddress},
        {"write to the serial", buildWriteMem(1, reg::kSerialNumber, Bytes(4, 1), 4),
         kStatusAccessDenied},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ask(c.datagram).header.status, c.status) << c.what;
    }
    // A write that runs off the user name stops there and reports the bytes stored.
    const auto reply = ask(buildWriteMem(1, reg::kUserDefinedName, Bytes(20, 'x'), 20));
    EXPECT_EQ(reply.header.status, kStatusInvalidAddress);
    EXPECT_EQ(reply.payload, (Bytes{0, 0, 0, 16}));
    EXPECT_EQ(model.readMemory(reg::kUserDefinedName, 16), Bytes(16, 'x'));
}

TEST_F(CameraModelTest, MalformedCommandsAreRefusedWithoutReadingPastTheDatagram) {
    // Length fields that claim more than arrived.
    auto shortRead = buildReadReg(1, 0, 2);
    shortRead.resize(12);
    auto reply = ask(shortRead);
    EXPECT_EQ(reply.header.status, kStatusInvalidParameter);
    EXPECT_EQ(reply.header.ackCode, kReadRegAck);
    EXPECT_EQ(reply.header.ackId, 1);
    EXPECT_EQ(ask(command(0x0123, 4, {})).header.ackCode, 0x0124);
    // Payloads of the wrong shape.
    EXPECT_EQ(ask(command(kReadRegCmd, 6, Bytes(6, 0))).header.status, kStatusInvalidParameter);
    EXPECT_EQ(ask(command(kReadRegCmd, 0, {})).header.status, kStatusInvalidParameter);
    EXPECT_EQ(ask(command(kReadRegCmd, 544, Bytes(544, 0))).header.status, kStatusInvalidParameter);
    EXPECT_EQ(ask(command(kWriteRegCmd, 12, Bytes(12, 0))).header.status, kStatusInvalidParameter);
    EXPECT_EQ(ask(command(kReadMemCmd, 12, Bytes(12, 0))).header.status, kStatusInvalidParameter);
    // Bytes beyond the length field are not part of the command.
    auto padded = buildReadReg(2, reg::kVersion, 1);
    padded.insert(padded.end(), {0, 0, 0x07, 0});
    EXPECT_EQ(ask(padded).header.status, kStatusSuccess);
    // Unknown commands are not implemented.
    reply = ask(command(0x0042, 0, {}));
    EXPECT_EQ(reply.header.status, kStatusNotImplemented);
    EXPECT_EQ(reply.header.ackCode, 0x0043);
    EXPECT_EQ(reply.header.ackId, 3);
    // Datagrams that are not commands get no answer.
    auto noKey = buildReadReg(1, 0, 1);
    noKey[0] = 0x43;
    EXPECT_FALSE(raw(noKey));
    EXPECT_FALSE(raw(Bytes{0x42, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00}));
    EXPECT_FALSE(raw(Bytes{}));
    // Without the acknowledge flag a command takes effect unanswered.
    const uint32_t two[] = {2};
    auto silent = buildWriteReg(4, reg::kCcp, two);
    silent[1] = 0;
    EXPECT_FALSE(raw(silent));
    EXPECT_EQ(model.readRegister(reg::kCcp), 2u);
}

TEST_F(CameraModelTest, HooksAndHandlersExtendTheModelAndRemovingOneWaitsForItsCall) {
    // A write hook sees the sender and can refuse.
    model.setWriteHook(reg::kCcp, [](DeviceMemory&, RegisterWriteRequest& request) -> uint16_t {
        return request.sender != nullptr && request.sender->port == kHost.port ? kStatusAccessDenied
                                                                               : kStatusSuccess;
    });
    EXPECT_EQ(writeRegStatus(reg::kCcp, 1), kStatusAccessDenied);
    EXPECT_EQ(model.writeRegister(reg::kCcp, 1, Peer{kHost.addressNet, 1}), kStatusSuccess);

    const uint64_t first = model.setCommandHandler(
        kActionCmd, [](const CommandHeader&, std::span<const uint8_t>, const Peer&) {
            return std::optional(Answer{kStatusSuccess, kActionAck, {}});
        });
    EXPECT_EQ(ask(command(kActionCmd, 0, {})).header.ackCode, kActionAck);
    // The first owner going away leaves a handler installed after its own in place.
    model.setCommandHandler(kActionCmd,
                            [](const CommandHeader&, std::span<const uint8_t>, const Peer&) {
                                return std::optional(Answer{kStatusAccessDenied, kActionAck, {}});
                            });
    model.removeCommandHandler(kActionCmd, first);
    EXPECT_EQ(ask(command(kActionCmd, 0, {})).header.status, kStatusAccessDenied);

    // The owner of a handler frees what it captured as soon as the removal returns, so the
    // removal must not return while another thread is still inside the handler.
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> left{false};
    model.setCommandHandler(kActionCmd,
                            [&](const CommandHeader&, std::span<const uint8_t>, const Peer&) {
                                entered.set_value();
                                released.wait();
                                left = true;
                                return std::optional<Answer>{};
                            });
    std::thread caller([&] { (void)raw(command(kActionCmd, 0, {})); });
    entered.get_future().wait();
    auto removed = std::async(std::launch::async, [&] {
        model.setCommandHandler(kActionCmd, {});
        return left.load();
    });
    EXPECT_EQ(removed.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    release.set_value();
    EXPECT_TRUE(removed.get());
    caller.join();
    EXPECT_EQ(ask(command(kActionCmd, 0, {})).header.status, kStatusNotImplemented);
}

// ACTION commands: which ones fire the camera's action signals, and what the camera answers.
constexpr uint32_t kDeviceKey = 0x11223344;

class ActionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        config.gvcpCapability |= reg::kCapScheduledAction;
        model = std::make_unique<CameraModel>(config);
        model->writeRegister(reg::kActionDeviceKey, kDeviceKey);
        model->writeRegister(reg::kActionGroupKey0, 1);
        model->writeRegister(reg::kActionGroupMask0, 0x0000000F);
        model->writeRegister(reg::kActionGroupKey0 + kActionSignalStride, 2);
        model->writeRegister(reg::kActionGroupMask0 + kActionSignalStride, 0xFFFF0000);
    }
    std::optional<AckHeader> send(const ActionCommand& action, const Peer& from = kHost) {
        const auto ack = model->handleCommand(buildAction(action), from);
        return ack ? parseAckHeader(*ack) : std::nullopt;
    }

    CameraConfig config;
    std::unique_ptr<CameraModel> model;
};

TEST_F(ActionTest, OnlyActionsForThisCameraFireAndAreAcknowledged) {
    const struct {
        const char* what;
        ActionCommand action;
        uint32_t signals;  // 0: no answer at all
    } cases[] = {
        {"first signal", {1, kDeviceKey, 1, 0x00000001, {}}, 0x1},
        {"second signal", {2, kDeviceKey, 2, 0x00010000, {}}, 0x2},
        {"wrong device key", {3, kDeviceKey + 1, 1, 0xFFFFFFFF, {}}, 0},
        {"unknown group key", {4, kDeviceKey, 3, 0xFFFFFFFF, {}}, 0},
        {"masks share no bit", {5, kDeviceKey, 1, 0xFFFFFFF0, {}}, 0},
    };
    for (const auto& c : cases) {
        model->clearTriggeredActions();
        const auto ack = send(c.action);
        const auto fired = model->triggeredActions();
        if (c.signals == 0) {
            EXPECT_FALSE(ack.has_value()) << c.what;
            EXPECT_TRUE(fired.empty()) << c.what;
            continue;
        }
        ASSERT_TRUE(ack.has_value()) << c.what;
        EXPECT_EQ(ack->status, kStatusSuccess) << c.what;
        EXPECT_EQ(ack->ackCode, kActionAck) << c.what;
        EXPECT_EQ(ack->ackId, c.action.reqId) << c.what;
        ASSERT_EQ(fired.size(), 1u) << c.what;
        EXPECT_EQ(fired[0].signals, c.signals) << c.what;
        EXPECT_EQ(fired[0].groupMask, c.action.groupMask) << c.what;
        EXPECT_FALSE(fired[0].actionTimeNs) << c.what;
    }
}

TEST_F(ActionTest, ScheduledUnacknowledgedAndShutOutActions) {
    const ActionCommand scheduled{7, kDeviceKey, 1, 1, 1'700'000'000'000'000'000ull};
    EXPECT_EQ(send(scheduled)->status, kStatusSuccess);
    ASSERT_EQ(model->triggeredActions().size(), 1u);
    EXPECT_EQ(model->triggeredActions()[0].actionTimeNs, scheduled.actionTimeNs);

    model->writeRegister(reg::kGvcpCapability,
                         model->readRegister(reg::kGvcpCapability) & ~reg::kCapScheduledAction);
    model->clearTriggeredActions();
    EXPECT_EQ(send(scheduled)->status, kStatusNotImplemented);
    EXPECT_TRUE(model->triggeredActions().empty());

    // Without the acknowledge flag an action fires silently; exclusive access shuts others out.
    model->clearTriggeredActions();
    auto datagram = buildAction({8, kDeviceKey, 1, 1, {}});
    datagram[1] = 0;  // no acknowledge asked for
    EXPECT_FALSE(model->handleCommand(datagram, kHost));
    EXPECT_EQ(model->triggeredActions().size(), 1u);

    model->takeControlAsOtherHost(reg::kCcpExclusiveAccess);
    EXPECT_EQ(send({9, kDeviceKey, 1, 1, {}})->status, kStatusAccessDenied);
    EXPECT_EQ(model->triggeredActions().size(), 1u);
}

TEST(ActionConfig, ChannelsAndSignalsFollowTheConfiguration) {
    CameraConfig config;
    config.messageChannels = 0;
    config.actionSignals = 3;
    CameraModel model(config);
    EXPECT_EQ(model.readRegister(reg::kNumberOfMessageChannels), 0u);
    EXPECT_EQ(model.readRegister(reg::kGvcpCapability) & (reg::kCapEvent | reg::kCapEventData), 0u);
    EXPECT_EQ(model.readRegister(reg::kNumberOfActionSignals), 3u);
}

}  // namespace
}  // namespace kavro::sim
