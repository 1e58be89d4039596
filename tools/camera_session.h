// Opening the camera a gevtool subcommand works on, and reporting statuses in words.
#pragma once

#include <string>
#include <vector>

#include "KavroGigEVisionLib.h"
#include "command_line.h"

namespace gevtool {

// The options that choose a camera: -a ADDRESS, or -d INDEX|SERIAL from a discovery.
[[nodiscard]] std::vector<OptionInfo> cameraOptions(std::vector<OptionInfo> more = {});
// The help lines of those options.
extern const char* const kCameraOptionsHelp;

// Prints "gevtool: <what>: <name and meaning of status>" to stderr; true for success.
bool check(const char* what, GevStatus status);

// The device index of the process's open camera. Indexes are machine-wide: the session takes
// the first one no other process holds.
[[nodiscard]] uint8_t sessionDevice();

// One open device for the life of the object; closed when it goes.
class CameraSession {
  public:
    enum class Control : uint8_t { None = 0, Exclusive = 1 };

    // Opens the camera the command line names; on failure prints why and sets `exitCode`.
    static bool open(const CommandLine& line, Control control, CameraSession& session,
                     int& exitCode);
    CameraSession() = default;
    CameraSession(const CameraSession&) = delete;
    CameraSession& operator=(const CameraSession&) = delete;
    ~CameraSession();

    // Builds the feature tree from the camera's description.
    bool loadDescription();
    // Log lines the library gave this device since the open (or since the last take).
    std::vector<std::string> takeLog();

  private:
    bool open_ = false;
};

// Writes the device log lines to stderr as they come (-v), besides keeping them.
void setVerboseLog(bool on);

}  // namespace gevtool
