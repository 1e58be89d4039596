// Discovery, Force IP and the persistent network configuration, in a private network of two
// namespaces: the test thread is the host with two adapters, the simulated cameras live behind
// them. Nothing leaves the namespaces.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gvcp/bootstrap.h"
#include "gvcp/wire.h"
#include "gvcp/wire_discovery.h"
#include "platform/socket.h"
#include "sim/camera_server.h"
#include "tests/support/netns_lab.h"
#include "tests/support/sim_fixture.h"

namespace kavro::test {
namespace {

using namespace std::chrono_literals;
namespace reg = gvcp::reg;

uint32_t ip(const char* dotted) {
    return platform::parseIpv4(dotted);
}
std::string dotted(uint32_t addressNet) {
    char text[16];
    platform::formatIpv4(addressNet, text);
    return text;
}

class Discovery : public ::testing::Test {
  protected:
    void SetUp() override {
        buildLab("198.18.2.1/24");
        LogCapture::instance().clear();
    }
    // Adapter A is 198.18.1.1/24; adapter B gets `adapterB`.
    void buildLab(const std::string& adapterB) {
        lab_.reset();
        std::string why;
        lab_ = NetnsLab::create({{"kvhA",
                                  "kvcA",
                                  "198.18.1.1/24",
                                  {"198.18.1.20/24", "198.18.3.5/24", "198.18.1.30/24"}},
                                 {"kvhB", "kvcB", adapterB, {"198.18.2.10/24"}}},
                                why);
        if (!lab_)
            GTEST_SKIP() << "broadcast tests skipped: " << why;
    }
    void TearDown() override {
        if (lab_)
            (void)GEVClose(1);
        cameras_.clear();
        lab_.reset();
    }

    // A camera on `address` that hears broadcasts on `interface` (empty: on every link).
    sim::CameraServer& addCamera(const char* address, const std::string& interface, uint8_t macLast,
                                 std::optional<uint32_t> reportedMask = std::nullopt) {
        sim::CameraConfig config;
        config.reportedSubnetMask = reportedMask;
        config.mac[5] = macLast;
        config.serialNumber = std::string("SN-") + address;
        config.broadcastInterface = interface;
        std::unique_ptr<sim::CameraServer> camera;
        lab_->inCameraNamespace([&] { camera = sim::CameraServer::start(config, ip(address)); });
        EXPECT_NE(camera, nullptr) << address;
        cameras_.push_back(std::move(camera));
        return *cameras_.back();
    }

    std::unique_ptr<NetnsLab> lab_;
    std::vector<std::unique_ptr<sim::CameraServer>> cameras_;
};

std::vector<int32_t> g_progress;
void recordProgress(int32_t percent) {
    g_progress.push_back(percent);
}

TEST_F(Discovery, CamerasOnEveryAdapterAreListedInAddressOrder) {
    auto& refusing = addCamera("198.18.1.20", "kvcA", 0x20);
    addCamera("198.18.2.10", "kvcB", 0x10);
    addCamera("198.18.3.5", "kvcA", 0x05);  // behind adapter A, but on another subnet
    auto& controlled = addCamera("198.18.1.30", "kvcA", 0x30, 0);  // reports an empty mask
    // The control state of each camera is probed.
    refusing.faults().deviceStatusNext(10, GEV_STATUS_ACCESS_DENIED);
    controlled.model().writeRegister(reg::kCcp, reg::kCcpControlAccess);

    GevDeviceList list{};
    g_progress.clear();
    ASSERT_EQ(GEVDiscovery(&list, &recordProgress, 300, 0), GEV_STATUS_SUCCESS);
    ASSERT_EQ(list.count, 3) << "a reachable camera with an empty mask is listed";
    EXPECT_EQ(dotted(list.devices[0].deviceAddress), "198.18.2.10") << "last octet first";
    EXPECT_EQ(dotted(list.devices[1].deviceAddress), "198.18.1.20");
    EXPECT_EQ(dotted(list.devices[2].deviceAddress), "198.18.1.30");
    EXPECT_EQ(list.devices[2].subnetMask, 0u);
    EXPECT_EQ(
        (std::vector<int>{list.devices[0].status, list.devices[1].status, list.devices[2].status}),
        (std::vector<int>{GEV_DISCOVERY_AVAILABLE, GEV_DISCOVERY_UNREACHABLE,
                          GEV_DISCOVERY_CONTROLLED}));
    const GevDeviceInfo& b = list.devices[0];
    EXPECT_EQ(dotted(b.adapterAddress), "198.18.2.1");
    EXPECT_EQ(dotted(b.adapterMask), "255.255.255.0");
    EXPECT_STREQ(b.adapterName, "kvhB");
    EXPECT_EQ(b.macAddress[5], 0x10);
    EXPECT_EQ(b.subnetMask, 0xFFFFFF00u);
    EXPECT_EQ(std::string(b.serialNumber, strnlen(b.serialNumber, 16)), "SN-198.18.2.10");
    EXPECT_EQ(std::string(b.manufacturerName), "Kavro Simulated Cameras");

    ASSERT_FALSE(g_progress.empty());
    EXPECT_TRUE(std::is_sorted(g_progress.begin(), g_progress.end()));
    EXPECT_TRUE(g_progress.back() >= 90 && g_progress.back() <= 100) << g_progress.back();
}

TEST_F(Discovery, OtherSubnetsAreListedOnlyWhenAskedForAndNeedForceIp) {
    auto& stray = addCamera("198.18.3.5", "kvcA", 0x05);
    GevDeviceList list{};
    ASSERT_EQ(GEVDiscovery(&list, nullptr, 200, 1), GEV_STATUS_SUCCESS);
    ASSERT_EQ(list.count, 1);
    EXPECT_EQ(list.devices[0].status, GEV_DISCOVERY_OTHER_SUBNET);

    // Force IP moves it onto the adapter's subnet, where it is then reachable.
    const uint8_t* mac = list.devices[0].macAddress;
    ASSERT_EQ(GEVForceIp(0xC6120132 /* 198.18.1.50 */, 0xFFFFFF00, 0, mac), GEV_STATUS_SUCCESS);
    EXPECT_EQ(stray.model().readRegister(reg::kCurrentIpAddress), 0xC6120132u);
    ASSERT_EQ(GEVDiscovery(&list, nullptr, 200, 0), GEV_STATUS_SUCCESS);
    ASSERT_EQ(list.count, 1);
    EXPECT_EQ(dotted(list.devices[0].deviceAddress), "198.18.1.50");
    EXPECT_EQ(list.devices[0].status, GEV_DISCOVERY_AVAILABLE);
}

TEST_F(Discovery, CameraSeenThroughTwoAdaptersIsListedOncePerAdapter) {
    // Both adapters on one subnet; the camera hears both links' broadcasts and answers each.
    buildLab("198.18.1.2/24");
    if (!lab_)
        return;
    addCamera("198.18.1.20", "", 0x20);
    GevDeviceList list{};
    ASSERT_EQ(GEVDiscovery(&list, nullptr, 200, 0), GEV_STATUS_SUCCESS);
    ASSERT_EQ(list.count, 2);
    EXPECT_NE(list.devices[0].adapterAddress, list.devices[1].adapterAddress);
    EXPECT_EQ(list.devices[0].deviceAddress, list.devices[1].deviceAddress);
}

TEST_F(Discovery, TwentyCamerasAtMostAndMalformedAnswersIgnored) {
    for (int i = 0; i < 21; ++i) {
        const std::string address = "198.18.1." + std::to_string(100 + i);
        ASSERT_TRUE(lab_->addCameraAddress("kvcA", address + "/24"));
        addCamera(address.c_str(), "kvcA", static_cast<uint8_t>(i));
    }
    // Three of them answer wrongly: one byte short, one byte long, another acknowledge code.
    auto good = gvcp::buildDiscoveryAck({}, 1);
    const std::vector<uint8_t> shortAck(good.begin(), good.end() - 1);
    auto longAck = good;
    longAck.push_back(0);
    auto wrongCode = good;
    wrongCode[3] = 0x05;
    cameras_[0]->faults().rawAnswerNext(1, shortAck);
    cameras_[1]->faults().rawAnswerNext(1, longAck);
    cameras_[2]->faults().rawAnswerNext(1, wrongCode);

    GevDeviceList list{};
    ASSERT_EQ(GEVDiscovery(&list, nullptr, 400, 0), GEV_STATUS_SUCCESS);
    EXPECT_EQ(list.count, 18);
    for (uint8_t i = 0; i < list.count; ++i)
        EXPECT_GT(ntohl(list.devices[i].deviceAddress), ntohl(ip("198.18.1.102")))
            << "one of the three";
    ASSERT_EQ(GEVDiscovery(&list, nullptr, 400, 0), GEV_STATUS_SUCCESS);
    EXPECT_EQ(list.count, 20) << "the 21st camera is not listed";
}

TEST_F(Discovery, NetConfigTakesEffectWhenTheDeviceCloses) {
    auto& camera = addCamera("198.18.1.20", "kvcA", 0x20);
    GevConnectInfo info{};
    info.deviceAddress = ip("198.18.1.20");
    info.hostAddress = ip("198.18.1.1");
    info.subnetMask = ip("255.255.255.0");
    ASSERT_EQ(GEVInit(1, &info, &LogCapture::callback, 0, 1), GEV_STATUS_SUCCESS);

    uint8_t dhcp = 9;
    uint32_t address = 9, mask = 9, gateway = 9;
    camera.model().writeRegister(reg::kNetworkInterfaceConfiguration, 0x4);  // link-local only
    ASSERT_EQ(GEVGetNetConfig(1, &dhcp, &address, &mask, &gateway), GEV_STATUS_SUCCESS);
    EXPECT_EQ(dhcp + address + mask + gateway, 0u) << "link-local only: nothing persistent";

    ASSERT_EQ(GEVSetNetConfig(1, 0, 0xC6120140, 0xFFFFFF00, 0xC6120101), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVGetNetConfig(1, &dhcp, &address, &mask, &gateway), GEV_STATUS_SUCCESS);
    EXPECT_EQ(address, 0xC6120140u);
    EXPECT_EQ(gateway, 0xC6120101u);
    ASSERT_EQ(GEVSetNetConfig(1, 0, 0, 0, 0), GEV_STATUS_SUCCESS);
    EXPECT_EQ(camera.model().readRegister(reg::kNetworkInterfaceConfiguration) & 0x7u, 0x5u)
        << "neither DHCP nor an address asked for: the register is left unwritten";

    ASSERT_EQ(GEVSetNetConfig(1, 1, 0, 0, 0), GEV_STATUS_SUCCESS);
    EXPECT_EQ(camera.model().readRegister(reg::kNetworkInterfaceConfiguration) & 0x7u, 0x6u)
        << "DHCP on, persistent off, link-local kept";
    camera.clearReceivedCommands();
    ASSERT_EQ(GEVClose(1), GEV_STATUS_SUCCESS);
    std::vector<sim::ReceivedCommand> sent;
    for (int i = 0; i < 100 && (sent.empty() || sent.back().command != gvcp::kForceIpCmd); ++i) {
        std::this_thread::sleep_for(10ms);
        sent = camera.receivedCommands();
    }
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().command, gvcp::kForceIpCmd) << "after control was released";
    EXPECT_EQ(sent.back().flags, 0x00) << "told once, without an answer";
    EXPECT_EQ(sent[sent.size() - 2].command, gvcp::kWriteRegCmd);
    const auto force = gvcp::parseForceIp(sent.back().bytes);
    ASSERT_TRUE(force);
    EXPECT_EQ(force->address, 0u);
    EXPECT_EQ(force->mac[5], 0x20);
    EXPECT_EQ(force->subnetMask, 0xFFFFFF00u);
}

}  // namespace
}  // namespace kavro::test
