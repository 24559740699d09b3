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

QString TextOf(QWidget& page, const char* id)
{
    auto* field = qobject_cast<QLineEdit*>(ItemOf(page, id));
    return field ? field->text() : QStringLiteral("<no field %1>").arg(QString::fromLatin1(id));
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

        Click(ItemOf(control, "1003"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return ItemOf(control, "1023")->isEnabled(); }, 10000));
        auto sim = pslink::SimulatorFor(0);
        ASSERT_NE(sim, nullptr);

        // A typed preset waits for OK, then goes to the supply.
        TypeInto(ItemOf(control, "1004"), "7.5");
        ASSERT_TRUE(ItemOf(control, "1024")->isVisible());
        EXPECT_FALSE(ItemOf(control, "1023")->isVisible());
        Click(ItemOf(control, "1024"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return sim->setCentivolts() == 750; }, 10000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return ItemOf(control, "1023")->isVisible(); }, 5000));

        // Program mode asks for the program file and shows its length.
        dialogs.answerNext(program);
        Click(ItemOf(control, "1031"));
        EXPECT_EQ(TextOf(control, "1033"), program);
        EXPECT_EQ(TextOf(control, "1035"), "2");
        TypeInto(ItemOf(control, "1037"), "2");

        Click(ItemOf(control, "1023"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !ItemOf(control, "1023")->isEnabled(); }, 5000));
        // Four points at one a second; the run ends by itself and gives ON and Save Data back.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return ItemOf(control, "1023")->isEnabled() && ItemOf(control, "1040")->isEnabled(); }, 20000));
        EXPECT_EQ(sim->setCentivolts(), 900);
        EXPECT_EQ(sim->setMilliamps(), 1200);
        EXPECT_TRUE(sim->outputOn()); // the end of a program leaves the output as it is

        dialogs.answerNext(record);
        Click(ItemOf(control, "1040"));
        ASSERT_TRUE(QFile::exists(record));

        ClickTab(dlg, 2);
        QWidget& page = dlg.m_pageRecord;
        ASSERT_TRUE(page.isVisible());
        dialogs.answerNext(record);
        Click(ItemOf(page, "1052"));
        EXPECT_EQ(TextOf(page, "1065"), "4");
        EXPECT_TRUE(TextOf(page, "1047").endsWith("run.csv"));
        EXPECT_EQ(TextOf(page, "1049"), "Data Record File");
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
