// Work done when a process loads the library.
#include <cstdio>

#include "platform/module.h"

namespace {

__attribute__((constructor)) void onLibraryLoad() {
    // Sockets need no start-up here. The folder is where the schema and stylesheet files are
    // looked for first; without it only the installed data folder serves.
    if (kavro::platform::libraryFolder().empty()) {
        std::fputs("KavroGigEVisionLib: Can't get KavroGigEVisionLib path\n", stderr);
    }
}

}  // namespace
