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
    parser.process(theApp);

    if (parser.isSet(QStringLiteral("simulate")))
        CPortsView::SimulateAll(true);
    return theApp.InitInstance();
}
