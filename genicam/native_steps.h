// The pre-processing steps done natively on the document, in place, with exactly the result of
// the shipped stylesheets: PreProcess_1.xsl (normalise: no namespaces, no comments, processing
// instructions, Extension blocks or white space between elements, trimmed leaf texts and
// attribute values), PreProcess_2.xsl (flatten), PreProcess_3.xsl (literals and inline formulas
// become nodes) and PreProcess_4.xsl (a single Bit becomes LSB and MSB; a Boolean's Value
// true/false becomes its OnValue/OffValue); the stylesheets state the rules. A step is done
// natively only for a folder whose stylesheet is byte for byte the shipped one, so a changed
// stylesheet still runs as written. libxslt copies the whole document in every step, several
// times the cost of parsing it; the native steps touch only what changes.
#pragma once

#include <libxml/tree.h>

#include <string>

namespace kavro::genicam {

// Whether the file at `path` holds exactly the shipped PreProcess_<n>.xsl (n is 1..4).
[[nodiscard]] bool isShippedStylesheet(const std::string& path, int n);

void normaliseInPlace(xmlDoc& document);
// The steps on the normalised document. Each gives false, with the document untouched, when its
// root is not RegisterDescription (the stylesheet then decides what becomes of it).
[[nodiscard]] bool flattenInPlace(xmlDoc& document);
[[nodiscard]] bool inlinePartsInPlace(xmlDoc& document);
// False, with the document untouched, when its root is not RegisterDescription (the stylesheet
// then decides what becomes of it).
[[nodiscard]] bool placeBitsAndBooleansInPlace(xmlDoc& document);

}  // namespace kavro::genicam
