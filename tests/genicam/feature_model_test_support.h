// Building feature models in tests: from a flat document written by hand (what the node model
// reads, without schema or stylesheets) or from a full description through the loader.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "genicam/feature_model.h"
#include "genicam_test_support.h"

namespace kavro::genicam::test {

struct BuiltModel {
    GevStatus status = GEV_STATUS_INTERNAL_ERROR;
    std::shared_ptr<FeatureModel> model = std::make_shared<FeatureModel>();
    RecordingLog log;
};

// `nodes` is the content of the root element of a flattened description.
inline std::unique_ptr<BuiltModel> buildFlat(std::string_view nodes) {
    auto built = std::make_unique<BuiltModel>();
    const std::string text =
        "<RegisterDescription>" + std::string(nodes) + "</RegisterDescription>";
    const XmlDocument document(
        xmlReadMemory(text.data(), static_cast<int>(text.size()), "flat.xml", nullptr, 0));
    if (!document) {
        ADD_FAILURE() << "test document is not well formed";
        return built;
    }
    built->status =
        buildFeatureModel(xmlDocGetRootElement(document.get()), built->log.sink(), *built->model);
    return built;
}

// Loads a full description with the shipped schemas and stylesheets, then builds and runs the
// post-build passes.
inline std::unique_ptr<BuiltModel> buildDescription(std::string_view text) {
    auto built = std::make_unique<BuiltModel>();
    LoadedDescription loaded;
    built->status =
        loadDescription(text, LoadOptions{kSchemaDir.string(), "", built->log.sink(), ""}, loaded);
    if (built->status != GEV_STATUS_SUCCESS) {
        return built;
    }
    built->status = buildFeatureModel(loaded.root, built->log.sink(), *built->model);
    if (built->status == GEV_STATUS_SUCCESS) {
        checkInvalidators(*built->model, built->log.sink());
        placeSelectors(*built->model);
    }
    return built;
}

// "name:level" (categories marked with a trailing '/') for every entry, following `next`, and
// checking the numbering on the way.
inline std::vector<std::string> entries(const FeatureList& list) {
    std::vector<std::string> out;
    uint32_t expected = 1;
    for (const GevFeatureEntry* entry = list.head(); entry != nullptr; entry = entry->next) {
        EXPECT_EQ(entry->index, expected++) << entry->name;
        out.push_back(std::string(entry->name) + (entry->isLeaf != 0 ? "" : "/") + ":" +
                      std::to_string(entry->level));
    }
    EXPECT_EQ(list.count(), out.size());
    return out;
}

// Root: A (x, B (y)), z.
inline constexpr std::string_view kExampleTree = R"(
    <Category Name="Root"><pFeature>A</pFeature><pFeature>z</pFeature></Category>
    <Category Name="A"><pFeature>x</pFeature><pFeature>B</pFeature></Category>
    <Category Name="B"><pFeature>y</pFeature></Category>
    <Integer Name="x"/><Integer Name="y"/><Integer Name="z"/>)";

}  // namespace kavro::genicam::test
