// Fetching a device description: from the camera's memory as its First (or Second) URL says,
// or from a host file; unpacked when zipped, and optionally saved next to the library.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "KavroGigEVisionLib.h"
#include "genicam/xml_diagnostics.h"

namespace kavro::genicam {

// A description text as a fetch leaves it. `size` stays when the text is let go.
struct DescriptionText {
    std::vector<uint8_t> bytes;
    bool held = false;
    uint32_t size = 0;

    void release() {
        bytes.clear();
        bytes.shrink_to_fit();
        held = false;
    }
};

// The folder of saved copies, inside the library folder.
inline constexpr const char* kSavedFolder = "SavedDescriptions";

struct FetchEnvironment {
    // Reads `length` bytes of camera memory from `address`; a device status on failure.
    std::function<GevStatus(uint32_t address, uint32_t length, uint8_t* out)> readMemory;
    // The device log; may be empty.
    LogSink log;
    // Save a description read from the camera as "<libraryFolder>/<kSavedFolder>/<base name of
    // the description name>": a folder of its own, so that no name a camera sends can replace a
    // file shipped beside the library (stylesheets, schemas, the library itself).
    bool saveCopy = false;
    std::string libraryFolder;
};

// Fetches a description afresh into `out` (whatever `out` held before is dropped first).
// `fileName` null: from the camera; otherwise from that host file (a zip archive when the
// name contains ".zip"), which is never saved. Returns 0 with the (unpacked) text held, or:
//   0x8006 the camera refused a URL read; 0xC020 the URL is a web address (not downloaded);
//   0xC021 no URL could be read, the URL has neither form,
//   names a description name of 255 characters or more, or a file URL gave nothing usable;
//   0xC022 the description could not be read from the camera (or its length is beyond
//   kMaxDescriptionSize); 0xC023 the fetch gave no text; 0xC012/0xC013 the host file is
//   empty/can't be opened or is too large; 0xC024 the zip archive can't be unpacked.
// A failure after reading leaves what was read held in `out`.
[[nodiscard]] GevStatus fetchDescription(const FetchEnvironment& environment, const char* fileName,
                                         DescriptionText& out);

// Reads a whole host file into `out` and makes its path the description name.
[[nodiscard]] GevStatus readHostFile(const std::string& path, const LogSink& log,
                                     DescriptionText& out);

// The name of the last description fetched in this process (the name of a "local:" URL or the
// path of a host file); the saved copy takes its base name. Thread-safe.
[[nodiscard]] std::string lastDescriptionName();

}  // namespace kavro::genicam
