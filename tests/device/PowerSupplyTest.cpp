#include "device/PowerSupply.h"
#include "device/link/SimulatedSupply.h"
#include "device/pslink.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

std::array<int, 4> digits(const unsigned char* d)
{
    return {d[0], d[1], d[2], d[3]};
}

class PowerSupplyDevice : public ::testing::Test
{
protected:
    void SetUp() override
    {
        pslink::ResetSimulators();
        qputenv("TARNWELL_COM1", "sim");
    }
    void TearDown() override
    {
        CloseCOM(0);
        qunsetenv("TARNWELL_COM1");
        qunsetenv("TARNWELL_COM2");
        pslink::ResetSimulators();
    }
    pslink::SimulatedSupply& sim() { return *pslink::SimulatorFor(0); }

    // A program already in the program lists (one pass), as LoadFile leaves it for `cycles`.
    void loadProgram(CPowerSupply& ps, const std::vector<std::pair<float, float>>& points, int cycles)
    {
        ps.m_nCycles = cycles;
        int t = 1;
        for (auto [v, i] : points) {
            ps.m_progTime.push_back(t++);
            ps.m_progVoltage.push_back(v);
            ps.m_progCurrent.push_back(i);
        }
        ps.m_nPointsPerCycle = static_cast<int>(points.size());
    }
};

} // namespace

TEST_F(PowerSupplyDevice, ConnectSendsTheSequenceInOrder)
{
    CPowerSupply ps;
    ASSERT_EQ(ps.Connect(), 1);
    EXPECT_EQ(sim().Log(), (std::vector<std::string>{"OpenCOM 0", "dsoReadVersion", "dsoCloseOutput",
                                                     "dsoSetVoltage 0,5,0,0", "dsoSetCurrent 1,0,0,0",
                                                     "dsoOpenPower"}));
    EXPECT_EQ(sim().setCentivolts(), 500);
    EXPECT_EQ(sim().setMilliamps(), 1000);

    // A later connect resends the last setpoints this object sent.
    ps.SetSetpoint(12.5f, 0.0f, 1);
    ps.SetSetpoint(0.0f, 0.25f, 0);
    CloseCOM(0);
    sim().clearLog();
    ASSERT_EQ(ps.Connect(), 1);
    const auto log = sim().Log();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[3], "dsoSetVoltage 1,2,5,0");
    EXPECT_EQ(log[4], "dsoSetCurrent 0,2,5,0");
}

TEST_F(PowerSupplyDevice, ConnectFailures)
{
    CPowerSupply ps;
    ps.m_nPort = 1; // COM2 reaches nothing
    qputenv("TARNWELL_COM2", "/dev/null/not-a-port");
    EXPECT_EQ(ps.Connect(), 0);
    EXPECT_EQ(pslink::SimulatorFor(0), nullptr);

    // The supply does not answer: the sequence stops after the version query.
    ps.m_nPort = 0;
    ASSERT_EQ(OpenCOM(0, 0), 1);
    sim().setAnswering(false);
    CloseCOM(0);
    sim().clearLog();
    EXPECT_EQ(ps.Connect(), 0);
    EXPECT_EQ(sim().Log(), (std::vector<std::string>{"OpenCOM 0", "dsoReadVersion"}));
}

TEST_F(PowerSupplyDevice, SetSetpointSendsOnlyOneKind)
{
    CPowerSupply ps;
    ASSERT_EQ(ps.Connect(), 1);
    sim().clearLog();
    ps.SetSetpoint(7.5f, 3.0f, 1);
    ps.SetSetpoint(7.5f, 3.0f, 0);
    EXPECT_EQ(sim().Log(), (std::vector<std::string>{"dsoSetVoltage 0,7,5,0", "dsoSetCurrent 3,0,0,0"}));
    EXPECT_EQ(digits(ps.m_abSetVoltage), (std::array<int, 4>{0, 7, 5, 0}));
}

TEST_F(PowerSupplyDevice, AUnitAtItsMaximumIsLearnedForOneConnection)
{
    CPowerSupply ps;
    ASSERT_EQ(ps.Connect(), 1);
    sim().setMaximum(3000, 3000); // a 30 V / 3 A unit
    ps.SetSetpoint(32.0f, 0.0f, 1);
    EXPECT_EQ(pslink::LearnedMaximum(0), (pslink::UnitMaximum{3000, 0}));
    ps.SetSetpoint(0.0f, 5.0f, 0);
    EXPECT_EQ(pslink::LearnedMaximum(0), (pslink::UnitMaximum{3000, 3000}));
    EXPECT_EQ(sim().setCentivolts(), 3000);
    EXPECT_EQ(sim().setMilliamps(), 3000);

    ASSERT_EQ(OpenCOM(0, 0), 1); // a new connection learns afresh
    EXPECT_EQ(pslink::LearnedMaximum(0), pslink::UnitMaximum{});
    ASSERT_EQ(ps.Connect(), 1); // which resends 32 V and 5 A
    EXPECT_EQ(pslink::LearnedMaximum(0), (pslink::UnitMaximum{3000, 3000}));
    CloseCOM(0);
    EXPECT_EQ(pslink::LearnedMaximum(0), pslink::UnitMaximum{});
}

TEST_F(PowerSupplyDevice, ProgramPlaysEveryPointOverTheCyclesThenFinishes)
{
    CPowerSupply ps;
    ASSERT_EQ(ps.Connect(), 1);
    loadProgram(ps, {{1.0f, 0.1f}, {2.0f, 0.2f}, {3.0f, 0.3f}}, 2);
    ps.ResetPlayback();
    ps.ExpandProgram();
    EXPECT_EQ(ps.m_nPlayTotal.load(), 6);
    EXPECT_EQ(ps.m_playVoltage.size(), 3u); // one pass, whatever the cycles
    sim().clearLog();

    std::vector<float> played;
    while (true) {
        ps.ApplyNextPoint();
        if (ps.m_bFinished.load())
            break;
        ps.ReadProgramSample();
        played.push_back(ps.m_fVoltage);
        ASSERT_LE(played.size(), 6u);
    }
    EXPECT_EQ(played, (std::vector<float>{1, 2, 3, 1, 2, 3}));
    EXPECT_EQ(ps.m_strSetVoltage, "3.00");
    EXPECT_EQ(ps.m_strSetCurrent, "0.300");
    const auto log = sim().Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "dsoOpenOutput"), 1);
    EXPECT_EQ(log[2], "dsoOpenOutput"); // after the first point's two setpoints
    EXPECT_EQ(log[0], "dsoSetVoltage 0,1,0,0");

    // Samples are numbered from 0 and read back what the simulated 10 ohm load gives.
    ASSERT_EQ(ps.m_logTime.size(), 6u);
    EXPECT_EQ(ps.m_logTime.front(), 0);
    EXPECT_EQ(ps.m_logTime.back(), 5);
    EXPECT_FLOAT_EQ(ps.m_logVoltage[1], 2.0f);
    EXPECT_FLOAT_EQ(ps.m_logCurrent[1], 0.2f);
    EXPECT_EQ(ps.m_strCurrent, "0.300");
    EXPECT_EQ(ps.m_nOutState.load(), 1);
    EXPECT_EQ(ps.m_nCvState.load(), 1);
}

TEST_F(PowerSupplyDevice, AProgramPointFromAFileIsShownAsPrintfRoundsIt)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tie.csv"));
    ASSERT_TRUE(WriteTestFile(path, "Time(S),Voltage(V),Current(A)\r\n1,2.125,0.0625\r\n"));

    CPowerSupply ps;
    ASSERT_EQ(ps.Connect(), 1);
    ASSERT_EQ(ps.LoadFile(path), 1);
    ps.ResetPlayback();
    ps.ExpandProgram();
    sim().clearLog();
    ps.ApplyNextPoint();
    // Exact binary ties go to the even digit, as "%.2f" / "%.3f" write them.
    EXPECT_EQ(ps.m_strSetVoltage, "2.12");
    EXPECT_EQ(ps.m_strSetCurrent, "0.062");
    EXPECT_EQ(sim().Log(), (std::vector<std::string>{"dsoSetVoltage 0,2,1,2", "dsoSetCurrent 0,0,6,2"}));
}

TEST_F(PowerSupplyDevice, ARunWhoseProgramVanishedAfterTheCountEndsAtOnce)
{
    CPowerSupply ps;
    ASSERT_EQ(ps.Connect(), 1);
    sim().clearLog();
    ps.ApplyNextPoint(); // nothing to play
    EXPECT_EQ(ps.m_bFinished.load(), 1);
    EXPECT_TRUE(sim().Log().empty());

    // Chosen (counted), then removed before ON loads it: points announced, none held.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("gone.csv"));
    ASSERT_TRUE(WriteTestFile(path, "h\n1,1,0.1\n2,2,0.2\n"));
    ps.m_bCountOnly = 1;
    ASSERT_EQ(ps.LoadFile(path), 1);
    ps.m_bCountOnly = 0;
    ASSERT_TRUE(QFile::remove(path));
    ps.m_bFinished = 0;
    ps.ResetPlayback();
    ps.m_nCycles = 3;
    testing::internal::CaptureStderr(); // the failed load's message
    EXPECT_EQ(ps.LoadFile(path), 0);
    testing::internal::GetCapturedStderr();
    ps.ExpandProgram();
    EXPECT_EQ(ps.m_nPlayTotal.load(), 6);
    ps.ApplyNextPoint();
    EXPECT_EQ(ps.m_bFinished.load(), 1);
    EXPECT_EQ(ps.m_nPlayIndex.load(), 0);
    EXPECT_TRUE(sim().Log().empty());
}

TEST_F(PowerSupplyDevice, UserModeKeepsTheNewest35SamplesAndEveryRow)
{
    CPowerSupply ps;
    ASSERT_EQ(ps.Connect(), 1);
    ps.SetSetpoint(5.0f, 0, 1);
    ps.SetSetpoint(0, 0.25f, 0); // 5 V over 10 ohms wants 0.5 A: constant current at 0.25 A
    ps.m_bOpenOutput = 1;
    for (int i = 0; i < 36; ++i)
        ps.ReadRecordSample();
    EXPECT_EQ(ps.m_nWindow.load(), 35);
    EXPECT_EQ(ps.m_logTime.size(), 35u);
    EXPECT_EQ(ps.m_logTime.front(), 2); // the 36th sample dropped the 1st
    EXPECT_EQ(ps.m_rows.size(), 36u);
    EXPECT_EQ(ps.m_rows.front(), "1,2.50,0.250\n");
    EXPECT_EQ(ps.m_nCcState.load(), 1);
    EXPECT_EQ(ps.m_nCvState.load(), 0);
    EXPECT_EQ(ps.m_nOutState.load(), 1);
    EXPECT_EQ(ps.m_bOpenOutput.load(), 0);
    const auto log = sim().Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "dsoOpenOutput"), 1);

    std::vector<float> volts;
    EXPECT_EQ(ps.CopySeries(volts, 1), 35);
    EXPECT_FLOAT_EQ(volts.front(), 2.5f);
    std::vector<float> none{1.0f};
    EXPECT_EQ(ps.CopySeries(none, 3), 0);
    EXPECT_EQ(ps.m_nWindow.load(), 0);
    float raw[35];
    EXPECT_EQ(ps.CopySeries(raw, 2), 35);
    EXPECT_FLOAT_EQ(raw[34], 0.25f);
}

TEST_F(PowerSupplyDevice, DisplayModeExpandsIntoTheSampleLog)
{
    CPowerSupply ps;
    ps.m_bDisplayMode = 1;
    loadProgram(ps, {{1.0f, 0.1f}, {2.0f, 0.2f}}, 1);
    ps.ExpandProgram();
    EXPECT_EQ(ps.m_logVoltage, (std::deque<float>{1.0f, 2.0f}));
    EXPECT_TRUE(ps.m_playVoltage.empty());
    EXPECT_EQ(ps.m_nPlayTotal.load(), 0);

    ps.m_nCycles = 0; // no passes at all
    ps.ExpandProgram();
    EXPECT_TRUE(ps.m_logVoltage.empty());
}

TEST_F(PowerSupplyDevice, TheSimulatorsCallLogKeepsTheNewestEntries)
{
    ASSERT_EQ(OpenCOM(0, 0), 1);
    sim().clearLog();
    const size_t max = pslink::SimulatedSupply::kMaxLogEntries;
    for (size_t i = 0; i < max + 5; ++i)
        sim().appendLog(std::to_string(i));
    const auto log = sim().Log();
    ASSERT_EQ(log.size(), max);
    EXPECT_EQ(log.front(), "5");
    EXPECT_EQ(log.back(), std::to_string(max + 4));
}
