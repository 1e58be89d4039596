// Building the feature model of a generated description of about 10,000 nodes: libxml2's bare
// parse of the same text as the baseline, then load (parse, schema check, four stylesheets) plus
// model build with no fetch, first with an empty cache of loads (the entry is written) and then a
// second build of the same text from the cache; node lookup by name through the index against a
// linear scan; and selector placement for 1000 and 4000 selectors against a lookup of every
// feature on the same model (linear placement keeps that ratio as the size grows).
#include <libxml/parser.h>

#include <malloc.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "genicam/description_loader.h"
#include "genicam/feature_model.h"

namespace {

using Clock = std::chrono::steady_clock;
using kavro::genicam::FeatureModel;
using kavro::genicam::FeatureNode;

constexpr int kBlocks = 1000;  // ten nodes each
constexpr int kRounds = 5;

// A valid schema 1.1 description: per block a group holding a category, an IntReg, an Integer,
// a Float, an Enumeration with two entries, a Command, a Boolean and a SwissKnife.
std::string description() {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<RegisterDescription ModelName=\"KV-BENCH\" VendorName=\"Kavro\" "
        "SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\" "
        "xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">\n<Category Name=\"Root\">\n";
    for (int i = 0; i < kBlocks; ++i)
        out += "  <pFeature>Block" + std::to_string(i) + "</pFeature>\n";
    out += "</Category>\n";
    for (int i = 0; i < kBlocks; ++i) {
        const std::string n = std::to_string(i);
        char address[16];
        std::snprintf(address, sizeof address, "0x%X", 0x10000 + 4 * i);
        out += "<Group Comment=\"block " + n + "\">\n  <Category Name=\"Block" + n + "\">\n";
        for (const char* f : {"Reg", "Int", "Flt", "Enum", "Cmd", "Bool", "Knife"})
            out += std::string("    <pFeature>") + f + n + "</pFeature>\n";
        out += "  </Category>\n";
        out += "  <IntReg Name=\"Reg" + n + "\">\n    <ToolTip>Register " + n +
               "</ToolTip>\n    <Address>" + address +
               "</Address>\n    <Length>4</Length>\n    <AccessMode>RW</AccessMode>\n"
               "    <pPort>Device</pPort>\n    <Cachable>WriteThrough</Cachable>\n"
               "    <Endianess>BigEndian</Endianess>\n  </IntReg>\n";
        out += "  <Integer Name=\"Int" + n +
               "\">\n    <Value>5</Value>\n    <Min>0</Min>\n    <Max>1000</Max>\n"
               "    <Inc>5</Inc>\n  </Integer>\n";
        out += "  <Float Name=\"Flt" + n +
               "\">\n    <Value>2.5</Value>\n    <Min>-10.0</Min>\n    <Max>10.0</Max>\n"
               "  </Float>\n";
        out += "  <Enumeration Name=\"Enum" + n +
               "\">\n    <EnumEntry Name=\"Off\">\n      <Value>0</Value>\n    </EnumEntry>\n"
               "    <EnumEntry Name=\"On\">\n      <Value>1</Value>\n    </EnumEntry>\n"
               "    <pValue>Reg" +
               n + "</pValue>\n  </Enumeration>\n";
        out += "  <Command Name=\"Cmd" + n + "\">\n    <pValue>Reg" + n +
               "</pValue>\n    <CommandValue>1</CommandValue>\n  </Command>\n";
        out += "  <Boolean Name=\"Bool" + n + "\">\n    <pValue>Reg" + n +
               "</pValue>\n    <OnValue>1</OnValue>\n    <OffValue>0</OffValue>\n  </Boolean>\n";
        out += "  <SwissKnife Name=\"Knife" + n + "\">\n    <pVariable Name=\"A\">Flt" + n +
               "</pVariable>\n    <pVariable Name=\"B\">Int" + n +
               "</pVariable>\n    <Formula>A * 2 + B</Formula>\n  </SwissKnife>\n";
        out += "</Group>\n";
    }
    out += "<Port Name=\"Device\"/>\n</RegisterDescription>\n";
    return out;
}

// `selectors` enumerations, each selecting the integer listed after it in its category.
std::string selectorDescription(int selectors) {
    std::string out =
        "<RegisterDescription ModelName=\"KV-SEL\" VendorName=\"Kavro\" "
        "SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\" "
        "xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">\n<Category Name=\"Root\">\n";
    for (int i = 0; i < selectors; ++i) {
        const std::string n = std::to_string(i);
        out += "<pFeature>Sel" + n + "</pFeature><pFeature>Val" + n + "</pFeature>\n";
    }
    out += "</Category>\n";
    for (int i = 0; i < selectors; ++i) {
        const std::string n = std::to_string(i);
        out += "<Enumeration Name=\"Sel" + n +
               "\"><EnumEntry Name=\"A\"><Value>0</Value></EnumEntry><Value>0</Value>"
               "<pSelected>Val" +
               n + "</pSelected></Enumeration>\n<Integer Name=\"Val" + n +
               "\"><Value>1</Value></Integer>\n";
    }
    out += "</RegisterDescription>\n";
    return out;
}

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

struct Placement {
    double place = -1.0;   // placeSelectors, best of three
    double lookup = -1.0;  // baseline: each feature's node looked up and its pSelected read
};

// Selector placement against one node lookup per feature entry on the same model: both walk the
// same memory, so their ratio stays put as the size grows when the placement is linear.
Placement placement(const std::string& text, const kavro::genicam::LoadOptions& options) {
    Placement best{1e9, 1e9};
    for (int r = 0; r < 3; ++r) {
        kavro::genicam::LoadedDescription loaded;
        FeatureModel model;
        if (kavro::genicam::loadDescription(text, options, loaded) != GEV_STATUS_SUCCESS ||
            kavro::genicam::buildFeatureModel(loaded.root, {}, model) != GEV_STATUS_SUCCESS) {
            return {};
        }
        auto t0 = Clock::now();
        size_t selected = 0;
        for (const GevFeatureEntry* e = model.features().head(); e != nullptr; e = e->next) {
            if (const FeatureNode* node = model.findNode(e->name)) {
                selected += node->pSelected.size();
            }
        }
        best.lookup = std::min(best.lookup, msSince(t0));
        t0 = Clock::now();
        kavro::genicam::placeSelectors(model);
        best.place = std::min(best.place, msSince(t0));
        if (selected == 0) {
            return {};
        }
    }
    return best;
}

double median(std::vector<double> samples) {
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

// First node in list order whose Name, else Symbolic, equals `name`: what the index replaces.
const FeatureNode* scan(const FeatureModel& model, std::string_view name) {
    for (const auto& node : model.nodes()) {
        if (node->Name == name)
            return node.get();
    }
    for (const auto& node : model.nodes()) {
        if (node->Symbolic == name)
            return node.get();
    }
    return nullptr;
}

}  // namespace

int main() {
    const std::string text = description();
    // A cache folder of the bench's own, emptied before every first build.
    std::string cacheFolder =
        (std::filesystem::temp_directory_path() / "kavro-bench-cache.XXXXXX").string();
    if (::mkdtemp(cacheFolder.data()) == nullptr) {
        std::fprintf(stderr, "no cache folder\n");
        return 1;
    }
    kavro::genicam::LoadOptions options;
    options.libraryFolder = KAVRO_SCHEMA_DIR;
    options.cacheFolder = cacheFolder;

    std::vector<double> parse;
    std::vector<double> build;
    std::vector<double> rebuild;
    std::unique_ptr<FeatureModel> last;  // the last build, for the lookups
    // Every measurement starts on a settled heap: what earlier rounds freed is merged before the
    // clock starts, not inside the next measured call that happens to allocate a large block.
    const auto settle = [&] {
        last.reset();
        malloc_trim(0);
    };
    const auto buildOnce = [&](std::vector<double>& samples) {
        auto built = std::make_unique<FeatureModel>();
        settle();
        const auto t0 = Clock::now();
        kavro::genicam::LoadedDescription loaded;
        if (kavro::genicam::loadDescription(text, options, loaded) != GEV_STATUS_SUCCESS ||
            kavro::genicam::buildFeatureModel(loaded.root, {}, *built) != GEV_STATUS_SUCCESS) {
            return false;
        }
        samples.push_back(msSince(t0));
        loaded = {};
        last = std::move(built);
        return true;
    };
    for (int r = 0; r < kRounds; ++r) {
        settle();
        auto t0 = Clock::now();
        xmlDoc* document = xmlReadMemory(text.data(), static_cast<int>(text.size()), "noname.xml",
                                         nullptr, XML_PARSE_NONET);
        if (document == nullptr) {
            std::fprintf(stderr, "bare parse failed\n");
            return 1;
        }
        xmlFreeDoc(document);
        parse.push_back(msSince(t0));

        std::error_code ignored;
        std::filesystem::remove_all(cacheFolder, ignored);
        if (!buildOnce(build) || !buildOnce(rebuild)) {
            std::fprintf(stderr, "load or build failed\n");
            return 1;
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(cacheFolder, ignored);
    const FeatureModel& model = *last;

    std::vector<std::string> names;
    for (const auto& node : model.nodes())
        names.push_back(node->Name);
    std::vector<double> indexed;
    std::vector<double> scanned;
    size_t found = 0;
    for (int r = 0; r < kRounds; ++r) {
        auto t0 = Clock::now();
        for (const std::string& name : names)
            found += model.findNode(name) != nullptr ? 1 : 0;
        indexed.push_back(msSince(t0) * 1e6 / static_cast<double>(names.size()));
        t0 = Clock::now();
        for (const std::string& name : names)
            found += scan(model, name) != nullptr ? 1 : 0;
        scanned.push_back(msSince(t0) * 1e6 / static_cast<double>(names.size()));
    }
    if (found != 2 * kRounds * names.size()) {
        std::fprintf(stderr, "a node was not found\n");
        return 1;
    }

    kavro::genicam::LoadOptions plain;
    plain.libraryFolder = KAVRO_SCHEMA_DIR;
    const Placement place1000 = placement(selectorDescription(1000), plain);
    const Placement place4000 = placement(selectorDescription(4000), plain);
    if (place1000.place < 0 || place4000.place < 0) {
        std::fprintf(stderr, "selector description failed\n");
        return 1;
    }

    const double bareParse = median(parse);
    const double load = median(build);
    const double reload = median(rebuild);
    const double lookup = median(indexed);
    const double linear = median(scanned);
    std::printf("description build (median of %d rounds), %zu bytes, %zu nodes, %u features\n",
                kRounds, text.size(), model.nodes().size(), model.features().count());
    std::printf("  bare xmlReadMemory + xmlFreeDoc (baseline) %9.2f ms\n", bareParse);
    std::printf("  first build (empty cache; goal <= 10)      %9.2f ms  ratio to baseline %.1f\n",
                load, load / bareParse);
    std::printf("  second build, same text (cache; goal <= 2) %9.2f ms  ratio to baseline %.1f\n",
                reload, reload / bareParse);
    std::printf("  linear scan by Name/Symbolic (baseline)    %9.0f ns per lookup\n", linear);
    std::printf(
        "  findNode (index)                           %9.0f ns per lookup  ratio %.5f "
        "(%.0fx faster)\n",
        lookup, lookup / linear, linear / lookup);
    for (const auto& [count, p] : {std::pair{1000, place1000}, std::pair{4000, place4000}}) {
        std::printf(
            "  %d selectors: a lookup per feature (baseline) %7.3f ms, placeSelectors "
            "%7.3f ms  ratio %.1f\n",
            count, p.lookup, p.place, p.place / p.lookup);
    }
    return 0;
}
