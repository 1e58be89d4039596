// Descriptions whose references lead back to a node being evaluated, or nest without end, stop
// with a status and a log line.
#include <string>

#include "tests/features/node_test_support.h"

namespace kavro::test {
namespace {

using NodeCycle = NodeValueTest;

TEST_F(NodeCycle, AddressThroughItsOwnAliasIsACycle) {
    uint64_t value = 0;
    EXPECT_EQ(readInt("LoopAlias", value), GEV_STATUS_REFERENCE_CYCLE);
    EXPECT_TRUE(LogCapture::instance().contains("[ERROR] - Reference cycle at node LoopReg."));
    EXPECT_EQ(writeInt("LoopReg", 1), GEV_STATUS_REFERENCE_CYCLE);
    EXPECT_EQ(sentCommands(), 0u);
}

TEST_F(NodeCycle, VariableNamingItsOwnFormulaIsACycle) {
    uint64_t value = 0;
    EXPECT_EQ(readInt("SelfKnife", value), GEV_STATUS_REFERENCE_CYCLE);
    double real = 0;
    EXPECT_EQ(readDouble("SelfKnife", real), GEV_STATUS_REFERENCE_CYCLE);
}

TEST_F(NodeCycle, ConverterWithoutDataHolderIsACycleOnWrite) {
    EXPECT_EQ(writeInt("HeadlessUser", 3), GEV_STATUS_REFERENCE_CYCLE);
    EXPECT_TRUE(LogCapture::instance().contains("[ERROR] - Reference cycle at node Headless."));
}

// A chain of swiss knives, each reading the next; the last one is a plain Integer holding 1.
std::string knifeChain(int length) {
    std::string text = R"(<?xml version="1.0" encoding="utf-8"?>
<RegisterDescription ModelName="KV-CHAIN" VendorName="Kavro" StandardNameSpace="None"
    SchemaMajorVersion="1" SchemaMinorVersion="1" SchemaSubMinorVersion="0"
    MajorVersion="1" MinorVersion="0" SubMinorVersion="0"
    ProductGuid="0F0E0D0C-0B0A-0908-0706-050403020100"
    VersionGuid="00010203-0405-0607-0809-0A0B0C0D0E0F"
    xmlns="http://www.genicam.org/GenApi/Version_1_1">
  <Category Name="Root"><pFeature>K0</pFeature></Category>
)";
    for (int i = 0; i < length; ++i) {
        text += "  <IntSwissKnife Name=\"K" + std::to_string(i) + "\"><pVariable Name=\"N\">K" +
                std::to_string(i + 1) + "</pVariable><Formula>N + 1</Formula></IntSwissKnife>\n";
    }
    text += "  <Integer Name=\"K" + std::to_string(length) + "\"><Value>1</Value></Integer>\n";
    text += "</RegisterDescription>\n";
    return text;
}

TEST_F(NodeCycle, DeepChainsStopAtTheDepthLimit) {
    auto shallow = loadModelText(knifeChain(60));
    ASSERT_NE(shallow, nullptr);
    uint64_t value = 0;
    ASSERT_EQ(features::readInteger(kDevice, *shallow, "K0", value), GEV_STATUS_SUCCESS);
    EXPECT_EQ(value, 61u);

    auto deep = loadModelText(knifeChain(200));
    ASSERT_NE(deep, nullptr);
    EXPECT_EQ(features::readInteger(kDevice, *deep, "K0", value), GEV_STATUS_REFERENCE_CYCLE);
    EXPECT_TRUE(
        LogCapture::instance().contains("[ERROR] - Reference chain deeper than 64 at node K64."));
}

}  // namespace
}  // namespace kavro::test
