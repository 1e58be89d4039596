#include "genicam/description_loader.h"

#include <libxml/parser.h>
#include <libxslt/transform.h>

#include <array>
#include <climits>
#include <mutex>
#include <string>
#include <utility>

#include "genicam/schema_location.h"

namespace kavro::genicam {
namespace {

constexpr int kStylesheetCount = 4;

constexpr std::array<const char*, kStylesheetCount> kParseFailed = {
    "[ERROR] - Unable to parse stylesheet file PreProcess_1.xsl.",
    "[ERROR] - Unable to parse stylesheet file PreProcess_2.xsl.",
    "[ERROR] - Unable to parse stylesheet file PreProcess_3.xsl.",
    "[ERROR] - Unable to parse stylesheet file PreProcess_4.xsl.",
};

constexpr std::array<const char*, kStylesheetCount> kApplyFailed = {
    "[ERROR] - Unable to apply stylesheet file PreProcess_1.xsl.",
    "[ERROR] - Unable to apply stylesheet file PreProcess_2.xsl.",
    "[ERROR] - Unable to apply stylesheet file PreProcess_3.xsl.",
    "[ERROR] - Unable to apply stylesheet file PreProcess_4.xsl.",
};

void initialiseLibrariesOnce() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

bool validates(xmlDoc& document, const std::string& schemaPath, const LogSink& log) {
    // Descriptions never declare a document type. Refusing one keeps entity references, which
    // libxml2's schema validator cannot handle, out of the document.
    if (xmlGetIntSubset(&document) != nullptr) {
        log("[ERROR] - Xml file carries a document type declaration.");
        return false;
    }
    const XmlSchemaParser parser(xmlSchemaNewParserCtxt(schemaPath.c_str()));
    if (!parser) {
        return false;
    }
    const XmlSchema schema(xmlSchemaParse(parser.get()));
    if (!schema) {
        return false;
    }
    const XmlSchemaValidator validator(xmlSchemaNewValidCtxt(schema.get()));
    return validator && xmlSchemaValidateDoc(validator.get(), &document) == 0;
}

// Applies PreProcess_1.xsl .. PreProcess_4.xsl of `folder` in order, replacing `document`.
GevStatus preprocess(XmlDocument& document, const std::string& folder, const LogSink& log) {
    for (int n = 1; n <= kStylesheetCount; ++n) {
        const std::string path = joinPath(folder, "PreProcess_" + std::to_string(n) + ".xsl");
        const XsltStylesheet stylesheet(
            xsltParseStylesheetFile(reinterpret_cast<const xmlChar*>(path.c_str())));
        if (!stylesheet) {
            log(kParseFailed[n - 1]);
            return GEV_STATUS_STYLESHEET_ERROR;
        }
        XmlDocument result(xsltApplyStylesheet(stylesheet.get(), document.get(), nullptr));
        if (!result) {
            log(kApplyFailed[n - 1]);
            return GEV_STATUS_STYLESHEET_ERROR;
        }
        document = std::move(result);
    }
    return GEV_STATUS_SUCCESS;
}

}  // namespace

GevStatus loadDescription(std::string_view text, const LoadOptions& options,
                          LoadedDescription& out) {
    out = LoadedDescription{};
    initialiseLibrariesOnce();
    const LogSink log = [&options](const char* line) {
        if (options.log) {
            options.log(line);
        }
    };
    const DiagnosticsScope diagnostics(options.log);

    // libxml2 takes the size as an int.
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        log("[ERROR] - Xml file too large to parse.");
        return GEV_STATUS_XML_NOT_WELL_FORMED;
    }
    // No network access and no entity substitution: the text comes from the device.
    XmlDocument document(xmlReadMemory(text.data(), static_cast<int>(text.size()), "noname.xml",
                                       nullptr, XML_PARSE_NONET));
    if (!document) {
        return GEV_STATUS_XML_NOT_WELL_FORMED;
    }

    const SchemaVersion version = schemaVersionOf(*document);
    const std::optional<SchemaLocation> schema =
        findSchema(options.libraryFolder, options.fallbackFolder, version);
    if (!schema) {
        // Say where the files were looked for: a missing data folder is an install fault.
        log(("[ERROR] - Can't find " + schemaFileName(version) + " in \"" + options.libraryFolder +
             "\" nor in the data folder \"" + options.fallbackFolder + "\".")
                .c_str());
        return GEV_STATUS_SCHEMA_ERROR;
    }
    log(("[INFO] - Use " + schema->path + " schema file.").c_str());
    if (!validates(*document, schema->path, log)) {
        return GEV_STATUS_SCHEMA_ERROR;
    }

    if (const GevStatus status = preprocess(document, schema->folder, log);
        status != GEV_STATUS_SUCCESS) {
        return status;
    }

    xmlNode* root = xmlDocGetRootElement(document.get());
    if (root == nullptr) {
        log("[ERROR] - Unable to get xml root element.");
        return GEV_STATUS_XML_NO_ROOT;
    }
    out.document = std::move(document);
    out.root = root;
    return GEV_STATUS_SUCCESS;
}

}  // namespace kavro::genicam
