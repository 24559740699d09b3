#include "app/TarnwellDlg.h"

#include "app/AboutDlg.h"
#include "engine/RunEngine.h"
#include "platform/Dialogs.h"
#include "widgets/Captions.h"
#include "widgets/ItemIds.h"

#include <QGridLayout>
#include <QTabBar>
#include <QToolButton>

static void InitTarnwellResources()
{
    // The icon lives in the core library's resources; a static library needs them pulled in.
    Q_INIT_RESOURCE(tarnwell);
}

CTarnwellDlg::CTarnwellDlg(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_actAbout(QStringLiteral("&About Tarnwell..."))
{
    InitTarnwellResources();
    m_hIcon = QIcon(QStringLiteral(":/tarnwell/tarnwell.png"));
    m_hIcon.addFile(QStringLiteral(":/tarnwell/tarnwell-48.png"));
    setWindowTitle(QStringLiteral("Tarnwell"));
    setWindowIcon(m_hIcon);

    m_tab.setObjectName(ItemName(IDC_TAB));
    m_tab.setParent(this);
    m_pageControl.setObjectName(QStringLiteral("129"));
    m_pageProgram.setObjectName(QStringLiteral("130"));
    m_pageRecord.setObjectName(QStringLiteral("131"));
    const QWidget* const pages[] = {&m_pageControl, &m_pageProgram, &m_pageRecord};
    // Every page gets the same area; a larger desktop font may need more than the usual one, and
    // a page is never squeezed below what its layout needs.
    QSize pageSize(kPageWidth, kPageHeight);
    for (const QWidget* page : pages)
        pageSize = pageSize.expandedTo(page->minimumSizeHint());
    m_pageControl.setFixedSize(pageSize);
    m_pageProgram.setFixedSize(pageSize);
    m_pageRecord.setFixedSize(pageSize);
    // Tab 0 is current after the first insert, so the Control page is the one shown.
    const QStringList tabs = CaptionList(captions::kTabs, false);
    m_tab.addTab(&m_pageControl, tabs.value(0));
    m_tab.addTab(&m_pageProgram, tabs.value(1));
    m_tab.addTab(&m_pageRecord, tabs.value(2));
    m_tab.setCurrentIndex(0);

    // No page may read the flag while it is being built; they get it once all three exist.
    m_pageControl.m_pLanguage = &m_nLanguage;
    m_pageProgram.m_pLanguage = &m_nLanguage;
    m_pageRecord.m_pLanguage = &m_nLanguage;

    connect(&m_tab, &QTabWidget::currentChanged, this, &CTarnwellDlg::OnSelchangeTab);

    // A Linux desktop has no window system menu to extend: the about entry sits in the tab
    // bar's context menu, behind the "?" corner button and on F1.
    m_actAbout.setShortcut(QKeySequence(Qt::Key_F1));
    m_actAbout.setShortcutContext(Qt::WindowShortcut);
    connect(&m_actAbout, &QAction::triggered, this, &CTarnwellDlg::OnAbout);
    addAction(&m_actAbout);
    if (QTabBar* bar = m_tab.findChild<QTabBar*>(QString(), Qt::FindDirectChildrenOnly)) {
        bar->setContextMenuPolicy(Qt::ActionsContextMenu);
        bar->addAction(&m_actAbout);
    }
    auto* help = new QToolButton(&m_tab);
    help->setObjectName(QStringLiteral("help"));
    help->setText(QStringLiteral("?"));
    help->setToolTip(QStringLiteral("About Tarnwell (F1)"));
    help->setAutoRaise(true);
    connect(help, &QToolButton::clicked, &m_actAbout, &QAction::trigger);
    m_tab.setCornerWidget(help, Qt::TopRightCorner);

    // The tab control keeps the size that gives every page its area; a larger window only adds
    // margin at the right and bottom, and the window cannot shrink below it.
    m_tab.setFixedSize(m_tab.minimumSizeHint());
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(10, 10, 10, 10);
    grid->addWidget(&m_tab, 0, 0, Qt::AlignLeft | Qt::AlignTop);
    grid->setRowStretch(1, 1);
    grid->setColumnStretch(1, 1);
}

CTarnwellDlg::~CTarnwellDlg()
{
    // Removing the pages from the tab control changes its selection; no page is to be
    // re-captioned while they are being destroyed.
    disconnect(&m_tab, nullptr, this, nullptr);
    m_tab.blockSignals(true);
}

void CTarnwellDlg::OnSelchangeTab(int nSelection)
{
    // The tab control shows the selected page and hides the others; a selection outside the
    // three tabs leaves them as they are.
    (void)nSelection;
    m_pageProgram.ApplyLanguage();
    m_pageRecord.ApplyLanguage();
}

void CTarnwellDlg::OnAbout()
{
    CAboutDlg about(this);
    about.setWindowIcon(m_hIcon);
    about.exec();
}

void CTarnwellDlg::ReportSettingsIssues()
{
    const QString strMessage = CPortsView::SettingsMessage();
    if (!strMessage.isEmpty())
        platform::MessageBox(strMessage);
}

void CTarnwellDlg::ReportCutOffRuns()
{
    for (const CRunJournal::CutOff& cutOff : CRunJournal::TakeCutOffRuns())
        platform::MessageBox(CRunJournal::CutOffMessage(cutOff));
}
