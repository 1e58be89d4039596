#include "genicam/description_loader.h"

#include <libxml/parser.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <sys/stat.h>

#include <array>
#include <climits>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "genicam/description_cache.h"
#include "genicam/native_steps.h"
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

// What libxslt may do while a stylesheet runs: read the documents it is given, nothing else. A
// stylesheet beside the library could otherwise write files, create folders or reach the network
// (xsl:document, document() with a URL).
xsltSecurityPrefs* securityPrefs() {
    static xsltSecurityPrefs* prefs = [] {
        xsltSecurityPrefs* made = xsltNewSecurityPrefs();
        if (made != nullptr) {
            xsltSetSecurityPrefs(made, XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
            xsltSetSecurityPrefs(made, XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
            xsltSetSecurityPrefs(made, XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
            xsltSetSecurityPrefs(made, XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
        }
        return made;  // kept for the life of the process
    }();
    return prefs;
}

// Compiled schemas and stylesheets by path, reused while the file is unchanged: compiling them
// costs as much as a large part of a load. Used under the diagnostics scope, so by one load at a
// time.
template <typename Compiled>
class CompiledFiles final {
  public:
    template <typename Compile>
    typename Compiled::pointer get(const std::string& path, Compile&& compile) {
        const FileStamp stamp = fileStamp(path);
        auto found = files_.find(path);
        if (found != files_.end() && found->second.stamp == stamp && stamp.exists) {
            return found->second.compiled.get();
        }
        Compiled compiled = compile();
        if (!compiled) {
            files_.erase(path);
            return nullptr;
        }
        auto& entry = files_[path];
        entry.stamp = stamp;
        entry.compiled = std::move(compiled);
        return entry.compiled.get();
    }

  private:
    struct Entry {
        FileStamp stamp;
        Compiled compiled;
    };
    std::map<std::string, Entry> files_;
};

// Never destroyed: a load may run while static objects are torn down.
CompiledFiles<XmlSchema>& schemas() {
    static auto* files = new CompiledFiles<XmlSchema>;
    return *files;
}

CompiledFiles<XsltStylesheet>& stylesheets() {
    static auto* files = new CompiledFiles<XsltStylesheet>;
    return *files;
}

bool validates(xmlDoc& document, const std::string& schemaPath, const LogSink& log) {
    // Descriptions never declare a document type. Refusing one keeps entity references, which
    // libxml2's schema validator cannot handle, out of the document.
    if (xmlGetIntSubset(&document) != nullptr) {
        log("[ERROR] - Xml file carries a document type declaration.");
        return false;
    }
    xmlSchema* schema = schemas().get(schemaPath, [&schemaPath] {
        const XmlSchemaParser parser(xmlSchemaNewParserCtxt(schemaPath.c_str()));
        return XmlSchema(parser ? xmlSchemaParse(parser.get()) : nullptr);
    });
    if (schema == nullptr) {
        return false;
    }
    const XmlSchemaValidator validator(xmlSchemaNewValidCtxt(schema));
    return validator && xmlSchemaValidateDoc(validator.get(), &document) == 0;
}

// Step `n` done natively; false when the stylesheet has to run after all.
bool nativeStep(int n, xmlDoc& document) {
    switch (n) {
        case 1:
            normaliseInPlace(document);
            return true;
        case 2:
            return flattenInPlace(document);
        case 3:
            return inlinePartsInPlace(document);
        case 4:
            return placeBitsAndBooleansInPlace(document);
        default:
            return false;
    }
}

using XsltContext = std::unique_ptr<xsltTransformContext, XmlRelease<xsltFreeTransformContext>>;

// Applies PreProcess_1.xsl .. PreProcess_4.xsl of `folder` in order, replacing `document`.
GevStatus preprocess(XmlDocument& document, const std::string& folder, const LogSink& log) {
    for (int n = 1; n <= kStylesheetCount; ++n) {
        const std::string path = stylesheetPath(folder, n);
        if (isShippedStylesheet(path, n) && nativeStep(n, *document)) {
            continue;
        }
        xsltStylesheet* stylesheet = stylesheets().get(path, [&path] {
            return XsltStylesheet(
                xsltParseStylesheetFile(reinterpret_cast<const xmlChar*>(path.c_str())));
        });
        if (stylesheet == nullptr) {
            log(kParseFailed[n - 1]);
            return GEV_STATUS_STYLESHEET_ERROR;
        }
        const XsltContext context(xsltNewTransformContext(stylesheet, document.get()));
        if (!context || securityPrefs() == nullptr ||
            xsltSetCtxtSecurityPrefs(securityPrefs(), context.get()) != 0) {
            log(kApplyFailed[n - 1]);
            return GEV_STATUS_STYLESHEET_ERROR;
        }
        XmlDocument result(xsltApplyStylesheetUser(stylesheet, document.get(), nullptr, nullptr,
                                                   nullptr, context.get()));
        if (!result || context->state != XSLT_STATE_OK) {
            log(kApplyFailed[n - 1]);
            return GEV_STATUS_STYLESHEET_ERROR;
        }
        document = std::move(result);
    }
    return GEV_STATUS_SUCCESS;
}

// The cached load of `text`, when there is one made with the schema and stylesheets as they are.
std::optional<CachedDescription> recall(std::string_view text, const LoadOptions& options) {
    if (options.cacheFolder.empty()) {
        return std::nullopt;
    }
    std::optional<CachedDescription> cached = readCachedDescription(
        options.cacheFolder, text, options.libraryFolder, options.fallbackFolder);
    if (!cached || cached->tools != toolIdentity(options.libraryFolder, options.fallbackFolder,
                                                 cached->version)) {
        return std::nullopt;
    }
    return cached;
}

void remember(std::string_view text, const LoadOptions& options, CachedDescription entry,
              xmlDoc& document) {
    xmlChar* dumped = nullptr;
    int size = 0;
    xmlDocDumpMemory(&document, &dumped, &size);
    struct FreeBytes {
        void operator()(xmlChar* bytes) const noexcept { xmlFree(bytes); }
    };
    const std::unique_ptr<xmlChar, FreeBytes> held(dumped);
    if (dumped == nullptr || size <= 0) {
        return;
    }
    entry.document =
        std::string_view(reinterpret_cast<const char*>(dumped), static_cast<size_t>(size));
    writeCachedDescription(options.cacheFolder, text, options.libraryFolder, options.fallbackFolder,
                           entry);
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
    if (const std::optional<CachedDescription> cached = recall(text, options)) {
        XmlDocument document(xmlReadMemory(cached->document.data(),
                                           static_cast<int>(cached->document.size()), "noname.xml",
                                           nullptr, XML_PARSE_NONET));
        xmlNode* root = document ? xmlDocGetRootElement(document.get()) : nullptr;
        if (root != nullptr) {
            log(("[INFO] - Use " + cached->schemaPath + " schema file.").c_str());
            out.document = std::move(document);
            out.root = root;
            return GEV_STATUS_SUCCESS;
        }
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
    // Stamped before the stylesheets run, so a file changed meanwhile makes the entry stale.
    const std::string tools =
        options.cacheFolder.empty()
            ? std::string()
            : toolIdentity(options.libraryFolder, options.fallbackFolder, version);

    if (const GevStatus status = preprocess(document, schema->folder, log);
        status != GEV_STATUS_SUCCESS) {
        return status;
    }
    if (!options.cacheFolder.empty()) {
        remember(text, options, CachedDescription{version, tools, schema->path, {}, nullptr},
                 *document);
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
