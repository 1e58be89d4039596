// The feature model built from flat documents: feature list, node kinds, property formats,
// lookups and the post-build passes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "feature_model_test_support.h"

namespace kavro::genicam::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(FeatureTree, CategoriesExpandInPreOrderWithLevelsFromTheRoot) {
    const auto built = buildFlat(kExampleTree);
    ASSERT_EQ(built->status, GEV_STATUS_SUCCESS) << built->log.all();
    EXPECT_THAT(entries(built->model->features()),
                ElementsAre("A/:0", "x:1", "B/:1", "y:2", "z:0"));
    EXPECT_EQ(built->model->features().maxDepth(), 2);
    // Root is no node; the others are, in document order.
    ASSERT_EQ(built->model->nodes().size(), 5u);
    EXPECT_EQ(built->model->nodes()[0]->Name, "A");
    EXPECT_EQ(built->model->nodes()[4]->index, 5u);

    // A missing Root, or no nodes, fail the build.
    const auto noRoot = buildFlat(R"(<Category Name="A"><pFeature>x</pFeature></Category>)");
    EXPECT_EQ(noRoot->status, GEV_STATUS_FEATURE_LIST_EMPTY);
    EXPECT_THAT(noRoot->log.lines, ElementsAre("[ERROR] - Can't create feature list."));

    const auto noNodes = buildFlat(R"(<Category Name="Root"><pFeature>x</pFeature></Category>)");
    EXPECT_EQ(noNodes->status, GEV_STATUS_FEATURE_LIST_EMPTY);
    EXPECT_THAT(noNodes->log.lines, ElementsAre("[ERROR] - Can't create features."));
}

TEST(FeatureTree, CategoryCyclesAreCutAndExponentialSharingIsBounded) {
    const auto built = buildFlat(R"(
        <Category Name="Root"><pFeature>A</pFeature><pFeature>C</pFeature></Category>
        <Category Name="A"><pFeature>B</pFeature><pFeature>A</pFeature></Category>
        <Category Name="B"><pFeature>A</pFeature><pFeature>b</pFeature></Category>
        <Category Name="C"><pFeature>Root</pFeature><pFeature>B</pFeature></Category>
        <Integer Name="b"/>)");
    ASSERT_EQ(built->status, GEV_STATUS_SUCCESS) << built->log.all();
    // A category appears under each parent; only a member that encloses it on the current path
    // is dropped (under C, B may hold A, but that A may not hold B or itself).
    EXPECT_THAT(entries(built->model->features()),
                ElementsAre("A/:0", "B/:1", "b:2", "C/:0", "B/:1", "A/:2", "b:2"));
    EXPECT_EQ(built->log.lines.size(), 5u) << built->log.all();
    EXPECT_TRUE(built->log.contains("[WARNING] - Category B lists A, which encloses it"));
    EXPECT_TRUE(built->log.contains("[WARNING] - Category C lists Root, which encloses it"));

    // Each level lists the next twice: 2^30 entries unless the list is capped.
    std::string doubled = R"(<Category Name="Root"><pFeature>C0</pFeature></Category>)";
    for (int i = 0; i < 30; ++i) {
        const std::string next = "C" + std::to_string(i + 1);
        doubled += "<Category Name=\"C" + std::to_string(i) + "\"><pFeature>" + next +
                   "</pFeature><pFeature>" + next + "</pFeature></Category>";
    }
    doubled += R"(<Category Name="C30"><pFeature>leaf</pFeature></Category><Integer Name="leaf"/>)";
    const auto shared = buildFlat(doubled);
    ASSERT_EQ(shared->status, GEV_STATUS_SUCCESS);
    EXPECT_EQ(shared->model->features().count(), 1u << 18);
    EXPECT_TRUE(shared->log.contains("[WARNING] - The feature list is cut at 262144 entries."));
}

TEST(FeatureNodes, KindComesFromTheElementAndLookupsFindTheFirstNameOrSymbolic) {
    const auto built = buildFlat(R"(
        <Category Name="Root"><pFeature>f</pFeature></Category>
        <ConfRom Name="first"/>
        <Float Name="f"/><IntKey Name="key"/>
        <Enumeration Name="e"/><TextDesc Name="t"/>
        <StringReg Name="s"/><Port Name="p"/><Boolean Name="b"/><Command Name="c"/>
        <Register Name="r"/><EnumEntry Name="ee"/><Converter Name="conv"/>
        <Integer/><Integer Name="Root"/>)");
    ASSERT_EQ(built->status, GEV_STATUS_SUCCESS);
    std::vector<std::pair<std::string, int>> kinds;
    for (const auto& node : built->model->nodes()) {
        kinds.emplace_back(node->Name, static_cast<int>(node->kind));
    }
    using P = std::pair<std::string, int>;
    EXPECT_THAT(kinds,
                ElementsAre(P{"first", 0}, P{"f", 3}, P{"key", 3}, P{"e", 5}, P{"t", 5}, P{"s", 4},
                            P{"p", 9}, P{"b", 7}, P{"c", 6}, P{"r", 8}, P{"ee", 2}, P{"conv", 3}));
    EXPECT_EQ(built->model->nodes()[2]->elementName, "IntKey");

    // Lookups find the name or symbolic of the first node in list order.
    const auto lookups = buildFlat(R"(
        <Category Name="Root"><pFeature>Gain</pFeature></Category>
        <EnumEntry Name="EnumEntry_GainAuto_Gain"><Symbolic>Gain</Symbolic></EnumEntry>
        <Integer Name="Gain"/>
        <Integer Name="Width"/>
        <EnumEntry Name="EnumEntry_Mode_Width"><Symbolic>Width</Symbolic></EnumEntry>)");
    ASSERT_EQ(lookups->status, GEV_STATUS_SUCCESS);
    const FeatureModel& model = *lookups->model;
    EXPECT_EQ(model.findNode("Gain")->Name, "EnumEntry_GainAuto_Gain");
    EXPECT_EQ(model.findNode("Width")->Name, "Width");
    EXPECT_EQ(model.findNode("EnumEntry_Mode_Width")->index, 4u);
    EXPECT_EQ(model.findNode("width"), nullptr);
    EXPECT_EQ(model.findNode(""), nullptr);
    EXPECT_EQ(model.nodeByIndex(0), nullptr);
    EXPECT_EQ(model.nodeByIndex(2)->Name, "Gain");
    EXPECT_EQ(model.nodeByIndex(99)->index, 4u);
}

const FeatureNode& onlyNode(const BuiltModel& built) {
    EXPECT_EQ(built.status, GEV_STATUS_SUCCESS) << built.log.all();
    return *built.model->nodes().at(0);
}

std::unique_ptr<BuiltModel> node(std::string_view element) {
    return buildFlat(std::string(R"(<Category Name="Root"><pFeature>n</pFeature></Category>)") +
                     std::string(element));
}

TEST(FeatureNodes, RepeatedPropertiesFollowTheirRulesAndStringsGetTheirBuffer) {
    const auto built = node(R"(<IntReg Name="n">
        <Address>0x100</Address><Address>0x20</Address>
        <Length>4</Length><Length>8</Length>
        <AccessMode>RO</AccessMode><AccessMode>RW</AccessMode>
        <LSB>7</LSB><LSB>9</LSB><MSB>x</MSB>
        <pValue>first</pValue><pValue>second</pValue>
        <Address>-16</Address><Address>0x1FFFFFFFF</Address></IntReg>)");
    const FeatureNode& n = onlyNode(*built);
    // Address: 0x100 + 0x20 - 16 + low 32 bits of 0x1FFFFFFFF (-1); MSB is decimal only, so no
    // digits read as 0.
    EXPECT_EQ(ints(n.Address, n.Length, n.AccessMode, n.LSB, n.MSB, n.kind),
              ints(0x100 + 0x20 - 16 - 1, 4, kAccessRO, 7, 0, NodeKind::Integer));
    EXPECT_EQ(n.pValue, "second");

    // A string value gets a buffer of at least 256 bytes.
    const auto shortValue = node(R"(<String Name="n"><Value>abc</Value></String>)");
    const FeatureNode& s = onlyNode(*shortValue);
    EXPECT_EQ(s.Length, 255u);
    ASSERT_EQ(s.StringValue.size(), 256u);
    EXPECT_STREQ(s.StringValue.data(), "abc");

    const std::string text(300, 'q');
    const auto longValue = node("<String Name=\"n\"><Value>" + text + "</Value></String>");
    EXPECT_EQ(onlyNode(*longValue).Length, 300u);
    EXPECT_EQ(onlyNode(*longValue).StringValue.size(), 301u);
}

TEST(FeatureNodes, KeywordsMapToCodesAndOthersKeepTheDefault) {
    const auto expert = node(R"(<Integer Name="n"><Visibility>Expert</Visibility>
        <Representation>HexNumber</Representation><Cachable>WriteAround</Cachable>
        <Sign>Signed</Sign><Endianess>BigEndian</Endianess><pPort>Device</pPort>
        <Slope>Decreasing</Slope><DisplayNotation>Scientific</DisplayNotation>
        <ImposedAccessMode>WO</ImposedAccessMode></Integer>)");
    const FeatureNode& e = onlyNode(*expert);
    EXPECT_EQ(ints(e.Visibility, e.Representation, e.Cachable, e.Sign, e.Endianess, e.portIsDevice,
                   e.Slope, e.DisplayNotation, e.ImposedAccessMode),
              ints(2, 4, kCacheWriteAround, 1, 1, 1, 1, 2, kAccessWO));

    const auto other = node(R"(<Integer Name="n"><Visibility>expert</Visibility>
        <Representation>IPV4Address</Representation><Cachable>Always</Cachable>
        <pPort>EventPort</pPort></Integer>)");
    const FeatureNode& o = onlyNode(*other);
    EXPECT_EQ(ints(o.Visibility, o.Representation, o.Cachable, o.portIsDevice),
              ints(1, 5, kCacheNone, 0));
}

TEST(FeatureNodes, NumbersByKind) {
    const auto integer = node(R"(<Integer Name="n"><Value>0xFFFFFFFFFFFFFFFF</Value>
        <Min>-0x10</Min><Max>99999999999999999999</Max><Inc>0x10</Inc>
        <ValueDefault>0x20</ValueDefault><PollingTime> +250</PollingTime>
        <CommandValue>0x1FFFFFFFF</CommandValue><OnValue>4294967295</OnValue>
        <OffValue>4294967296</OffValue><DisplayPrecision>258</DisplayPrecision></Integer>)");
    const FeatureNode& i = onlyNode(*integer);
    // CommandValue also sets Value; a CommandValue beyond 32 bits and a Max beyond 64 bits are
    // not read.
    EXPECT_EQ(ints(i.Value, i.CommandValue, i.Min, i.Max, i.Inc, i.ValueDefault, i.PollingTime,
                   i.OnValue, i.OffValue, i.DisplayPrecision),
              ints(0x1FFFFFFFF, 0, -16, -1, 16, 32, 250, 0xFFFFFFFF, 0, 2));

    const auto floating = node(R"(<Float Name="n"><Value>1.5e3</Value><Min>-2.25</Min>
        <Max>1E400</Max><Inc>0.5</Inc><ValueDefault>7.75</ValueDefault>
        <ValueIndexed Index="3">2.5</ValueIndexed><ValueIndexed>9</ValueIndexed>
        <pValueIndexed Index="0x104">Other</pValueIndexed></Float>)");
    const FeatureNode& f = onlyNode(*floating);
    EXPECT_EQ((std::vector<double>{f.FloatValue, f.FloatMin, f.FloatMax, f.FloatInc,
                                   f.FloatValueDefault}),
              (std::vector<double>{1500.0, -2.25, INFINITY, 0.5, 7.75}));
    EXPECT_EQ(ints(f.Min, f.Max), ints(0, 0));
    ASSERT_EQ(f.ValueIndexed.size(), 2u);  // the one without Index is skipped
    EXPECT_EQ(ints(f.ValueIndexed[0].index, f.ValueIndexed[0].value, f.ValueIndexed[1].index),
              ints(3, 2, 4));  // 8 bits of 0x104
    EXPECT_EQ(f.ValueIndexed[0].floatValue, 2.5);
    EXPECT_EQ(f.ValueIndexed[1].pValueIndexed, "Other");
}

TEST(FeatureNodes, SubListsKeepDocumentOrderAndAreCapped) {
    std::string element = R"(<SwissKnife Name="n"><pVariable Name="A">a</pVariable>
        <pVariable>unnamed</pVariable><pIndex pOffset="Stride">Sel</pIndex>)";
    for (int k = 0; k < 300; ++k) {
        element += "<pInvalidator>i" + std::to_string(k) + "</pInvalidator>";
    }
    element += "</SwissKnife>";
    const auto built = node(element);
    const FeatureNode& n = onlyNode(*built);
    ASSERT_EQ(n.pVariable.size(), 1u);
    EXPECT_EQ(n.pVariable[0].node, "a");
    EXPECT_EQ(n.pVariable[0].variable, "A");
    EXPECT_EQ(n.pIndex, "Sel");
    EXPECT_EQ(n.pOffset, "Stride");
    ASSERT_EQ(n.pInvalidator.size(), kMaxSubListSize);
    EXPECT_EQ(n.pInvalidator.back(), "i254");
    EXPECT_THAT(built->log.all(), HasSubstr("[WARNING] - Node n has more than 255 elements"));
}

// An invalidator that names no node is logged; selected features move behind their selector.
TEST(PostBuild, InvalidatorsAreCheckedAndSelectedFeaturesMoveBehindTheirSelector) {
    const auto built = buildFlat(R"(
        <Category Name="Root"><pFeature>Analog</pFeature><pFeature>Other</pFeature></Category>
        <Category Name="Analog"><pFeature>Gain</pFeature><pFeature>GainSelector</pFeature>
          <pFeature>Tail</pFeature></Category>
        <Category Name="Other"><pFeature>BlackLevel</pFeature><pFeature>Last</pFeature></Category>
        <Enumeration Name="GainSelector"><pSelected>Gain</pSelected><pSelected>Missing</pSelected>
          <pSelected>BlackLevel</pSelected></Enumeration>
        <Integer Name="Gain"/><Integer Name="BlackLevel"/><Integer Name="Last"/>
        <Integer Name="Tail"><pInvalidator>Last</pInvalidator><pInvalidator>ghost</pInvalidator>
          </Integer>)");
    ASSERT_EQ(built->status, GEV_STATUS_SUCCESS);
    checkInvalidators(*built->model, built->log.sink());
    EXPECT_THAT(built->log.lines,
                ElementsAre("[ERROR] - In node Tail invalidator ghost not found"));
    placeSelectors(*built->model);
    // A name that is not in the list leaves no gap.
    EXPECT_THAT(entries(built->model->features()),
                ElementsAre("Analog/:0", "GainSelector:1", "Gain:2", "BlackLevel:2", "Tail:1",
                            "Other/:0", "Last:1"));
    EXPECT_EQ(built->model->features().maxDepth(), 2);
}

// A selector at the end pulls all its features; selectors that select each other end.
TEST(PostBuild, SelectorsAtTheEndOrInACircle) {
    const auto atEnd = buildFlat(R"(
        <Category Name="Root"><pFeature>LUTValue</pFeature><pFeature>LUTIndex</pFeature>
          <pFeature>LUTSelector</pFeature></Category>
        <Integer Name="LUTSelector"><pSelected>LUTIndex</pSelected>
          <pSelected>LUTValue</pSelected></Integer>
        <Integer Name="LUTIndex"/><Integer Name="LUTValue"/>)");
    ASSERT_EQ(atEnd->status, GEV_STATUS_SUCCESS);
    placeSelectors(*atEnd->model);
    EXPECT_THAT(entries(atEnd->model->features()),
                ElementsAre("LUTSelector:0", "LUTIndex:1", "LUTValue:1"));

    const auto circle = buildFlat(R"(
        <Category Name="Root"><pFeature>A</pFeature><pFeature>B</pFeature>
          <pFeature>C</pFeature></Category>
        <Integer Name="A"><pSelected>B</pSelected><pSelected>A</pSelected></Integer>
        <Integer Name="B"><pSelected>A</pSelected></Integer>
        <Integer Name="C"/>)");
    ASSERT_EQ(circle->status, GEV_STATUS_SUCCESS);
    placeSelectors(*circle->model);
    EXPECT_THAT(entries(circle->model->features()), ElementsAre("B:1", "A:2", "C:0"));
}

std::vector<std::string> rootNames(const FeatureList& list) {
    std::vector<std::string> names;
    for (const GevFeatureEntry* entry = list.head(); entry != nullptr; entry = entry->next) {
        if (entry->level == 0) {
            names.emplace_back(entry->name);
        }
    }
    return names;
}

TEST(SimulatorDescription, ValidatesFlattensAndBuilds) {
    const auto built = buildDescription(readFile(KAVRO_SIM_DESCRIPTION));
    ASSERT_EQ(built->status, GEV_STATUS_SUCCESS) << built->log.all();
    EXPECT_EQ(built->log.lines.size(), 1u) << built->log.all();  // the schema line only
    const FeatureModel& model = *built->model;
    EXPECT_THAT(rootNames(model.features()),
                ElementsAre("DeviceControl", "ImageFormatControl", "AcquisitionControl",
                            "AnalogControl", "LUTControl", "TransportLayerControl", "EventControl",
                            "ClSerialControl", "BankControl", "ChunkDataControl"));
    EXPECT_GT(model.nodes().size(), 150u);
    const std::vector<std::string> all = entries(model.features());
    const auto at = [&all](const std::string& first, size_t count) {
        const auto found = std::find(all.begin(), all.end(), first);
        return std::vector<std::string>(found,
                                        found + std::min<ptrdiff_t>(count, all.end() - found));
    };
    // Selected features sit behind their selectors, nested as deep as the selectors chain.
    EXPECT_THAT(at("GainSelector:1", 5),
                ElementsAre("GainSelector:1", "Gain:2", "GainRaw:2", "BlackLevel:2", "GainAuto:1"));
    EXPECT_THAT(at("LUTSelector:1", 5), ElementsAre("LUTSelector:1", "LUTEnable:2", "LUTIndex:2",
                                                    "LUTValue:3", "LUTEntry:3"));
    EXPECT_EQ(model.features().maxDepth(), 3);
    // Entry symbols never shadow real nodes; the first lifted entry answers its symbol.
    EXPECT_EQ(model.findNode("Gain")->elementName, "Converter");
    EXPECT_EQ(model.findNode("Continuous")->Name, "EnumEntry_AcquisitionMode_Continuous");
    const FeatureNode* lutEntry = model.findNode("LUTEntry");
    ASSERT_NE(lutEntry, nullptr);
    EXPECT_EQ(lutEntry->Address, 0x00101000u);
    EXPECT_EQ(lutEntry->pAddress.size(), 1u);
    EXPECT_EQ(lutEntry->pOffset, "LUTEntry__IndexOffset");
    EXPECT_EQ(model.findNode("TXBufOverflowBit")->LSB, 31);
}

std::string corpus(std::string_view file) {
    return sample(std::string("corpus/") + std::string(file));
}

TEST(DescriptionCorpus, EveryNodeKindOfSchema10AndMalformedDescriptionsRefused) {
    const auto built = buildDescription(corpus("node_kinds_v1_0.xml"));
    ASSERT_EQ(built->status, GEV_STATUS_SUCCESS) << built->log.all();
    const FeatureModel& model = *built->model;
    EXPECT_EQ(model.features().count(), 17u);
    const auto kindOf = [&model](const char* name) {
        const FeatureNode* node = model.findNode(name);
        return node != nullptr ? static_cast<int>(node->kind) : -1;
    };
    // AConfRom inherits from the Register before it.
    EXPECT_EQ(ints(kindOf("AMaskedIntReg"), kindOf("AnIntConverter"), kindOf("ASwissKnife"),
                   kindOf("AConfRom"), kindOf("AKey")),
              ints(2, 2, 3, 8, 8));
    EXPECT_EQ(model.findNode("AnInteger")->Max, INT64_MAX);
    EXPECT_EQ(model.findNode("AFloat")->FloatMin, -150.0);
    EXPECT_EQ(model.findNode("ACommand")->CommandValue, 0xA5u);
    EXPECT_EQ(model.findNode("ABoolean")->Value, 3);  // "true" is the OnValue
    EXPECT_EQ(model.findNode("AnIntConverter")->Slope, 1);
    // An entry already named with the prefix keeps its name; symbols find both entries.
    EXPECT_EQ(model.findNode("Second")->Name, "EnumEntry_AnEnumeration_Second");
    EXPECT_EQ(model.findNode("First")->Name, "EnumEntry_AnEnumeration_First");
    EXPECT_EQ(model.findNode("AnEnumeration")->pEnumEntry.size(), 2u);

    // Malformed descriptions are refused.
    EXPECT_EQ(buildDescription(corpus("not_well_formed.xml"))->status,
              GEV_STATUS_XML_NOT_WELL_FORMED);
    EXPECT_EQ(buildDescription(corpus("not_a_description.xml"))->status, GEV_STATUS_SCHEMA_ERROR);
}

TEST(DescriptionCorpus, GroupsAndStructRegistersOfSchema11) {
    const auto built = buildDescription(corpus("groups_and_structs_v1_1.xml"));
    ASSERT_EQ(built->status, GEV_STATUS_SUCCESS) << built->log.all();
    const FeatureModel& model = *built->model;
    EXPECT_THAT(entries(model.features()),
                ElementsAre("Flags/:0", "Enable:1", "Mode:1", "Level:1"));
    // Struct entries and literal index offsets are flattened as in the 1.1 sample (see the
    // flattening tests); what the node model makes of them:
    const FeatureNode* enable = model.findNode("Enable");
    ASSERT_NE(enable, nullptr);
    EXPECT_EQ(ints(enable->Address, enable->LSB, enable->Cachable),
              ints(0x2000, 31, kCacheWriteThrough));
    EXPECT_EQ(enable->pInvalidator, std::vector<std::string>{"Level"});
    EXPECT_EQ(model.findNode("ModeBits")->AccessMode, kAccessRO);
    const FeatureNode* level = model.findNode("Level");
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(level->pOffset, "Level__IndexOffset");
    ASSERT_EQ(level->ValueIndexed.size(), 2u);
    EXPECT_EQ(ints(level->ValueIndexed[1].index, level->ValueIndexed[1].value), ints(2, 20));
    EXPECT_EQ(model.findNode("Level__IndexOffset")->Value, 2);
    EXPECT_EQ(model.findNode("Fast")->pIsAvailable, "Enable");
}

}  // namespace
}  // namespace kavro::genicam::test
