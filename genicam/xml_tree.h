// Small reads and edits of libxml2 trees used by the native pre-processing steps, in the terms of
// the stylesheets they stand for (string value, normalize-space, element children).
#pragma once

#include <libxml/tree.h>

#include <string>
#include <string_view>
#include <vector>

namespace kavro::genicam::xml {

[[nodiscard]] inline std::string_view nameOf(const xmlNode* node) {
    return node->name != nullptr ? reinterpret_cast<const char*>(node->name) : std::string_view();
}
[[nodiscard]] inline bool isElement(const xmlNode* node) {
    return node->type == XML_ELEMENT_NODE;
}
[[nodiscard]] inline bool isElement(const xmlNode* node, std::string_view name) {
    return isElement(node) && nameOf(node) == name;
}

[[nodiscard]] std::vector<xmlNode*> elementChildren(const xmlNode* node);
[[nodiscard]] std::vector<xmlNode*> childrenNamed(const xmlNode* node, std::string_view name);
// The first child element of that name, or null.
[[nodiscard]] xmlNode* firstChild(const xmlNode* node, std::string_view name);
[[nodiscard]] inline bool hasChild(const xmlNode* node, std::string_view name) {
    return firstChild(node, name) != nullptr;
}

// Attributes without namespace.
[[nodiscard]] bool attribute(const xmlNode* node, const char* name, std::string& value);
[[nodiscard]] std::string attributeOr(const xmlNode* node, const char* name);
[[nodiscard]] bool hasAttribute(const xmlNode* node, const char* name);
// Sets the value in place when the attribute is there, else appends it.
void setAttribute(xmlNode* node, const char* name, const std::string& value);

// The XPath string value: every descendant text, in document order (an attribute's value).
[[nodiscard]] std::string stringValue(const xmlNode* node);
// XPath normalize-space: trimmed, inner runs of white space made one blank.
[[nodiscard]] std::string normalized(std::string_view text);

// Replaces the children of `node` by one text node (none for an empty text), taken as it is.
void setText(xmlNode* node, const std::string& text);
// A new element without namespace holding `text`, not yet in the tree.
[[nodiscard]] xmlNode* newElement(xmlDoc* doc, const char* name, const std::string& text = {});
// Unlinks and frees.
void drop(xmlNode* node);

}  // namespace kavro::genicam::xml
