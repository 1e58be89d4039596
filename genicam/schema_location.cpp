#include "genicam/schema_location.h"

#include <cstring>
#include <fstream>

namespace kavro::genicam {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Leading decimal number of `text` modulo 256, as a C "text to int" reads it: white space and a
// sign first, digits up to the first other character, 0 without digits. Reducing while reading
// keeps any length of digits from overflowing.
std::uint8_t decimalModulo256(const char* text) {
    while (isSpace(*text)) {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    unsigned value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = (value * 10 + static_cast<unsigned>(*text - '0')) % 256;
    }
    return static_cast<std::uint8_t>(negative ? (256 - value) % 256 : value);
}

bool readable(const std::string& path) {
    return std::ifstream(path).is_open();
}

}  // namespace

SchemaVersion schemaVersionOf(const xmlDoc& document) {
    SchemaVersion version;
    for (const xmlNode* node = document.children; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE ||
            std::strcmp(reinterpret_cast<const char*>(node->name), "RegisterDescription") != 0) {
            continue;
        }
        const auto readAttribute = [node](const char* name, std::uint8_t& field) {
            xmlChar* value = xmlGetNoNsProp(node, reinterpret_cast<const xmlChar*>(name));
            if (value != nullptr) {
                field = decimalModulo256(reinterpret_cast<const char*>(value));
                xmlFree(value);
            }
        };
        readAttribute("SchemaMajorVersion", version.major);
        readAttribute("SchemaMinorVersion", version.minor);
    }
    return version;
}

std::string joinPath(std::string_view folder, std::string_view file) {
    std::string path(folder);
    if (!path.empty() && path.back() != '/') {
        path.push_back('/');
    }
    path.append(file);
    return path;
}

std::string schemaFileName(SchemaVersion version) {
    return "GenApiSchema_Version_" + std::to_string(version.major) + "_" +
           std::to_string(version.minor) + ".xsd";
}

std::optional<SchemaLocation> findSchema(const std::string& libraryFolder,
                                         const std::string& fallbackFolder, SchemaVersion version) {
    const std::string file = schemaFileName(version);
    for (const std::string* folder : {&libraryFolder, &fallbackFolder}) {
        if (folder->empty()) {
            continue;
        }
        std::string path = joinPath(*folder, file);
        if (readable(path)) {
            return SchemaLocation{*folder, std::move(path)};
        }
    }
    return std::nullopt;
}

}  // namespace kavro::genicam
