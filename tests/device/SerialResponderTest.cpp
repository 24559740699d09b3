// The supply side that tarnwell-sim serves: how it splits the wire into commands and answers.

#include "device/link/SimulatedSupply.h"
#include "device/link/scpi/ScpiResponder.h"
#include "device/link/text/TextResponder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace pslink;
using Commands = std::vector<std::string>;

TEST(SerialResponder, PlainTextSplitsWithoutTerminators)
{
    const struct
    {
        std::vector<std::string> chunks;
        Commands commands;
    } rows[] = {
        {{"VSET1:05.00OUT1"}, {"VSET1:05.00", "OUT1"}},
        {{"VSE", "T1:0", "5.00"}, {"VSET1:05.00"}},        // split anywhere on the wire
        {{"XYZVOUT1?"}, {"XYZ", "VOUT1?"}},                 // garbage comes out whole, for the log
        {{"*IDN?\n"}, {"*IDN?"}},                           // a stray LF is no command
        {{"OUT"}, {}},                                      // still waiting
    };
    for (const auto& r : rows) {
        SimulatedSupply supply;
        text::TextResponder responder(supply, {});
        Commands got;
        for (const auto& c : r.chunks)
            for (auto& command : responder.feed(c))
                got.push_back(command);
        EXPECT_EQ(got, r.commands) << r.chunks.front();
    }
}

TEST(SerialResponder, AnswersInEitherDialectAndStaysSilentWhenHung)
{
    SimulatedSupply supply;
    supply.setLoadOhms(10.0);
    text::TextResponder text(supply, {});
    EXPECT_EQ(text.execute("VSET1:05.00"), "");
    EXPECT_EQ(text.execute("ISET1:1.000"), "");
    EXPECT_EQ(text.execute("OUT1"), "");
    EXPECT_EQ(text.execute("VOUT1?"), "05.00");
    EXPECT_EQ(text.execute("IOUT1?"), "0.500");
    EXPECT_EQ(text.execute("STATUS?"), std::string(1, '\x41'));
    EXPECT_EQ(text.execute("VSET1:1x.00"), ""); // a garbled value changes nothing
    EXPECT_EQ(supply.setCentivolts(), 500);

    const SupplyResponder::Quirks crlf{false, true, std::string("\r\n")};
    scpi::ScpiResponder scpi(supply, crlf);
    EXPECT_EQ(scpi.feed("volt 2.5\nMEAS:VOLT?\r\n\n*IDN"), (Commands{"volt 2.5", "MEAS:VOLT?\r"}));
    EXPECT_EQ(scpi.execute("volt 2.5"), "");
    EXPECT_EQ(scpi.execute("MEAS:VOLT?\r"), "2.50\r\n");
    EXPECT_EQ(scpi.execute("OUTP:MODE?"), "CV\r\n");
    supply.setLoadOhms(1.0);
    EXPECT_EQ(scpi.execute("OUTP:MODE?"), "CC\r\n");
    EXPECT_EQ(scpi.execute("BOGUS?"), "");

    supply.setAnswering(false);
    EXPECT_EQ(scpi.execute("OUTP OFF"), "");
    EXPECT_TRUE(supply.outputOn()); // a dead supply carries nothing out
    EXPECT_EQ(text.execute("VOUT1?"), "");
}
