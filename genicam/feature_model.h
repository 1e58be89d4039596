// A device's feature model: the node list (one node per top-level element of the flattened
// description, in document order) and the feature list (categories and their members reachable
// from "Root", in pre-order, with their nesting level) that navigation hands to applications.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "KavroGigEVisionLib.h"
#include "genicam/feature_node.h"
#include "genicam/xml_diagnostics.h"

namespace kavro::genicam {

// Entries keep the exact GevFeatureEntry layout applications walk through GEVGetFeatureList;
// `next`, `index` and `name` are kept consistent by every insert and remove.
class FeatureList final {
  public:
    FeatureList() = default;
    FeatureList(const FeatureList&) = delete;
    FeatureList& operator=(const FeatureList&) = delete;

    [[nodiscard]] GevFeatureEntry* head() const;
    [[nodiscard]] uint32_t count() const;
    [[nodiscard]] uint8_t maxDepth() const { return maxDepth_; }
    void raiseMaxDepth(uint8_t level);

    // Inserts behind the last entry whose index <= k (renumbering the rest); append = count()+1.
    GevFeatureEntry* insert(uint32_t k, std::string_view name, bool isLeaf, uint8_t level);
    // Removes the entry with index k; nothing when there is none.
    void remove(uint32_t k);
    [[nodiscard]] GevFeatureEntry* find(std::string_view name) const;
    // Moves every feature a selector lists behind it, one level deeper (see placeSelectors);
    // `selectedOf(name)` gives the pSelected list of the node of that name, or null. Linear in
    // the list size, apart from names listed more than once.
    void placeSelected(
        const std::function<const std::vector<std::string>*(const std::string&)>& selectedOf);

  private:
    struct Slot {
        GevFeatureEntry entry{};
        std::string name;
    };
    std::list<Slot> slots_;  // stable addresses: entries link to each other by pointer
    uint8_t maxDepth_ = 0;
    // Sets index and next of every entry from `from` to the end, numbering `from` as `index`.
    void relinkFrom(std::list<Slot>::iterator from, uint32_t index);
    [[nodiscard]] std::list<Slot>::iterator at(uint32_t position);
};

class FeatureModel final {
  public:
    [[nodiscard]] const std::vector<std::unique_ptr<FeatureNode>>& nodes() const { return nodes_; }
    [[nodiscard]] FeatureList& features() { return features_; }
    [[nodiscard]] const FeatureList& features() const { return features_; }

    // First node in list order whose Name, else Symbolic, equals `name` (exact). Indexed: no scan.
    [[nodiscard]] FeatureNode* findNode(std::string_view name) const;
    // Last node whose index <= k.
    [[nodiscard]] FeatureNode* nodeByIndex(uint32_t k) const;

    FeatureNode& appendNode(std::string name, NodeKind kind, std::string elementName);
    // Call after the last appendNode and after any Symbolic was set: builds the lookup index.
    void indexNodes();

    // Serialises value evaluation and writing on this model (nodes cache values and flags).
    std::recursive_mutex& evaluationLock() { return evaluationLock_; }
    // Counts value writes (under the evaluation lock); orders writes against cached reads.
    uint64_t nextWrite() { return ++writes_; }
    [[nodiscard]] uint64_t writes() const { return writes_; }

  private:
    // Looked up by any string view without building a string.
    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view name) const noexcept {
            return std::hash<std::string_view>{}(name);
        }
    };
    std::vector<std::unique_ptr<FeatureNode>> nodes_;
    std::unordered_map<std::string, FeatureNode*, NameHash, std::equal_to<>> byName_;
    bool indexed_ = false;  // byName_ covers every node; otherwise lookups scan
    FeatureList features_;
    std::recursive_mutex evaluationLock_;
    uint64_t writes_ = 0;
};

// Builds the model from the root element of a flattened description into `out`, which must be
// fresh. Returns GEV_STATUS_SUCCESS,
// or GEV_STATUS_FEATURE_LIST_EMPTY with "[ERROR] - Can't create feature list." /
// "[ERROR] - Can't create features." on `log`. A category cycle is cut with a log line.
[[nodiscard]] GevStatus buildFeatureModel(xmlNode* root, const LogSink& log, FeatureModel& out);

// Post-build passes run by GEVSetXmlFile.
void checkInvalidators(const FeatureModel& model, const LogSink& log);
void placeSelectors(FeatureModel& model);

// The models of the 20 device indexes of this process. A model is handed out as a shared
// pointer, so a rebuild or close never frees one a caller still walks.
class FeatureModels final {
  public:
    static FeatureModels& instance();
    [[nodiscard]] std::shared_ptr<FeatureModel> get(uint8_t device) const;
    void set(uint8_t device, std::shared_ptr<FeatureModel> model);
    void release(uint8_t device);

  private:
    mutable std::mutex lock_;
    std::shared_ptr<FeatureModel> models_[20];
};

}  // namespace kavro::genicam
