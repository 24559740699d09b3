// The brand families as data: which family and model an identity answer is, what each channel
// holds, the user's additions, and every family's commands and replies as its row spells them.

#include "device/link/UnitModels.h"
#include "device/link/scpi/FamilyCommands.h"

#include <gtest/gtest.h>

#include <string>

using namespace pslink;

TEST(Families, EachFamilyIsChosenByItsIdentityInEveryFormUnitsAnswer)
{
    const struct
    {
        std::string identity;
        Wire wire;
        const char* family; ///< nullptr: none
        std::string model;
        std::string serial;
        size_t channels;
        bool rated;
    } rows[] = {
        {"RIGOL TECHNOLOGIES,DP832,DP8C1,00.01.16", Wire::Scpi, "rigol-dp", "DP832", "DP8C1", 3, true},
        {"RIGOL TECHNOLOGIES DP832A DP8C1 00.01.16", Wire::Scpi, "rigol-dp", "DP832A", "DP8C1", 3, true}, // no commas
        {"Siglent Technologies,SPD3303X-E,SPD3X1,1.01.01.02.05,V3.0", Wire::Scpi, "siglent-spd", "SPD3303X-E",
         "SPD3X1", 3, true}, // five fields
        {"Keysight Technologies,E36312A,MY1,1.0.4", Wire::Scpi, "keysight-e36", "E36312A", "MY1", 3, true},
        {"HEWLETT-PACKARD,E3631A,0,2.1-5.0-1.0", Wire::Scpi, "keysight-e3631", "E3631A", "0", 3, true},
        {"Agilent Technologies,E3646A,0,1.4", Wire::Scpi, "keysight-e3631", "E3646A", "0", 3, false},
        {"HAMEG,HMC8043,123,HW5002,SW2.51", Wire::Scpi, "rs-hmc", "HMC8043", "123", 3, true},
        {"Rohde&Schwarz,NGE102B,5601,1.54", Wire::Scpi, "rs-nge", "NGE102B", "5601", 2, true},
        {"GW INSTEK,GPD-3303S,SN:EM8000001,V2.00", Wire::Scpi, "gw-gpd", "GPD-3303S", "EM8000001", 2, true},
        {"GW INSTEK,GPP-4323,SN:GEP1,V1.00", Wire::Scpi, "gw-gpp", "GPP-4323", "GEP1", 4, false},
        {"THURLBY THANDAR, PL303QMD-P, 514321, 3.02-4.06", Wire::Scpi, "tti", "PL303QMD-P", "514321", 2, true},
        {"ACME PSU3305 V2.0", Wire::PlainText, "text2", "PSU3305", "V2.0", 2, true},
        {"ACME PSU3305 V2.0", Wire::Scpi, nullptr, "PSU3305", "V2.0", 0, false}, // not over this wire
        {"ACME LAN-PSU 30V3A", Wire::Scpi, nullptr, "LAN-PSU", "30V3A", 0, false},
    };
    const UnitTable table;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.identity);
        const UnitMatch unit = table.match(r.identity, r.wire);
        EXPECT_EQ(unit.family ? std::string(unit.family->name) : std::string("none"), r.family ? r.family : "none");
        EXPECT_EQ(unit.fields.model, r.model);
        EXPECT_EQ(unit.fields.serial, r.serial);
        EXPECT_EQ(unit.channels.size(), r.channels);
        EXPECT_EQ(unit.rated, r.rated);
    }
}

TEST(Families, AChannelIsRefusedNamingTheChannelsTheUnitHasAndEachHoldsItsModelsMaxima)
{
    const struct
    {
        std::string identity;
        int channel;
        std::string refusal; ///< contained; empty: driven
        UnitMaximum maximum;
        std::string notice; ///< contained
    } rows[] = {
        {"RIGOL TECHNOLOGIES,DP832,1,1", 3, "", {500, 3000}, ""},
        {"RIGOL TECHNOLOGIES,DP832,1,1", 4, "the DP832 has channels 1, 2 and 3, not channel 4", {}, ""},
        {"RIGOL TECHNOLOGIES,DP821A,1,1", 2, "", {800, 9999}, ""}, // 10 A: more than a count holds
        {"Siglent Technologies,SPD3303X,1,1,1", 3,
         "channel 3 of the SPD3303X is a fixed output that can only be switched on its front panel; it has "
         "channels 1 and 2 to drive",
         {}, ""},
        {"HEWLETT-PACKARD,E3631A,0,1", 3, "", {2500, 1000}, "channel 3 of the E3631A is a negative output"},
        {"GW INSTEK,GPD-3303S,SN:1,V1", 2, "", {3200, 3200}, "switches the outputs of all its channels together"},
        {"ACME LAN-PSU 30V3A", 1, "", {}, ""},
        {"ACME LAN-PSU 30V3A", 2, "of no known family and is driven as one channel: channel 1 only, not 2", {}, ""},
    };
    const UnitTable table;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.identity + " #ch" + std::to_string(r.channel));
        const UnitMatch unit = table.match(r.identity, Wire::Scpi);
        const std::string refusal = channelRefusal(unit, r.channel);
        EXPECT_EQ(refusal.empty(), r.refusal.empty()) << refusal;
        EXPECT_NE(refusal.find(r.refusal), std::string::npos) << refusal;
        if (refusal.empty()) {
            EXPECT_EQ(channelMaximum(unit, r.channel), r.maximum);
        }
        EXPECT_NE(unitNotice(unit, r.channel).find(r.notice), std::string::npos);
    }
}

TEST(Families, UserModelsAddRebrandedUnitsOverrideTheTableAndBadLinesAreNamed)
{
    UnitTable table;
    const auto issues = table.read("# a rebranded three-channel unit\n"
                                   "ACME*,XP832,rigol-dp,30/3,30V/3A,5/3\n"
                                   "RIGOL TECHNOLOGIES,DP832,rigol-dp,20/2\n"
                                   "bad,line\n"
                                   "x,y,no-such,1/1\n"
                                   "x,y,rigol-dp,30\n"
                                   "\n"
                                   "OTHER,E3631X,keysight-e3631,6/5,-25/1,fixed\n");
    ASSERT_EQ(issues.size(), 3u);
    EXPECT_EQ(issues[0].rfind("line 4: expected a maker pattern", 0), 0u) << issues[0];
    EXPECT_EQ(issues[1].rfind("line 5: no family \"no-such\"", 0), 0u) << issues[1];
    EXPECT_EQ(issues[2].rfind("line 6: channel 1 is not VOLTS/AMPS", 0), 0u) << issues[2];

    const UnitMatch rebrand = table.match("ACME Instruments,XP832,1,1", Wire::Scpi);
    ASSERT_TRUE(rebrand.family);
    EXPECT_STREQ(rebrand.family->name, "rigol-dp");
    EXPECT_EQ(channelMaximum(rebrand, 2), (UnitMaximum{3000, 3000}));
    EXPECT_EQ(channelMaximum(table.match("RIGOL TECHNOLOGIES,DP832,1,1", Wire::Scpi), 1), (UnitMaximum{2000, 2000}));
    const UnitMatch other = table.match("OTHER,E3631X,1,1", Wire::Scpi);
    EXPECT_TRUE(negativeChannel(other, 2));
    EXPECT_NE(channelRefusal(other, 3).find("fixed output"), std::string::npos);
}

TEST(FamilyCommands, EveryFamilysCommandsAndRepliesReadBackAsTheyWereMeant)
{
    for (const Family& f : Families()) {
        if (f.wire != Wire::Scpi)
            continue;
        SCOPED_TRACE(f.name);
        const int channel = std::min(f.maxChannels, 2);
        for (const char* pattern : {f.setVoltage, f.setCurrent}) {
            const std::string sent = scpi::expand(pattern, channel, scpi::valueText(1234, 2, f.voltDecimals, true));
            int heardChannel = channel;
            std::string value;
            ASSERT_TRUE(scpi::matchCommand(pattern, sent, heardChannel, value)) << sent;
            EXPECT_EQ(heardChannel, channel);
            EXPECT_EQ(value, f.voltDecimals == 3 ? "-12.340" : "-12.34");
        }
        for (const Query* q : {&f.setVoltageQuery, &f.setCurrentQuery, &f.voltageReading, &f.currentReading}) {
            const std::string reply = scpi::answerText(q->answer, channel, 512, 3, false);
            EXPECT_EQ(scpi::readValue(q->answer, channel, reply, 3, false), 512) << reply;
            EXPECT_EQ(scpi::readValue(q->answer, channel, scpi::answerText(q->answer, channel, 512, 3, true), 3, true), 512);
            EXPECT_EQ(scpi::readValue(q->answer, channel, scpi::answerText(q->answer, channel, 0, 3, true), 3, true), 0);
            EXPECT_EQ(scpi::readValue(q->answer, channel, "0.512", 3, false), 512); // a plain number too
            EXPECT_EQ(scpi::readValue(q->answer, channel, "Data out of range", 3, false), std::nullopt);
        }
        for (const bool on : {false, true}) {
            for (const bool cc : {false, true}) {
                std::vector<scpi::ChannelShown> shown(static_cast<size_t>(channel), {on, cc, 0});
                const auto mode = scpi::readMode(f.modeReply, scpi::modeText(f.modeReply, shown, channel), channel);
                ASSERT_EQ(mode.has_value(), f.modeReply != ModeReply::Inferred);
                if (!mode)
                    continue;
                EXPECT_EQ(mode->outputOn.value_or(on), on);
                if (on) {
                    EXPECT_EQ(mode->constantCurrent, cc);
                }
            }
        }
    }
    // A unit that clears its limit status on reading tells a trip in it once.
    const auto tripped = scpi::readMode(ModeReply::LimitStatus, scpi::modeText(ModeReply::LimitStatus, {{false, false, 1}}, 1), 1);
    ASSERT_TRUE(tripped);
    EXPECT_EQ(tripped->protection, 1u);
}
