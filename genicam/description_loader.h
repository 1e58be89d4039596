// Turns a device description text into the flat XML document the feature node model walks:
// parse, check against the schema of the declared version, pre-process with four stylesheets.
#pragma once

#include <libxml/tree.h>

#include <string>
#include <string_view>

#include "KavroGigEVisionLib.h"
#include "genicam/xml_diagnostics.h"
#include "genicam/xml_ptr.h"

namespace kavro::genicam {

struct LoadOptions {
    // Folder of the library file, without a trailing separator; may be empty.
    std::string libraryFolder;
    // Searched for the schema when the library folder lacks it (the installed data folder or
    // the one an application set); may be empty.
    std::string fallbackFolder;
    // The device log: one line per call, no line end. May be empty (lines are dropped).
    LogSink log;
    // Folder of the cache of loaded descriptions (see description_cache.h); empty: no cache.
    std::string cacheFolder;
};

struct LoadedDescription {
    XmlDocument document;
    xmlNode* root = nullptr;  // root element of `document`
};

// Loads `text` (not NUL-terminated, any size). On success `out` holds the pre-processed document
// and its root element; on failure `out` is empty. A text found in the cache is taken from there
// (the same log lines, no schema check or stylesheets); a text loaded afresh is stored in it.
// Returns GEV_STATUS_XML_NOT_WELL_FORMED, GEV_STATUS_SCHEMA_ERROR (no schema for the version,
// unusable schema, or the description does not validate), GEV_STATUS_STYLESHEET_ERROR or
// GEV_STATUS_XML_NO_ROOT.
//
// Thread-safe: loads are serialized process-wide, because the libxml2/libxslt diagnostics of a
// load are routed to its log through process-wide handlers.
[[nodiscard]] GevStatus loadDescription(std::string_view text, const LoadOptions& options,
                                        LoadedDescription& out);

}  // namespace kavro::genicam
