#include "app/SelfTest.h"

#include "app/TarnwellDlg.h"
#include "platform/Dialogs.h"
#include "widgets/ItemIds.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>

namespace {

// Bound on each step but the run itself: connecting to the built-in supply takes milliseconds.
constexpr qint64 kStepMs = 10000;

} // namespace

CSelfTest::CSelfTest(CTarnwellDlg& dialog, int nSeconds) : m_dialog(dialog), m_nSeconds(nSeconds)
{
    platform::SetDialogHandlers(
        [](const QString& strText) { std::fprintf(stderr, "tarnwell: %s\n", qPrintable(strText)); },
        [](const platform::FileDialogRequest&) { return std::optional<QString>(); });
    connect(&m_tmCheck, &QTimer::timeout, this, &CSelfTest::Check);
    m_tmCheck.start(100);
    Next(kConnecting, IDC_CONNECT);
}

CSelfTest::~CSelfTest()
{
    platform::SetDialogHandlers({}, {});
}

void CSelfTest::Next(Step nStep, int nButton)
{
    m_nStep = nStep;
    m_since.start();
    if (nButton == 0)
        return;
    if (auto* button = m_dialog.m_pageControl.findChild<QPushButton*>(ItemName(nButton)))
        button->click();
}

void CSelfTest::Check()
{
    CDlgControl& page = m_dialog.m_pageControl;
    const bool bConnected = page.m_bConnected.load() != 0;
    const bool bRunning = page.IsRunning();
    switch (m_nStep) {
    case kConnecting:
        if (bConnected)
            Next(kStarting, IDC_ON);
        break;
    case kStarting:
        if (bRunning) {
            std::fprintf(stderr, "tarnwell: self test: connected, running for %d s\n", m_nSeconds);
            Next(kRunning);
        }
        break;
    case kRunning:
        if (!bRunning)
            return Quit(1, "the run ended by itself");
        if (m_since.elapsed() >= m_nSeconds * 1000LL) {
            if (page.m_nElapsed < 1 || page.m_edMeasVoltage->text().isEmpty())
                return Quit(1, "the run showed no sample");
            Next(kStopping, IDC_OFF);
        }
        return;
    case kStopping:
        if (!bRunning)
            Next(kDisconnecting, IDC_CONNECT);
        break;
    case kDisconnecting:
        if (!bConnected)
            return Quit(0, nullptr);
        break;
    }
    if (m_since.elapsed() > kStepMs)
        Quit(1, "a step did not come about in time");
}

void CSelfTest::Quit(int nStatus, const char* pszWhy)
{
    m_tmCheck.stop();
    if (pszWhy)
        std::fprintf(stderr, "tarnwell: self test failed: %s\n", pszWhy);
    else
        std::fprintf(stderr, "tarnwell: self test passed: %lld samples\n", static_cast<long long>(m_dialog.m_pageControl.m_nElapsed));
    m_dialog.close();
    QApplication::exit(nStatus);
}
