#include "tests/support/sim_fixture.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "frame/device_open.h"
#include "frame/device_table.h"

namespace kavro::test {

LogCapture& LogCapture::instance() {
    static LogCapture capture;
    return capture;
}

void LogCapture::callback(uint8_t, const char* line) {
    auto& self = instance();
    std::lock_guard lock(self.mutex_);
    self.lines_.emplace_back(line);
}

void LogCapture::clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

bool LogCapture::contains(const std::string& line) const {
    std::lock_guard lock(mutex_);
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
}

size_t LogCapture::count(const std::string& prefix) const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count_if(
        lines_.begin(), lines_.end(), [&](const auto& l) { return l.rfind(prefix, 0) == 0; }));
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

frame::GevDevice& record(uint8_t device) {
    return *frame::DeviceTable::instance().record(device);
}

GevConnectInfo loopbackConnectInfo(uint32_t cameraAddressNet) {
    GevConnectInfo info{};
    info.deviceAddress = cameraAddressNet;
    info.hostAddress = htonl(INADDR_LOOPBACK);
    info.subnetMask = htonl(0xFF000000);
    std::strcpy(info.adapterName, "lo");
    return info;
}

void SimCameraTest::SetUp() {
    LogCapture::instance().clear();
}

void SimCameraTest::TearDown() {
    closeTransportOnly();
    camera_.reset();
}

void SimCameraTest::startCamera(const sim::CameraConfig& config) {
    if (camera_)
        return;
    camera_ = sim::CameraServer::startOnLoopback(config);
    ASSERT_NE(camera_, nullptr) << "no loopback address could be bound for the camera";
}

void SimCameraTest::openTransportOnly(uint8_t controlMode) {
    startCamera();
    ASSERT_EQ(frame::openWithoutHandshake(kDevice, loopbackConnectInfo(camera_->addressNet()),
                                          &LogCapture::callback, controlMode),
              GEV_STATUS_SUCCESS);
}

void SimCameraTest::closeTransportOnly() {
    auto& table = frame::DeviceTable::instance();
    if (frame::GevDevice* dev = table.openDevice(kDevice)) {
        dev->logCallback = nullptr;
        {
            std::lock_guard lock(dev->controlLock);
            std::lock_guard swap(dev->controlSocketSwap);
            dev->controlSocket.reset();
        }
        table.markClosed(*dev);
    }
}

std::vector<sim::ReceivedCommand> SimCameraTest::commands(uint16_t code) const {
    std::vector<sim::ReceivedCommand> out;
    for (auto& c : camera_->receivedCommands()) {
        if (c.command == code)
            out.push_back(c);
    }
    return out;
}

std::vector<sim::ReceivedCommand> SimCameraTest::awaitCommands(
    uint16_t code, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto found = commands(code);
    while (found.empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        found = commands(code);
    }
    return found;
}

}  // namespace kavro::test
