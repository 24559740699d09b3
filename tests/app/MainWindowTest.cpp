// The main window on its own: tabs, page placement, resizing, the about box and closing.
#include "app/AboutDlg.h"
#include "app/TarnwellDlg.h"
#include "device/pslink.h"
#include "platform/BuildVersion.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Closes the next modal dialog once it is up and reports its title and texts.
struct ModalCloser
{
    QString title;
    QStringList texts;
    void arm()
    {
        QTimer::singleShot(0, [this] { poll(); });
    }
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            QTimer::singleShot(10, [this] { poll(); });
            return;
        }
        title = modal->windowTitle();
        for (QLabel* label : modal->findChildren<QLabel*>())
            texts << label->text();
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->accept();
    }
};

QList<QWidget*> Pages(CTarnwellDlg& dlg)
{
    return {&dlg.m_pageControl, &dlg.m_pageProgram, &dlg.m_pageRecord};
}

} // namespace

TEST(MainWindow, StartsOnControlTabWithOnlyThatPageVisible)
{
    pslink::ResetSimulators();
    CTarnwellDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));

    EXPECT_EQ(dlg.windowTitle(), "Tarnwell");
    EXPECT_EQ(dlg.m_nLanguage, 0);
    EXPECT_FALSE(dlg.windowIcon().isNull());
    ASSERT_EQ(dlg.m_tab.count(), 3);
    EXPECT_EQ(dlg.m_tab.tabText(0), "Control");
    EXPECT_EQ(dlg.m_tab.tabText(1), "Program");
    EXPECT_EQ(dlg.m_tab.tabText(2), "DataRecord");
    EXPECT_EQ(dlg.m_tab.objectName(), "1002");
    EXPECT_EQ(dlg.m_tab.currentIndex(), 0);
    EXPECT_TRUE(dlg.m_pageControl.isVisible());
    EXPECT_FALSE(dlg.m_pageProgram.isVisible());
    EXPECT_FALSE(dlg.m_pageRecord.isVisible());
    // Every page gets the same area of the size the pages are laid out for.
    for (QWidget* page : Pages(dlg))
        EXPECT_EQ(page->size(), QSize(CTarnwellDlg::kPageWidth, CTarnwellDlg::kPageHeight));
    EXPECT_EQ(dlg.m_pageControl.mapTo(&dlg, QPoint(0, 0)), dlg.m_pageProgram.mapTo(&dlg, QPoint(0, 0)));
}

TEST(MainWindow, ClickingTabsShowsExactlyOnePage)
{
    pslink::ResetSimulators();
    CTarnwellDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    QTabBar* bar = dlg.m_tab.findChild<QTabBar*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_NE(bar, nullptr);

    for (int index : {2, 1, 0, 2, 2, 0}) {
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
        EXPECT_EQ(dlg.m_tab.currentIndex(), index);
        const QList<QWidget*> pages = Pages(dlg);
        for (int i = 0; i < pages.size(); ++i)
            EXPECT_EQ(pages[i]->isVisible(), i == index) << "tab " << index << " page " << i;
    }
}

TEST(MainWindow, ResizingKeepsTabControlAndPagesInPlace)
{
    pslink::ResetSimulators();
    CTarnwellDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    const QRect tab = dlg.m_tab.geometry();
    const QPoint pageAt = dlg.m_pageControl.mapTo(&dlg, QPoint(0, 0));
    const QSize pageSize = dlg.m_pageControl.size();

    dlg.resize(dlg.width() + 300, dlg.height() + 200);
    QCoreApplication::processEvents(); // the layout the resize asked for
    EXPECT_EQ(dlg.m_tab.geometry(), tab);
    EXPECT_EQ(dlg.m_pageControl.mapTo(&dlg, QPoint(0, 0)), pageAt);
    EXPECT_EQ(dlg.m_pageControl.size(), pageSize);

    // Shrinking stops at the size that still shows the whole tab control.
    dlg.resize(200, 150);
    QCoreApplication::processEvents();
    EXPECT_GE(dlg.width(), tab.right());
    EXPECT_GE(dlg.height(), tab.bottom());
    EXPECT_EQ(dlg.m_tab.geometry(), tab);
}

TEST(MainWindow, AboutBoxFromF1ContextMenuEntryAndCornerButton)
{
    pslink::ResetSimulators();
    CTarnwellDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    dlg.activateWindow();

    EXPECT_EQ(dlg.m_actAbout.text(), "&About Tarnwell...");
    QTabBar* bar = dlg.m_tab.findChild<QTabBar*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->contextMenuPolicy(), Qt::ActionsContextMenu);
    EXPECT_TRUE(bar->actions().contains(&dlg.m_actAbout));

    ModalCloser viaKey;
    viaKey.arm();
    QTest::keyClick(&dlg, Qt::Key_F1);
    EXPECT_EQ(viaKey.title, "About Tarnwell");
    EXPECT_TRUE(viaKey.texts.contains("Tarnwell, Version 1.0"));
    EXPECT_EQ(viaKey.texts.size(), 3); // icon, version, our own second line
    EXPECT_TRUE(viaKey.texts.join('\n').contains(QStringLiteral("Build %1").arg(platform::kBuildVersion)));

    CAboutDlg standalone;
    auto* icon = standalone.findChild<QLabel*>("128");
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->pixmap().isNull());

    ModalCloser viaButton;
    viaButton.arm();
    auto* help = dlg.m_tab.findChild<QWidget*>("help");
    ASSERT_NE(help, nullptr);
    QTest::mouseClick(help, Qt::LeftButton);
    EXPECT_EQ(viaButton.title, "About Tarnwell");
    EXPECT_EQ(dlg.m_tab.currentIndex(), 0); // the about box changes nothing else
}

TEST(MainWindow, ClosingTheWindowDestroysItCleanly)
{
    pslink::ResetSimulators();
    QPointer<CTarnwellDlg> dlg = new CTarnwellDlg;
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.data()));
    QTest::mouseClick(dlg->m_tab.findChild<QTabBar*>(QString(), Qt::FindDirectChildrenOnly), Qt::LeftButton,
                      {}, QPoint(5, 5));
    // The pages go in reverse order of construction: the Control page, whose destructor stops
    // its worker and closes the port, is the last one.
    QStringList destroyed;
    for (QWidget* page : Pages(*dlg))
        QObject::connect(page, &QObject::destroyed, [&destroyed](QObject* object) {
            destroyed << object->objectName();
        });
    dlg->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.isNull(); }, 5000));
    EXPECT_EQ(destroyed, (QStringList{"131", "130", "129"}));
}
