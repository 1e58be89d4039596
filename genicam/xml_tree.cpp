#include "genicam/xml_tree.h"

namespace kavro::genicam::xml {

std::vector<xmlNode*> elementChildren(const xmlNode* node) {
    std::vector<xmlNode*> out;
    for (xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (isElement(child)) {
            out.push_back(child);
        }
    }
    return out;
}

std::vector<xmlNode*> childrenNamed(const xmlNode* node, std::string_view name) {
    std::vector<xmlNode*> out;
    for (xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (isElement(child, name)) {
            out.push_back(child);
        }
    }
    return out;
}

xmlNode* firstChild(const xmlNode* node, std::string_view name) {
    for (xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (isElement(child, name)) {
            return child;
        }
    }
    return nullptr;
}

bool attribute(const xmlNode* node, const char* name, std::string& value) {
    xmlChar* text = xmlGetNoNsProp(node, reinterpret_cast<const xmlChar*>(name));
    if (text == nullptr) {
        return false;
    }
    value = reinterpret_cast<const char*>(text);
    xmlFree(text);
    return true;
}

std::string attributeOr(const xmlNode* node, const char* name) {
    std::string value;
    (void)attribute(node, name, value);
    return value;
}

bool hasAttribute(const xmlNode* node, const char* name) {
    return xmlHasNsProp(node, reinterpret_cast<const xmlChar*>(name), nullptr) != nullptr;
}

void setAttribute(xmlNode* node, const char* name, const std::string& value) {
    xmlSetNsProp(node, nullptr, reinterpret_cast<const xmlChar*>(name),
                 reinterpret_cast<const xmlChar*>(value.c_str()));
}

std::string stringValue(const xmlNode* node) {
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content != nullptr ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return text;
}

std::string normalized(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool pendingSpace = false;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            pendingSpace = !out.empty();
            continue;
        }
        if (pendingSpace) {
            out.push_back(' ');
            pendingSpace = false;
        }
        out.push_back(c);
    }
    return out;
}

void setText(xmlNode* node, const std::string& text) {
    while (node->children != nullptr) {
        drop(node->children);
    }
    if (!text.empty()) {
        xmlAddChild(node, xmlNewDocTextLen(node->doc, reinterpret_cast<const xmlChar*>(text.data()),
                                           static_cast<int>(text.size())));
    }
}

xmlNode* newElement(xmlDoc* doc, const char* name, const std::string& text) {
    xmlNode* element = xmlNewDocNode(doc, nullptr, reinterpret_cast<const xmlChar*>(name), nullptr);
    setText(element, text);
    return element;
}

void drop(xmlNode* node) {
    xmlUnlinkNode(node);
    xmlFreeNode(node);
}

}  // namespace kavro::genicam::xml
