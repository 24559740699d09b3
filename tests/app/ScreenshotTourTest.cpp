// The screenshot tour that makes the README's pictures walks the real pages; it must keep working
// as they change.
#include "app/ScreenshotTour.h"
#include "app/TarnwellDlg.h"
#include "device/pslink.h"

#include <QDir>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

TEST(ScreenshotTour, SavesEveryPageAndFinishes)
{
    pslink::ResetSimulators();
    pslink::SetSimulateAll(true);
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    {
        CTarnwellDlg dlg;
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        CScreenshotTour tour(dlg, out.path());
        QSignalSpy finished(&tour, &CScreenshotTour::Finished);
        tour.Start();
        // The demo program plays for 16 seconds.
        ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 90000));
        EXPECT_EQ(finished.at(0).at(0).toInt(), 0);
        for (const char* name : {"control-en.png", "program-en.png", "record-en.png", "control-zh.png",
                                 "record-zh.png"}) {
            QImage image(QDir(out.path()).filePath(name));
            EXPECT_EQ(image.size(), dlg.size()) << name;
        }
        EXPECT_EQ(dlg.m_nLanguage, 1);
        EXPECT_EQ(dlg.m_tab.currentIndex(), 2);
    }
    pslink::SetSimulateAll(false);
}
