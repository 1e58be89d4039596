// Building a device's feature model from the flattened description: the feature list by
// expanding the category "Root", then one node per top-level element.
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "genicam/feature_model.h"
#include "genicam/node_properties.h"

namespace kavro::genicam {
namespace {

// The feature list never grows beyond this many entries. Categories may be shared (listed by
// several parents), so a small hostile description could otherwise expand exponentially.
constexpr uint32_t kMaxFeatureEntries = 1u << 18;
// Deepest level an entry can have (levels are 8 bits).
constexpr uint32_t kMaxLevel = UINT8_MAX;

std::string_view elementName(const xmlNode* element) {
    return reinterpret_cast<const char*>(element->name);
}

bool isElement(const xmlNode* node) {
    return node->type == XML_ELEMENT_NODE && node->name != nullptr;
}

std::optional<std::string> nameAttribute(const xmlNode* element) {
    xmlChar* value = xmlGetProp(element, reinterpret_cast<const xmlChar*>("Name"));
    if (value == nullptr) {
        return std::nullopt;
    }
    std::string name(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return name;
}

std::string textContent(const xmlNode* element) {
    xmlChar* content = xmlNodeGetContent(element);
    if (content == nullptr) {
        return {};
    }
    std::string text(reinterpret_cast<const char*>(content));
    xmlFree(content);
    return text;
}

void logLine(const LogSink& log, const std::string& line) {
    if (log) {
        log(line.c_str());
    }
}

// Kind by element name; nullopt for element names outside the table (they inherit).
std::optional<NodeKind> kindOf(std::string_view element) {
    static const std::unordered_map<std::string_view, NodeKind> kinds = {
        {"Category", NodeKind::Category},     {"Integer", NodeKind::Integer},
        {"MaskedIntReg", NodeKind::Integer},  {"IntReg", NodeKind::Integer},
        {"IntSwissKnife", NodeKind::Integer}, {"IntConverter", NodeKind::Integer},
        {"EnumEntry", NodeKind::Integer},     {"Float", NodeKind::Float},
        {"FloatReg", NodeKind::Float},        {"SwissKnife", NodeKind::Float},
        {"Converter", NodeKind::Float},       {"StringReg", NodeKind::String},
        {"String", NodeKind::String},         {"Enumeration", NodeKind::Enumeration},
        {"Command", NodeKind::Command},       {"Boolean", NodeKind::Boolean},
        {"Register", NodeKind::Register},     {"Port", NodeKind::Port},
    };
    const auto found = kinds.find(element);
    if (found == kinds.end()) {
        return std::nullopt;
    }
    return found->second;
}

// Expands categories into the feature list in pre-order. A member that names a category being
// expanded (itself, an enclosing category, or "Root") would recurse without end: such a member
// is left out with a warning, as is a category nested deeper than levels can count.
class CategoryExpander final {
  public:
    CategoryExpander(const xmlNode* root, const LogSink& log, FeatureList& list)
        : log_(log), list_(list) {
        for (const xmlNode* child = root->children; child != nullptr; child = child->next) {
            if (isElement(child) && elementName(child) == "Category") {
                if (auto name = nameAttribute(child)) {
                    categories_.try_emplace(std::move(*name), child);
                }
            }
        }
    }

    // Whether `name` is a category; when it is, its entry (except for "Root") and its members
    // are appended.
    bool expand(const std::string& name) {
        const auto found = categories_.find(name);
        if (found == categories_.end()) {
            return false;
        }
        if (name != "Root") {
            append(name, false);
            ++depth_;
            list_.raiseMaxDepth(static_cast<uint8_t>(depth_));
        }
        open_.insert(name);
        for (const xmlNode* child = found->second->children; child != nullptr;
             child = child->next) {
            if (!isElement(child) || elementName(child) != "pFeature") {
                continue;
            }
            if (truncated_) {
                break;  // the list is full: nothing below can be added any more
            }
            const std::string member = textContent(child);
            if (member.empty()) {
                continue;
            }
            if (open_.count(member) != 0) {
                logLine(log_, "[WARNING] - Category " + name + " lists " + member +
                                  ", which encloses it; the member is left out.");
                continue;
            }
            if (categories_.count(member) != 0) {
                if (depth_ >= kMaxLevel) {
                    logLine(log_, "[WARNING] - Category " + member +
                                      " is nested too deep; it is left out.");
                    continue;
                }
                expand(member);
                --depth_;
            } else {
                append(member, true);
            }
        }
        open_.erase(name);
        return true;
    }

    void reportTruncation() const {
        if (truncated_) {
            logLine(log_, "[WARNING] - The feature list is cut at " +
                              std::to_string(kMaxFeatureEntries) + " entries.");
        }
    }

  private:
    void append(const std::string& name, bool isLeaf) {
        if (list_.count() >= kMaxFeatureEntries) {
            truncated_ = true;
            return;
        }
        list_.insert(list_.count() + 1, name, isLeaf, static_cast<uint8_t>(depth_));
    }

    const LogSink& log_;
    FeatureList& list_;
    std::unordered_map<std::string, const xmlNode*> categories_;
    std::unordered_set<std::string> open_;  // categories whose expansion is under way
    uint32_t depth_ = 0;
    bool truncated_ = false;
};

void readProperties(const xmlNode* element, FeatureNode& node, const LogSink& log) {
    bool dropped = false;
    for (const xmlNode* child = element->children; child != nullptr; child = child->next) {
        if (!isElement(child)) {
            continue;
        }
        const std::string_view property = elementName(child);
        if (property == "pFeature") {
            continue;
        }
        const std::string text = textContent(child);
        if (text.empty()) {
            continue;
        }
        if (!applyProperty(node, child, property, text)) {
            dropped = true;
        }
    }
    if (dropped) {
        logLine(log, "[WARNING] - Node " + node.Name + " has more than " +
                         std::to_string(kMaxSubListSize) +
                         " elements in one list; the rest are ignored.");
    }
}

void createNodes(const xmlNode* root, const LogSink& log, FeatureModel& model) {
    NodeKind previous = NodeKind::Category;
    for (const xmlNode* element = root->children; element != nullptr; element = element->next) {
        if (!isElement(element)) {
            continue;
        }
        auto name = nameAttribute(element);
        if (!name || *name == "Root") {
            continue;
        }
        const std::string_view tagName = elementName(element);
        const NodeKind kind = kindOf(tagName).value_or(previous);
        FeatureNode& node = model.appendNode(std::move(*name), kind, std::string(tagName));
        previous = kind;
        readProperties(element, node, log);
    }
}

}  // namespace

GevStatus buildFeatureModel(xmlNode* root, const LogSink& log, FeatureModel& out) {
    if (root != nullptr) {
        CategoryExpander expander(root, log, out.features());
        expander.expand("Root");
        expander.reportTruncation();
    }
    if (out.features().count() == 0) {
        logLine(log, "[ERROR] - Can't create feature list.");
        return GEV_STATUS_FEATURE_LIST_EMPTY;
    }
    createNodes(root, log, out);
    if (out.nodes().empty()) {
        logLine(log, "[ERROR] - Can't create features.");
        return GEV_STATUS_FEATURE_LIST_EMPTY;
    }
    out.indexNodes();
    return GEV_STATUS_SUCCESS;
}

}  // namespace kavro::genicam
