#include "device/link/Decimal.h"
#include "device/link/text/TextProtocol.h"

#include <gtest/gtest.h>

#include <clocale>
#include <optional>
#include <string>

using namespace pslink;

TEST(TextProtocol, SetCommandsArePaddedFixedPoint)
{
    const struct
    {
        int counts;
        const char* voltage;
        const char* current;
    } rows[] = {
        {500, "VSET1:05.00", "ISET1:0.500"},
        {1000, "VSET1:10.00", "ISET1:1.000"},
        {5, "VSET1:00.05", "ISET1:0.005"},
        {0, "VSET1:00.00", "ISET1:0.000"},
        {9999, "VSET1:99.99", "ISET1:9.999"},
        {-3, "VSET1:00.00", "ISET1:0.000"},     // never a minus sign on the wire
        {123456, "VSET1:99.99", "ISET1:9.999"}, // nor a sixth character
    };
    for (const auto& r : rows) {
        EXPECT_EQ(text::setVoltageCommand(r.counts), r.voltage) << r.counts;
        EXPECT_EQ(text::setCurrentCommand(r.counts), r.current) << r.counts;
    }
    EXPECT_EQ(text::outputCommand(true), "OUT1");
    EXPECT_EQ(text::outputCommand(false), "OUT0");
    // A two-channel unit takes the channel's digit in place of the 1.
    EXPECT_EQ(text::setVoltageCommand(500, 2), "VSET2:05.00");
    EXPECT_EQ(text::setCurrentCommand(500, 2), "ISET2:0.500");
    EXPECT_EQ(text::onChannel(text::kQueryVoltage, 2), "VOUT2?");
    EXPECT_EQ(text::onChannel(text::kQueryStatus, 2), "STATUS?");
}

TEST(TextProtocol, ReadingsRejectCutAndGarbledReplies)
{
    const struct
    {
        std::string reply;
        std::optional<int> centivolts;
        std::optional<int> milliamps;
    } rows[] = {
        {"12.34", 1234, 9999}, // 12.34 A does not fit a digit buffer: clamped
        {"05.00", 500, 5000},
        {"0.125", 13, 125},
        {"00.00", 0, 0},
        {"12.", std::nullopt, std::nullopt},      // cut in half: must not read as 12 V
        {"1", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"12.345", std::nullopt, std::nullopt},   // a stray byte glued on
        {"\n12.3", std::nullopt, std::nullopt},   // a stray byte in front
        {"1.2.3", std::nullopt, std::nullopt},
        {"-1.00", std::nullopt, std::nullopt},
        {"1e+01", std::nullopt, std::nullopt},
        {"ab.cd", std::nullopt, std::nullopt},
        {"12345", std::nullopt, std::nullopt},    // no point: not this dialect's reading
        {std::string("\0\0.00", 5), std::nullopt, std::nullopt},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(text::parseVoltage(r.reply), r.centivolts) << '"' << r.reply << '"';
        EXPECT_EQ(text::parseCurrent(r.reply), r.milliamps) << '"' << r.reply << '"';
    }
}

TEST(TextProtocol, ReadingsIgnoreTheProcessLocale)
{
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        std::setlocale(LC_NUMERIC, "C.UTF-8");
    EXPECT_EQ(text::parseVoltage("12.34"), 1234);
    EXPECT_EQ(formatCounts(1234, 2, 5), "12.34");
    EXPECT_EQ(formatCounts(1234, 0, 5), "01234"); // whole counts: no point
    std::setlocale(LC_NUMERIC, previous.c_str());
}

TEST(TextProtocol, StatusByteBits)
{
    const struct
    {
        unsigned char byte;
        bool out;
        bool cv;
        int channel = 1;
    } rows[] = {{0x41, true, true}, {0x40, true, false}, {0x01, false, true}, {0x00, false, false},
                {0xFF, true, true}, {0xBE, false, false},
                {0x41, true, false, 2}, {0x42, true, true, 2}, {0x02, false, true, 2}}; // CH2's C.V is bit 1
    for (const auto& r : rows) {
        const auto s = text::parseStatus(std::string(1, static_cast<char>(r.byte)), r.channel);
        ASSERT_TRUE(s) << int(r.byte);
        EXPECT_EQ(s->outputOn, r.out) << int(r.byte);
        EXPECT_EQ(s->constantVoltage, r.cv) << int(r.byte);
    }
    EXPECT_FALSE(text::parseStatus(""));
    EXPECT_FALSE(text::parseStatus("AB"));
}

TEST(TextProtocol, FramerKeepsStrayBytesApart)
{
    text::ReplyFramer framer(5);
    framer.feed("12.");
    EXPECT_FALSE(framer.complete());
    framer.feed("34\n");
    EXPECT_TRUE(framer.complete());
    EXPECT_EQ(framer.reply(), "12.34");
    EXPECT_EQ(framer.stray(), "\n");

    text::ReplyFramer status(1);
    status.feed(std::string("\x41\x41", 2));
    EXPECT_EQ(status.reply(), "A");
    EXPECT_EQ(status.stray(), "A");

    text::ReplyFramer identity(0); // ends only on silence
    identity.feed("ABCDEFGHIJKLMNOP");
    EXPECT_FALSE(identity.complete());
    EXPECT_EQ(identity.reply().size(), 16u);
}
