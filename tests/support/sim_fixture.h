// A simulated camera on loopback and an index of the library connected to it, with the
// device's log lines collected for assertions.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "KavroGigEVisionLib.h"
#include "frame/device.h"
#include "sim/camera_server.h"

namespace kavro::test {

// Log lines of every device, in arrival order.
class LogCapture {
  public:
    static LogCapture& instance();
    static void callback(uint8_t device, const char* line);

    void clear();
    std::vector<std::string> lines() const;
    bool contains(const std::string& line) const;
    size_t count(const std::string& prefix) const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Polls `condition` until it holds or `limit` passed; whether it held.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

// The record of an open device index.
frame::GevDevice& record(uint8_t device);

// Connection data for a camera on `cameraAddressNet` reached from 127.0.0.1.
GevConnectInfo loopbackConnectInfo(uint32_t cameraAddressNet);

class SimCameraTest : public ::testing::Test {
  protected:
    static constexpr uint8_t kDevice = 1;

    void SetUp() override;
    void TearDown() override;

    // Starts the camera (if not started) with `config`.
    void startCamera(const sim::CameraConfig& config = {});
    // Opens kDevice on the camera without the open handshake (record and control socket only).
    void openTransportOnly(uint8_t controlMode = 1);
    void closeTransportOnly();

    sim::CameraServer& camera() { return *camera_; }
    // Commands the camera received with the given command code.
    std::vector<sim::ReceivedCommand> commands(uint16_t code) const;
    // Waits until the camera received a command with the given code (the heartbeat's reads and
    // other traffic may arrive first); what commands(code) then holds.
    std::vector<sim::ReceivedCommand> awaitCommands(uint16_t code,
                                                    std::chrono::milliseconds timeout) const;

    std::unique_ptr<sim::CameraServer> camera_;
};

}  // namespace kavro::test
