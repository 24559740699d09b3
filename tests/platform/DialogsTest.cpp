#include "platform/Dialogs.h"
#include "platform/widgets/WidgetDialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

TEST(Dialogs, PipeFiltersBecomeQtFiltersAndSavesGetTheirExtension)
{
    EXPECT_EQ(platform::QtFilterFromPipeFilter("CSV File(*.csv)|*.csv||"), "CSV File(*.csv) (*.csv)");
    EXPECT_EQ(platform::QtFilterFromPipeFilter("Program File(*.csv)|*.csv|Text File(*.txt)|*.txt||"),
              "Program File(*.csv) (*.csv);;Text File(*.txt) (*.txt)");
    EXPECT_EQ(platform::QtFilterFromPipeFilter("Program Files(*.csv)|*.csv|"), "Program Files(*.csv) (*.csv)");
    EXPECT_EQ(platform::WithDefaultExtension("/tmp/run", ".csv"), "/tmp/run.csv");
    EXPECT_EQ(platform::WithDefaultExtension("/tmp/run.txt", ".csv"), "/tmp/run.txt");
    EXPECT_EQ(platform::WithDefaultExtension("/tmp/a.b/run", ".csv"), "/tmp/a.b/run.csv");
}

TEST(Dialogs, WithoutAFrontEndMessagesGoToStandardErrorAndNoFileIsChosen)
{
    platform::SetDialogHandlers({}, {});
    platform::SetDialogFrontEnd({}, {});
    testing::internal::CaptureStderr();
    platform::MessageBox(QStringLiteral("This is not a CSV file!"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "This is not a CSV file!\n");
    EXPECT_EQ(platform::ChooseFile({true, "Save Data As CSV...", "CSV File(*.csv)|*.csv||", ".csv"}), std::nullopt);
}

TEST(Dialogs, AMessageFromAWorkerIsShownOnTheUiThreadWithoutWaiting)
{
    platform::SetDialogHandlers({}, {});
    platform::InstallWidgetDialogs();
    std::thread worker([] {
        platform::MessageBox(QStringLiteral("Can not open file: I/O error"));
        EXPECT_EQ(platform::ChooseFile({false, "Open File...", "Program Files(*.csv)|*.csv|", ".set"}), std::nullopt);
    });
    worker.join(); // returned without the UI thread's help

    // The box runs its own modal loop: answer it from a timer, as a person would.
    QString shownText;
    QMessageBox::StandardButtons buttons;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shownText = box->text();
            buttons = box->standardButtons();
            box->accept();
        }
    });
    closer.start(10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shownText.isEmpty(); }, 5000));
    EXPECT_EQ(shownText, "Can not open file: I/O error");
    EXPECT_EQ(buttons, QMessageBox::Ok);
    platform::SetDialogFrontEnd({}, {});
}
