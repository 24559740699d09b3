// The run engine on a plain QCoreApplication against the built-in simulated supply: no widget,
// no worker. Ticks are driven directly; what a front end would show is what the signals carry.
#include "engine/RunEngine.h"
#include "device/PowerSupply.h"
#include "device/link/SimulatedSupply.h"
#include "device/pslink.h"
#include "platform/Dialogs.h"
#include "support/RunTicks.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace {

class RunEngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        pslink::ResetSimulators();
        pslink::SetSimulateAll(true);
        platform::SetDialogHandlers([this](const QString& text) { m_messages.push_back(text); }, {});
        ASSERT_TRUE(m_engine.Connector().Connect().Ok());
        QObject::connect(&m_engine.Run(), &CRun::Sampled, [this](const CRunSample& s) { m_samples.push_back(s); });
        QObject::connect(&m_engine.Run(), &CRun::RunEnded, [this](int nReason) { m_ends.push_back(nReason); });
        QObject::connect(&m_engine.Run(), &CRun::PointApplied,
                         [this](const QString& v, const QString& i, float, float) {
                             m_points.push_back((v + QLatin1Char('/') + i).toStdString());
                         });
    }

    void TearDown() override
    {
        CloseCOM(0);
        platform::SetDialogHandlers({}, {});
        pslink::SetSimulateAll(false);
        pslink::ResetSimulators();
    }

    pslink::SimulatedSupply& Sim() { return *pslink::SimulatorFor(0); }

    QByteArray Saved()
    {
        const QString path = m_dir.filePath(QStringLiteral("record.csv"));
        EXPECT_EQ(m_supply.SaveRecord(path), 1);
        return ReadTestFile(path);
    }

    CPowerSupply m_supply;
    CRunEngine m_engine{m_supply};
    std::vector<CRunSample> m_samples;
    std::vector<int> m_ends;
    std::vector<std::string> m_points;
    std::vector<QString> m_messages;
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(RunEngineTest, UserRunSamplesEachTickUntilOff)
{
    m_engine.Run().StartRun(false, QString(), 0);
    EXPECT_TRUE(m_engine.Run().IsTimerActive(CRun::kUserTimer));
    EXPECT_FALSE(Sim().outputOn()) << "the output goes on with the first sample";

    ASSERT_TRUE(Tick(m_engine.Run(), CRun::kUserTimer));
    ASSERT_TRUE(Tick(m_engine.Run(), CRun::kUserTimer));
    Sim().setLoadOhms(1.0); // the 1 A limit holds: constant current
    ASSERT_TRUE(Tick(m_engine.Run(), CRun::kUserTimer));

    ASSERT_EQ(m_samples.size(), 3u);
    EXPECT_EQ(m_samples[0].nSample, 1);
    EXPECT_EQ(m_samples[0].strVoltage, "5.00");
    EXPECT_EQ(m_samples[0].strCurrent, "0.50") << "two decimals for the current in user mode";
    EXPECT_EQ(m_samples[0].nOutState, 1);
    EXPECT_EQ(m_samples[0].nCvState, 1);
    EXPECT_EQ(m_samples[0].nCcState, 0);
    EXPECT_EQ(m_samples[2].nSample, 3);
    EXPECT_FLOAT_EQ(m_samples[2].fCurrent, 1.0f);
    EXPECT_EQ(m_samples[2].nCvState, 0);
    EXPECT_EQ(m_samples[2].nCcState, 1);

    m_engine.Run().EndRun();
    EXPECT_EQ(m_ends, std::vector<int>{CRun::kEndStopped});
    EXPECT_FALSE(m_engine.Run().IsTimerActive(CRun::kUserTimer));
    EXPECT_FALSE(m_engine.Run().IsRunning());
    EXPECT_TRUE(Sim().outputOn()) << "ending a run leaves the output as it is";
    EXPECT_EQ(Saved(), "Time(S),Voltage(V),Current(A)\r\n1,5.00,0.500\r\n2,5.00,0.500\r\n3,1.00,1.000\r\n");
}

TEST_F(RunEngineTest, ProgramOverTwoCyclesEndsByItself)
{
    const QString path = m_dir.filePath(QStringLiteral("prog.csv"));
    ASSERT_TRUE(WriteTestFile(path, "Time(S),Voltage(V),Current(A)\r\n1,1.00,0.100\r\n2,2.00,0.200\r\n3,3.00,0.300\r\n"));
    Sim().setLoadOhms(100.0);

    m_engine.Run().StartRun(true, path, 2);
    ASSERT_TRUE(m_engine.Run().IsTimerActive(CRun::kProgramTimer));
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(Tick(m_engine.Run(), CRun::kProgramTimer));
    EXPECT_TRUE(m_engine.Run().IsRunning());
    EXPECT_TRUE(m_ends.empty());
    ASSERT_TRUE(Tick(m_engine.Run(), CRun::kProgramTimer)); // finds nothing left to play

    EXPECT_EQ(m_ends, std::vector<int>{CRun::kEndDone});
    EXPECT_FALSE(m_engine.Run().IsRunning());
    EXPECT_FALSE(m_engine.Run().IsTimerActive(CRun::kProgramTimer));
    EXPECT_EQ(m_points, (std::vector<std::string>{"1.00/0.100", "2.00/0.200", "3.00/0.300", "1.00/0.100",
                                                  "2.00/0.200", "3.00/0.300"}));
    ASSERT_EQ(m_samples.size(), 6u);
    EXPECT_EQ(m_samples[5].nSample, 6);
    EXPECT_EQ(m_samples[5].strVoltage, "3.00");
    EXPECT_EQ(m_samples[5].strCurrent, "0.030") << "three decimals in program mode";
    EXPECT_FLOAT_EQ(m_samples[5].fCurrent, 0.03f);
    EXPECT_TRUE(Sim().outputOn());
    EXPECT_EQ(Saved(), "Time(S),Voltage(V),Current(A)\r\n1,1.00,0.100\r\n2,2.00,0.200\r\n3,3.00,0.300\r\n"
                       "4,1.00,0.100\r\n5,2.00,0.200\r\n6,3.00,0.300\r\n");
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(RunEngineTest, LostLinkEndsTheRunClosesTheLinkAndKeepsTheSamples)
{
    m_engine.Run().StartRun(false, QString(), 0);
    ASSERT_TRUE(Tick(m_engine.Run(), CRun::kUserTimer));
    Sim().setAnswering(false);
    ASSERT_TRUE(Tick(m_engine.Run(), CRun::kUserTimer));

    EXPECT_EQ(m_ends, std::vector<int>{CRun::kEndLinkLost});
    EXPECT_FALSE(m_engine.Run().IsRunning());
    EXPECT_FALSE(m_engine.Run().IsTimerActive(CRun::kUserTimer));
    EXPECT_EQ(dsoLinkAlive(0), 0);
    EXPECT_EQ(Sim().Log().back(), "CloseCOM");
    EXPECT_EQ(m_samples.size(), 1u) << "nothing is read from a silent supply";
    EXPECT_EQ(Saved(), "Time(S),Voltage(V),Current(A)\r\n1,5.00,0.500\r\n");
}

TEST_F(RunEngineTest, EveryRunEndsOnceWithItsReason)
{
    const QString program = m_dir.filePath(QStringLiteral("one.csv"));
    ASSERT_TRUE(WriteTestFile(program, "Time(S),Voltage(V),Current(A)\r\n1,1.00,0.100\r\n"));
    const struct
    {
        const char* name;
        QString path;                     // empty: a user run
        std::function<void(CRunEngine&)> end;
        int reason;
        CResult::Kind started;
    } rows[] = {
        {"the last point played", program, [](CRunEngine& e) { Tick(e.Run(), 1); Tick(e.Run(), 1); }, CRun::kEndDone, CResult::kOk},
        {"a program that cannot be read", m_dir.filePath(QStringLiteral("gone.csv")), [](CRunEngine&) {},
         CRun::kEndFileError, CResult::kCannotOpen},
        {"not a record file", m_dir.filePath(QStringLiteral("prog.txt")), [](CRunEngine&) {}, CRun::kEndFileError,
         CResult::kNotCsv},
        {"a front end going away", QString(), [](CRunEngine& e) { e.Run().EndRun(CRun::kEndInterrupted); },
         CRun::kEndInterrupted, CResult::kOk},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        m_ends.clear();
        const CResult started = m_engine.Run().StartRun(!row.path.isEmpty(), row.path, 1);
        EXPECT_EQ(started.nKind, row.started);
        row.end(m_engine);
        EXPECT_EQ(m_ends, std::vector<int>{row.reason});
        EXPECT_FALSE(m_engine.Run().IsRunning());
        EXPECT_FALSE(m_engine.Run().IsTimerActive(CRun::kUserTimer) || m_engine.Run().IsTimerActive(CRun::kProgramTimer));
    }
    EXPECT_TRUE(m_messages.empty()) << "the engine shows no dialog; its caller says what failed";
}

TEST_F(RunEngineTest, ALostLinkIsTriedAgainAndTheGapIsRecordedAsSecondsWithoutReadings)
{
    std::vector<int> events;
    QObject::connect(&m_engine.Run(), &CRun::LinkEvent,
                     [&](int nEvent, const QDateTime&, int, const QString&) { events.push_back(nEvent); });
    m_engine.Run().SetReconnectTime(std::chrono::minutes(10));
    const QString program = m_dir.filePath(QStringLiteral("prog.csv"));
    ASSERT_TRUE(WriteTestFile(program, "Time(S),Voltage(V),Current(A)\r\n1,1.00,0.100\r\n2,2.00,0.200\r\n3,3.00,0.300\r\n"));
    Sim().setLoadOhms(100.0);
    const struct
    {
        const char* name;
        bool bProgram;
        bool bOutputBack; // the supply's output when it answers again
        std::vector<int> ends;
    } rows[] = {
        {"a user run goes on", false, true, {}},
        {"a program goes on from its point", true, true, {}},
        {"a program whose supply lost its power stops", true, false, {CRun::kEndOutputOff}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        events.clear();
        m_ends.clear();
        m_samples.clear();
        const int nTimer = row.bProgram ? CRun::kProgramTimer : CRun::kUserTimer;
        ASSERT_TRUE(m_engine.Run().StartRun(row.bProgram, program, 1).Ok());
        ASSERT_TRUE(Tick(m_engine.Run(), nTimer));
        Sim().setAnswering(false); // the cable is knocked
        ASSERT_TRUE(Tick(m_engine.Run(), nTimer));
        ASSERT_TRUE(Tick(m_engine.Run(), nTimer));
        EXPECT_TRUE(m_engine.Run().IsReconnecting());
        Sim().setOutput(row.bOutputBack);
        Sim().clearLog();
        Sim().setAnswering(true);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !m_engine.Run().IsReconnecting(); }, 5000));
        EXPECT_EQ(events, (std::vector<int>{CRun::kLinkGone, CRun::kLinkBack}));
        EXPECT_EQ(m_ends, row.ends);
        for (const std::string& call : Sim().Log())
            EXPECT_NE(call, "dsoOpenOutput") << "never switched on after a reconnect";
        if (!row.ends.empty())
            continue;
        ASSERT_TRUE(Tick(m_engine.Run(), nTimer));
        // The real run timer may add seconds while the test waits, before the link is back (gaps)
        // or after (readings): one run of gaps from the knock, then readings only.
        const int nLast = static_cast<int>(m_samples.size());
        ASSERT_GE(nLast, 4);
        int nGaps = 0;
        while (1 + nGaps < nLast && m_samples[static_cast<size_t>(1 + nGaps)].bGap)
            ++nGaps;
        EXPECT_GE(nGaps, 2) << "the two seconds without the supply";
        for (int i = 1 + nGaps; i < nLast; ++i)
            EXPECT_FALSE(m_samples[static_cast<size_t>(i)].bGap) << i;
        EXPECT_EQ(m_samples.back().nSample, nLast) << "the seconds kept counting";
        if (row.bProgram) {
            EXPECT_EQ(m_samples[static_cast<size_t>(1 + nGaps)].strVoltage, "2.00")
                << "the program went on at its next point";
            const std::vector<std::string> calls = Sim().Log();
            EXPECT_TRUE(std::find(calls.begin(), calls.end(), "dsoSetVoltage 0,1,0,0") != calls.end())
                << "the point in force was sent again";
        } else {
            QByteArray expected = "Time(S),Voltage(V),Current(A)\r\n1,5.00,0.050\r\n";
            for (int i = 2; i <= nLast; ++i)
                expected += QByteArray::number(i) + (i <= 1 + nGaps ? ",,\r\n" : ",5.00,0.050\r\n");
            EXPECT_EQ(Saved().toStdString(), expected.toStdString());
        }
        m_engine.Run().EndRun();
    }
}
