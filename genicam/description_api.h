// The device description state of this process that lives beside the device records: the text
// a fetch holds per device, the folders the description files are found in, and the release at
// close.
#pragma once

#include <cstdint>
#include <string>

namespace kavro::genicam {

// Drops the feature model and the held description text (and its size) of `device`; called when
// the device closes and when an open fails. Thread-safe.
void releaseDeviceDescription(uint8_t device);

// The folder searched first for the schema and stylesheet files and into which a description
// copy is saved: the library's own folder, unless replaced (tests point it at a scratch folder;
// an empty text restores the library's folder). Thread-safe.
void setLibraryFolderOverride(std::string folder);
[[nodiscard]] std::string descriptionLibraryFolder();

// The folder searched when the library folder lacks the schema (GEVSetDescriptionDataFolder;
// default: the installed data folder). Thread-safe.
[[nodiscard]] std::string descriptionDataFolder();

}  // namespace kavro::genicam
