#include "app/TarnwellApp.h"

#include "app/SelfTest.h"
#include "app/TarnwellDlg.h"
#include "platform/BuildVersion.h"
#include "platform/widgets/WidgetDialogs.h"

#include <QTimer>

#include <clocale>
#include <optional>

CTarnwellApp::CTarnwellApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Tarnwell"));
    setApplicationVersion(QLatin1String(platform::kBuildVersion));
    setDesktopFileName(QStringLiteral("tarnwell"));
    // QApplication took the locale from the environment; numbers in files, fields and pictures
    // are always written with a decimal point, whatever the user's language.
    setlocale(LC_NUMERIC, "C");
    platform::InstallWidgetDialogs();
}

int CTarnwellApp::InitInstance(int nSelfTestSeconds)
{
    CTarnwellDlg dialog;
    setWindowIcon(dialog.m_hIcon);
    dialog.show();
    std::optional<CSelfTest> selfTest;
    if (nSelfTestSeconds > 0)
        selfTest.emplace(dialog, nSelfTestSeconds); // answers the message boxes below too
    // Once the window is up: a run cut off last time is not lost, and the user is told where.
    QTimer::singleShot(0, &dialog, &CTarnwellDlg::ReportCutOffRuns);
    // A line of ports.conf or modules.csv that is ignored must not go unnoticed.
    QTimer::singleShot(0, &dialog, &CTarnwellDlg::ReportSettingsIssues);
    // Returns once the window is closed; the dialog's pages are destroyed on the way out
    // (the Control page stops its worker and closes the port), before the program exits.
    return exec();
}
