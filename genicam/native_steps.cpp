#include "genicam/native_steps.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

namespace kavro::genicam {

extern const unsigned char kShippedPreProcess1[];
extern const size_t kShippedPreProcess1Size;
extern const unsigned char kShippedPreProcess2[];
extern const size_t kShippedPreProcess2Size;
extern const unsigned char kShippedPreProcess3[];
extern const size_t kShippedPreProcess3Size;
extern const unsigned char kShippedPreProcess4[];
extern const size_t kShippedPreProcess4Size;

namespace {

std::string_view nameOf(const xmlNode* node) {
    return node->name != nullptr ? reinterpret_cast<const char*>(node->name) : std::string_view();
}

bool isElement(const xmlNode* node, std::string_view name) {
    return node->type == XML_ELEMENT_NODE && nameOf(node) == name;
}

bool hasElementChild(const xmlNode* node) {
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE) {
            return true;
        }
    }
    return false;
}

const xmlNode* firstChild(const xmlNode* node, std::string_view name) {
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (isElement(child, name)) {
            return child;
        }
    }
    return nullptr;
}

void drop(xmlNode* node) {
    xmlUnlinkNode(node);
    xmlFreeNode(node);
}

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// XPath normalize-space: trimmed, inner runs of white space made one blank.
std::string normalized(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool pendingSpace = false;
    for (const char c : text) {
        if (isXmlSpace(c)) {
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

// The XPath string value: every descendant text, in document order.
std::string stringValue(const xmlNode* node) {
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content != nullptr ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return text;
}

// Replaces the children of `node` by one text node (none for an empty text), taken as it is.
void setText(xmlNode* node, const std::string& text) {
    while (node->children != nullptr) {
        drop(node->children);
    }
    if (!text.empty()) {
        xmlAddChild(node, xmlNewDocTextLen(node->doc, reinterpret_cast<const xmlChar*>(text.data()),
                                           static_cast<int>(text.size())));
    }
}

void normaliseElement(xmlNode* element) {
    element->ns = nullptr;
    for (xmlAttr* attribute = element->properties; attribute != nullptr;) {
        xmlAttr* next = attribute->next;
        if (attribute->ns != nullptr) {
            xmlRemoveProp(attribute);
        } else {
            const std::string value =
                normalized(stringValue(reinterpret_cast<xmlNode*>(attribute)));
            xmlSetNsProp(element, nullptr, attribute->name,
                         reinterpret_cast<const xmlChar*>(value.c_str()));
        }
        attribute = next;
    }
    if (!hasElementChild(element)) {
        setText(element, normalized(stringValue(element)));
        return;
    }
    for (xmlNode* child = element->children; child != nullptr;) {
        xmlNode* next = child->next;
        if (child->type != XML_ELEMENT_NODE || nameOf(child) == "Extension") {
            drop(child);
        } else {
            normaliseElement(child);
        }
        child = next;
    }
}

// Namespace declarations go once no node refers to them any more.
void dropNamespaceDeclarations(xmlNode* element) {
    if (element->nsDef != nullptr) {
        xmlFreeNsList(element->nsDef);
        element->nsDef = nullptr;
    }
    for (xmlNode* child = element->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE) {
            dropNamespaceDeclarations(child);
        }
    }
}

void appendElement(xmlNode* parent, const char* name, const std::string& text) {
    xmlNode* element =
        xmlNewDocNode(parent->doc, nullptr, reinterpret_cast<const xmlChar*>(name), nullptr);
    xmlAddChild(parent, element);
    setText(element, text);
}

void booleanValues(xmlNode* node) {
    const xmlNode* on = firstChild(node, "OnValue");
    const xmlNode* off = firstChild(node, "OffValue");
    const std::string onText = on != nullptr ? stringValue(on) : "1";
    const std::string offText = off != nullptr ? stringValue(off) : "0";
    for (xmlNode* child = node->children; child != nullptr;) {
        xmlNode* next = child->next;
        if (child->type != XML_ELEMENT_NODE) {
            drop(child);
        } else if (nameOf(child) == "Value") {
            const std::string value = stringValue(child);
            if (value == "true") {
                setText(child, onText);
            } else if (value == "false") {
                setText(child, offText);
            }
        }
        child = next;
    }
}

void bitField(xmlNode* node) {
    const std::string bit = stringValue(firstChild(node, "Bit"));
    const bool given = firstChild(node, "LSB") != nullptr || firstChild(node, "MSB") != nullptr;
    for (xmlNode* child = node->children; child != nullptr;) {
        xmlNode* next = child->next;
        if (child->type != XML_ELEMENT_NODE || nameOf(child) == "Bit") {
            drop(child);
        }
        child = next;
    }
    if (!given) {
        appendElement(node, "LSB", bit);
        appendElement(node, "MSB", bit);
    }
}

bool sameBytes(const std::string& path, const unsigned char* bytes, size_t size) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::vector<char> content;
    content.reserve(size + 1);
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        content.insert(content.end(), buffer, buffer + in.gcount());
        if (content.size() > size) {
            return false;
        }
    }
    return content.size() == size && std::memcmp(content.data(), bytes, size) == 0;
}

}  // namespace

bool isShippedStylesheet(const std::string& path, int n) {
    switch (n) {
        case 1:
            return sameBytes(path, kShippedPreProcess1, kShippedPreProcess1Size);
        case 2:
            return sameBytes(path, kShippedPreProcess2, kShippedPreProcess2Size);
        case 3:
            return sameBytes(path, kShippedPreProcess3, kShippedPreProcess3Size);
        case 4:
            return sameBytes(path, kShippedPreProcess4, kShippedPreProcess4Size);
        default:
            return false;
    }
}

void normaliseInPlace(xmlDoc& document) {
    for (xmlNode* child = document.children; child != nullptr;) {
        xmlNode* next = child->next;
        if (child->type != XML_ELEMENT_NODE || nameOf(child) == "Extension") {
            drop(child);
        } else {
            normaliseElement(child);
            dropNamespaceDeclarations(child);
        }
        child = next;
    }
}

bool placeBitsAndBooleansInPlace(xmlDoc& document) {
    xmlNode* root = xmlDocGetRootElement(&document);
    if (root == nullptr || root->ns != nullptr || nameOf(root) != "RegisterDescription") {
        return false;
    }
    for (xmlNode* node = root->children; node != nullptr;) {
        xmlNode* next = node->next;
        if (node->type != XML_ELEMENT_NODE) {
            drop(node);
        } else if (nameOf(node) == "Boolean") {
            booleanValues(node);
        } else if (firstChild(node, "Bit") != nullptr) {
            bitField(node);
        }
        node = next;
    }
    return true;
}

}  // namespace kavro::genicam
