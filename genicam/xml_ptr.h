// Owners for the libxml2 and libxslt objects the description loader creates.
#pragma once

#include <libxml/tree.h>
#include <libxml/xmlschemas.h>
#include <libxslt/xsltInternals.h>

#include <memory>

namespace kavro::genicam {

// Deleter calling the library's own release function.
template <auto Release>
struct XmlRelease {
    template <typename T>
    void operator()(T* object) const noexcept {
        Release(object);
    }
};

using XmlDocument = std::unique_ptr<xmlDoc, XmlRelease<xmlFreeDoc>>;
using XmlSchemaParser = std::unique_ptr<xmlSchemaParserCtxt, XmlRelease<xmlSchemaFreeParserCtxt>>;
using XmlSchema = std::unique_ptr<xmlSchema, XmlRelease<xmlSchemaFree>>;
using XmlSchemaValidator = std::unique_ptr<xmlSchemaValidCtxt, XmlRelease<xmlSchemaFreeValidCtxt>>;
using XsltStylesheet = std::unique_ptr<xsltStylesheet, XmlRelease<xsltFreeStylesheet>>;

}  // namespace kavro::genicam
