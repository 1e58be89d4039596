// Loading a description: schema version, folder rules, stylesheet failures and the routing of
// libxml2/libxslt diagnostics into the device log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libxml/globals.h>
#include <libxml/parser.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "genicam/schema_location.h"
#include "genicam_test_support.h"

namespace kavro::genicam::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// A 1.0 description without version attributes, valid under the shipped schema.
constexpr const char* kPlainDescription =
    "<RegisterDescription xmlns=\"http://www.genicam.org/GenApi/Version_1_0\" ModelName=\"M\" "
    "VendorName=\"V\"><Category Name=\"Root\"><pFeature>Gain</pFeature></Category>"
    "<Integer Name=\"Gain\"><Value>3</Value></Integer></RegisterDescription>";

// Identity stylesheet that reports through libxslt that it ran.
std::string tracingStylesheet(int n) {
    return "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
           "<xsl:template match=\"/\"><xsl:message>applied PreProcess_" +
           std::to_string(n) +
           "</xsl:message><xsl:copy-of select=\".\"/></xsl:template></xsl:stylesheet>";
}

class DescriptionLoader : public ::testing::Test {
  protected:
    GevStatus load(std::string_view text, const std::string& libraryFolder,
                   const std::string& fallbackFolder = "") {
        return loadDescription(text, LoadOptions{libraryFolder, fallbackFolder, log_.sink(), ""},
                               loaded_);
    }

    std::string useLine(const ScratchFolder& folder, const char* schemaFile) const {
        return "[INFO] - Use " + folder.str() + "/" + schemaFile + " schema file.";
    }

    RecordingLog log_;
    LoadedDescription loaded_;
    ScratchFolder library_;
    ScratchFolder fallback_;
};

TEST(SchemaVersion, ReadFromRegisterDescriptionModulo256) {
    struct Case {
        const char* attributes;
        int major;
        int minor;
    };
    const Case cases[] = {
        {"", 1, 0},
        {"SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\"", 1, 1},
        {"SchemaMinorVersion=\"1\"", 1, 1},
        {"SchemaMajorVersion=\"2\"", 2, 0},
        {"SchemaMajorVersion=\"257\" SchemaMinorVersion=\"512\"", 1, 0},
        {"SchemaMajorVersion=\" 3rd\" SchemaMinorVersion=\"+7\"", 3, 7},
        {"SchemaMajorVersion=\"one\" SchemaMinorVersion=\"-1\"", 0, 255},
        {"SchemaMajorVersion=\"100000000000000000001\"", 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attributes);
        const std::string text = std::string("<RegisterDescription ") + c.attributes + "/>";
        const XmlDocument document(
            xmlReadMemory(text.data(), static_cast<int>(text.size()), "t.xml", nullptr, 0));
        ASSERT_TRUE(document);
        const SchemaVersion version = schemaVersionOf(*document);
        EXPECT_EQ(version.major, c.major);
        EXPECT_EQ(version.minor, c.minor);
    }
    // Only a top-level RegisterDescription counts.
    const std::string nested = "<Wrapper><RegisterDescription SchemaMinorVersion=\"1\"/></Wrapper>";
    const XmlDocument document(
        xmlReadMemory(nested.data(), static_cast<int>(nested.size()), "t.xml", nullptr, 0));
    ASSERT_TRUE(document);
    EXPECT_EQ(schemaVersionOf(*document).minor, 0);
}

TEST_F(DescriptionLoader, ValidatesAgainstTheSchemaOfTheDeclaredVersion) {
    library_.copyDataFiles(kSchemaFiles);
    library_.copyDataFiles(kStylesheetFiles);

    ASSERT_EQ(load(sample("camera_v1_1.xml"), library_.str()), GEV_STATUS_SUCCESS) << log_.all();
    EXPECT_THAT(log_.lines,
                ::testing::ElementsAre(useLine(library_, "GenApiSchema_Version_1_1.xsd")));

    log_.lines.clear();
    ASSERT_EQ(load(kPlainDescription, library_.str()), GEV_STATUS_SUCCESS) << log_.all();
    EXPECT_THAT(log_.lines,
                ::testing::ElementsAre(useLine(library_, "GenApiSchema_Version_1_0.xsd")));
    ASSERT_NE(loaded_.root, nullptr);
    EXPECT_EQ(xmlDocGetRootElement(loaded_.document.get()), loaded_.root);

    // A version without a schema file fails before any schema is used.
    log_.lines.clear();
    std::string text = sample("camera_v1_1.xml");
    text.replace(text.find("SchemaMajorVersion=\"1\""), 22, "SchemaMajorVersion=\"2\"");
    EXPECT_EQ(load(text, library_.str(), library_.str()), GEV_STATUS_SCHEMA_ERROR);
    EXPECT_FALSE(log_.contains("[INFO] - Use ")) << log_.all();
    EXPECT_FALSE(loaded_.document);
}

// The folder that holds the schema supplies the stylesheets: the library folder first, then the
// fallback (given with a trailing separator), whatever stylesheets the other one holds.
TEST_F(DescriptionLoader, TheFolderWithTheSchemaSuppliesTheStylesheets) {
    library_.copyDataFiles(kSchemaFiles);
    library_.copyDataFiles(kStylesheetFiles);
    fallback_.copyDataFiles(kSchemaFiles);
    fallback_.write("PreProcess_1.xsl", "not a stylesheet");
    ASSERT_EQ(load(kPlainDescription, library_.str(), fallback_.str()), GEV_STATUS_SUCCESS)
        << log_.all();
    EXPECT_TRUE(log_.contains(useLine(library_, "GenApiSchema_Version_1_0.xsd")));

    // The library folder below has stylesheets, but not the schema asked for.
    ScratchFolder library;
    library.write("PreProcess_1.xsl", "not a stylesheet");
    library.copyDataFiles({"GenApiSchema_Version_1_1.xsd"});
    std::filesystem::remove(fallback_.path() / "PreProcess_1.xsl");
    fallback_.copyDataFiles(kStylesheetFiles);
    log_.lines.clear();
    ASSERT_EQ(load(kPlainDescription, library.str(), fallback_.str() + "/"), GEV_STATUS_SUCCESS)
        << log_.all();
    EXPECT_THAT(log_.lines,
                ::testing::ElementsAre(useLine(fallback_, "GenApiSchema_Version_1_0.xsd")));
}

TEST_F(DescriptionLoader, NoSchemaInLibraryFolderAndNoFallbackFails) {
    library_.copyDataFiles(kStylesheetFiles);
    // The line names both folders looked in: a missing data folder is found from the log.
    const auto missingLine = [this](const std::string& fallback) {
        return "[ERROR] - Can't find GenApiSchema_Version_1_0.xsd in \"" + library_.str() +
               "\" nor in the data folder \"" + fallback + "\".";
    };
    EXPECT_EQ(load(kPlainDescription, library_.str(), ""), GEV_STATUS_SCHEMA_ERROR);
    EXPECT_THAT(log_.lines, ::testing::ElementsAre(missingLine("")));

    log_.lines.clear();
    EXPECT_EQ(load(kPlainDescription, library_.str(), fallback_.str()), GEV_STATUS_SCHEMA_ERROR);
    EXPECT_THAT(log_.lines, ::testing::ElementsAre(missingLine(fallback_.str())));

    // An unknown library folder is skipped, not taken as the file system root.
    fallback_.copyDataFiles(kSchemaFiles);
    fallback_.copyDataFiles(kStylesheetFiles);
    EXPECT_EQ(load(kPlainDescription, "", fallback_.str()), GEV_STATUS_SUCCESS) << log_.all();
}

TEST_F(DescriptionLoader, InvalidDescriptionIsNeverTransformed) {
    library_.copyDataFiles(kSchemaFiles);  // no stylesheets at all
    const std::string invalid =
        "<RegisterDescription xmlns=\"http://www.genicam.org/GenApi/"
        "Version_1_0\" ModelName=\"M\" VendorName=\"V\"><Gizmo "
        "Name=\"G\"/></RegisterDescription>";
    EXPECT_EQ(load(invalid, library_.str()), GEV_STATUS_SCHEMA_ERROR);
    EXPECT_TRUE(log_.contains("Gizmo")) << log_.all();
    EXPECT_FALSE(log_.contains("stylesheet")) << log_.all();

    // The same folder with a valid description does reach the stylesheets.
    log_.lines.clear();
    EXPECT_EQ(load(kPlainDescription, library_.str()), GEV_STATUS_STYLESHEET_ERROR);
    EXPECT_EQ(log_.lines.back(), "[ERROR] - Unable to parse stylesheet file PreProcess_1.xsl.");
}

// Stylesheets run in order; the first that is missing, does not parse, aborts, leaves no root
// element or tries to write a file ends the load with its own message, and no document.
TEST_F(DescriptionLoader, EachStylesheetFailureEndsTheLoadWithItsOwnMessage) {
    library_.copyDataFiles(kSchemaFiles);
    for (int n = 1; n <= 4; ++n) {
        library_.write("PreProcess_" + std::to_string(n) + ".xsl", tracingStylesheet(n));
    }
    const auto fails = [&](GevStatus status, const std::string& lastLine) {
        log_.lines.clear();
        EXPECT_EQ(load(kPlainDescription, library_.str()), status);
        ASSERT_FALSE(log_.lines.empty());
        EXPECT_EQ(log_.lines.back(), lastLine);
        EXPECT_FALSE(loaded_.document);
        EXPECT_EQ(loaded_.root, nullptr);
    };
    const std::string head =
        "<xsl:stylesheet version=\"1.1\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
        "<xsl:template match=\"/\">";
    const std::string tail = "</xsl:template></xsl:stylesheet>";

    std::filesystem::remove(library_.path() / "PreProcess_3.xsl");
    fails(GEV_STATUS_STYLESHEET_ERROR,
          "[ERROR] - Unable to parse stylesheet file PreProcess_3.xsl.");
    const int first = log_.indexOf("applied PreProcess_1");
    ASSERT_GE(first, 0) << log_.all();
    EXPECT_LT(first, log_.indexOf("applied PreProcess_2"));
    EXPECT_FALSE(log_.contains("PreProcess_4")) << log_.all();
    library_.write("PreProcess_3.xsl", tracingStylesheet(3));

    library_.write("PreProcess_2.xsl",
                   head + "<xsl:message terminate=\"yes\">no camera here</xsl:message>" + tail);
    fails(GEV_STATUS_STYLESHEET_ERROR,
          "[ERROR] - Unable to apply stylesheet file PreProcess_2.xsl.");
    EXPECT_TRUE(log_.contains("no camera here")) << log_.all();
    library_.write("PreProcess_2.xsl", tracingStylesheet(2));

    library_.write("PreProcess_4.xsl", "<xsl:stylesheet version=\"1.0\"");
    fails(GEV_STATUS_STYLESHEET_ERROR,
          "[ERROR] - Unable to parse stylesheet file PreProcess_4.xsl.");
    EXPECT_TRUE(log_.contains("PreProcess_4.xsl:")) << "the parse error itself is logged\n"
                                                    << log_.all();

    library_.write("PreProcess_4.xsl", head + tail);
    fails(GEV_STATUS_XML_NO_ROOT, "[ERROR] - Unable to get xml root element.");

    const std::string written = library_.str() + "/written.txt";
    library_.write("PreProcess_4.xsl", head + "<xsl:document href=\"" + written +
                                           "\" method=\"text\">x</xsl:document>"
                                           "<xsl:copy-of select=\".\"/>" +
                                           tail);
    EXPECT_EQ(load(kPlainDescription, library_.str()), GEV_STATUS_STYLESHEET_ERROR);
    EXPECT_FALSE(std::filesystem::exists(written));
}

TEST_F(DescriptionLoader, ReadsOnlyTheGivenBytesAndWhatIsNotXmlFailsWithTheParserDiagnostics) {
    library_.copyDataFiles(kSchemaFiles);
    library_.copyDataFiles(kStylesheetFiles);
    for (const std::string_view text :
         {std::string_view("<RegisterDescription ModelName=\"M\"><Port>"),
          std::string_view("PK\x03\x04 zip archive, not unpacked")}) {
        SCOPED_TRACE(text);
        log_.lines.clear();
        EXPECT_EQ(load(text, library_.str()), GEV_STATUS_XML_NOT_WELL_FORMED);
        ASSERT_FALSE(log_.lines.empty());
        EXPECT_THAT(log_.lines.front(), HasSubstr("noname.xml:1: "));
        EXPECT_FALSE(log_.contains("[INFO] - Use ")) << log_.all();
        for (const std::string& line : log_.lines) {
            EXPECT_THAT(line, Not(HasSubstr("\n")));
        }
    }
    // Nothing to parse: libxml2 refuses without a word.
    EXPECT_EQ(load("", library_.str()), GEV_STATUS_XML_NOT_WELL_FORMED);

    const std::string text = sample("camera_v1_0.xml");
    // Exactly sized and not NUL-terminated, so that a read past the end shows under ASan.
    const auto buffer = std::make_unique<char[]>(text.size());
    std::memcpy(buffer.get(), text.data(), text.size());
    EXPECT_EQ(load(std::string_view(buffer.get(), text.size()), library_.str()), GEV_STATUS_SUCCESS)
        << log_.all();
    // A description cut short is not well-formed.
    EXPECT_EQ(load(std::string_view(buffer.get(), text.size() / 2), library_.str()),
              GEV_STATUS_XML_NOT_WELL_FORMED);
}

TEST_F(DescriptionLoader, RefusesDocumentTypeDeclarations) {
    library_.copyDataFiles(kSchemaFiles);
    library_.copyDataFiles(kStylesheetFiles);
    library_.write("secret.txt", "SECRET-CONTENT");
    const std::string description =
        "<RegisterDescription xmlns=\"http://www.genicam.org/GenApi/Version_1_0\" ModelName=\"M\" "
        "VendorName=\"V\"><Category Name=\"Root\"/><String Name=\"S\"><Value>&e;</Value>"
        "</String></RegisterDescription>";

    const std::string external = "<!DOCTYPE RegisterDescription [<!ENTITY e SYSTEM \"file://" +
                                 library_.str() + "/secret.txt\">]>" + description;
    EXPECT_EQ(load(external, library_.str()), GEV_STATUS_SCHEMA_ERROR);
    EXPECT_EQ(log_.lines.back(), "[ERROR] - Xml file carries a document type declaration.");
    EXPECT_FALSE(log_.contains("SECRET-CONTENT")) << log_.all();

    // Exponential entity expansion is stopped by the parser itself.
    std::string entities = "<!ENTITY e0 \"lollollollollollollollollollol\">";
    for (int i = 1; i <= 9; ++i) {
        entities += "<!ENTITY e" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) {
            entities += "&e" + std::to_string(i - 1) + ";";
        }
        entities += "\">";
    }
    std::string laughs = description;
    laughs.replace(laughs.find("&e;"), 3, "&e9;");
    EXPECT_EQ(load("<!DOCTYPE RegisterDescription [" + entities + "]>" + laughs, library_.str()),
              GEV_STATUS_XML_NOT_WELL_FORMED);
}

#if LIBXML_VERSION >= 21200
using ErrorArgumentForTest = const xmlError*;
#else
using ErrorArgumentForTest = xmlError*;
#endif

void countingHandler(void* context, ErrorArgumentForTest /*error*/) {
    ++*static_cast<int*>(context);
}

TEST_F(DescriptionLoader, DiagnosticsGoToTheLogOnlyDuringTheLoadAndNeedNoLog) {
    library_.copyDataFiles(kSchemaFiles);
    library_.copyDataFiles(kStylesheetFiles);
    int earlierHandlerCalls = 0;
    xmlSetStructuredErrorFunc(&earlierHandlerCalls, countingHandler);

    EXPECT_EQ(load("<broken", library_.str()), GEV_STATUS_XML_NOT_WELL_FORMED);
    EXPECT_FALSE(log_.lines.empty());
    EXPECT_EQ(earlierHandlerCalls, 0);

    // Afterwards the handler installed before the load is back, and the log hears nothing.
    const std::size_t linesAfterLoad = log_.lines.size();
    const XmlDocument broken(xmlReadMemory("<broken", 7, "after.xml", nullptr, 0));
    EXPECT_FALSE(broken);
    EXPECT_GT(earlierHandlerCalls, 0);
    EXPECT_EQ(log_.lines.size(), linesAfterLoad);
    xmlSetStructuredErrorFunc(nullptr, nullptr);

    // Without a log sink the diagnostics go nowhere and the outcome is the same.
    EXPECT_EQ(loadDescription("<x", LoadOptions{library_.str(), "", {}, ""}, loaded_),
              GEV_STATUS_XML_NOT_WELL_FORMED);
    EXPECT_EQ(loadDescription("<x/>", LoadOptions{library_.str(), "", {}, ""}, loaded_),
              GEV_STATUS_SCHEMA_ERROR);
    EXPECT_EQ(loadDescription(kPlainDescription, LoadOptions{library_.str(), "", {}, ""}, loaded_),
              GEV_STATUS_SUCCESS);
}

std::string serialised(const LoadedDescription& loaded) {
    xmlChar* bytes = nullptr;
    int size = 0;
    xmlDocDumpMemory(loaded.document.get(), &bytes, &size);
    std::string text(reinterpret_cast<const char*>(bytes), static_cast<size_t>(size));
    xmlFree(bytes);
    return text;
}

// The cache of loads: a text seen before skips the schema check and the stylesheets (which
// report when they run), and gives the same document; an entry that is damaged, belongs to
// another text or was made with other stylesheets is ignored.
TEST_F(DescriptionLoader, CacheServesTextsSeenBeforeAndIgnoresBadEntries) {
    library_.copyDataFiles(kSchemaFiles);
    for (int n = 1; n <= 4; ++n) {
        library_.write("PreProcess_" + std::to_string(n) + ".xsl", tracingStylesheet(n));
    }
    const ScratchFolder cache;
    const std::string other =
        std::string(kPlainDescription)
            .replace(std::string_view(kPlainDescription).find("<Value>3"), 8, "<Value>4");
    const auto loadCached = [&](const std::string& text) {
        log_.lines.clear();
        return loadDescription(text, LoadOptions{library_.str(), "", log_.sink(), cache.str()},
                               loaded_);
    };
    const auto entries = [&] {
        std::vector<std::filesystem::path> found;
        for (const auto& item : std::filesystem::directory_iterator(cache.path())) {
            found.push_back(item.path());
        }
        return found;
    };

    ASSERT_EQ(loadCached(kPlainDescription), GEV_STATUS_SUCCESS) << log_.all();
    EXPECT_TRUE(log_.contains("applied PreProcess_4"));
    const std::string fresh = serialised(loaded_);
    ASSERT_EQ(entries().size(), 1u);
    const std::filesystem::path entry = entries().front();

    ASSERT_EQ(loadCached(kPlainDescription), GEV_STATUS_SUCCESS);
    EXPECT_FALSE(log_.contains("applied")) << log_.all();
    EXPECT_TRUE(log_.contains(useLine(library_, "GenApiSchema_Version_1_0.xsd")));
    EXPECT_EQ(serialised(loaded_), fresh);

    // Damaged: one byte changed.
    std::string bytes;
    {
        std::ifstream in(entry, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    bytes[bytes.size() / 2] ^= 0x20;
    std::ofstream(entry, std::ios::binary) << bytes;
    ASSERT_EQ(loadCached(kPlainDescription), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(log_.contains("applied PreProcess_1"));
    EXPECT_EQ(serialised(loaded_), fresh);

    // Foreign: another text's entry in its place.
    ASSERT_EQ(loadCached(other), GEV_STATUS_SUCCESS);
    ASSERT_EQ(entries().size(), 2u);
    for (const auto& path : entries()) {
        if (path != entry) {
            std::filesystem::rename(path, entry);
        }
    }
    ASSERT_EQ(loadCached(kPlainDescription), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(log_.contains("applied PreProcess_1"));
    EXPECT_EQ(serialised(loaded_), fresh);

    // Made with other stylesheets.
    library_.write("PreProcess_3.xsl", tracingStylesheet(33));
    ASSERT_EQ(loadCached(kPlainDescription), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(log_.contains("applied PreProcess_33")) << log_.all();
}

// What the shipped schemas accept as a device description and what they turn away.
constexpr const char* kNs10 = "http://www.genicam.org/GenApi/Version_1_0";
constexpr const char* kNs11 = "http://www.genicam.org/GenApi/Version_1_1";

// A description whose RegisterDescription holds `body`.
std::string description(const char* ns, std::string_view body, std::string_view version = "") {
    std::string text = "<?xml version=\"1.0\"?>\n<RegisterDescription xmlns=\"";
    text.append(ns).append("\" ModelName=\"M\" VendorName=\"V\" ");
    text.append(version).append(">").append(body).append("</RegisterDescription>");
    return text;
}

GevStatus loadWithShippedFiles(const std::string& text, RecordingLog& log) {
    LoadedDescription loaded;
    return loadDescription(text, LoadOptions{kSchemaDir.string(), "", log.sink(), ""}, loaded);
}

constexpr const char* kMinimalBody =
    "<Category Name=\"Root\"><pFeature>Gain</pFeature></Category>"
    "<Integer Name=\"Gain\"><pValue>GainReg</pValue><ToolTip>t</ToolTip><Min>0</Min></Integer>"
    "<IntReg Name=\"GainReg\"><Length>4</Length><pPort>Device</pPort><Address>0x10</Address>"
    "<AccessMode>RW</AccessMode></IntReg><Port Name=\"Device\"/>";

TEST(DescriptionSchema, AcceptsBothVersionsWithPropertiesInAnyOrder) {
    RecordingLog log;
    EXPECT_EQ(loadWithShippedFiles(description(kNs10, kMinimalBody), log), GEV_STATUS_SUCCESS)
        << log.all();
    EXPECT_EQ(loadWithShippedFiles(description(kNs11, kMinimalBody,
                                               "SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\""),
                                   log),
              GEV_STATUS_SUCCESS)
        << log.all();
}

struct Rejected {
    const char* why;
    std::string text;
    const char* diagnostic;  // part of the libxml2 message naming the fault
};

TEST(DescriptionSchema, RejectsWhatIsNotADeviceDescription) {
    const std::string v11 = "SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\"";
    const Rejected table[] = {
        {"another document type",
         "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body>camera</body></html>", "html"},
        {"a node as root", std::string("<Category xmlns=\"") + kNs10 + "\" Name=\"Root\"/>",
         "Category"},
        {"no namespace",
         "<RegisterDescription ModelName=\"M\" VendorName=\"V\">"
         "<Category Name=\"Root\"/></RegisterDescription>",
         "RegisterDescription"},
        {"namespace of the other version", description(kNs10, kMinimalBody, v11),
         "RegisterDescription"},
        {"no nodes", description(kNs10, ""), "RegisterDescription"},
        {"no model name",
         std::string("<RegisterDescription xmlns=\"") + kNs10 +
             "\" VendorName=\"V\"><Port Name=\"Device\"/></RegisterDescription>",
         "ModelName"},
        {"unknown node element", description(kNs10, "<Widget Name=\"W\"/>"), "Widget"},
        {"unknown property", description(kNs10, "<IntReg Name=\"R\"><Colour>red</Colour></IntReg>"),
         "Colour"},
        {"property of another kind",
         description(kNs10, "<Category Name=\"Root\"><Formula>1</Formula></Category>"), "Formula"},
        {"node without name", description(kNs10, "<Integer><Value>1</Value></Integer>"), "Name"},
        {"bad access mode",
         description(kNs10, "<IntReg Name=\"R\"><AccessMode>ReadWrite</AccessMode></IntReg>"),
         "ReadWrite"},
        {"bad address", description(kNs10, "<IntReg Name=\"R\"><Address>12G</Address></IntReg>"),
         "12G"},
        {"bad float", description(kNs11, "<Float Name=\"F\"><Min>low</Min></Float>", v11), "low"},
        {"name twice",
         description(kNs11,
                     "<Integer Name=\"A\"/><Group Comment=\"g\"><IntReg Name=\"A\"/></Group>", v11),
         "A"},
        {"entry outside a struct", description(kNs10, "<StructEntry Name=\"S\"/>"), "StructEntry"},
    };
    for (const Rejected& rejected : table) {
        SCOPED_TRACE(rejected.why);
        RecordingLog log;
        EXPECT_EQ(loadWithShippedFiles(rejected.text, log), GEV_STATUS_SCHEMA_ERROR);
        EXPECT_TRUE(log.contains("[INFO] - Use ")) << log.all();
        EXPECT_TRUE(log.contains(rejected.diagnostic)) << log.all();
    }
}

}  // namespace
}  // namespace kavro::genicam::test
