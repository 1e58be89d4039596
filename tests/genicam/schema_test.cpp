// What the shipped schemas accept as a device description and what they turn away.
#include <gtest/gtest.h>

#include "genicam_test_support.h"

namespace kavro::genicam::test {
namespace {

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
