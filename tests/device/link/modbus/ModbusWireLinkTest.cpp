// Modbus modules end to end: the device library over a pseudo-terminal to tarnwell-sim serving
// the module's side.

#include "support/LinkCalls.h"
#include "support/SimProcess.h"

#include "device/pslink.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string identityOn(const QString& setting)
{
    Com1 com(setting);
    return OpenCOM(0, 0) ? pslink::ReadIdentity(0) : std::string();
}

} // namespace

TEST(ModbusWireLink, EveryLayoutAndScaleOverTheWire)
{
    const struct
    {
        QStringList simArgs;
        QString setting; // %1: the terminal
        const char* identity;
        pslink::UnitMaximum maximum; // the model's, where below 32 V / 5.1 A
    } rows[] = {
        {{"--model", "60062"}, "modbus:%1", "Modbus module 60062 fw 1.28", {0, 0}},
        {{"--model", "60062"}, "%1", "Modbus module 60062 fw 1.28", {0, 0}}, // found by probing
        {{"--model", "5005", "--firmware", "1.10"}, "modbus:%1", "Modbus module 5005 fw 1.10", {0, 5000}},
        {{"--model", "3010"}, "modbus:%1", "Modbus module 3010", {3000, 0}},
        {{"--model", "6005", "--layout", "C", "--decimals", "0x0142", "--address", "2"}, "modbus:%1#2",
         "Modbus module 6005", {0, 5000}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.identity + (" on " + r.setting.toStdString()));
        SimProcess sim(QStringList{"--dialect", "modbus", "--load", "10"} + r.simArgs);
        Com1 com(r.setting.arg(sim.path()));
        ASSERT_TRUE(OpenCOM(0, 0));
        ASSERT_EQ(pslink::ReadIdentity(0), r.identity) << sim.errors().toStdString();
        // The model's maximum holds setpoints back from the start; it is said once one was.
        EXPECT_EQ(pslink::LearnedMaximum(0), pslink::UnitMaximum{});
        dsoCloseOutput(0);
        setPoint(500, 1000);
        dsoOpenOutput(0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return read() == Reading{500, 500, 1, 1, 0}; }, 6000)) << read();
        sim.control("load 2"); // 2.5 A wanted: the 1 A limit holds
        EXPECT_TRUE(QTest::qWaitFor([&] { return read() == Reading{200, 1000, 1, 0, 1}; }, 6000)) << read();
        sim.control("load 100");
        setPoint(3200, 1000); // within the model's maximum, sent as it
        const int volts = r.maximum.centivolts ? r.maximum.centivolts : 3200;
        EXPECT_TRUE(QTest::qWaitFor([&] { return read() == Reading{volts, volts / 10, 1, 1, 0}; }, 6000)) << read();
        EXPECT_EQ(pslink::LearnedMaximum(0), (pslink::UnitMaximum{r.maximum.centivolts, 0}));
        EXPECT_EQ(pslink::ReadProtection(0), 0u);
        EXPECT_EQ(dsoLinkAlive(0), 1);
    }
}

TEST(ModbusWireLink, ATripLightsItsProtectionInEveryLayout)
{
    const struct
    {
        const char* model;
        const char* trip;
        unsigned bit;
    } rows[] = {{"60062", "0.5=ovp", pslink::kOverVoltage},
                {"5005", "0.5=ocp", pslink::kOverCurrent},
                {"3010", "0.5=otp", pslink::kOverTemperature}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.model);
        SimProcess sim({"--dialect", "modbus", "--model", r.model, "--trip-after", r.trip});
        Com1 com("modbus:" + sim.path());
        ASSERT_TRUE(OpenCOM(0, 0));
        ASSERT_FALSE(pslink::ReadIdentity(0).empty());
        dsoOpenOutput(0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return pslink::ReadProtection(0) == r.bit; }, 6000));
        EXPECT_EQ(read().out, 0); // a tripped unit has switched its output off
        EXPECT_EQ(dsoLinkAlive(0), 1);
    }
}

TEST(ModbusWireLink, WhatKeepsAModuleFromAnswering)
{
    // Refused: a model without scales. Its id, and what to do, reach the user.
    SimProcess unknown({"--dialect", "modbus", "--model", "60241", "--layout", "A"});
    {
        Com1 com("modbus:" + unknown.path());
        ASSERT_TRUE(OpenCOM(0, 0));
        EXPECT_EQ(pslink::ReadIdentity(0), "");
        EXPECT_TRUE(pslink::LastOpenError(0).contains("unknown Modbus module model 60241"))
            << pslink::LastOpenError(0).toStdString();
    }

    // Another address: nothing answers, which is no refusal.
    SimProcess atTwo({"--dialect", "modbus", "--address", "2"});
    {
        Com1 com("modbus:" + atTwo.path());
        ASSERT_TRUE(OpenCOM(0, 0));
        EXPECT_EQ(pslink::ReadIdentity(0), "");
        EXPECT_EQ(pslink::LastOpenError(0), "");
    }

    // A module set to 9600 baud: found without a rate written (after 115200), not at 115200.
    SimProcess slowBus({"--dialect", "modbus", "--baud", "9600"});
    EXPECT_EQ(identityOn("modbus:" + slowBus.path()), "Modbus module 60062 fw 1.28");
    EXPECT_EQ(identityOn("modbus:" + slowBus.path() + "@115200"), "");
}

TEST(ModbusWireLink, TheLinkSurvivesADamagedReplyAndLosesASilentModule)
{
    SimProcess sim({"--dialect", "modbus", "--corrupt-every", "5", "--load", "10"});
    Com1 com("modbus:" + sim.path());
    ASSERT_TRUE(OpenCOM(0, 0));
    ASSERT_FALSE(pslink::ReadIdentity(0).empty());
    setPoint(500, 1000);
    dsoOpenOutput(0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return pslink::LastLinkFault(0) == "a reply with a bad CRC"; }, 6000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return read() == Reading{500, 500, 1, 1, 0}; }, 6000)) << read();
    EXPECT_EQ(dsoLinkAlive(0), 1);

    sim.control("hang");
    EXPECT_TRUE(QTest::qWaitFor([&] { return dsoLinkAlive(0) == 0; }, 6000));
    EXPECT_EQ(pslink::LastLinkFault(0), "no reply");
}
