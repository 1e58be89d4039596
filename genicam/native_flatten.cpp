// The second and third pre-processing steps done natively, with exactly the result of the shipped
// PreProcess_2.xsl (flatten) and PreProcess_3.xsl (literals and inline formulas become nodes);
// the stylesheets describe the rules.
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "genicam/native_steps.h"
#include "genicam/xml_tree.h"

namespace kavro::genicam {

namespace {

using namespace xml;

// Bound on the copies one StructReg or one node's expressions may make (as in the stylesheets).
constexpr size_t kMaxCopies = 4096;

xmlNode* copyOf(const xmlNode* node, xmlDoc* doc) {
    return xmlDocCopyNode(const_cast<xmlNode*>(node), doc, 1);
}

// A shallow copy: the element with its attributes, no children.
xmlNode* shellOf(const xmlNode* node, xmlDoc* doc) {
    return xmlDocCopyNode(const_cast<xmlNode*>(node), doc, 2);
}

// ---- Flatten ----

std::string entryNodeName(const std::string& enumeration, const xmlNode* entry) {
    const std::string prefix = "EnumEntry_" + enumeration + "_";
    const std::string name = attributeOr(entry, "Name");
    return name.starts_with(prefix) ? name : prefix + name;
}

xmlNode* liftedEntry(const std::string& enumeration, const xmlNode* entry, xmlDoc* doc) {
    const std::string prefix = "EnumEntry_" + enumeration + "_";
    xmlNode* lifted = newElement(doc, "EnumEntry");
    for (const xmlAttr* a = entry->properties; a != nullptr; a = a->next) {
        xmlSetNsProp(lifted, a->ns, a->name,
                     reinterpret_cast<const xmlChar*>(
                         stringValue(reinterpret_cast<const xmlNode*>(a)).c_str()));
    }
    setAttribute(lifted, "Name", entryNodeName(enumeration, entry));
    for (const xmlNode* child : elementChildren(entry)) {
        if (nameOf(child) != "Symbolic") {
            xmlAddChild(lifted, copyOf(child, doc));
        }
    }
    std::string symbolic;
    const std::string name = attributeOr(entry, "Name");
    if (const auto given = childrenNamed(entry, "Symbolic"); !given.empty()) {
        symbolic = stringValue(given.front());
    } else if (name.starts_with(prefix)) {
        symbolic = name.substr(prefix.size());
    } else {
        symbolic = name;
    }
    xmlAddChild(lifted, newElement(doc, "Symbolic", symbolic));
    return lifted;
}

void collectEnumerations(xmlNode* node, std::vector<xmlNode*>& out) {
    for (xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (isElement(child)) {
            if (nameOf(child) == "Enumeration") {
                out.push_back(child);
            }
            collectEnumerations(child, out);
        }
    }
}

// The enumeration in place: its entries become references to the lifted entries.
void flattenEnumeration(xmlNode* enumeration, xmlDoc* doc) {
    const std::string name = attributeOr(enumeration, "Name");
    for (xmlNode* child = enumeration->children; child != nullptr;) {
        xmlNode* next = child->next;
        if (!isElement(child)) {
            xmlUnlinkNode(child);
            xmlFreeNode(child);
        } else if (nameOf(child) == "EnumEntry") {
            xmlNode* reference = newElement(doc, "pEnumEntry", entryNodeName(name, child));
            xmlReplaceNode(child, reference);
            xmlFreeNode(child);
        }
        child = next;
    }
}

void expandStructReg(const xmlNode* reg, xmlDoc* doc, std::vector<xmlNode*>& out) {
    const std::vector<xmlNode*> entries = childrenNamed(reg, "StructEntry");
    std::vector<xmlNode*> shared;
    for (xmlNode* child : elementChildren(reg)) {
        if (nameOf(child) != "StructEntry") {
            shared.push_back(child);
        }
    }
    if (entries.size() * shared.size() > kMaxCopies) {
        shared.clear();
    }
    for (const xmlNode* entry : entries) {
        xmlNode* reg32 = newElement(doc, "MaskedIntReg");
        for (const xmlAttr* a = entry->properties; a != nullptr; a = a->next) {
            xmlSetNsProp(reg32, a->ns, a->name,
                         reinterpret_cast<const xmlChar*>(
                             stringValue(reinterpret_cast<const xmlNode*>(a)).c_str()));
        }
        for (const xmlNode* child : elementChildren(entry)) {
            xmlAddChild(reg32, copyOf(child, doc));
        }
        for (const xmlNode* part : shared) {
            if (nameOf(part) == "pInvalidator" || !hasChild(entry, nameOf(part))) {
                xmlAddChild(reg32, copyOf(part, doc));
            }
        }
        out.push_back(reg32);
    }
}

// Moves the nodes of `parent` (groups dissolved) to `out`; StructRegs give new registers and
// stay behind, as do the emptied groups.
void flattenInto(xmlNode* parent, xmlDoc* doc, std::vector<xmlNode*>& out) {
    for (xmlNode* child = parent->children; child != nullptr;) {
        xmlNode* next = child->next;
        if (isElement(child)) {
            const std::string_view name = nameOf(child);
            if (name == "Group") {
                flattenInto(child, doc, out);
            } else if (name == "StructReg") {
                expandStructReg(child, doc, out);
            } else {
                if (name == "Enumeration") {
                    flattenEnumeration(child, doc);
                }
                xmlUnlinkNode(child);
                out.push_back(child);
            }
        }
        child = next;
    }
}

// ---- Literals and inline formulas ----

std::string numbered(const std::string& base, size_t k) {
    return k > 1 ? base + std::to_string(k) : base;
}

bool hasText(const xmlNode* node) {
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
            return true;
        }
    }
    return false;
}

bool hasIndexOffset(const xmlNode* node) {
    for (const xmlNode* index : childrenNamed(node, "pIndex")) {
        if (hasAttribute(index, "Offset")) {
            return true;
        }
    }
    return false;
}

bool hasInlineParts(const xmlNode* node) {
    return hasIndexOffset(node) || hasChild(node, "IntSwissKnife") || hasChild(node, "Constant") ||
           hasChild(node, "Expression");
}

// The context node rewritten with its inline parts replaced by references named after `owner`.
xmlNode* rewritten(const xmlNode* node, const std::string& owner, bool ownerGiven, xmlDoc* doc) {
    xmlNode* copy = shellOf(node, doc);
    std::string name;
    const bool named = attribute(node, "Name", name);
    if (!named || !ownerGiven || owner != name) {
        setAttribute(copy, "Name", owner);
    }
    size_t offsetIndexes = 0;
    for (const xmlNode* child : elementChildren(node)) {
        const std::string_view kind = nameOf(child);
        if (kind == "IntSwissKnife") {
            continue;
        }
        if (kind == "pIndex" && hasAttribute(child, "Offset")) {
            std::string offset;
            xmlNode* index = newElement(doc, "pIndex", stringValue(child));
            if (attribute(child, "pOffset", offset)) {
                setAttribute(index, "pOffset", offset);
            } else {
                setAttribute(index, "pOffset", numbered(owner + "__IndexOffset", ++offsetIndexes));
            }
            xmlAddChild(copy, index);
        } else if (kind == "Constant" || kind == "Expression") {
            const std::string variable = attributeOr(child, "Name");
            xmlNode* reference = newElement(doc, "pVariable", owner + "__" + variable);
            setAttribute(reference, "Name", variable);
            xmlAddChild(copy, reference);
        } else {
            xmlAddChild(copy, copyOf(child, doc));
        }
    }
    size_t address = 0;
    for (size_t knives = childrenNamed(node, "IntSwissKnife").size(); address < knives;) {
        xmlAddChild(copy,
                    newElement(doc, "pAddress", owner + "__Address" + std::to_string(++address)));
    }
    return copy;
}

// translate(text, from, to) of XPath for single characters: each of `from` maps to the character
// at the same place of `to`, or is removed when `to` is shorter.
std::string translated(const std::string& text, std::string_view from, std::string_view to) {
    std::string out;
    for (const char c : text) {
        const size_t at = from.find(c);
        if (at == std::string_view::npos) {
            out.push_back(c);
        } else if (at < to.size()) {
            out.push_back(to[at]);
        }
    }
    return out;
}

void formulaHelpers(const xmlNode* node, const std::string& owner, bool integer, xmlDoc* doc,
                    std::vector<xmlNode*>& out) {
    for (const xmlNode* constant : childrenNamed(node, "Constant")) {
        const std::string text = normalized(stringValue(constant));
        const bool hex = translated(text, "X+-", "x").starts_with("0x");
        const bool decimal = !text.empty() && translated(text, "0123456789+-", "").empty();
        xmlNode* element = newElement(doc, hex || decimal ? "Integer" : "Float");
        setAttribute(element, "Name", owner + "__" + attributeOr(constant, "Name"));
        xmlAddChild(element, newElement(doc, "Value", text));
        out.push_back(element);
    }
    const std::vector<xmlNode*> expressions = childrenNamed(node, "Expression");
    size_t references = 0;
    for (const xmlNode* child : elementChildren(node)) {
        const std::string_view kind = nameOf(child);
        references += kind == "pVariable" || kind == "Constant" || kind == "Expression" ? 1 : 0;
    }
    if (expressions.size() * references > kMaxCopies) {
        return;
    }
    const std::vector<xmlNode*> variables = childrenNamed(node, "pVariable");
    for (const xmlNode* expression : expressions) {
        xmlNode* element = newElement(doc, integer ? "IntSwissKnife" : "SwissKnife");
        setAttribute(element, "Name", owner + "__" + attributeOr(expression, "Name"));
        for (const xmlNode* variable : variables) {
            xmlAddChild(element, copyOf(variable, doc));
        }
        // The constants and the expressions before this one, in document order.
        bool before = true;
        for (const xmlNode* child : elementChildren(node)) {
            const std::string_view kind = nameOf(child);
            before = before && child != expression;
            if (kind == "Constant" || (kind == "Expression" && before)) {
                const std::string variable = attributeOr(child, "Name");
                xmlNode* reference = newElement(doc, "pVariable", owner + "__" + variable);
                setAttribute(reference, "Name", variable);
                xmlAddChild(element, reference);
            }
        }
        xmlAddChild(element, newElement(doc, "Formula", stringValue(expression)));
        out.push_back(element);
    }
}

void helpers(const xmlNode* node, xmlDoc* doc, std::vector<xmlNode*>& out) {
    const std::string owner = attributeOr(node, "Name");
    size_t k = 0;
    for (const xmlNode* index : childrenNamed(node, "pIndex")) {
        if (hasAttribute(index, "Offset") && !hasAttribute(index, "pOffset")) {
            xmlNode* element = newElement(doc, "Integer");
            setAttribute(element, "Name", numbered(owner + "__IndexOffset", ++k));
            xmlAddChild(element, newElement(doc, "Value", attributeOr(index, "Offset")));
            out.push_back(element);
        }
    }
    size_t address = 0;
    for (const xmlNode* knife : childrenNamed(node, "IntSwissKnife")) {
        const std::string formula = owner + "__Address" + std::to_string(++address);
        out.push_back(rewritten(knife, formula, true, doc));
        formulaHelpers(knife, formula, true, doc, out);
    }
    const std::string_view kind = nameOf(node);
    formulaHelpers(node, owner, kind == "IntSwissKnife" || kind == "IntConverter", doc, out);
}

}  // namespace

bool flattenInPlace(xmlDoc& document) {
    xmlNode* root = xmlDocGetRootElement(&document);
    if (root == nullptr || root->ns != nullptr || nameOf(root) != "RegisterDescription") {
        return false;
    }
    // The lifted entries are copies made before any enumeration changes.
    std::vector<xmlNode*> enumerations;
    collectEnumerations(root, enumerations);
    std::vector<xmlNode*> lifted;
    for (const xmlNode* enumeration : enumerations) {
        const std::string name = attributeOr(enumeration, "Name");
        for (const xmlNode* entry : childrenNamed(enumeration, "EnumEntry")) {
            lifted.push_back(liftedEntry(name, entry, &document));
        }
    }
    std::vector<xmlNode*> out;
    flattenInto(root, &document, out);
    while (root->children != nullptr) {
        xmlNode* child = root->children;
        xmlUnlinkNode(child);
        xmlFreeNode(child);
    }
    for (xmlNode* node : out) {
        xmlAddChild(root, node);
    }
    for (xmlNode* node : lifted) {
        xmlAddChild(root, node);
    }
    return true;
}

bool inlinePartsInPlace(xmlDoc& document) {
    xmlNode* root = xmlDocGetRootElement(&document);
    if (root == nullptr || root->ns != nullptr || nameOf(root) != "RegisterDescription") {
        return false;
    }
    std::vector<xmlNode*> added;
    for (xmlNode* node : elementChildren(root)) {
        std::string owner;
        const bool named = attribute(node, "Name", owner);
        if (named && !hasText(node) && !hasInlineParts(node)) {
            continue;
        }
        xmlNode* replacement = rewritten(node, owner, named, &document);
        xmlReplaceNode(node, replacement);
        if (hasInlineParts(node)) {
            helpers(node, &document, added);
        }
        xmlFreeNode(node);
    }
    for (xmlNode* child = root->children; child != nullptr;) {
        xmlNode* next = child->next;
        if (!isElement(child)) {
            xmlUnlinkNode(child);
            xmlFreeNode(child);
        }
        child = next;
    }
    for (xmlNode* node : added) {
        xmlAddChild(root, node);
    }
    return true;
}

}  // namespace kavro::genicam
