// Connect, presets, captions and layout of the Control page.
#include "DlgControlFixture.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLayout>
#include <QRadioButton>

#include <string>

using Log = std::vector<std::string>;

TEST_F(DlgControlTest, ConnectAndDisconnectFollowTheLibraryOrder)
{
    // Template state before anything happens.
    EXPECT_EQ(Text(IDC_CONNECTION), "Not  Connected");
    EXPECT_EQ(Text(IDC_CONNECT), "Connect");
    EXPECT_EQ(Text(IDC_DOWN), "Down");
    EXPECT_EQ(Text(IDC_VOLTAGE), "5");
    EXPECT_EQ(Text(IDC_CURRENT), "1");
    EXPECT_FALSE(Shown(IDC_OK));
    EXPECT_TRUE(Shown(IDC_ON));
    EXPECT_TRUE(Shown(IDC_OFF));
    for (int id : {IDC_VOLTAGE, IDC_CURRENT, IDC_STEP, IDC_UP, IDC_DOWN, IDC_OFF, IDC_ON, IDC_USER_MODE, IDC_PROGRAM_MODE, IDC_SAVE})
        EXPECT_FALSE(Enabled(id)) << id;
    EXPECT_TRUE(Item<QRadioButton>(IDC_USER_MODE)->isChecked());
    EXPECT_EQ(Item<QComboBox>(IDC_PORT)->currentIndex(), -1) << "no port selected: COM1 is used";

    ConnectByButton();
    EXPECT_EQ(Sim()->Log(), (Log{"OpenCOM 0", "dsoReadVersion", "dsoCloseOutput", "dsoSetVoltage 0,5,0,0",
                                 "dsoSetCurrent 1,0,0,0", "dsoOpenPower"}));
    EXPECT_EQ(Text(IDC_MAX_VOLTAGE), "MaxVoltage:  32V");
    EXPECT_EQ(Text(IDC_MAX_CURRENT), "MaxCurrent:  5A");
    EXPECT_EQ(Text(IDC_CONNECTION), "Device Connected");
    EXPECT_EQ(Text(IDC_CONNECT), "DisConnect");
    for (int id : {IDC_VOLTAGE, IDC_CURRENT, IDC_STEP, IDC_UP, IDC_DOWN, IDC_ON, IDC_USER_MODE, IDC_PROGRAM_MODE})
        EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_FALSE(Enabled(IDC_OFF));
    EXPECT_FALSE(Shown(IDC_OK));
    EXPECT_EQ(m_page->m_bVoltageSelected.load(), 1);
    EXPECT_EQ(Item<QComboBox>(IDC_STEP)->currentIndex(), 1);

    // Picking another port while connected changes nothing until the next connect.
    auto* ports = Item<QComboBox>(IDC_PORT);
    ports->setFocus();
    QTest::keyClick(ports, Qt::Key_Down); // COM1
    QTest::keyClick(ports, Qt::Key_Down); // COM2
    QTest::keyClick(ports, Qt::Key_Down); // COM3
    EXPECT_EQ(ports->currentIndex(), 2);
    EXPECT_EQ(m_page->m_supply.m_nPort.load(), 2) << "stored at once";

    Click(IDC_CONNECT);
    ASSERT_TRUE(WaitFor([&] { return Text(IDC_CONNECTION) == "DisConnected"; }));
    EXPECT_EQ(Sim()->Log().back(), "CloseCOM");
    EXPECT_EQ(Text(IDC_CONNECT), " Connect");
    EXPECT_EQ(Text(IDC_MAX_VOLTAGE), "MaxVoltage:  V");
    EXPECT_EQ(Text(IDC_MAX_CURRENT), "MaxCurrent:  A");
    for (int id : {IDC_VOLTAGE, IDC_CURRENT, IDC_STEP, IDC_UP, IDC_DOWN, IDC_OFF, IDC_ON, IDC_OK, IDC_USER_MODE, IDC_PROGRAM_MODE})
        EXPECT_FALSE(Enabled(id)) << id;

    // The next connect uses COM3, which reaches its own simulated supply.
    Connect();
    EXPECT_EQ(m_page->m_supply.m_nPort.load(), 2);
    EXPECT_EQ(Sim()->Log().front(), "OpenCOM 2");
}

TEST_F(DlgControlTest, FailedConnectShowsTheDisconnectedState)
{
    Connect();
    Execute(CMD_CONNECT, 0); // disconnect
    ASSERT_EQ(m_page->m_bConnected.load(), 0);
    auto sim = Sim();
    sim->setAnswering(false);
    sim->clearLog();

    Item<QLabel>(IDC_CONNECTION)->clear();
    Click(IDC_CONNECT);
    ASSERT_TRUE(WaitFor([&] { return Text(IDC_CONNECTION) == "DisConnected"; }));
    EXPECT_EQ(sim->Log(), (Log{"OpenCOM 0", "dsoReadVersion", "CloseCOM"}));
    EXPECT_EQ(m_page->m_bConnected.load(), 0);
    EXPECT_EQ(Text(IDC_CONNECTION), "DisConnected");
    EXPECT_FALSE(Enabled(IDC_ON));
    EXPECT_TRUE(m_messages.empty()) << "a silent supply is not a message";

    // A port that cannot be opened at all is said, with the way out.
    const QString missing = m_dir.filePath(QStringLiteral("ttyUSB9"));
    qputenv("TARNWELL_COM1", missing.toLocal8Bit());
    Execute(CMD_CONNECT, 0);
    qunsetenv("TARNWELL_COM1");
    EXPECT_EQ(m_page->m_bConnected.load(), 0);
    EXPECT_EQ(Text(IDC_CONNECTION), "DisConnected");
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_TRUE(m_messages[0].startsWith(QStringLiteral("Cannot open ") + missing + QStringLiteral(": no such device")))
        << m_messages[0].toStdString();
}

TEST_F(DlgControlTest, PortListNamesWhatEachPortReaches)
{
    auto* ports = Item<QComboBox>(IDC_PORT);
    ASSERT_EQ(ports->count(), 7);
    WaitForPasses(); // the worker reads what the ports reach
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(ports->itemText(i), QStringLiteral("COM%1").arg(i + 1));
        EXPECT_EQ(ports->itemData(i, Qt::ToolTipRole).toString(), pslink::DescribePort(i));
    }
    EXPECT_TRUE(ports->itemData(0, Qt::ToolTipRole).toString().contains(QStringLiteral("Simulated")));
}

TEST_F(DlgControlTest, UpAndDownStepClampAndSend)
{
    Connect();
    auto sim = Sim();

    // Through the button and the worker: voltage selected, step "1".
    Click(IDC_UP);
    ASSERT_TRUE(WaitFor([&] { return Text(IDC_VOLTAGE) == "6.00"; }));
    ASSERT_TRUE(WaitFor([&] { return sim->setCentivolts() == 600; }));
    EXPECT_FALSE(Shown(IDC_OK));
    EXPECT_TRUE(Shown(IDC_ON));

    // The clamp cases run the command directly; waiting for the worker would add nothing.
    m_page->m_edVoltage->m_fValue = 31.5f;
    SelectStep(0);
    Execute(CMD_UP, 0);
    EXPECT_EQ(Text(IDC_VOLTAGE), "32.00");
    EXPECT_EQ(sim->setCentivolts(), 3200);

    m_page->m_edVoltage->m_fValue = 0.05f;
    SelectStep(2);
    Execute(CMD_DOWN, 0);
    EXPECT_EQ(Text(IDC_VOLTAGE), "0.00");
    EXPECT_EQ(sim->setCentivolts(), 0);

    // Clicking into the current field makes UP step the current.
    FocusField(IDC_CURRENT);
    EXPECT_EQ(m_page->m_bVoltageSelected.load(), 0);
    EXPECT_EQ(Text(IDC_STEP_UNIT), "A");
    EXPECT_EQ(Item<QComboBox>(IDC_STEP)->itemText(3), "0.001");
    m_page->m_edCurrent->m_fValue = 5.05f;
    SelectStep(1);
    Execute(CMD_UP, 0);
    EXPECT_EQ(Text(IDC_CURRENT), "5.100");
    EXPECT_EQ(sim->setMilliamps(), 5100);
    EXPECT_EQ(m_page->m_edCurrent->m_nStep, 1);
    EXPECT_EQ(Text(IDC_VOLTAGE), "0.00") << "the voltage did not move";

    // Clamped again at the top: the same text, still counted as a step (OK stays hidden).
    Execute(CMD_UP, 0);
    EXPECT_EQ(Text(IDC_CURRENT), "5.100");
    EXPECT_EQ(m_page->m_bUpStep.load(), 0);
    EXPECT_FALSE(Shown(IDC_OK));
}

TEST_F(DlgControlTest, ClicksWithinOnePassAreQueuedOnce)
{
    Connect();
    // Start right after a pass, so the clicks land within one sleep of the worker and the next
    // pass is the one that drains them.
    const int pass = m_page->m_nPass.load();
    ASSERT_TRUE(WaitFor([&] { return m_page->m_nPass.load() > pass; }));
    const int clicked = m_page->m_nPass.load();
    for (int i = 0; i < 3; ++i)
        Click(IDC_UP);
    EXPECT_LE(m_page->m_qCommands.Pending().size(), 1u);
    ASSERT_TRUE(WaitFor([&] { return m_page->m_nPass.load() > clicked; }));
    EXPECT_TRUE(m_page->m_qCommands.Pending().empty());
    EXPECT_EQ(Text(IDC_VOLTAGE), "6.00") << "three UP clicks in one pass move one step";
    m_page->m_engine.Settle(); // the setpoint reaches the supply on the supply's thread
    EXPECT_EQ(Sim()->setCentivolts(), 600);
}

TEST_F(DlgControlTest, TypedPresetIsAppliedWithOk)
{
    Connect();
    auto sim = Sim();

    Type(IDC_VOLTAGE, "7.5");
    EXPECT_TRUE(Shown(IDC_OK));
    EXPECT_FALSE(Shown(IDC_ON));
    EXPECT_FALSE(Shown(IDC_OFF));
    Click(IDC_OK);
    ASSERT_TRUE(WaitFor([&] { return sim->setCentivolts() == 750; }));
    ASSERT_TRUE(WaitFor([&] { return !Shown(IDC_OK); }));
    EXPECT_TRUE(Shown(IDC_ON));
    EXPECT_TRUE(Shown(IDC_OFF));

    Type(IDC_VOLTAGE, "40");
    Click(IDC_OK);
    EXPECT_EQ(Text(IDC_VOLTAGE), "32");
    ASSERT_TRUE(WaitFor([&] { return sim->setCentivolts() == 3200; }));

    Type(IDC_CURRENT, "6");
    Click(IDC_OK);
    EXPECT_EQ(Text(IDC_CURRENT), "5.1");
    ASSERT_TRUE(WaitFor([&] { return sim->setMilliamps() == 5100; }));
    EXPECT_EQ(sim->setCentivolts(), 3200);
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(DlgControlTest, OkWriteBackDoesNotRedirectTheApply)
{
    Connect();
    auto sim = Sim();
    // A stepped current shows three decimals; the write-back will rewrite it as "2.1".
    FocusField(IDC_CURRENT);
    SelectStep(1);
    m_page->m_edCurrent->m_fValue = 2.0f;
    Execute(CMD_UP, 0);
    ASSERT_EQ(Text(IDC_CURRENT), "2.100");
    ASSERT_EQ(sim->setMilliamps(), 2100);

    Type(IDC_VOLTAGE, "12");
    Click(IDC_OK);
    EXPECT_EQ(Text(IDC_CURRENT), "2.1");
    EXPECT_EQ(m_page->m_bVoltageSelected.load(), 1);
    ASSERT_TRUE(WaitFor([&] { return sim->setCentivolts() == 1200; })) << "the typed voltage is sent";
    EXPECT_EQ(sim->setMilliamps(), 2100);
}

TEST_F(DlgControlTest, OkWithoutANumberPromptsAndSendsNothing)
{
    Connect();
    auto sim = Sim();
    sim->clearLog();
    Type(IDC_VOLTAGE, "");
    EXPECT_EQ(Text(IDC_VOLTAGE), "");
    Click(IDC_OK);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], "Please enter a number.");
    EXPECT_TRUE(m_page->m_qCommands.Pending().empty()) << "nothing to apply";
    EXPECT_EQ(sim->setCentivolts(), 500);
    EXPECT_TRUE(Shown(IDC_OK)) << "still waiting for a value to apply";

    // A bad cycle count is reported too, but the preset read before it is applied.
    Type(IDC_VOLTAGE, "9");
    Item<QLineEdit>(IDC_CYCLES)->setText(QStringLiteral("abc"));
    Click(IDC_OK);
    ASSERT_EQ(m_messages.size(), 2u);
    EXPECT_EQ(m_messages[1], "Please enter an integer.");
    ASSERT_TRUE(WaitFor([&] { return sim->setCentivolts() == 900; }));
}

TEST_F(DlgControlTest, LanguageListRecaptionsThePage)
{
    auto* languages = Item<QComboBox>(IDC_LANGUAGE);
    ASSERT_EQ(languages->count(), 2);
    EXPECT_EQ(languages->itemText(1), QStringLiteral("中文"));
    languages->setFocus();
    QTest::keyClick(languages, Qt::Key_Down);
    EXPECT_EQ(m_nLanguage, 1);
    EXPECT_EQ(Item<QGroupBox>(IDC_PANEL)->title(), QStringLiteral("控制面板"));
    EXPECT_EQ(Text(IDC_DOWN), QStringLiteral("减少"));
    EXPECT_EQ(Text(IDC_CONNECTION), QStringLiteral("未连接状态"));
    EXPECT_EQ(Text(IDC_CONNECT), QStringLiteral("连接"));

    Connect();
    EXPECT_EQ(Text(IDC_MAX_VOLTAGE), QStringLiteral("最大电压:  32V"));
    EXPECT_EQ(Text(IDC_CONNECTION), QStringLiteral("连接状态"));
    EXPECT_EQ(Text(IDC_CONNECT), QStringLiteral("断开"));

    QTest::keyClick(languages, Qt::Key_Up);
    EXPECT_EQ(m_nLanguage, 0);
    EXPECT_EQ(Text(IDC_DOWN), "DOWN");
    EXPECT_EQ(Text(IDC_PROGRAM_FILE_LABEL), QStringLiteral("Program file："));
    EXPECT_EQ(Text(IDC_CONNECTION), "Connected");
    EXPECT_EQ(Text(IDC_CONNECT), "DisConnect");
    EXPECT_EQ(Text(IDC_MAX_VOLTAGE), "MaxVoltage:  V");

    m_nLanguage = 1;
    Execute(CMD_CONNECT, 0);
    ASSERT_EQ(m_page->m_bConnected.load(), 0);
    EXPECT_EQ(Text(IDC_MAX_VOLTAGE), QStringLiteral("最大电压:  V"));
    EXPECT_EQ(Text(IDC_CONNECT), QStringLiteral(" 连接"));
}

namespace {

// Every control of the page lies inside the page, shows at least its minimum size and overlaps
// no other control.
void ExpectCleanLayout(QWidget* page)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    page->layout()->activate();
    EXPECT_LE(page->minimumSizeHint().width(), 900);
    EXPECT_LE(page->minimumSizeHint().height(), 500);
    std::vector<QWidget*> leaves;
    for (QWidget* w : page->findChildren<QWidget*>()) {
        if (!w->isVisible() && !w->sizePolicy().retainSizeWhenHidden())
            continue;
        if (w->parentWidget() != page && qobject_cast<QGroupBox*>(w->parentWidget()) == nullptr)
            continue; // inside a control (a combo's view, a line edit's parts)
        const QRect r(w->mapTo(page, QPoint(0, 0)), w->size());
        EXPECT_TRUE(page->rect().contains(r)) << w->objectName().toStdString();
        const QSize need = w->minimumSizeHint();
        EXPECT_GE(w->width(), need.width()) << "clipped: " << w->objectName().toStdString();
        EXPECT_GE(w->height(), need.height()) << "clipped: " << w->objectName().toStdString();
        if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)) {
            EXPECT_GE(w->width(), w->sizeHint().width()) << "text cut: " << w->objectName().toStdString();
        }
        if (!qobject_cast<QGroupBox*>(w))
            leaves.push_back(w);
    }
    for (size_t i = 0; i < leaves.size(); ++i) {
        for (size_t j = i + 1; j < leaves.size(); ++j) {
            const QRect a(leaves[i]->mapTo(page, QPoint(0, 0)), leaves[i]->size());
            const QRect b(leaves[j]->mapTo(page, QPoint(0, 0)), leaves[j]->size());
            EXPECT_FALSE(a.intersects(b)) << leaves[i]->objectName().toStdString() << " overlaps "
                                          << leaves[j]->objectName().toStdString();
        }
    }
}

} // namespace

TEST_F(DlgControlTest, LayoutFitsTheTabAreaInBothLanguages)
{
    ExpectCleanLayout(m_page.get());
    Connect();
    m_nLanguage = 1;
    m_page->ApplyLanguage();
    ExpectCleanLayout(m_page.get());
    for (int id : {IDC_CONNECT, IDC_VOLTAGE, IDC_MEAS_VOLTAGE, IDC_CURRENT, IDC_MEAS_CURRENT, IDC_PANEL, IDC_MEASURED, IDC_STATUS, IDC_PRESET, IDC_STEP_LABEL, IDC_STEP, IDC_STEP_UNIT, IDC_CV, IDC_OVP, IDC_OUT, IDC_CC,
                   IDC_OCP, IDC_UP, IDC_DOWN, IDC_OFF, IDC_ON, IDC_OK, IDC_CONNECT_PC, IDC_PORT_LABEL, IDC_PORT, IDC_CONNECTION, IDC_RUN_MODE, IDC_USER_MODE, IDC_PROGRAM_MODE, IDC_PROGRAM_FILE_LABEL, IDC_PROGRAM_FILE, IDC_TIME_LABEL,
                   IDC_TIME, IDC_CYCLES_LABEL, IDC_CYCLES, IDC_WAVE_OUTPUT, IDC_WAVE, IDC_SAVE, IDC_ELAPSED_LABEL, IDC_ELAPSED, IDC_MAX_VOLTAGE, IDC_MAX_CURRENT, IDC_LANGUAGE})
        EXPECT_NE(m_page->findChild<QWidget*>(QString::number(id)), nullptr) << id;
}

TEST_F(DlgControlTest, StepsAreTheProgramsChangesEvenOnTheSameText)
{
    Connect();
    // A wheel step that lands on the typed text: the field holds a stepped value now, so the
    // page leaves the typed-but-not-applied state.
    Type(IDC_VOLTAGE, "6.00");
    ASSERT_TRUE(Shown(IDC_OK));
    m_page->m_edVoltage->OnMouseWheel(-120); // 5 V preset, step 1: 6.00
    EXPECT_EQ(Text(IDC_VOLTAGE), "6.00");
    EXPECT_FALSE(Shown(IDC_OK));
    EXPECT_TRUE(Shown(IDC_ON));
    EXPECT_EQ(Sim()->setCentivolts(), 600);

    // UP is marked together with the text it writes: a key typed while the worker has taken UP
    // but the UI thread has not yet run its step is typing, not the step.
    Type(IDC_VOLTAGE, "7");
    m_page->m_edVoltage->m_fValue = 5.0f;
    SelectStep(1);
    Click(IDC_UP);
    ASSERT_TRUE(WaitWithoutEvents([&] { return m_page->m_qCommands.Pending().empty(); })) << "the worker took UP";
    QTest::keyClick(m_page->m_edVoltage, Qt::Key_8); // "78": handled before the step reaches us
    EXPECT_TRUE(Shown(IDC_OK)) << "a keystroke is never taken for the step";
    ASSERT_TRUE(WaitFor([&] { return Text(IDC_VOLTAGE) == "6.00"; }));
    EXPECT_FALSE(Shown(IDC_OK));
}

TEST_F(DlgControlTest, AnOnInsideTheCountsMessageLoadsTheWholeProgram)
{
    Connect();
    const QString path = m_dir.filePath(QStringLiteral("late.csv"));
    // The count finds no file and says so; while its box is open the file appears and ON runs.
    platform::SetDialogHandlers(
        [&](const QString& text) {
            m_messages.push_back(text);
            WriteFile(QStringLiteral("late.csv"), "Time(S),Voltage(V),Current(A)\r\n1,1.00,0.100\r\n2,2.00,0.200\r\n");
            Execute(CMD_ON, 0);
        },
        [&](const platform::FileDialogRequest&) { return std::optional<QString>(path); });
    Click(IDC_PROGRAM_MODE);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_TRUE(m_messages[0].startsWith("Can not open file: "));
    ASSERT_TRUE(m_page->IsTimerActive(CDlgControl::kProgramTimer));
    Tick(CDlgControl::kProgramTimer);
    Tick(CDlgControl::kProgramTimer);
    EXPECT_EQ(Text(IDC_VOLTAGE), "2.00") << "both points of the program play";
    EXPECT_EQ(Sim()->setCentivolts(), 200);
}
