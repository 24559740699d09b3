// tarnwell-screenshots DIR: walks the main window through a short session on the simulated supply
// and saves a picture of each page into DIR (the README's pictures, see scripts/screenshots.sh).
#include "ScreenshotTour.h"

#include "app/TarnwellApp.h"
#include "app/TarnwellDlg.h"
#include "engine/RunEngine.h"

#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char** argv)
{
    CTarnwellApp app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Saves a picture of each page of Tarnwell, driven on the simulated supply, into DIR."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("Folder for the pictures."));
    parser.process(app);
    if (parser.positionalArguments().size() != 1) {
        std::fprintf(stderr, "%s\n", qPrintable(parser.helpText()));
        return 2;
    }

    // Every port is the simulator, whatever the environment maps.
    for (int n = 1; n <= 7; ++n)
        qunsetenv(QByteArray("TARNWELL_COM") + QByteArray::number(n));
    CPortsView::SimulateAll(true);

    CTarnwellDlg dialog;
    app.setWindowIcon(dialog.m_hIcon);
    dialog.show();
    CScreenshotTour tour(dialog, parser.positionalArguments().constFirst());
    QObject::connect(&tour, &CScreenshotTour::Finished, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    tour.Start();
    return app.exec();
}
