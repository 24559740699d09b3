// The Control page on a serial supply: tarnwell-sim on a pseudo-terminal behind COM1.

#include "support/SimProcess.h"
#include "support/TestFiles.h"

#include "control/ControlItems.h"
#include "control/DlgControl.h"
#include "device/pslink.h"
#include "widgets/ItemIds.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

namespace {

void click(QWidget* page, int nID)
{
    ClickButton(page->findChild<QAbstractButton*>(ItemName(nID)));
}

QString text(QWidget* page, int nID)
{
    return ItemText(*page, nID);
}

bool lamp(QWidget* page, int nID)
{
    return page->findChild<QAbstractButton*>(ItemName(nID))->isChecked();
}

// Connect, then ON: the page runs in user mode on its port's supply.
void ConnectAndRun(CDlgControl* page, SimProcess& sim)
{
    click(page, IDC_CONNECT);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->m_bConnected.load() != 0; }, 8000)) << sim.errors().toStdString();
    click(page, IDC_ON);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->IsTimerActive(CDlgControl::kUserTimer); }, 3000));
}

} // namespace

TEST(DlgControlSerial, RunOnASerialSupplyThatStopsAnsweringIsTriedThenEnds)
{
    SimProcess sim({"--dialect", "text", "--latency", "30", "--baud", "9600", "--load", "10"});
    ASSERT_FALSE(sim.path().isEmpty());
    pslink::SetSimulateAll(false);
    qputenv("TARNWELL_COM1", sim.path().toLocal8Bit()); // dialect found on Connect

    std::uint16_t nLanguage = 0;
    auto page = std::make_unique<CDlgControl>();
    page->m_pLanguage = &nLanguage;
    page->resize(900, 500);
    page->show();

    click(page.get(), IDC_CONNECT);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->m_bConnected.load() != 0; }, 5000));
    click(page.get(), IDC_ON);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->IsTimerActive(CDlgControl::kUserTimer); }, 3000));

    // The readings reach the page through the link thread's cache: 5 V into 10 ohm.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        page->OnTimer(CDlgControl::kUserTimer);
        return text(page.get(), IDC_MEAS_VOLTAGE) == "5.00";
    }, 3000));

    // A supply that never comes back: tried for the time given, then the run ends as a lost link.
    page->m_engine.Run().SetReconnectTime(std::chrono::seconds(2));
    sim.control("hang");
    bool bTried = false;
    qint64 slowestTick = 0;
    const bool ended = QTest::qWaitFor([&] {
        if (page->IsTimerActive(CDlgControl::kUserTimer)) {
            QElapsedTimer tick;
            tick.start();
            page->OnTimer(CDlgControl::kUserTimer);
            slowestTick = std::max(slowestTick, tick.elapsed());
        }
        bTried = bTried || text(page.get(), IDC_CONNECTION) == "Reconnecting...";
        return page->m_bConnected.load() == 0;
    }, 9000);
    ASSERT_TRUE(ended);
    EXPECT_TRUE(bTried) << "the page said it was reconnecting";
    // Far below the 1.5 s a query waits for its reply, with room for a loaded machine.
    EXPECT_LT(slowestTick, 500) << "a tick must never wait for the wire";
    EXPECT_FALSE(page->IsTimerActive(CDlgControl::kUserTimer));
    const int nSamples = page->m_supply.m_nSample.load();
    EXPECT_GE(nSamples, 1) << "the samples before the loss are kept";
    EXPECT_EQ(text(page.get(), IDC_CONNECTION), "DisConnected");

    // The supply is back: connecting again works.
    sim.control("resume");
    click(page.get(), IDC_CONNECT);
    EXPECT_TRUE(QTest::qWaitFor([&] { return page->m_bConnected.load() != 0; }, 5000));

    QElapsedTimer closing;
    closing.start();
    page.reset();
    EXPECT_LT(closing.elapsed(), 2000);
    qunsetenv("TARNWELL_COM1");
}

TEST(DlgControlSerial, ClosingDuringAConnectToASilentSupplyDoesNotWaitForTheProbes)
{
    SimProcess sim({"--dialect", "text"});
    ASSERT_FALSE(sim.path().isEmpty());
    sim.control("hang");
    pslink::SetSimulateAll(false);
    qputenv("TARNWELL_COM1", sim.path().toLocal8Bit()); // no dialect: both probes would run, ~3 s

    auto page = std::make_unique<CDlgControl>();
    page->show();
    click(page.get(), IDC_CONNECT);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->m_engine.Connector().IsConnecting(); }, 5000));

    QElapsedTimer closing;
    closing.start();
    page.reset();
    EXPECT_LT(closing.elapsed(), 1500);

    // Closing in the instant after the worker took Connect, before the connect began: the
    // supply's thread is kept busy until the page is closing.
    page = std::make_unique<CDlgControl>();
    page->show();
    const std::atomic<int>* closingFlag = &page->m_bStop; // the page outlives its worker's connect
    std::atomic<int> held{0};
    page->m_engine.Thread().Post([&held, closingFlag] {
        held = 1;
        while (closingFlag->load() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return held.load() != 0; }, 1000));
    click(page.get(), IDC_CONNECT);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->m_qCommands.Pending().empty(); }, 3000));
    closing.restart();
    page.reset();
    EXPECT_LT(closing.elapsed(), 1500) << "the connect is not started for a closing page";
    qunsetenv("TARNWELL_COM1");
}

TEST(DlgControlSerial, AUnitThatHoldsLessThanThePageAllowsStaysConnectedAndShowsWhatItDoes)
{
    // A 30 V / 3 A unit; the page allows 32 V and 5.1 A.
    SimProcess sim({"--dialect", "text", "--max-volts", "30", "--max-amps", "3", "--load", "100", "--latency", "10"});
    ASSERT_FALSE(sim.path().isEmpty());
    pslink::SetSimulateAll(false);
    qputenv("TARNWELL_COM1", ("text:" + sim.path()).toLocal8Bit());

    std::uint16_t nLanguage = 0;
    auto page = std::make_unique<CDlgControl>();
    page->m_pLanguage = &nLanguage;
    page->show();
    click(page.get(), IDC_CONNECT);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->m_bConnected.load() != 0; }, 5000));

    // 32 V typed and applied, then a run: the link stays up and the readings show the unit's 30 V.
    auto* field = page->findChild<QLineEdit*>(ItemName(IDC_VOLTAGE));
    ASSERT_NE(field, nullptr);
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("32"));
    click(page.get(), IDC_OK);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->findChild<QAbstractButton*>(ItemName(IDC_ON))->isVisible(); }, 5000));
    click(page.get(), IDC_ON);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->IsTimerActive(CDlgControl::kUserTimer); }, 3000));
    // A sample does not wait for the read-backs: the maximum they show comes with a later one.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        page->OnTimer(CDlgControl::kUserTimer);
        return text(page.get(), IDC_MEAS_VOLTAGE) == "30.00" && page->m_engine.Watch().MaxVolts() == 30.0f;
    }, 8000)) << text(page.get(), IDC_MEAS_VOLTAGE).toStdString() << " " << page->m_engine.Watch().MaxVolts();
    EXPECT_EQ(page->m_bConnected.load(), 1);
    EXPECT_EQ(text(page.get(), IDC_CONNECTION), "Device Connected");
    qunsetenv("TARNWELL_COM1");
}

TEST(DlgControlSerial, AModuleAndANetworkUnitRunInTheWindowAndAModulesTripLightsItsLamp)
{
    const struct
    {
        const char* name;
        QStringList simArgs;
        const char* prefix; // before the simulator's path in TARNWELL_COM1
        bool bTrips;
    } rows[] = {
        {"a Modbus module", {"--dialect", "modbus", "--model", "60062", "--trip-after", "5=ovp"}, "modbus:", true},
        {"a SCPI unit on the network", {"--tcp", "0"}, "", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SimProcess sim(row.simArgs + QStringList{"--load", "10", "--latency", "20"});
        ASSERT_FALSE(sim.path().isEmpty());
        pslink::SetSimulateAll(false);
        qputenv("TARNWELL_COM1", (row.prefix + sim.path()).toLocal8Bit());
        std::uint16_t nLanguage = 0;
        auto page = std::make_unique<CDlgControl>();
        page->m_pLanguage = &nLanguage;
        page->show();
        ASSERT_NO_FATAL_FAILURE(ConnectAndRun(page.get(), sim));
        EXPECT_TRUE(QTest::qWaitFor([&] {
            page->OnTimer(CDlgControl::kUserTimer);
            return text(page.get(), IDC_MEAS_VOLTAGE) == "5.00" && lamp(page.get(), IDC_OUT);
        }, 5000)) << text(page.get(), IDC_MEAS_VOLTAGE).toStdString();
        if (row.bTrips) {
            // The module trips: its OVP lamp lights, its output is off, and the run goes on.
            EXPECT_TRUE(QTest::qWaitFor([&] {
                page->OnTimer(CDlgControl::kUserTimer);
                return lamp(page.get(), IDC_OVP) && !lamp(page.get(), IDC_OUT);
            }, 8000));
            EXPECT_TRUE(page->IsTimerActive(CDlgControl::kUserTimer));
        }
        EXPECT_FALSE(lamp(page.get(), IDC_OCP));
        page.reset();
        qunsetenv("TARNWELL_COM1");
    }
}

TEST(DlgControlSerial, TheWindowRunsOnTheSecondChannelThatPortsConfGivesCom3)
{
    SimProcess sim({"--family", "rigol-dp", "--model", "DP832", "--tcp", "0", "--load", "10", "--latency", "20"});
    ASSERT_FALSE(sim.path().isEmpty());
    QTemporaryDir home;
    ASSERT_TRUE(QDir().mkpath(home.filePath("tarnwell")));
    ASSERT_TRUE(WriteTestFile(home.filePath("tarnwell/ports.conf"), "COM3=" + sim.path().toLatin1() + "#ch2\n"));
    const QByteArray before = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    pslink::SetSimulateAll(false);

    std::uint16_t nLanguage = 0;
    auto page = std::make_unique<CDlgControl>();
    page->m_pLanguage = &nLanguage;
    page->show();
    auto* ports = page->findChild<QComboBox*>(ItemName(IDC_PORT));
    ports->setFocus();
    for (int n = 0; n < 3; ++n)
        QTest::keyClick(ports, Qt::Key_Down); // COM1, COM2, COM3
    ASSERT_EQ(page->m_supply.m_nPort.load(), 2);
    ASSERT_NO_FATAL_FAILURE(ConnectAndRun(page.get(), sim));
    EXPECT_TRUE(QTest::qWaitFor([&] {
        page->OnTimer(CDlgControl::kUserTimer);
        return text(page.get(), IDC_MEAS_VOLTAGE) == "5.00" && text(page.get(), IDC_MEAS_CURRENT) == "0.50"
               && lamp(page.get(), IDC_OUT) && lamp(page.get(), IDC_CV);
    }, 5000)) << text(page.get(), IDC_MEAS_VOLTAGE).toStdString();
    page.reset();

    // The connect sequence and the run went to the second channel, and nothing to the first.
    const QStringList commands = sim.log();
    EXPECT_TRUE(commands.contains(":SOUR2:VOLT 5.00") && commands.contains(":OUTP CH2,ON")) << commands.join('|').toStdString();
    for (const QString& command : commands)
        EXPECT_FALSE(command.startsWith(":SOUR1:") || command.startsWith(":OUTP CH1,")) << command.toStdString();
    qputenv("XDG_CONFIG_HOME", before);
}
