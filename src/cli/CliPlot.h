#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

/// The command line of `tarnwell-cli plot RECORD.csv --out FILE ...`, parsed.
struct CPlotOptions
{
    QString strRecord;
    QString strOut;
    int nTimeScale = 0;  ///< index of device/TimeScales.h; the page starts on 50 seconds too
    int nFrom = 0;       ///< first second wanted; held within the record when drawn
    bool bShowVoltage = true;
    bool bShowCurrent = true;
    QSize size{800, 600};
    bool bHelp = false;

    /// Parses the arguments after "plot". Empty on success, else what was wrong.
    QString Parse(const QStringList& args);
    /// The help of the command, ending in a line end.
    static QString Usage();
};

/// Runs `tarnwell-cli plot ...` (argv[1] is "plot") and returns the exit status. Drawing text
/// needs a GUI application, so this one makes its own, on the offscreen platform: no display.
int RunPlot(int argc, char** argv);
