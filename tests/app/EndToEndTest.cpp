// One session through the whole window with real input events against the simulated supply:
// connect, apply a preset, play a two-cycle program, save its record and read it back on the
// DataRecord page.
#include "WindowTestSupport.h"

#include "device/link/SimulatedSupply.h"
#include "device/pslink.h"
#include "support/DialogRecorder.h"

#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void TypeInto(QWidget* field, const QString& text)
{
    QTest::mouseClick(field, Qt::LeftButton);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
}

void Click(QWidget* widget)
{
    ASSERT_NE(widget, nullptr);
    ClickItem(widget);
}

QString TextOf(QWidget& page, int id)
{
    auto* field = qobject_cast<QLineEdit*>(ItemOf(page, id));
    return field ? field->text() : QStringLiteral("<no field %1>").arg(id);
}

} // namespace

TEST(EndToEnd, ConnectPresetTwoCycleProgramSaveAndReadBack)
{
    pslink::ResetSimulators();
    pslink::SetSimulateAll(true);
    DialogRecorder dialogs;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.filePath("two-points.csv");
    const QString record = dir.filePath("run.csv");
    {
        QFile file(program);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("Time(S),Voltage(V),Current(A)\r\n1,6.00,1.000\r\n2,9.00,1.200\r\n");
    }

    {
        CTarnwellDlg dlg;
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        dlg.activateWindow();
        QWidget& control = dlg.m_pageControl;

        Click(ItemOf(control, IDC_CONNECT));
        ASSERT_TRUE(QTest::qWaitFor([&] { return ItemOf(control, IDC_ON)->isEnabled(); }, 10000));
        auto sim = pslink::SimulatorFor(0);
        ASSERT_NE(sim, nullptr);

        // A typed preset waits for OK, then goes to the supply.
        TypeInto(ItemOf(control, IDC_VOLTAGE), "7.5");
        ASSERT_TRUE(ItemOf(control, IDC_OK)->isVisible());
        EXPECT_FALSE(ItemOf(control, IDC_ON)->isVisible());
        Click(ItemOf(control, IDC_OK));
        ASSERT_TRUE(QTest::qWaitFor([&] { return sim->setCentivolts() == 750; }, 10000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return ItemOf(control, IDC_ON)->isVisible(); }, 5000));

        // Program mode asks for the program file and shows its length.
        dialogs.answerNext(program);
        Click(ItemOf(control, IDC_PROGRAM_MODE));
        EXPECT_EQ(TextOf(control, IDC_PROGRAM_FILE), program);
        EXPECT_EQ(TextOf(control, IDC_TIME), "2");
        TypeInto(ItemOf(control, IDC_CYCLES), "2");

        Click(ItemOf(control, IDC_ON));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !ItemOf(control, IDC_ON)->isEnabled(); }, 5000));
        // Four points at one a second; the run ends by itself and gives ON and Save Data back.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return ItemOf(control, IDC_ON)->isEnabled() && ItemOf(control, IDC_SAVE)->isEnabled(); }, 20000));
        EXPECT_EQ(sim->setCentivolts(), 900);
        EXPECT_EQ(sim->setMilliamps(), 1200);
        EXPECT_TRUE(sim->outputOn()); // the end of a program leaves the output as it is

        dialogs.answerNext(record);
        Click(ItemOf(control, IDC_SAVE));
        ASSERT_TRUE(QFile::exists(record));

        ClickTab(dlg, 2);
        QWidget& page = dlg.m_pageRecord;
        ASSERT_TRUE(page.isVisible());
        dialogs.answerNext(record);
        Click(ItemOf(page, IDC_OPEN));
        EXPECT_EQ(TextOf(page, IDC_TOTAL_TIME), "4");
        EXPECT_TRUE(TextOf(page, IDC_FILE_NAME).endsWith("run.csv"));
        EXPECT_EQ(TextOf(page, IDC_FILE_TYPE), "Data Record File");
        EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join(" | ").toStdString();
        // Closing the window with the link open stops the worker and closes the port.
    }
    EXPECT_EQ(dsoLinkAlive(0), 0);
    pslink::SetSimulateAll(false);

    QFile saved(record);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = saved.readAll().split('\n');
    lines.removeAll(QByteArray());
    ASSERT_EQ(lines.size(), 5); // the header and two points twice
    EXPECT_EQ(lines[0], "Time(S),Voltage(V),Current(A)\r");
}
