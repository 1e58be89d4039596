#include "genicam/native_steps.h"

#include "genicam/xml_tree.h"

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

using namespace xml;

bool hasElementChild(const xmlNode* node) {
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (isElement(child)) {
            return true;
        }
    }
    return false;
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
    xmlAddChild(parent, newElement(parent->doc, name, text));
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
