// The supply side that tarnwell-sim serves: how it splits the wire into commands and answers.

#include "device/link/SimulatedSupply.h"
#include "device/link/scpi/ScpiResponder.h"
#include "device/link/text/TextProtocol.h"
#include "device/link/text/TextResponder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace pslink;
using Commands = std::vector<std::string>;

TEST(SupplyResponder, PlainTextSplitsWithoutTerminatorsOrAtLineFeeds)
{
    const struct
    {
        bool lineTerminated;
        std::vector<std::string> chunks;
        Commands commands;
    } rows[] = {
        {false, {"VSET1:05.00OUT1"}, {"VSET1:05.00", "OUT1"}},
        {false, {"VSE", "T1:0", "5.00"}, {"VSET1:05.00"}},        // split anywhere on the wire
        {false, {"XYZVOUT1?"}, {"XYZ", "VOUT1?"}},                 // garbage comes out whole, for the log
        {false, {"*IDN?\n"}, {"*IDN?"}},                           // a stray LF is no command
        {false, {"ISET", "\r\n1?"}, {"ISET1?"}},                   // ...nor does it end one
        {false, {"OUT"}, {}},                                      // still waiting
        {true, {"*IDN?"}, {}},                                     // firmware that waits for the LF...
        {true, {"*IDN?", "\n"}, {"*IDN?"}},                        // ...completes it when it comes
        {true, {"VSET1:05.00\r\nOUT1\n\n"}, {"VSET1:05.00", "OUT1"}},
        {true, {"*IDN?VOUT1?\n"}, {"*IDN?VOUT1?"}},                // two without the LF: one bad line
        // A line that never ends overflows the unit's buffer and is dropped whole, however split.
        {true, {std::string(3000, 'A'), "\nOUT1\n"}, {"OUT1"}},
        {true, {std::string(1000, 'A'), std::string(1000, 'A') + "\nOUT1\n"}, {"OUT1"}},
    };
    for (const auto& r : rows) {
        SimulatedSupply supply;
        text::TextResponder responder(supply, {}, r.lineTerminated);
        Commands got;
        for (const auto& c : r.chunks)
            for (auto& command : responder.feed(c))
                got.push_back(command);
        EXPECT_EQ(got, r.commands) << r.chunks.front();
    }
}

TEST(SupplyResponder, AnswersInEitherDialectAndStaysSilentWhenHung)
{
    SimulatedSupply supply;
    supply.setLoadOhms(10.0);
    text::TextResponder text(supply, {}, false);
    EXPECT_EQ(text.execute("VSET1:05.00"), "");
    EXPECT_EQ(text.execute("ISET1:1.000"), "");
    EXPECT_EQ(text.execute("OUT1"), "");
    EXPECT_EQ(text.execute("VOUT1?"), "05.00");
    EXPECT_EQ(text.execute("IOUT1?"), "0.500");
    EXPECT_EQ(text.execute("STATUS?"), std::string(1, '\x41'));
    EXPECT_EQ(text.execute("VSET1:1x.00"), ""); // a garbled value changes nothing
    EXPECT_EQ(supply.setCentivolts(), 500);
    EXPECT_TRUE(text.leavesBusy("VSET1:05.00"));
    EXPECT_TRUE(text.leavesBusy("STATUS?"));
    EXPECT_FALSE(text.leavesBusy("VOUT1?"));

    SupplyResponder::Quirks crlf;
    crlf.lineEnd = "\r\n";
    scpi::ScpiResponder scpi(supply, crlf);
    EXPECT_EQ(scpi.feed("volt 2.5\nMEAS:VOLT?\r\n\n*IDN"), (Commands{"volt 2.5", "MEAS:VOLT?\r"}));
    EXPECT_EQ(scpi.execute("volt 2.5"), "");
    EXPECT_EQ(scpi.execute("MEAS:VOLT?\r"), "2.50\r\n");
    EXPECT_EQ(scpi.execute("OUTP:MODE?"), "CV\r\n");
    supply.setLoadOhms(1.0);
    EXPECT_EQ(scpi.execute("OUTP:MODE?"), "CC\r\n");
    EXPECT_EQ(scpi.execute("BOGUS?"), "");
    EXPECT_EQ(scpi.execute("SYST:ERR?"), "-113,\"Undefined header\"\r\n");
    EXPECT_EQ(scpi.execute("SYST:ERR?"), "0,\"No error\"\r\n");

    supply.setAnswering(false);
    EXPECT_EQ(scpi.execute("OUTP OFF"), "");
    EXPECT_TRUE(supply.outputOn()); // a dead supply carries nothing out
    EXPECT_EQ(text.execute("VOUT1?"), "");
}

TEST(SupplyResponder, ATwoChannelPlainTextUnitTakesTheChannelsDigitAndSwitchesBothOutputs)
{
    SimulatedSupply first;
    SimulatedSupply second;
    first.setLoadOhms(10.0);
    second.setLoadOhms(1.0);
    text::TextResponder unit(first, {}, false, {&second});
    EXPECT_EQ(unit.feed("VSET2:07.00ISET2:0.300OUT1VOUT2?"), (Commands{"VSET2:07.00", "ISET2:0.300", "OUT1", "VOUT2?"}));
    const struct
    {
        const char* command;
        std::string reply;
    } rows[] = {
        {"VSET2:07.00", ""}, {"ISET2:0.300", ""}, {"OUT1", ""},
        {"VOUT2?", "00.30"}, {"IOUT2?", "0.300"}, {"VSET2?", "07.00"}, // 7 V into 1 ohm: held at 0.3 A
        {"VOUT1?", "05.00"},                                          // the first channel on its own setpoints
        {"STATUS?", std::string(1, '\x41')},                          // CH1 C.V, CH2 C.C, output on
        {"VSET3:01.00", ""},                                          // no third channel
    };
    for (const auto& r : rows)
        EXPECT_EQ(unit.execute(r.command), r.reply) << r.command;
    EXPECT_TRUE(first.outputOn() && second.outputOn()) << "one switch for both";
    EXPECT_TRUE(unit.changesSupply("ISET2:0.300"));
}

// What old and odd firmware sends, and that the link's parsing takes only what it should.
TEST(SupplyResponder, FirmwareQuirksLeaveTheReadingsIntact)
{
    SimulatedSupply supply;
    supply.setLoadOhms(10.0);
    SupplyResponder::Quirks quirks;
    quirks.identity = "ACMEPSU3005V2.0";
    quirks.isetStray = true;
    quirks.statusNoise = true;
    text::TextResponder unit(supply, quirks, false);
    EXPECT_EQ(unit.execute("*IDN?"), "ACMEPSU3005V2.0");
    EXPECT_EQ(unit.execute("ISET1?"), "1.000S"); // the identity's sixth character tags along

    text::ReplyFramer framer(text::kReadingLength);
    framer.feed(unit.execute("ISET1?"));
    ASSERT_TRUE(framer.complete());
    EXPECT_EQ(text::parseCurrent(*framer.take()), 1000);
    EXPECT_EQ(framer.stray(), "S");

    // Whatever the other bits say, OUT and C.V come from bits 6 and 0 alone.
    for (bool on : {false, true}) {
        supply.setOutput(on);
        int varied = 0;
        for (int i = 0; i < 32; ++i) {
            const std::string byte = unit.execute("STATUS?");
            ASSERT_EQ(byte.size(), 1u);
            varied |= static_cast<unsigned char>(byte[0]) & 0xBE;
            const auto status = text::parseStatus(byte);
            ASSERT_TRUE(status);
            EXPECT_EQ(status->outputOn, on);
            EXPECT_TRUE(status->constantVoltage);
        }
        EXPECT_NE(varied, 0) << "the undefined bits never varied";
    }
}

// A smaller unit as firmware of either kind answers it: the maximum told or the setpoint read
// back for it, a value above it held at the maximum or refused with the error queue saying so.
TEST(SupplyResponder, ScpiMaximumAndRefusedValues)
{
    struct Row
    {
        bool maxAsSetpoint;
        bool refuse;
        const char* maxReply;
        const char* heldAfter;
        const char* error;
    };
    const Row rows[] = {
        {false, false, "30.00\n", "30.00\n", "0,\"No error\"\n"},
        {true, false, "5.00\n", "30.00\n", "0,\"No error\"\n"},
        {false, true, "30.00\n", "5.00\n", "-222,\"Data out of range\"\n"},
    };
    for (const Row& r : rows) {
        SimulatedSupply supply;
        supply.setMaximum(3000, 2000);
        SupplyResponder::Quirks quirks;
        quirks.maxAsSetpoint = r.maxAsSetpoint;
        quirks.refuseOutOfRange = r.refuse;
        scpi::ScpiResponder unit(supply, quirks);
        unit.execute("VOLT 5.00");
        EXPECT_EQ(unit.execute("VOLT? MAX"), r.maxReply);
        unit.execute("VOLT 31.00");
        EXPECT_EQ(unit.execute("VOLT?"), r.heldAfter);
        EXPECT_EQ(unit.execute("SYST:ERR?"), r.error);
        EXPECT_EQ(unit.execute("SYST:ERR?"), "0,\"No error\"\n");
    }
}
