// Runs of the Control page. Ticks are driven directly; a command goes through the button and the
// worker where that path is the point, and runs at once on this thread where only its effect is.
#include "DlgControlFixture.h"

#include "widgets/StaticWave.h"

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
        Click(IDC_ON);
        ASSERT_TRUE(WaitFor([&] { return m_page->IsTimerActive(nTimer) && Enabled(IDC_OFF); }));
        EXPECT_TRUE(m_page->m_engine.Run().IsRunning());
    }

    void StartRun(int nTimer)
    {
        Execute(CMD_ON, 0);
        ASSERT_TRUE(m_page->IsTimerActive(nTimer));
        EXPECT_TRUE(Enabled(IDC_OFF));
        EXPECT_TRUE(m_page->m_engine.Run().IsRunning());
    }

    /// Program mode with a three-point file, `cycles` passes.
    void ChooseProgram(const char* cycles)
    {
        m_nextFile = WriteFile(QStringLiteral("prog.csv"),
                               kHeader + "1,1.00,0.100\r\n2,2.00,0.200\r\n3,3.00,0.300\r\n");
        Click(IDC_PROGRAM_MODE);
        Item<QLineEdit>(IDC_CYCLES)->setText(QString::fromLatin1(cycles));
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
        Click(IDC_SAVE);
        return ReadFile(path);
    }
};

TEST_F(DlgControlRunTest, UserRunShowsReadingsLampsAndSavesTheRecord)
{
    Connect();
    auto sim = Sim();
    StartRunByButton(CDlgControl::kUserTimer);
    EXPECT_FALSE(Enabled(IDC_ON));
    EXPECT_FALSE(Enabled(IDC_SAVE));
    EXPECT_EQ(m_page->m_wave->m_bDrawWaves.load(), 1);

    // 5 V into 10 ohms: constant voltage, 0.5 A, the current with two decimals.
    Tick(CDlgControl::kUserTimer);
    EXPECT_TRUE(sim->outputOn());
    EXPECT_EQ(Text(IDC_MEAS_VOLTAGE), "5.00");
    EXPECT_EQ(Text(IDC_MEAS_CURRENT), "0.50");
    EXPECT_TRUE(Checked(Item<QCheckBox>(IDC_OUT)));
    EXPECT_TRUE(Checked(Item<QCheckBox>(IDC_CV)));
    EXPECT_FALSE(Checked(Item<QCheckBox>(IDC_CC)));
    EXPECT_EQ(Text(IDC_ELAPSED), "1");

    for (int i = 0; i < 40; ++i)
        Tick(CDlgControl::kUserTimer);
    const int nChange = m_page->m_supply.m_nSample.load();
    EXPECT_EQ(nChange, 41);
    EXPECT_EQ(Text(IDC_ELAPSED), "41");
    {
        std::lock_guard<std::mutex> guard(m_page->m_supply.m_hLock);
        EXPECT_EQ(m_page->m_supply.m_logVoltage.size(), 35u) << "the live window keeps 35 samples";
        EXPECT_EQ(m_page->m_supply.m_logTime.back(), 41);
        EXPECT_EQ(m_page->m_supply.m_rows.size(), 41u);
    }

    // 1 ohm: the 1 A limit holds, constant current.
    sim->setLoadOhms(1.0);
    Tick(CDlgControl::kUserTimer);
    EXPECT_EQ(Text(IDC_MEAS_VOLTAGE), "1.00");
    EXPECT_EQ(Text(IDC_MEAS_CURRENT), "1.00");
    EXPECT_TRUE(Checked(Item<QCheckBox>(IDC_CC)));
    EXPECT_FALSE(Checked(Item<QCheckBox>(IDC_CV)));

    Execute(CMD_OFF, 0);
    EXPECT_TRUE(Enabled(IDC_ON));
    EXPECT_FALSE(m_page->IsTimerActive(CDlgControl::kUserTimer));
    EXPECT_FALSE(Enabled(IDC_OFF));
    EXPECT_TRUE(Enabled(IDC_SAVE));
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
    EXPECT_EQ(Text(IDC_PROGRAM_FILE), *m_nextFile);
    EXPECT_EQ(Text(IDC_TIME), "3");
    for (int id : {IDC_PROGRAM_FILE, IDC_TIME, IDC_CYCLES})
        EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_TRUE(Item<QRadioButton>(IDC_PROGRAM_MODE)->isChecked());

    sim->clearLog();
    StartRun(CDlgControl::kProgramTimer);
    Tick(CDlgControl::kProgramTimer);
    EXPECT_EQ(Text(IDC_VOLTAGE), "1.00");
    EXPECT_EQ(Text(IDC_CURRENT), "0.100");
    EXPECT_EQ(Text(IDC_MEAS_VOLTAGE), "1.00");
    EXPECT_EQ(Text(IDC_MEAS_CURRENT), "0.010") << "three decimals in program mode";
    EXPECT_EQ(Text(IDC_ELAPSED), "1");
    EXPECT_FALSE(Shown(IDC_OK)) << "the program's preset writes are not typing";
    EXPECT_TRUE(Shown(IDC_OFF));
    for (int i = 0; i < 5; ++i)
        Tick(CDlgControl::kProgramTimer);
    EXPECT_EQ(Text(IDC_ELAPSED), "6");
    EXPECT_EQ(Text(IDC_VOLTAGE), "3.00");
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
    ASSERT_TRUE(WaitFor([&] { return Enabled(IDC_ON) || m_page->m_nPass.load() >= pass + 2; }));
    EXPECT_TRUE(Enabled(IDC_ON));
    EXPECT_FALSE(m_page->IsTimerActive(CDlgControl::kProgramTimer));
    EXPECT_TRUE(Enabled(IDC_SAVE));
    EXPECT_FALSE(Enabled(IDC_OFF));
    EXPECT_FALSE(m_page->m_engine.Run().IsRunning());
    EXPECT_EQ(m_page->m_supply.m_bFinished.load(), 0);
    EXPECT_EQ(Text(IDC_ELAPSED), "6");
    EXPECT_TRUE(sim->outputOn());

    EXPECT_EQ(SaveData(), kHeader + "1,1.00,0.100\r\n2,2.00,0.200\r\n3,3.00,0.300\r\n"
                                    "4,1.00,0.100\r\n5,2.00,0.200\r\n6,3.00,0.300\r\n");
}

TEST_F(DlgControlRunTest, ProgramRunWithoutAUsableFileEndsAtOnce)
{
    Connect();
    // Cancelling the dialog still leaves program mode with its fields.
    Click(IDC_PROGRAM_MODE);
    EXPECT_EQ(m_page->m_supply.m_bProgramMode.load(), 1);
    EXPECT_TRUE(Enabled(IDC_CYCLES));
    EXPECT_EQ(Text(IDC_PROGRAM_FILE), "");

    // Another extension is shown but not counted; at ON the load refuses it, on the UI thread.
    m_nextFile = WriteFile(QStringLiteral("prog.txt"), kHeader + "1,1.00,0.100\r\n");
    Click(IDC_PROGRAM_MODE);
    EXPECT_EQ(Text(IDC_PROGRAM_FILE), *m_nextFile);
    EXPECT_EQ(Text(IDC_TIME), "0");
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
    ASSERT_TRUE(WaitFor([&] { return Enabled(IDC_ON); }));
    EXPECT_FALSE(m_page->IsTimerActive(CDlgControl::kProgramTimer));
    EXPECT_EQ(Text(IDC_ELAPSED), "0");
}

TEST_F(DlgControlRunTest, OffStopsTheRunningProgramAfterAModeClick)
{
    Connect();
    ChooseProgram("5");
    StartRun(CDlgControl::kProgramTimer);
    Tick(CDlgControl::kProgramTimer);

    // Program mode during a run is refused (user mode, no dialog); User mode clears the flag.
    const size_t requests = m_requests.size();
    Click(IDC_PROGRAM_MODE);
    EXPECT_EQ(m_requests.size(), requests);
    EXPECT_TRUE(Item<QRadioButton>(IDC_USER_MODE)->isChecked());
    EXPECT_EQ(m_page->m_supply.m_bProgramMode.load(), 0);
    Click(IDC_USER_MODE);

    // The run keeps writing the presets; that must not hide OFF behind an OK.
    Tick(CDlgControl::kProgramTimer);
    EXPECT_EQ(Text(IDC_VOLTAGE), "2.00");
    EXPECT_TRUE(Shown(IDC_OFF));
    EXPECT_FALSE(Shown(IDC_OK));

    Click(IDC_OFF);
    ASSERT_TRUE(WaitFor([&] { return Enabled(IDC_ON); }));
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
    EXPECT_EQ(Text(IDC_CONNECTION), "DisConnected");
    EXPECT_FALSE(m_page->IsTimerActive(CDlgControl::kUserTimer));
    EXPECT_FALSE(m_page->m_engine.Run().IsRunning());
    EXPECT_TRUE(Enabled(IDC_SAVE));
    EXPECT_FALSE(Enabled(IDC_ON)) << "no run can start without a link";
    EXPECT_EQ(sim->Log().back(), "CloseCOM");

    // An ON clicked before the worker took the disconnect runs after it: it starts nothing and
    // leaves the record of the run alone.
    Execute(CMD_ON, 0);
    EXPECT_FALSE(m_page->IsTimerActive(CDlgControl::kUserTimer));
    EXPECT_FALSE(m_page->m_engine.Run().IsRunning());
    EXPECT_FALSE(Enabled(IDC_OFF));
    EXPECT_TRUE(Enabled(IDC_SAVE));
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
    EXPECT_EQ(Text(IDC_CONNECTION), "DisConnected");
    EXPECT_EQ(Text(IDC_CONNECT), " Connect");
    EXPECT_FALSE(m_page->IsTimerActive(CDlgControl::kUserTimer));
    EXPECT_FALSE(m_page->m_engine.Run().IsRunning());
    EXPECT_EQ(m_page->m_supply.m_nSample.load(), 1);
    EXPECT_EQ(Text(IDC_ELAPSED), "1");
    EXPECT_TRUE(Enabled(IDC_SAVE));
    EXPECT_EQ(SaveData(), kHeader + "1,5.00,0.500\r\n");
}

TEST_F(DlgControlRunTest, ClosingDuringARunAndCommandsNeverHangs)
{
    Connect();
    StartRun(CDlgControl::kUserTimer);
    Tick(CDlgControl::kUserTimer);
    Click(IDC_UP);
    Click(IDC_OFF);
    Click(IDC_CONNECT);
    // Without events the worker, once it has taken UP, waits on this thread for its first control
    // change; closing must release it whether it is already waiting or about to.
    ASSERT_TRUE(WaitWithoutEvents([&] { return m_page->m_qCommands.Pending().size() < 3; }))
        << "the worker took a command";
    // A little real time on purpose, so the worker is as likely waiting as about to.
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
    Click(IDC_PROGRAM_MODE);
    StartRun(CDlgControl::kProgramTimer);
    Tick(CDlgControl::kProgramTimer);
    Tick(CDlgControl::kProgramTimer);

    // The second point repeats the current: its write still selects the current field, so UP
    // steps the current.
    EXPECT_EQ(m_page->m_bVoltageSelected.load(), 0);
    SelectStep(1);
    Execute(CMD_UP, 0);
    EXPECT_EQ(Text(IDC_CURRENT), "0.600");
    EXPECT_EQ(sim->setMilliamps(), 600);

    // Down and the wheel start from the limit, never from the point beyond it.
    Tick(CDlgControl::kProgramTimer);
    EXPECT_EQ(Text(IDC_CURRENT), "6.000");
    Execute(CMD_DOWN, 0);
    EXPECT_EQ(Text(IDC_CURRENT), "5.000");
    EXPECT_EQ(sim->setMilliamps(), 5000);
    m_page->m_edVoltage->m_nStep = 1;
    m_page->m_edVoltage->OnMouseWheel(120); // away from the operator: down one volt
    EXPECT_EQ(Text(IDC_VOLTAGE), "31.00");
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
    Click(IDC_ON);
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
    EXPECT_EQ(Text(IDC_CONNECTION), "Reconnecting...");
    EXPECT_EQ(Text(IDC_ELAPSED), "2") << "the elapsed time goes on";
    EXPECT_EQ(Text(IDC_MEAS_VOLTAGE), "") << "no reading is shown for a second without one";
    EXPECT_TRUE(m_page->IsRunning());

    sim->setAnswering(true);
    ASSERT_TRUE(WaitFor([&] { return Text(IDC_CONNECTION) == "Device Connected"; }, 5000));
    const int nBefore = m_page->m_engine.Run().SampleCount();
    Tick(CDlgControl::kUserTimer);
    EXPECT_EQ(Text(IDC_MEAS_VOLTAGE), "5.00");
    // The run's own timer may add a second while the test waits: the count goes on from there.
    EXPECT_GT(m_page->m_engine.Run().SampleCount(), nBefore);
    EXPECT_EQ(Text(IDC_ELAPSED), QString::number(m_page->m_engine.Run().SampleCount()));

    // Lost again, and Disconnect while it tries: the run ends as OFF ends it, nothing is lost.
    sim->setAnswering(false);
    Tick(CDlgControl::kUserTimer);
    ASSERT_EQ(Text(IDC_CONNECTION), "Reconnecting...");
    Execute(CMD_CONNECT, 0);
    EXPECT_FALSE(m_page->IsRunning());
    EXPECT_FALSE(m_page->m_engine.Run().IsReconnecting());
    EXPECT_EQ(Text(IDC_CONNECTION), "DisConnected");
    EXPECT_TRUE(SaveData().endsWith(QByteArray::number(m_page->m_engine.Run().SampleCount()) + ",,\r\n"));
}

TEST_F(DlgControlRunTest, ProtectionLampsLightFromASupplyThatTellsItsTrips)
{
    // Tripped before the connect: lit once the first readings are in.
    Execute(CMD_CONNECT, 0); // connected, and the simulated supply made
    Sim()->trip(pslink::kOverCurrent);
    Execute(CMD_CONNECT, 0);
    Execute(CMD_CONNECT, 0);
    ASSERT_EQ(m_page->m_bConnected.load(), 1);
    EXPECT_TRUE(WaitFor([&] { return Item<QAbstractButton>(IDC_OCP)->isChecked(); }));
    EXPECT_FALSE(Item<QAbstractButton>(IDC_OVP)->isChecked());

    // During a run: the unit trips, its output goes off, the run goes on and records it.
    StartRun(CDlgControl::kUserTimer);
    Tick(CDlgControl::kUserTimer);
    EXPECT_FALSE(Item<QAbstractButton>(IDC_OCP)->isChecked()) << "switched on again, the trip is gone";
    Sim()->trip(pslink::kOverVoltage);
    Tick(CDlgControl::kUserTimer);
    EXPECT_TRUE(Item<QAbstractButton>(IDC_OVP)->isChecked());
    EXPECT_FALSE(Item<QAbstractButton>(IDC_OUT)->isChecked()) << "a tripped unit has its output off";
    EXPECT_TRUE(m_page->IsRunning());
    EXPECT_EQ(Text(IDC_MEAS_VOLTAGE), "0.00");
}
