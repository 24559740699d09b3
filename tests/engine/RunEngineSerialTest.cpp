// The run engine on a serial supply (tarnwell-sim on a pseudo-terminal), whose answers come
// later and on the link's thread: each sample reads what its own tick sent.
#include "engine/RunEngine.h"
#include "device/PowerSupply.h"
#include "device/pslink.h"
#include "support/SimProcess.h"
#include "support/TestFiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

class RunEngineSerialTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        pslink::SetSimulateAll(false);
        m_sim = std::make_unique<SimProcess>(QStringList{"--dialect", "text", "--load", "100"});
        ASSERT_FALSE(m_sim->path().isEmpty());
        m_com1 = std::make_unique<Com1>(m_sim->path());
        ASSERT_EQ(m_supply.Connect(), 1);
        m_engine = std::make_unique<CRunEngine>(m_supply);
        QObject::connect(&m_engine->Run(), &CRun::Sampled, [this](const CRunSample& s) { m_samples.push_back(s); });
        QObject::connect(&m_engine->Run(), &CRun::PointApplied,
                         [this](const QString&, const QString&, float fVolts, float) { m_applied.push_back(fVolts); });
    }

    void TearDown() override
    {
        m_engine.reset();
        m_com1.reset();
        m_sim.reset();
    }

    /// One tick, and its sample once the link has answered.
    void Tick(int nTimer)
    {
        const size_t before = m_samples.size();
        m_engine->Run().OnTimer(nTimer);
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_samples.size() > before; }, 5000)) << "a sample";
    }

    std::unique_ptr<SimProcess> m_sim;
    std::unique_ptr<Com1> m_com1;
    CPowerSupply m_supply;
    std::unique_ptr<CRunEngine> m_engine;
    std::vector<CRunSample> m_samples;
    std::vector<float> m_applied;
};

} // namespace

TEST_F(RunEngineSerialTest, TheFirstSampleOfARunSeesTheOutputOn)
{
    m_engine->Run().StartRun(false, QString(), 0);
    Tick(CRun::kUserTimer);
    ASSERT_EQ(m_samples.size(), 1u);
    EXPECT_EQ(m_samples[0].nSample, 1);
    EXPECT_EQ(m_samples[0].strVoltage, "5.00");
    EXPECT_EQ(m_samples[0].strCurrent, "0.05");
    EXPECT_EQ(m_samples[0].nOutState, 1);
    EXPECT_EQ(m_samples[0].nCvState, 1);

    // OFF while a sample waits for the supply: it is dropped, and nothing arrives afterwards.
    m_engine->Run().OnTimer(CRun::kUserTimer);
    m_engine->Run().EndRun();
    // Had the sample still been on its way, a whole poll later it would have arrived.
    ASSERT_TRUE(m_engine->Commands().WaitForSupply(5000).Ok());
    QCoreApplication::processEvents();
    EXPECT_EQ(m_samples.size(), 1u);

    // Closing with a sample outstanding returns at once.
    m_engine->Run().StartRun(false, QString(), 0);
    m_engine->Run().OnTimer(CRun::kUserTimer);
    QElapsedTimer closing;
    closing.start();
    m_engine.reset();
    CloseCOM(0);
    EXPECT_LT(closing.elapsed(), 1000);
}

TEST_F(RunEngineSerialTest, EachProgramSampleReadsThePointItsTickApplied)
{
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("steps.csv"));
    ASSERT_TRUE(WriteTestFile(program, "Time(S),Voltage(V),Current(A)\r\n1,1.00,1.000\r\n2,2.00,1.000\r\n3,3.00,1.000\r\n"));

    m_engine->Run().StartRun(true, program, 2);
    for (int i = 0; i < 6; ++i)
        Tick(CRun::kProgramTimer);
    std::vector<float> measured;
    for (const CRunSample& sample : m_samples)
        measured.push_back(sample.fVoltage);
    EXPECT_EQ(measured, m_applied) << "no sample trails its point";
    EXPECT_EQ(m_applied, (std::vector<float>{1.0f, 2.0f, 3.0f, 1.0f, 2.0f, 3.0f}));
}

TEST(RunEngineModbus, ASampleCarriesTheModulesReadingsAndItsTrip)
{
    pslink::SetSimulateAll(false);
    SimProcess sim({"--dialect", "modbus", "--model", "5005", "--load", "100", "--trip-after", "3=ovp"});
    Com1 com("modbus:" + sim.path());
    CPowerSupply supply;
    ASSERT_EQ(supply.Connect(), 1);
    CRunEngine engine(supply);
    std::vector<CRunSample> samples;
    QObject::connect(&engine.Run(), &CRun::Sampled, [&](const CRunSample& s) { samples.push_back(s); });
    const auto tick = [&] {
        const size_t before = samples.size();
        engine.Run().OnTimer(CRun::kUserTimer);
        return QTest::qWaitFor([&] { return samples.size() > before; }, 5000);
    };
    engine.Run().StartRun(false, QString(), 0);
    ASSERT_TRUE(tick());
    ASSERT_TRUE(QTest::qWaitFor([] { return pslink::ReadProtection(0) != 0; }, 8000));
    ASSERT_TRUE(tick());
    ASSERT_GE(samples.size(), 2u);
    EXPECT_EQ(samples.front().strVoltage, "5.00");
    EXPECT_EQ(samples.front().strCurrent, "0.05");
    EXPECT_EQ(samples.front().nCvState, 1);
    EXPECT_EQ(samples.back().nProtection, pslink::kOverVoltage);
    EXPECT_EQ(samples.back().nOutState, 0);
    engine.Run().EndRun();
    // Asked for the 5.1 A the page allows, the module gets its model's 5 A, and the engine says so.
    engine.Commands().SetSetpoint(0.0f, 5.1f, 0);
    EXPECT_TRUE(engine.Commands().WaitForSupply(5000).Ok());
    EXPECT_EQ(engine.Watch().MaxAmps(), 5.0f);
}
