// Where an installed library finds its schema and stylesheet files without being told.
#pragma once

#include <string>

namespace kavro::genicam {

// The installed data folder as seen from the folder the library was loaded from
// ("<library folder>/../share/KavroGigEVisionLib" for an install under any prefix), when it
// exists; else the data folder of the configured install prefix, compiled in.
[[nodiscard]] std::string defaultDataFolder();

}  // namespace kavro::genicam
