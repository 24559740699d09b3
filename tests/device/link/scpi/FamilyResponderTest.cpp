// tarnwell-sim's units of the families: each family's quirks as the link meets them.

#include "device/link/Protection.h"
#include "device/link/SimulatedSupply.h"
#include "device/link/UnitModels.h"
#include "device/link/scpi/FamilyResponder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace pslink;

TEST(FamilyResponder, EachFamilysQuirks)
{
    using Exchange = std::pair<std::string, std::string>; // a line on the wire, and what comes back
    const struct
    {
        const char* family;
        std::string model;
        std::vector<Exchange> exchanges;
    } rows[] = {
        {"siglent-spd", "SPD3303X",
         {{"CH2:VOLT 7\n", ""}, {"OUTP CH2,ON\n", ""}, {"SYST:STAT?\n", "0x20\n"}, {"*OPC?\n", ""},
          {"CH3:VOLT 1\n", ""}, {"SYST:ERR?\n", "-221,\"Settings conflict\"\n"}}},
        {"keysight-e3631", "E3631A",
         {{"INST:NSEL 3\n", ""}, {"VOLT 5\n", ""}, {"SYST:ERR?\n", "-222,\"Data out of range\"\n"},
          {"VOLT -5\n", ""}, {"VOLT?\n", "-5.00000000E+00\n"}, {"OUTP ON\n", ""}, {"INST:NSEL 1\n", ""},
          {"OUTP?\n", "1\n"}}}, // one switch for all
        {"rs-hmc", "HMC8043",
         {{"INST:NSEL 2\n", ""}, {"VOLT 7\n", ""}, {"OUTP ON\n", ""}, {"MEAS:VOLT?\n", "0.000\n"},
          {"OUTP:MAST ON\n", ""}, {"MEAS:VOLT?\n", "7.000\n"}}},
        {"gw-gpd", "GPD-3303S",
         {{"VSET2:40.000\n", "Data out of range\n"}, {"VSET2:7.000\n", ""}, {"OUT1\n", ""},
          {"VOUT2?\n", "7.000V\n"}, {"STATUS?\n", "11011100\n"}}},
        {"tti", "PL303QMD-P",
         {{"V2 7\n", ""}, {"V2?\n", "V2 7.000\r\n"}, {"OP2 1\n", ""}, {"V2O?\n", "7.000V\r\n"}, {"LSR2?\n", "1\r\n"},
          {"EER?\n", "0\r\n"}}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.family);
        const Family* family = FindFamily(r.family);
        ASSERT_TRUE(family);
        const UnitMatch unit = UnitTable().match(FamilyIdentity(*family, r.model), family->wire);
        std::vector<std::unique_ptr<SimulatedSupply>> channels;
        std::vector<SimulatedSupply*> pointers;
        for (size_t i = 0; i < unit.channels.size(); ++i) {
            channels.push_back(std::make_unique<SimulatedSupply>());
            channels.back()->setLoadOhms(1000.0);
            pointers.push_back(channels.back().get());
        }
        scpi::FamilyResponder responder(*family, r.model, pointers, unit.channels, {});
        for (const auto& [line, reply] : r.exchanges) {
            std::string got;
            for (const std::string& command : responder.feed(line))
                got += responder.execute(command);
            EXPECT_EQ(got, reply) << line;
        }
    }
}

TEST(FamilyResponder, ASecondLineEndBeepsOnAUnitThatTakesOneAndATripIsToldOnceWhereReadingClearsIt)
{
    SimulatedSupply supply;
    const Family& siglent = *FindFamily("siglent-spd");
    scpi::FamilyResponder spd(siglent, "SPD1305X", {&supply}, {{30, 5}}, {});
    EXPECT_EQ(spd.feed("CH1:VOLT 5\r\n\n"),
              (std::vector<std::string>{"CH1:VOLT 5", scpi::FamilyResponder::kBeep, scpi::FamilyResponder::kBeep}));

    const Family& tti = *FindFamily("tti");
    scpi::FamilyResponder pl(tti, "PL303QMD-P", {&supply}, {{30, 3}}, {});
    pl.execute("OP1 1");
    supply.trip(kOverCurrent);
    EXPECT_EQ(pl.execute("LSR1?"), "8\r\n");
    EXPECT_EQ(pl.execute("LSR1?"), "0\r\n");
}
