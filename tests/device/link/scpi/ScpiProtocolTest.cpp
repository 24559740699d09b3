#include "device/link/scpi/ScpiProtocol.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace pslink;

TEST(ScpiProtocol, Commands)
{
    EXPECT_EQ(scpi::setVoltageCommand(500), "VOLT 5.00");
    EXPECT_EQ(scpi::setVoltageCommand(1234), "VOLT 12.34");
    EXPECT_EQ(scpi::setCurrentCommand(1000), "CURR 1.000");
    EXPECT_EQ(scpi::setCurrentCommand(5), "CURR 0.005");
    EXPECT_EQ(scpi::outputCommand(true), "OUTP ON");
    EXPECT_EQ(scpi::outputCommand(false), "OUTP OFF");
}

TEST(ScpiProtocol, LineEndingsAndCutReplies)
{
    const struct
    {
        std::vector<std::string> chunks;
        std::vector<std::string> lines;
        std::string partial;
    } rows[] = {
        {{"5.00\n"}, {"5.00"}, ""},
        {{"5.00\r\n"}, {"5.00"}, ""},
        {{"5.00\n\r"}, {"5.00"}, ""},
        {{"5.0", "0\r", "\n1.000\r\n"}, {"5.00", "1.000"}, ""}, // split anywhere
        {{"5.00\n\r", "1\n"}, {"5.00", "1"}, ""},                // LF CR's CR arrives with the next
        {{"\r\n\n", "ON\n"}, {"ON"}, ""},                         // blank lines are not replies
        {{"12.3"}, {}, "12.3"},                                   // cut: no line handed out
    };
    for (const auto& r : rows) {
        scpi::LineFramer framer;
        std::vector<std::string> lines;
        for (const auto& c : r.chunks) {
            framer.feed(c);
            while (auto line = framer.takeLine())
                lines.push_back(*line);
        }
        EXPECT_EQ(lines, r.lines) << r.chunks.front();
        EXPECT_EQ(framer.partial(), r.partial);
    }
}

TEST(ScpiProtocol, RepliesParseOrRefuse)
{
    EXPECT_EQ(scpi::parseCounts("5.00", 2), 500);
    EXPECT_EQ(scpi::parseCounts("+5.000E+00", 2), 500);
    EXPECT_EQ(scpi::parseCounts(" 0.125 ", 3), 125);
    EXPECT_EQ(scpi::parseCounts("0.0005", 3), 1);  // rounded, not cut
    EXPECT_EQ(scpi::parseCounts("-0.01", 2), 0);   // a tiny negative offset reads 0
    EXPECT_EQ(scpi::parseCounts("1e9", 2), 9999);  // clamped to what a digit buffer holds
    for (const char* garbage : {"", "ON", "5.00V", "nan", "inf", "5,00", "TARNWELL-SIM V1.0", "--1", "+-5"})
        EXPECT_EQ(scpi::parseCounts(garbage, 2), std::nullopt) << garbage;

    EXPECT_EQ(scpi::parseOnOff("1"), true);
    EXPECT_EQ(scpi::parseOnOff("on"), true);
    EXPECT_EQ(scpi::parseOnOff(" OFF"), false);
    EXPECT_EQ(scpi::parseOnOff("0"), false);
    EXPECT_EQ(scpi::parseOnOff("2"), std::nullopt);
    EXPECT_EQ(scpi::parseOnOff("-113,\"Undefined header\""), std::nullopt);

    EXPECT_EQ(scpi::parseMode("CV"), scpi::Mode::ConstantVoltage);
    EXPECT_EQ(scpi::parseMode("cc"), scpi::Mode::ConstantCurrent);
    EXPECT_EQ(scpi::parseMode("ERR"), std::nullopt);

    // The error queue: the code decides, the whole entry is what the user reads.
    const struct
    {
        const char* line;
        std::optional<int> code;
        bool refused;
    } errors[] = {
        {"-222,\"Data out of range\"", -222, true}, {"+0,\"No error\"", 0, false},
        {" -224,\"Illegal parameter value\"\r", -224, true}, {"-113,\"Undefined header\"", -113, false},
        {"5.00", std::nullopt, false},           {",\"x\"", std::nullopt, false},
        {"-,\"x\"", std::nullopt, false},        {"-1234567,\"x\"", std::nullopt, false},
    };
    for (const auto& e : errors) {
        const auto entry = scpi::parseError(e.line);
        EXPECT_EQ(entry ? std::optional<int>(entry->code) : std::nullopt, e.code) << e.line;
        EXPECT_EQ(entry && entry->refusedValue(), e.refused) << e.line;
    }
    EXPECT_EQ(scpi::parseError(" -222,\"Data out of range\"\r")->text, "-222,\"Data out of range\"");
}

TEST(ScpiProtocol, ModeInferredFromReadings)
{
    using M = scpi::Mode;
    // 5 V into 10 ohm with a 1 A limit: regulating voltage.
    EXPECT_EQ(scpi::inferMode(500, 500, 500, 1000), M::ConstantVoltage);
    // 2 ohm: the current sits on its limit and the voltage sags.
    EXPECT_EQ(scpi::inferMode(200, 1000, 500, 1000), M::ConstantCurrent);
    EXPECT_EQ(scpi::inferMode(200, 999, 500, 1000), M::ConstantCurrent); // reading a count low
    // Both at their setpoints (the boundary): voltage is still regulated.
    EXPECT_EQ(scpi::inferMode(500, 1000, 500, 1000), M::ConstantVoltage);
    EXPECT_EQ(scpi::inferMode(0, 0, 500, 0), M::ConstantVoltage);
}
