// Shared helpers of the description loading tests: scratch folders, sample files, a log that
// records its lines, and read access to the flattened document.
#pragma once

#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "genicam/description_loader.h"
#include "tests/support/scratch_folder.h"

namespace kavro::genicam::test {

namespace fs = std::filesystem;

inline const fs::path kSchemaDir = KAVRO_SCHEMA_DIR;
inline const fs::path kSampleDir = fs::path(KAVRO_TEST_DATA_DIR) / "genicam";

inline const std::vector<std::string> kSchemaFiles = {"GenApiSchema_Version_1_0.xsd",
                                                      "GenApiSchema_Version_1_1.xsd"};
inline const std::vector<std::string> kStylesheetFiles = {"PreProcess_1.xsl", "PreProcess_2.xsl",
                                                          "PreProcess_3.xsl", "PreProcess_4.xsl"};

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::string sample(std::string_view name) {
    return readFile(kSampleDir / name);
}

// A scratch folder that takes copies of the shipped schemas and stylesheets.
class ScratchFolder final : public kavro::test::ScratchFolder {
  public:
    void copyDataFiles(const std::vector<std::string>& files) const { copyFrom(kSchemaDir, files); }
};

class RecordingLog {
  public:
    LogSink sink() {
        return [this](const char* line) { lines.emplace_back(line); };
    }
    [[nodiscard]] bool contains(std::string_view part) const { return indexOf(part) >= 0; }
    // Index of the first line containing `part`, -1 if none.
    [[nodiscard]] int indexOf(std::string_view part) const {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].find(part) != std::string::npos) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    [[nodiscard]] std::string all() const {
        std::string text;
        for (const std::string& line : lines) {
            text.append(line).append("\n");
        }
        return text;
    }

    std::vector<std::string> lines;
};

// Values of several integer types as one row, to compare with the row expected.
template <class... Values>
std::vector<int64_t> ints(Values... values) {
    return {static_cast<int64_t>(values)...};
}

inline std::string_view name(const xmlNode* node) {
    return reinterpret_cast<const char*>(node->name);
}

inline std::string attribute(const xmlNode* node, const char* attributeName) {
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(attributeName));
    std::string text = value != nullptr ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return text;
}

inline bool hasAttribute(const xmlNode* node, const char* attributeName) {
    return xmlHasProp(node, reinterpret_cast<const xmlChar*>(attributeName)) != nullptr;
}

inline std::string text(const xmlNode* node) {
    xmlChar* content = xmlNodeGetContent(node);
    std::string value = content != nullptr ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return value;
}

inline std::vector<const xmlNode*> elementChildren(const xmlNode* node) {
    std::vector<const xmlNode*> children;
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE) {
            children.push_back(child);
        }
    }
    return children;
}

// The texts of all child elements called `element`, in document order.
inline std::vector<std::string> texts(const xmlNode* node, std::string_view element) {
    std::vector<std::string> values;
    for (const xmlNode* child : elementChildren(node)) {
        if (name(child) == element) {
            values.push_back(text(child));
        }
    }
    return values;
}

inline const xmlNode* child(const xmlNode* node, std::string_view element) {
    for (const xmlNode* candidate : elementChildren(node)) {
        if (name(candidate) == element) {
            return candidate;
        }
    }
    return nullptr;
}

// pVariable Name -> referenced node, in document order.
inline std::vector<std::pair<std::string, std::string>> variables(const xmlNode* node) {
    std::vector<std::pair<std::string, std::string>> result;
    for (const xmlNode* candidate : elementChildren(node)) {
        if (name(candidate) == "pVariable") {
            result.emplace_back(attribute(candidate, "Name"), text(candidate));
        }
    }
    return result;
}

}  // namespace kavro::genicam::test
