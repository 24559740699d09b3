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
    EXPECT_EQ(Text(1028), "Not  Connected");
    EXPECT_EQ(Text(1003), "Connect");
    EXPECT_EQ(Text(1021), "Down");
    EXPECT_EQ(Text(1004), "5");
    EXPECT_EQ(Text(1006), "1");
    EXPECT_FALSE(Shown(1024));
    EXPECT_TRUE(Shown(1023));
    EXPECT_TRUE(Shown(1022));
    for (int id : {1004, 1006, 1013, 1020, 1021, 1022, 1023, 1030, 1031, 1040})
        EXPECT_FALSE(Enabled(id)) << id;
    EXPECT_TRUE(Item<QRadioButton>(1030)->isChecked());
    EXPECT_EQ(Item<QComboBox>(1027)->currentIndex(), -1) << "no port selected: COM1 is used";

    ConnectByButton();
    EXPECT_EQ(Sim()->Log(), (Log{"OpenCOM 0", "dsoReadVersion", "dsoCloseOutput", "dsoSetVoltage 0,5,0,0",
                                 "dsoSetCurrent 1,0,0,0", "dsoOpenPower"}));
    EXPECT_EQ(Text(1043), "MaxVoltage:  32V");
    EXPECT_EQ(Text(1044), "MaxCurrent:  5A");
    EXPECT_EQ(Text(1028), "Device Connected");
    EXPECT_EQ(Text(1003), "DisConnect");
    for (int id : {1004, 1006, 1013, 1020, 1021, 1023, 1030, 1031})
        EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_FALSE(Enabled(1022));
    EXPECT_FALSE(Shown(1024));
    EXPECT_EQ(m_page->m_bVoltageSelected.load(), 1);
    EXPECT_EQ(Item<QComboBox>(1013)->currentIndex(), 1);

    // Picking another port while connected changes nothing until the next connect.
    auto* ports = Item<QComboBox>(1027);
    ports->setFocus();
    QTest::keyClick(ports, Qt::Key_Down); // COM1
    QTest::keyClick(ports, Qt::Key_Down); // COM2
    QTest::keyClick(ports, Qt::Key_Down); // COM3
    EXPECT_EQ(ports->currentIndex(), 2);
    EXPECT_EQ(m_page->m_supply.m_nPort.load(), 2) << "stored at once";

    Click(1003);
    ASSERT_TRUE(WaitFor([&] { return Text(1028) == "DisConnected"; }));
    EXPECT_EQ(Sim()->Log().back(), "CloseCOM");
    EXPECT_EQ(Text(1003), " Connect");
    EXPECT_EQ(Text(1043), "MaxVoltage:  V");
    EXPECT_EQ(Text(1044), "MaxCurrent:  A");
    for (int id : {1004, 1006, 1013, 1020, 1021, 1022, 1023, 1024, 1030, 1031})
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

    Item<QLabel>(1028)->clear();
    Click(1003);
    ASSERT_TRUE(WaitFor([&] { return Text(1028) == "DisConnected"; }));
    EXPECT_EQ(sim->Log(), (Log{"OpenCOM 0", "dsoReadVersion", "CloseCOM"}));
    EXPECT_EQ(m_page->m_bConnected.load(), 0);
    EXPECT_EQ(Text(1028), "DisConnected");
    EXPECT_FALSE(Enabled(1023));
    EXPECT_TRUE(m_messages.empty()) << "a silent supply is not a message";

    // A port that cannot be opened at all is said, with the way out.
    const QString missing = m_dir.filePath(QStringLiteral("ttyUSB9"));
    qputenv("TARNWELL_COM1", missing.toLocal8Bit());
    Execute(CMD_CONNECT, 0);
    qunsetenv("TARNWELL_COM1");
    EXPECT_EQ(m_page->m_bConnected.load(), 0);
    EXPECT_EQ(Text(1028), "DisConnected");
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_TRUE(m_messages[0].startsWith(QStringLiteral("Cannot open ") + missing + QStringLiteral(": no such device")))
        << m_messages[0].toStdString();
}

TEST_F(DlgControlTest, PortListNamesWhatEachPortReaches)
{
    auto* ports = Item<QComboBox>(1027);
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
    Click(1020);
    ASSERT_TRUE(WaitFor([&] { return Text(1004) == "6.00"; }));
    ASSERT_TRUE(WaitFor([&] { return sim->setCentivolts() == 600; }));
    EXPECT_FALSE(Shown(1024));
    EXPECT_TRUE(Shown(1023));

    // The clamp cases run the command directly; waiting for the worker would add nothing.
    m_page->m_edVoltage->m_fValue = 31.5f;
    SelectStep(0);
    Execute(CMD_UP, 0);
    EXPECT_EQ(Text(1004), "32.00");
    EXPECT_EQ(sim->setCentivolts(), 3200);

    m_page->m_edVoltage->m_fValue = 0.05f;
    SelectStep(2);
    Execute(CMD_DOWN, 0);
    EXPECT_EQ(Text(1004), "0.00");
    EXPECT_EQ(sim->setCentivolts(), 0);

    // Clicking into the current field makes UP step the current.
    FocusField(1006);
    EXPECT_EQ(m_page->m_bVoltageSelected.load(), 0);
    EXPECT_EQ(Text(1014), "A");
    EXPECT_EQ(Item<QComboBox>(1013)->itemText(3), "0.001");
    m_page->m_edCurrent->m_fValue = 5.05f;
    SelectStep(1);
    Execute(CMD_UP, 0);
    EXPECT_EQ(Text(1006), "5.100");
    EXPECT_EQ(sim->setMilliamps(), 5100);
    EXPECT_EQ(m_page->m_edCurrent->m_nStep, 1);
    EXPECT_EQ(Text(1004), "0.00") << "the voltage did not move";

    // Clamped again at the top: the same text, still counted as a step (OK stays hidden).
    Execute(CMD_UP, 0);
    EXPECT_EQ(Text(1006), "5.100");
    EXPECT_EQ(m_page->m_bUpStep.load(), 0);
    EXPECT_FALSE(Shown(1024));
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
        Click(1020);
    EXPECT_LE(m_page->m_qCommands.Pending().size(), 1u);
    ASSERT_TRUE(WaitFor([&] { return m_page->m_nPass.load() > clicked; }));
    EXPECT_TRUE(m_page->m_qCommands.Pending().empty());
    EXPECT_EQ(Text(1004), "6.00") << "three UP clicks in one pass move one step";
    EXPECT_EQ(Sim()->setCentivolts(), 600);
}

TEST_F(DlgControlTest, TypedPresetIsAppliedWithOk)
{
    Connect();
    auto sim = Sim();

    Type(1004, "7.5");
    EXPECT_TRUE(Shown(1024));
    EXPECT_FALSE(Shown(1023));
    EXPECT_FALSE(Shown(1022));
    Click(1024);
    ASSERT_TRUE(WaitFor([&] { return sim->setCentivolts() == 750; }));
    ASSERT_TRUE(WaitFor([&] { return !Shown(1024); }));
    EXPECT_TRUE(Shown(1023));
    EXPECT_TRUE(Shown(1022));

    Type(1004, "40");
    Click(1024);
    EXPECT_EQ(Text(1004), "32");
    ASSERT_TRUE(WaitFor([&] { return sim->setCentivolts() == 3200; }));

    Type(1006, "6");
    Click(1024);
    EXPECT_EQ(Text(1006), "5.1");
    ASSERT_TRUE(WaitFor([&] { return sim->setMilliamps() == 5100; }));
    EXPECT_EQ(sim->setCentivolts(), 3200);
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(DlgControlTest, OkWriteBackDoesNotRedirectTheApply)
{
    Connect();
    auto sim = Sim();
    // A stepped current shows three decimals; the write-back will rewrite it as "2.1".
    FocusField(1006);
    SelectStep(1);
    m_page->m_edCurrent->m_fValue = 2.0f;
    Execute(CMD_UP, 0);
    ASSERT_EQ(Text(1006), "2.100");
    ASSERT_EQ(sim->setMilliamps(), 2100);

    Type(1004, "12");
    Click(1024);
    EXPECT_EQ(Text(1006), "2.1");
    EXPECT_EQ(m_page->m_bVoltageSelected.load(), 1);
    ASSERT_TRUE(WaitFor([&] { return sim->setCentivolts() == 1200; })) << "the typed voltage is sent";
    EXPECT_EQ(sim->setMilliamps(), 2100);
}

TEST_F(DlgControlTest, OkWithoutANumberPromptsAndSendsNothing)
{
    Connect();
    auto sim = Sim();
    sim->clearLog();
    Type(1004, "");
    EXPECT_EQ(Text(1004), "");
    Click(1024);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], "Please enter a number.");
    EXPECT_TRUE(m_page->m_qCommands.Pending().empty()) << "nothing to apply";
    EXPECT_EQ(sim->setCentivolts(), 500);
    EXPECT_TRUE(Shown(1024)) << "still waiting for a value to apply";

    // A bad cycle count is reported too, but the preset read before it is applied.
    Type(1004, "9");
    Item<QLineEdit>(1037)->setText(QStringLiteral("abc"));
    Click(1024);
    ASSERT_EQ(m_messages.size(), 2u);
    EXPECT_EQ(m_messages[1], "Please enter an integer.");
    ASSERT_TRUE(WaitFor([&] { return sim->setCentivolts() == 900; }));
}

TEST_F(DlgControlTest, LanguageListRecaptionsThePage)
{
    auto* languages = Item<QComboBox>(1074);
    ASSERT_EQ(languages->count(), 2);
    EXPECT_EQ(languages->itemText(1), QStringLiteral("中文"));
    languages->setFocus();
    QTest::keyClick(languages, Qt::Key_Down);
    EXPECT_EQ(m_nLanguage, 1);
    EXPECT_EQ(Item<QGroupBox>(1008)->title(), QStringLiteral("控制面板"));
    EXPECT_EQ(Text(1021), QStringLiteral("减少"));
    EXPECT_EQ(Text(1028), QStringLiteral("未连接状态"));
    EXPECT_EQ(Text(1003), QStringLiteral("连接"));

    Connect();
    EXPECT_EQ(Text(1043), QStringLiteral("最大电压:  32V"));
    EXPECT_EQ(Text(1028), QStringLiteral("连接状态"));
    EXPECT_EQ(Text(1003), QStringLiteral("断开"));

    QTest::keyClick(languages, Qt::Key_Up);
    EXPECT_EQ(m_nLanguage, 0);
    EXPECT_EQ(Text(1021), "DOWN");
    EXPECT_EQ(Text(1032), QStringLiteral("Program file："));
    EXPECT_EQ(Text(1028), "Connected");
    EXPECT_EQ(Text(1003), "DisConnect");
    EXPECT_EQ(Text(1043), "MaxVoltage:  V");

    m_nLanguage = 1;
    Execute(CMD_CONNECT, 0);
    ASSERT_EQ(m_page->m_bConnected.load(), 0);
    EXPECT_EQ(Text(1043), QStringLiteral("最大电压:  V"));
    EXPECT_EQ(Text(1003), QStringLiteral(" 连接"));
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
    for (int id : {1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010, 1011, 1012, 1013, 1014, 1015, 1016, 1017, 1018,
                   1019, 1020, 1021, 1022, 1023, 1024, 1025, 1026, 1027, 1028, 1029, 1030, 1031, 1032, 1033, 1034,
                   1035, 1036, 1037, 1038, 1039, 1040, 1041, 1042, 1043, 1044, 1074})
        EXPECT_NE(m_page->findChild<QWidget*>(QString::number(id)), nullptr) << id;
}

TEST_F(DlgControlTest, StepsAreTheProgramsChangesEvenOnTheSameText)
{
    Connect();
    // A wheel step that lands on the typed text: the field holds a stepped value now, so the
    // page leaves the typed-but-not-applied state.
    Type(1004, "6.00");
    ASSERT_TRUE(Shown(1024));
    m_page->m_edVoltage->OnMouseWheel(-120); // 5 V preset, step 1: 6.00
    EXPECT_EQ(Text(1004), "6.00");
    EXPECT_FALSE(Shown(1024));
    EXPECT_TRUE(Shown(1023));
    EXPECT_EQ(Sim()->setCentivolts(), 600);

    // UP is marked together with the text it writes: a key typed while the worker has taken UP
    // but the UI thread has not yet run its step is typing, not the step.
    Type(1004, "7");
    m_page->m_edVoltage->m_fValue = 5.0f;
    SelectStep(1);
    Click(1020);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!m_page->m_qCommands.Pending().empty() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(m_page->m_qCommands.Pending().empty()) << "the worker took UP";
    QTest::keyClick(m_page->m_edVoltage, Qt::Key_8); // "78": handled before the step reaches us
    EXPECT_TRUE(Shown(1024)) << "a keystroke is never taken for the step";
    ASSERT_TRUE(WaitFor([&] { return Text(1004) == "6.00"; }));
    EXPECT_FALSE(Shown(1024));
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
    Click(1031);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_TRUE(m_messages[0].startsWith("Can not open file: "));
    ASSERT_TRUE(m_page->IsTimerActive(CDlgControl::kProgramTimer));
    Tick(CDlgControl::kProgramTimer);
    Tick(CDlgControl::kProgramTimer);
    EXPECT_EQ(Text(1004), "2.00") << "both points of the program play";
    EXPECT_EQ(Sim()->setCentivolts(), 200);
}
