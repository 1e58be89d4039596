// ACTION commands: which ones fire the camera's action signals, and what the camera answers.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "gvcp/bootstrap.h"
#include "gvcp/wire_events.h"
#include "sim/bootstrap_map.h"
#include "sim/camera_model.h"

namespace kavro::sim {
namespace {

using namespace kavro::gvcp;
using Bytes = std::vector<uint8_t>;

const Peer kHost{htonl(0x7F000001), 50000};
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

TEST_F(ActionTest, ScheduledActionsKeepTheirTimeOrAreRefusedWithoutTheCapability) {
    const ActionCommand scheduled{7, kDeviceKey, 1, 1, 1'700'000'000'000'000'000ull};
    EXPECT_EQ(send(scheduled)->status, kStatusSuccess);
    ASSERT_EQ(model->triggeredActions().size(), 1u);
    EXPECT_EQ(model->triggeredActions()[0].actionTimeNs, scheduled.actionTimeNs);

    model->writeRegister(reg::kGvcpCapability,
                         model->readRegister(reg::kGvcpCapability) & ~reg::kCapScheduledAction);
    model->clearTriggeredActions();
    EXPECT_EQ(send(scheduled)->status, kStatusNotImplemented);
    EXPECT_TRUE(model->triggeredActions().empty());
}

TEST_F(ActionTest, ActionWithoutAckFlagFiresSilentlyAndExclusiveAccessShutsOthersOut) {
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
