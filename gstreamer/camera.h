// One camera as the source element uses it, through the library's public C interface only: a
// device index opened with exclusive control, the camera's description built, the stream
// channel open, and an acquisition whose images are lent out of a FrameRing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KavroGigEVisionLib.h"
#include "gstreamer/frame_ring.h"
#include "gstreamer/pixel_formats.h"

namespace kavro::gst {

// What the element's properties ask of the camera.
struct CameraSettings {
    std::string address;      // IPv4 address, or empty to find the camera by serial
    std::string serial;       // serial number (through discovery) when no address is given
    uint32_t packetSize = 0;  // bytes of a stream packet; 0 keeps the camera's
    bool packetResend = true;
    uint16_t bufferCount = 16;  // ring entries of an acquisition
    std::string features;       // "Name=Value ..." written after the open
};

// An error with the library status that caused it (0 when none did).
struct CameraError {
    GevStatus status = GEV_STATUS_SUCCESS;
    std::string text;
};

struct Geometry {
    const PixelFormatCaps* format = nullptr;
    uint32_t pixelFormat = 0;  // the camera's code, also when the element can't stream it
    uint32_t width = 0;
    uint32_t height = 0;
    double frameRate = 0.0;  // 0 when the camera does not say
};

struct IntegerRange {
    int64_t min = 0;
    int64_t max = 0;
    int64_t step = 1;
};

// The image choices the camera offers now: its available pixel formats that the element can
// stream, and the width and height ranges.
struct Choices {
    std::vector<const PixelFormatCaps*> formats;
    IntegerRange width;
    IntegerRange height;
};

class Camera {
  public:
    // Opens the camera the settings name on a free device index; null with `error` set when
    // any step fails (everything opened so far is closed again).
    static std::unique_ptr<Camera> open(const CameraSettings& settings, CameraError& error);
    // Stops a running acquisition and closes the device index.
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    uint8_t device() const { return device_; }
    // Resend was asked for and the camera lacks it: the stream runs without.
    bool resendUnavailable() const { return resendUnavailable_; }
    double nanosecondsPerTick() const { return nanosecondsPerTick_; }

    bool readGeometry(Geometry& geometry, CameraError& error) const;
    Choices readChoices() const;
    // Writes pixel format, width and height where they differ from the camera's (not while an
    // acquisition runs).
    bool setGeometry(const PixelFormatCaps& format, uint32_t width, uint32_t height,
                     CameraError& error);

    // Registers a fresh ring of buffers and starts the camera (PayloadSize from its features).
    bool startAcquisition(CameraError& error);
    // Stops the camera and the reception; lent buffers stay valid. No effect when stopped.
    void stopAcquisition();
    bool acquiring() const { return ring_ != nullptr; }
    // The running acquisition's ring (null when stopped).
    const std::shared_ptr<FrameRing>& ring() const { return ring_; }

  private:
    explicit Camera(uint8_t device) : device_(device) {}
    bool configure(const CameraSettings& settings, CameraError& error);

    const uint8_t device_;
    uint16_t bufferCount_ = 16;
    double nanosecondsPerTick_ = 1.0;
    bool streamChannelOpen_ = false;
    bool resendUnavailable_ = false;
    std::shared_ptr<FrameRing> ring_;
};

}  // namespace kavro::gst
