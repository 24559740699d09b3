// Runs of the Control page. Ticks are driven directly; a command goes through the button and the
// worker where that path is the point, and runs at once on this thread where only its effect is.
#include "DlgControlFixture.h"

#include "record/StaticWave.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QRadioButton>
#include <QThread>

#include <chrono>
#include <string>
#include <thread>

namespace {

const QByteArray kHeader = "Time(S),Voltage(V),Current(A)\r\n";

bool Checked(QCheckBox* box)
{
    return box->isChecked();
}

} // namespace

class DlgControlRunTest : public DlgControlTest
{
protected:
    void StartRunByButton(int nTimer)
    {
        Click(1023);
        ASSERT_TRUE(WaitFor([&] { return m_page->IsTimerActive(nTimer) && Enabled(1022); }));
        EXPECT_TRUE(m_page->m_engine.Run().IsRunning());
    }

    void StartRun(int nTimer)
    {
        Execute(CMD_ON, 0);
        ASSERT_TRUE(m_page->IsTimerActive(nTimer));
        EXPECT_TRUE(Enabled(1022));
        EXPECT_TRUE(m_page->m_engine.Run().IsRunning());
    }

    /// Program mode with a three-point file, `cycles` passes.
    void ChooseProgram(const char* cycles)
    {
        m_nextFile = WriteFile(QStringLiteral("prog.csv"),
                               kHeader + "1,1.00,0.100\r\n2,2.00,0.200\r\n3,3.00,0.300\r\n");
        Click(1031);
        Item<QLineEdit>(1037)->setText(QString::fromLatin1(cycles));
    }

    std::vector<std::string> SetpointLog() const
    {
        std::vector<std::string> sent;
        for (const std::string& entry : Sim()->Log()) {
            if (entry.rfind("dsoSet", 0) == 0 || entry == "dsoOpenOutput" || entry == "dsoCloseOutput")
                sent.push_back(entry);
        }
        return sent;
    }

    QByteArray SaveData()
    {
        const QString path = m_dir.filePath(QStringLiteral("record.csv"));
        m_nextFile = path;
        Click(1040);
        return ReadFile(path);
    }
};

TEST_F(DlgControlRunTest, UserRunShowsReadingsLampsAndSavesTheRecord)
{
    Connect();
    auto sim = Sim();
    StartRunByButton(CDlgControl::kUserTimer);
    EXPECT_FALSE(Enabled(1023));
    EXPECT_FALSE(Enabled(1040));
    EXPECT_EQ(m_page->m_wave->m_bDrawWaves.load(), 1);

    // 5 V into 10 ohms: constant voltage, 0.5 A, the current with two decimals.
    Tick(CDlgControl::kUserTimer);
    EXPECT_TRUE(sim->outputOn());
    EXPECT_EQ(Text(1005), "5.00");
    EXPECT_EQ(Text(1007), "0.50");
    EXPECT_TRUE(Checked(Item<QCheckBox>(1017)));
    EXPECT_TRUE(Checked(Item<QCheckBox>(1015)));
    EXPECT_FALSE(Checked(Item<QCheckBox>(1018)));
    EXPECT_EQ(Text(1042), "1");

    for (int i = 0; i < 40; ++i)
        Tick(CDlgControl::kUserTimer);
    const int nChange = m_page->m_supply.m_nSample.load();
    EXPECT_EQ(nChange, 41);
    EXPECT_EQ(Text(1042), "41");
    {
        std::lock_guard<std::mutex> guard(m_page->m_supply.m_hLock);
        EXPECT_EQ(m_page->m_supply.m_logVoltage.size(), 35u) << "the live window keeps 35 samples";
        EXPECT_EQ(m_page->m_supply.m_logTime.back(), 41);
        EXPECT_EQ(m_page->m_supply.m_rows.size(), 41u);
    }

    // 1 ohm: the 1 A limit holds, constant current.
    sim->setLoadOhms(1.0);
    Tick(CDlgControl::kUserTimer);
    EXPECT_EQ(Text(1005), "1.00");
    EXPECT_EQ(Text(1007), "1.00");
    EXPECT_TRUE(Checked(Item<QCheckBox>(1018)));
    EXPECT_FALSE(Checked(Item<QCheckBox>(1015)));

    Execute(CMD_OFF, 0);
    EXPECT_TRUE(Enabled(1023));
    EXPECT_FALSE(m_page->IsTimerActive(CDlgControl::kUserTimer));
    EXPECT_FALSE(Enabled(1022));
    EXPECT_TRUE(Enabled(1040));
    EXPECT_FALSE(m_page->m_engine.Run().IsRunning());
    EXPECT_TRUE(sim->outputOn()) << "stopping a run leaves the output as it is";

    QByteArray expected = kHeader;
    const int nSamples = m_page->m_supply.m_nSample.load();
    for (int n = 1; n <= nSamples; ++n)
        expected += QByteArray::number(n) + (n <= nChange ? ",5.00,0.500\r\n" : ",1.00,1.000\r\n");
    EXPECT_EQ(SaveData(), expected);
    ASSERT_FALSE(m_requests.empty());
    EXPECT_TRUE(m_requests.back().save);
    EXPECT_EQ(m_requests.back().title, "Save Data As CSV...");
    EXPECT_EQ(m_requests.back().filter, "CSV File(*.csv)|*.csv||");
}

TEST_F(DlgControlRunTest, ProgramRunPlaysEveryCycleAndEndsByItself)
{
    Connect();
    auto sim = Sim();
    sim->setLoadOhms(100.0);
    ChooseProgram("2");
    ASSERT_EQ(m_requests.size(), 1u);
    EXPECT_FALSE(m_requests[0].save);
    EXPECT_EQ(m_requests[0].title, "Open File...");
    EXPECT_EQ(m_requests[0].filter, "Program Files(*.csv)|*.csv|");
    EXPECT_EQ(m_requests[0].defaultExt, ".set");
    EXPECT_EQ(Text(1033), *m_nextFile);
    EXPECT_EQ(Text(1035), "3");
    for (int id : {1033, 1035, 1037})
        EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_TRUE(Item<QRadioButton>(1031)->isChecked());

    sim->clearLog();
    StartRun(CDlgControl::kProgramTimer);
    Tick(CDlgControl::kProgramTimer);
    EXPECT_EQ(Text(1004), "1.00");
    EXPECT_EQ(Text(1006), "0.100");
    EXPECT_EQ(Text(1005), "1.00");
    EXPECT_EQ(Text(1007), "0.010") << "three decimals in program mode";
    EXPECT_EQ(Text(1042), "1");
    EXPECT_FALSE(Shown(1024)) << "the program's preset writes are not typing";
    EXPECT_TRUE(Shown(1022));
    for (int i = 0; i < 5; ++i)
        Tick(CDlgControl::kProgramTimer);
    EXPECT_EQ(Text(1042), "6");
    EXPECT_EQ(Text(1004), "3.00");
    EXPECT_EQ(SetpointLog(),
              (std::vector<std::string>{"dsoSetVoltage 0,1,0,0", "dsoSetCurrent 0,1,0,0", "dsoOpenOutput",
                                        "dsoSetVoltage 0,2,0,0", "dsoSetCurrent 0,2,0,0", "dsoSetVoltage 0,3,0,0",
                                        "dsoSetCurrent 0,3,0,0", "dsoSetVoltage 0,1,0,0", "dsoSetCurrent 0,1,0,0",
                                        "dsoSetVoltage 0,2,0,0", "dsoSetCurrent 0,2,0,0", "dsoSetVoltage 0,3,0,0",
                                        "dsoSetCurrent 0,3,0,0"}));

    // The tick after the last point finishes; the worker ends the run within a pass: at the latest
    // by the end of the first pass that begins after the tick.
    Tick(CDlgControl::kProgramTimer);
    const int pass = m_page->m_nPass.load();
    ASSERT_TRUE(WaitFor([&] { return Enabled(1023) || m_page->m_nPass.load() >= pass + 2; }));
    EXPECT_TRUE(Enabled(1023));
    EXPECT_FALSE(m_page->IsTimerActive(CDlgControl::kProgramTimer));
    EXPECT_TRUE(Enabled(1040));
    EXPECT_FALSE(Enabled(1022));
    EXPECT_FALSE(m_page->m_engine.Run().IsRunning());
    EXPECT_EQ(m_page->m_supply.m_bFinished.load(), 0);
    EXPECT_EQ(Text(1042), "6");
    EXPECT_TRUE(sim->outputOn());

    EXPECT_EQ(SaveData(), kHeader + "1,1.00,0.100\r\n2,2.00,0.200\r\n3,3.00,0.300\r\n"
                                    "4,1.00,0.100\r\n5,2.00,0.200\r\n6,3.00,0.300\r\n");
}

TEST_F(DlgControlRunTest, ProgramRunWithoutAUsableFileEndsAtOnce)
{
    Connect();
    // Cancelling the dialog still leaves program mode with its fields.
    Click(1031);
    EXPECT_EQ(m_page->m_supply.m_bProgramMode.load(), 1);
    EXPECT_TRUE(Enabled(1037));
    EXPECT_EQ(Text(1033), "");

    // Another extension is shown but not counted; at ON the load refuses it, on the UI thread.
    m_nextFile = WriteFile(QStringLiteral("prog.txt"), kHeader + "1,1.00,0.100\r\n");
    Click(1031);
    EXPECT_EQ(Text(1033), *m_nextFile);
    EXPECT_EQ(Text(1035), "0");
    QThread* messageThread = nullptr;
    platform::SetDialogHandlers(
        [&](const QString& text) {
            m_messages.push_back(text);
            messageThread = QThread::currentThread();
        },
        {});
    StartRunByButton(CDlgControl::kProgramTimer);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], "This is not a CSV file!");
    EXPECT_EQ(messageThread, QCoreApplication::instance()->thread());

    Tick(CDlgControl::kProgramTimer);
    ASSERT_TRUE(WaitFor([&] { return Enabled(1023); }));
    EXPECT_FALSE(m_page->IsTimerActive(CDlgControl::kProgramTimer));
    EXPECT_EQ(Text(1042), "0");
}

TEST_F(DlgControlRunTest, OffStopsTheRunningProgramAfterAModeClick)
{
    Connect();
    ChooseProgram("5");
    StartRun(CDlgControl::kProgramTimer);
    Tick(CDlgControl::kProgramTimer);

    // Program mode during a run is refused (user mode, no dialog); User mode clears the flag.
    const size_t requests = m_requests.size();
    Click(1031);
    EXPECT_EQ(m_requests.size(), requests);
    EXPECT_TRUE(Item<QRadioButton>(1030)->isChecked());
    EXPECT_EQ(m_page->m_supply.m_bProgramMode.load(), 0);
    Click(1030);

    // The run keeps writing the presets; that must not hide OFF behind an OK.
    Tick(CDlgControl::kProgramTimer);
    EXPECT_EQ(Text(1004), "2.00");
    EXPECT_TRUE(Shown(1022));
    EXPECT_FALSE(Shown(1024));

    Click(1022);
    ASSERT_TRUE(WaitFor([&] { return Enabled(1023); }));
    EXPECT_FALSE(m_page->IsTimerActive(CDlgControl::kProgramTimer)) << "OFF stops the timer the run started";
    EXPECT_FALSE(m_page->IsTimerActive(CDlgControl::kUserTimer));
    EXPECT_FALSE(m_page->m_engine.Run().IsRunning());
}

TEST_F(DlgControlRunTest, DisconnectEndsTheRunBeforeClosingTheLink)
{
    Connect();
    auto sim = Sim();
    StartRun(CDlgControl::kUserTimer);
    Tick(CDlgControl::kUserTimer);
    Tick(CDlgControl::kUserTimer);

    Execute(CMD_CONNECT, 0);
    EXPECT_EQ(Text(1028), "DisConnected");
    EXPECT_FALSE(m_page->IsTimerActive(CDlgControl::kUserTimer));
    EXPECT_FALSE(m_page->m_engine.Run().IsRunning());
    EXPECT_TRUE(Enabled(1040));
    EXPECT_FALSE(Enabled(1023)) << "no run can start without a link";
    EXPECT_EQ(sim->Log().back(), "CloseCOM");

    // An ON clicked before the worker took the disconnect runs after it: it starts nothing and
    // leaves the record of the run alone.
    Execute(CMD_ON, 0);
    EXPECT_FALSE(m_page->IsTimerActive(CDlgControl::kUserTimer));
    EXPECT_FALSE(m_page->m_engine.Run().IsRunning());
    EXPECT_FALSE(Enabled(1022));
    EXPECT_TRUE(Enabled(1040));
    EXPECT_EQ(SaveData(), kHeader + "1,5.00,0.500\r\n2,5.00,0.500\r\n");
}

TEST_F(DlgControlRunTest, ALinkLostForLongerThanItIsTriedEndsTheRunAndKeepsTheSamples)
{
    Connect();
    m_page->m_engine.Run().SetReconnectTime(std::chrono::milliseconds(0)); // the time given has run out
    auto sim = Sim();
    StartRun(CDlgControl::kUserTimer);
    Tick(CDlgControl::kUserTimer);
    sim->setAnswering(false);
    Tick(CDlgControl::kUserTimer);

    EXPECT_EQ(m_page->m_bConnected.load(), 0);
    EXPECT_EQ(Text(1028), "DisConnected");
    EXPECT_EQ(Text(1003), " Connect");
    EXPECT_FALSE(m_page->IsTimerActive(CDlgControl::kUserTimer));
    EXPECT_FALSE(m_page->m_engine.Run().IsRunning());
    EXPECT_EQ(m_page->m_supply.m_nSample.load(), 1);
    EXPECT_EQ(Text(1042), "1");
    EXPECT_TRUE(Enabled(1040));
    EXPECT_EQ(SaveData(), kHeader + "1,5.00,0.500\r\n");
}

TEST_F(DlgControlRunTest, ClosingDuringARunAndCommandsNeverHangs)
{
    Connect();
    StartRun(CDlgControl::kUserTimer);
    Tick(CDlgControl::kUserTimer);
    Click(1020);
    Click(1022);
    Click(1003);
    // Without events the worker, once it has taken UP, waits on this thread for its first control
    // change; closing must release it whether it is already waiting or about to.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (m_page->m_qCommands.Pending().size() == 3 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_LT(m_page->m_qCommands.Pending().size(), 3u) << "the worker took a command";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto start = std::chrono::steady_clock::now();
    m_page.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    QCoreApplication::processEvents(); // calls queued for the closed page are dropped
    EXPECT_EQ(dsoLinkAlive(0), 0) << "the link is closed with the page";
}

TEST_F(DlgControlRunTest, PresetsAfterAProgramFollowItsLastPointWithinTheLimits)
{
    Connect();
    auto sim = Sim();
    m_nextFile = WriteFile(QStringLiteral("over.csv"), kHeader + "1,40.00,0.500\r\n2,41.00,0.500\r\n3,40.00,6.000\r\n");
    Click(1031);
    StartRun(CDlgControl::kProgramTimer);
    Tick(CDlgControl::kProgramTimer);
    Tick(CDlgControl::kProgramTimer);

    // The second point repeats the current: its write still selects the current field, so UP
    // steps the current.
    EXPECT_EQ(m_page->m_bVoltageSelected.load(), 0);
    SelectStep(1);
    Execute(CMD_UP, 0);
    EXPECT_EQ(Text(1006), "0.600");
    EXPECT_EQ(sim->setMilliamps(), 600);

    // Down and the wheel start from the limit, never from the point beyond it.
    Tick(CDlgControl::kProgramTimer);
    EXPECT_EQ(Text(1006), "6.000");
    Execute(CMD_DOWN, 0);
    EXPECT_EQ(Text(1006), "5.000");
    EXPECT_EQ(sim->setMilliamps(), 5000);
    m_page->m_edVoltage->m_nStep = 1;
    m_page->m_edVoltage->OnMouseWheel(120); // away from the operator: down one volt
    EXPECT_EQ(Text(1004), "31.00");
    EXPECT_EQ(sim->setCentivolts(), 3100);
}

TEST_F(DlgControlRunTest, ClosingDuringAProgramLoadDoesNotWaitForIt)
{
    Connect();
    ChooseProgram("1");
    // By ON the program has grown long: its load at ON takes the worker a while.
    QByteArray big = kHeader;
    big.reserve(24 * 1000000);
    for (int t = 1; t <= 1000000; ++t)
        big += QByteArray::number(t) + ",12.34,1.234\r\n";
    WriteFile(QStringLiteral("prog.csv"), big);
    big.clear();
    Click(1023);
    ASSERT_TRUE(WaitFor([&] { return m_page->IsRunning(); }));
    const auto start = std::chrono::steady_clock::now();
    m_page.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(DlgControlRunTest, ALostLinkSaysReconnectingAndTheRunGoesOnWhenTheSupplyIsBack)
{
    Connect();
    auto sim = Sim();
    StartRun(CDlgControl::kUserTimer);
    Tick(CDlgControl::kUserTimer);
    sim->setAnswering(false);
    Tick(CDlgControl::kUserTimer);
    EXPECT_EQ(Text(1028), "Reconnecting...");
    EXPECT_EQ(Text(1042), "2") << "the elapsed time goes on";
    EXPECT_EQ(Text(1005), "") << "no reading is shown for a second without one";
    EXPECT_TRUE(m_page->IsRunning());

    sim->setAnswering(true);
    ASSERT_TRUE(WaitFor([&] { return Text(1028) == "Device Connected"; }, 5000));
    const int nBefore = m_page->m_engine.Run().SampleCount(); // the supply object's counter follows on its thread
    Tick(CDlgControl::kUserTimer);
    EXPECT_EQ(Text(1005), "5.00");
    EXPECT_EQ(Text(1042), QString::number(nBefore + 1));

    // Lost again, and Disconnect while it tries: the run ends as OFF ends it, nothing is lost.
    sim->setAnswering(false);
    Tick(CDlgControl::kUserTimer);
    ASSERT_EQ(Text(1028), "Reconnecting...");
    Execute(CMD_CONNECT, 0);
    EXPECT_FALSE(m_page->IsRunning());
    EXPECT_FALSE(m_page->m_engine.Run().IsReconnecting());
    EXPECT_EQ(Text(1028), "DisConnected");
    EXPECT_TRUE(SaveData().endsWith(QByteArray::number(nBefore + 2) + ",,\r\n"));
}

TEST_F(DlgControlRunTest, ProtectionLampsLightFromASupplyThatTellsItsTrips)
{
    // Tripped before the connect: lit once the first readings are in.
    Execute(CMD_CONNECT, 0); // connected, and the simulated supply made
    Sim()->trip(pslink::kOverCurrent);
    Execute(CMD_CONNECT, 0);
    Execute(CMD_CONNECT, 0);
    ASSERT_EQ(m_page->m_bConnected.load(), 1);
    EXPECT_TRUE(WaitFor([&] { return Item<QAbstractButton>(1019)->isChecked(); }));
    EXPECT_FALSE(Item<QAbstractButton>(1016)->isChecked());

    // During a run: the unit trips, its output goes off, the run goes on and records it.
    StartRun(CDlgControl::kUserTimer);
    Tick(CDlgControl::kUserTimer);
    EXPECT_FALSE(Item<QAbstractButton>(1019)->isChecked()) << "switched on again, the trip is gone";
    Sim()->trip(pslink::kOverVoltage);
    Tick(CDlgControl::kUserTimer);
    EXPECT_TRUE(Item<QAbstractButton>(1016)->isChecked());
    EXPECT_FALSE(Item<QAbstractButton>(1017)->isChecked()) << "a tripped unit has its output off";
    EXPECT_TRUE(m_page->IsRunning());
    EXPECT_EQ(Text(1005), "0.00");
}
