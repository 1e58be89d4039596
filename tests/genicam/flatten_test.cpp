// The shipped schemas and stylesheets applied to realistic descriptions: what the node model
// finds in the flattened document. Every transformation is held to the shipped stylesheets on
// every sample by the native-steps test at the end, and what the node model reads from the
// result by the feature model tests; the tests before it check the shape the model relies on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "genicam_test_support.h"

namespace kavro::genicam::test {
namespace {

using XmlBuffer = std::unique_ptr<xmlBuffer, XmlRelease<xmlBufferFree>>;

using ::testing::ElementsAre;
using ::testing::Pair;

class FlattenedDescription : public ::testing::Test {
  protected:
    void load(std::string_view sampleFile) {
        LoadOptions options{kSchemaDir.string(), "", log_.sink(), ""};
        const GevStatus status = loadDescription(sample(sampleFile), options, loaded_);
        ASSERT_EQ(status, GEV_STATUS_SUCCESS) << log_.all();
        ASSERT_NE(loaded_.root, nullptr);
        for (const xmlNode* element : elementChildren(loaded_.root)) {
            order_.push_back(attribute(element, "Name"));
            nodes_.emplace(order_.back(), element);
        }
    }

    const xmlNode* node(const std::string& nodeName) const {
        const auto found = nodes_.find(nodeName);
        return found == nodes_.end() ? nullptr : found->second;
    }

    // Text of the first `element` of node `nodeName`; "<missing>" when there is none.
    std::string property(const std::string& nodeName, std::string_view element) const {
        const xmlNode* owner = node(nodeName);
        if (owner == nullptr) {
            return "<no node " + nodeName + ">";
        }
        const xmlNode* found = child(owner, element);
        return found != nullptr ? text(found) : "<missing>";
    }

    std::string kind(const std::string& nodeName) const {
        const xmlNode* owner = node(nodeName);
        return owner != nullptr ? std::string(name(owner)) : "<no node>";
    }

    std::ptrdiff_t position(const std::string& nodeName) const {
        return std::find(order_.begin(), order_.end(), nodeName) - order_.begin();
    }

    RecordingLog log_;
    LoadedDescription loaded_;
    std::vector<std::string> order_;
    std::map<std::string, const xmlNode*> nodes_;
};

TEST_F(FlattenedDescription, EveryNodeIsANamedChildOfTheRoot) {
    load("camera_v1_1.xml");
    EXPECT_EQ(name(loaded_.root), "RegisterDescription");
    EXPECT_EQ(loaded_.root->ns, nullptr);
    EXPECT_EQ(attribute(loaded_.root, "ModelName"), "KV-A1300");
    for (const xmlNode* element : elementChildren(loaded_.root)) {
        EXPECT_TRUE(hasAttribute(element, "Name")) << name(element);
        EXPECT_EQ(element->ns, nullptr) << name(element);
        for (const std::string_view gone : {"Group", "StructReg", "StructEntry", "Extension"}) {
            EXPECT_NE(name(element), gone);
        }
        EXPECT_EQ(child(element, "EnumEntry"), nullptr) << attribute(element, "Name");
        EXPECT_EQ(child(element, "StructEntry"), nullptr) << attribute(element, "Name");
    }
    EXPECT_EQ(order_.size(), nodes_.size()) << "node names are unique";
    // Nodes from the top level, one group deep and two groups deep, in document order.
    EXPECT_EQ(position("Root"), 0);
    EXPECT_LT(position("DeviceControl"), position("DeviceTemperature"));
    EXPECT_LT(position("DeviceTemperature"), position("DeviceReset"));
    EXPECT_LT(position("DeviceReset"), position("Device"));
    EXPECT_THAT(texts(node("Root"), "pFeature"),
                ElementsAre("DeviceControl", "ImageFormatControl", "AcquisitionControl",
                            "AnalogControl", "LUTControl", "TransportLayerControl"));
}

TEST_F(FlattenedDescription, StructRegWithIndexAndComputedAddress) {
    load("camera_v1_0.xml");
    const xmlNode* inverter = node("LineInverter");
    ASSERT_NE(inverter, nullptr);
    EXPECT_EQ(kind("LineInverter"), "MaskedIntReg");
    EXPECT_THAT(texts(inverter, "pAddress"), ElementsAre("LineInverter__Address1"));
    EXPECT_EQ(attribute(child(inverter, "pIndex"), "pOffset"), "LineInverter__IndexOffset");
    EXPECT_EQ(property("LineInverter__IndexOffset", "Value"), "0x10");
    // Invalidators of the entry and of the register both apply.
    EXPECT_THAT(texts(inverter, "pInvalidator"), ElementsAre("LineMode", "LineSelector"));
    EXPECT_EQ(property("LineInverter", "LSB"), "4");
    EXPECT_EQ(property("LineInverter", "MSB"), "4");
    EXPECT_THAT(texts(node("LineStatus"), "AccessMode"), ElementsAre("RO"));
    EXPECT_THAT(texts(node("LineStatus"), "pInvalidator"), ElementsAre("LineSelector"));
    EXPECT_THAT(texts(node("LineStatus"), "pAddress"), ElementsAre("LineStatus__Address1"));
    // The address formula's own constant becomes a node of the formula.
    EXPECT_THAT(
        variables(node("LineInverter__Address1")),
        ElementsAre(Pair("BASE", "LineConfigBase"), Pair("SKIP", "LineInverter__Address1__SKIP")));
    EXPECT_EQ(property("LineInverter__Address1__SKIP", "Value"), "8");
    EXPECT_EQ(property("LineInverter__Address1", "Formula"), "BASE + SKIP");
}

// Texts whose shapes the samples lack: character data sections, processing instructions,
// attributes in other namespaces, nested groups, inline formulas inside inline formulas.
constexpr const char* kOddShapes = R"(<?xml version="1.0"?>
<?odd instruction?>
<RegisterDescription xmlns="http://www.genicam.org/GenApi/Version_1_1"
    xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:type="x" ModelName=" M  N "
    VendorName="V" SchemaMajorVersion="1" SchemaMinorVersion="1">
  <!-- comment -->
  <Category Name="Root"><pFeature>  A </pFeature><?pi here?></Category>
  <Group Comment="g"><Group Comment="h">
    <IntReg Name="A"><ToolTip><![CDATA[  spaced   out ]]> text</ToolTip>
      <Address>0x10</Address>
      <IntSwissKnife><pVariable Name="X">B</pVariable><Constant Name="K">-0X10</Constant>
        <Expression Name="E">X+K</Expression><Formula>E</Formula></IntSwissKnife>
      <pIndex Offset="2">B</pIndex><pIndex Offset="3" pOffset="B">B</pIndex>
      <pIndex Offset="4">B</pIndex>
      <Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort></IntReg>
  </Group></Group>
  <IntSwissKnife Name="B"><Constant Name="C">1.5e3</Constant><Constant Name="D"> 7 </Constant>
    <Expression Name="F">C+D</Expression><pVariable Name="Y">A</pVariable>
    <Expression Name="G">F*2</Expression><Formula>G</Formula></IntSwissKnife>
  <Boolean Name="Flag"><Value>false</Value><OffValue>5</OffValue><Bit>3</Bit></Boolean>
  <Port Name="Device"/>
</RegisterDescription>
)";

// The steps done natively give exactly what the shipped stylesheets give when libxslt runs them
// (a stylesheet that is not byte for byte the shipped one runs through libxslt).
TEST(NativeSteps, GiveWhatTheShippedStylesheetsGive) {
    ScratchFolder byXslt;
    byXslt.copyDataFiles(kSchemaFiles);
    for (const std::string& file : kStylesheetFiles) {
        byXslt.write(file, readFile(kSchemaDir / file) + "<!-- changed -->\n");
    }
    std::vector<std::string> texts = {kOddShapes, readFile(KAVRO_SIM_DESCRIPTION)};
    for (const char* folder :
         {"genicam", "genicam/corpus", "features", "feature_calls", "convenience"}) {
        for (const auto& item : fs::directory_iterator(fs::path(KAVRO_TEST_DATA_DIR) / folder)) {
            if (item.is_regular_file()) {
                texts.push_back(readFile(item.path()));
            }
        }
    }
    const auto rootText = [](const LoadedDescription& loaded) {
        const XmlBuffer buffer(xmlBufferCreate());
        xmlNodeDump(buffer.get(), loaded.document.get(), loaded.root, 0, 0);
        return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())));
    };
    size_t compared = 0;
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 200));
        RecordingLog log;
        LoadedDescription native;
        LoadedDescription xslt;
        const GevStatus status =
            loadDescription(text, LoadOptions{kSchemaDir.string(), "", log.sink(), ""}, native);
        EXPECT_EQ(loadDescription(text, LoadOptions{byXslt.str(), "", log.sink(), ""}, xslt),
                  status);
        if (status == GEV_STATUS_SUCCESS) {
            EXPECT_EQ(rootText(native), rootText(xslt));
            ++compared;
        }
    }
    EXPECT_GE(compared, 8u);
}

}  // namespace
}  // namespace kavro::genicam::test
