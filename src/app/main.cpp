#include "app/TarnwellApp.h"
#include "engine/RunEngine.h"

#include <QCommandLineParser>

int main(int argc, char** argv)
{
    CTarnwellApp theApp(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Control program for a bench power supply."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("simulate"),
                      QStringLiteral("Every port without its own TARNWELL_COM<n> reaches the simulated supply.")});
    parser.process(theApp);

    if (parser.isSet(QStringLiteral("simulate")))
        CRunEngine::SimulateAll(true);
    return theApp.InitInstance();
}
