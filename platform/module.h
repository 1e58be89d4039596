// Where the library's own file lives, and the installed data folder.
#pragma once

#include <string>

namespace kavro::platform {

// Folder of the file that holds the library code (libKavroGigEVisionLib.so, or the program it
// is linked into), without a trailing separator; empty when it can't be found.
const std::string& libraryFolder();

}  // namespace kavro::platform
