// tarnwell-cli: the supply from scripts, terminals and headless machines. A plain
// QCoreApplication (no display needed) over the same supply object, device library and run
// engine as the window.
#include "cli/CliCommands.h"
#include "cli/CliConsole.h"
#include "cli/CliOptions.h"
#include "cli/CliPlot.h"
#include "cli/CliPort.h"
#include "cli/CliRun.h"
#include "cli/CliServe.h"
#include "engine/RunEngine.h"
#include "platform/BuildVersion.h"

#include <QCoreApplication>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("tarnwell-cli %s\n", platform::kBuildVersion);
        return kExitDone;
    }
    // plot draws text and so runs on an application of its own.
    if (argc > 1 && std::strcmp(argv[1], "plot") == 0)
        return RunPlot(argc, argv);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnwell-cli"));
    // Qt hands the C library the user's locale; numbers here are C-locale whatever it is.
    std::setlocale(LC_NUMERIC, "C");
    // A reader that went away shows as a failed write, so the run can still save its files.
    std::signal(SIGPIPE, SIG_IGN);

    CCliConsole& console = CCliConsole::Instance();

    CCliOptions options;
    QString strError = options.Parse(QCoreApplication::arguments().mid(1));
    CCliPort port;
    if (strError.isEmpty() && !options.bHelp && options.nCommand != CCliOptions::kPorts)
        strError = port.Resolve(options.strPort);
    if (!strError.isEmpty()) {
        console.Error(strError);
        std::fputs(CCliOptions::Usage(options.nCommand).toLocal8Bit().constData(), stderr);
        return kExitUsage;
    }
    if (options.bHelp) {
        std::fputs(CCliOptions::Usage(options.nCommand).toLocal8Bit().constData(), stdout);
        return kExitDone;
    }

    // Every command reaches ports through the user's settings files: say what in them is ignored.
    for (const QString& strIssue : CPortsView::SettingsIssues())
        console.Error(strIssue);

    switch (options.nCommand) {
    case CCliOptions::kPorts:
        return RunPorts(options);
    case CCliOptions::kIdentify:
        return RunIdentify(port);
    case CCliOptions::kSet:
        return RunSet(options, port);
    case CCliOptions::kRead:
        return RunRead(options, port);
    case CCliOptions::kLog:
    case CCliOptions::kPlay: {
        CCliRun run(options, port);
        const int nExit = run.Start();
        if (nExit >= 0)
            return nExit;
        QObject::connect(&run, &CCliRun::Finished, &app, [](int nCode) { QCoreApplication::exit(nCode); });
        return QCoreApplication::exec();
    }
    case CCliOptions::kServe:
        return RunServe(options, port);
    case CCliOptions::kNone:
        break;
    }
    return kExitUsage;
}
