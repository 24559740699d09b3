#include "app/TarnwellApp.h"
#include "engine/RunEngine.h"
#include "platform/BuildVersion.h"

#include <QCommandLineParser>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    // Answered before the window's application exists, which needs a display.
    if (argc == 2 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-v") == 0)) {
        std::printf("tarnwell %s\n", platform::kBuildVersion);
        return 0;
    }
    CTarnwellApp theApp(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Control program for a bench power supply."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("simulate"),
                      QStringLiteral("Every port without its own TARNWELL_COM<n> reaches the simulated supply.")});
    const QCommandLineOption selfTest(
        QStringLiteral("self-test"),
        QStringLiteral("Connect COM1, run for SECONDS, stop, disconnect and quit: status 0 when the run showed samples."),
        QStringLiteral("SECONDS"));
    parser.addOption(selfTest);
    parser.process(theApp);

    if (parser.isSet(QStringLiteral("simulate")))
        CPortsView::SimulateAll(true);
    int nSelfTest = 0;
    if (parser.isSet(selfTest)) {
        bool bOk = false;
        nSelfTest = parser.value(selfTest).toInt(&bOk);
        if (!bOk || nSelfTest < 1) {
            std::fprintf(stderr, "tarnwell: --self-test takes a whole number of seconds, at least 1\n");
            return 1;
        }
    }
    return theApp.InitInstance(nSelfTest);
}
