#include "app/TarnwellApp.h"
#include "device/pslink.h"

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
    parser.addOption({QStringLiteral("screenshots"),
                      QStringLiteral("Walk through the pages, save a picture of each into <dir>, then quit."),
                      QStringLiteral("dir")});
    parser.process(theApp);

    if (parser.isSet(QStringLiteral("simulate")))
        pslink::SetSimulateAll(true);
    theApp.m_strScreenshotDir = parser.value(QStringLiteral("screenshots"));
    return theApp.InitInstance();
}
