// tarnwell-cli plot: the DataRecord page's picture of a record file, as PNG, SVG or PDF. The page
// and this command draw through one function (device/draw/RecordPicture.h), load the record the
// same way and hold the first second shown as the page's scroll bar does.
#include "cli/CliPlot.h"

#include "cli/CliConsole.h"
#include "cli/CliOptions.h"
#include "device/PowerSupply.h"
#include "device/TimeScales.h"
#include "device/draw/PictureFile.h"
#include "device/draw/RecordPicture.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRegularExpression>

#include <clocale>
#include <cstdio>
#include <vector>

namespace {

constexpr int kMinSide = 100;
constexpr int kMaxSide = 4096;

// "50s", "5m", "100h": the window of a time scale in its own unit.
QString ScaleName(const timescale::Scale& scale)
{
    const char* unit = scale.unit == timescale::kSeconds ? "s" : scale.unit == timescale::kMinutes ? "m" : "h";
    return QString::number(scale.window / static_cast<int>(scale.unit)) + QLatin1String(unit);
}

QStringList ScaleNames()
{
    QStringList names;
    for (const timescale::Scale& scale : timescale::kScales)
        names << ScaleName(scale);
    return names;
}

// Whole seconds, or a number with s, m or h; 0 is allowed.
bool ParseSeconds(const QString& text, int& nSeconds)
{
    if (text == QLatin1String("0")) {
        nSeconds = 0;
        return true;
    }
    return CCliOptions::ParseDuration(text, nSeconds);
}

bool ParseSize(const QString& text, QSize& size)
{
    static const QRegularExpression kForm(QStringLiteral("^([0-9]{1,5})x([0-9]{1,5})$"));
    const QRegularExpressionMatch match = kForm.match(text);
    if (!match.hasMatch())
        return false;
    const int width = match.captured(1).toInt();
    const int height = match.captured(2).toInt();
    if (width < kMinSide || width > kMaxSide || height < kMinSide || height > kMaxSide)
        return false;
    size = QSize(width, height);
    return true;
}

// The one place the record is read: as the DataRecord page reads it, so the same files are
// refused with the same reason.
bool LoadRecord(CPowerSupply& supply, const QString& strPath)
{
    supply.m_bDisplayMode = 1;
    const CResult loaded = supply.Load(strPath, false);
    if (!loaded.Ok()) {
        CCliConsole::Instance().Error(QStringLiteral("%1: %2").arg(strPath, loaded.Message()));
        return false;
    }
    supply.ExpandProgram();
    return true;
}

} // namespace

QString CPlotOptions::Parse(const QStringList& args)
{
    CArgWalker walker(args, 0);
    for (CArgWalker::Arg next; walker.Next(next);) {
        if (next.nKind == CArgWalker::Arg::kOperand) {
            if (!strRecord.isEmpty())
                return QStringLiteral("only one record file, not also '%1'").arg(next.strText);
            strRecord = next.strText;
            continue;
        }
        if (next.nKind == CArgWalker::Arg::kHelp) {
            bHelp = true;
            continue;
        }
        const QString& arg = next.strText;
        const QStringList known = {QStringLiteral("--out"), QStringLiteral("--scale"), QStringLiteral("--from"),
                                   QStringLiteral("--show"), QStringLiteral("--size")};
        if (!known.contains(arg))
            return QStringLiteral("unknown option '%1' for plot").arg(arg);
        if (!next.value && !(next.value = walker.TakeValue()))
            return QStringLiteral("%1 needs a value").arg(arg);
        const QString value = *next.value;
        if (arg == QLatin1String("--out")) {
            pslink::PictureFormat format;
            if (!pslink::PictureFormatOf(value, format))
                return QStringLiteral("--out wants a file name ending in %1, not '%2'")
                    .arg(pslink::PictureExtensions(), value);
            strOut = value;
        } else if (arg == QLatin1String("--scale")) {
            nTimeScale = static_cast<int>(ScaleNames().indexOf(value));
            if (nTimeScale < 0)
                return QStringLiteral("--scale wants one of %1, not '%2'").arg(ScaleNames().join(u", "), value);
        } else if (arg == QLatin1String("--from")) {
            if (!ParseSeconds(value, nFrom))
                return QStringLiteral("--from wants seconds such as 0, 90, 15m or 2h, not '%1'").arg(value);
        } else if (arg == QLatin1String("--show")) {
            bShowVoltage = value == QLatin1String("both") || value == QLatin1String("voltage");
            bShowCurrent = value == QLatin1String("both") || value == QLatin1String("current");
            if (!bShowVoltage && !bShowCurrent)
                return QStringLiteral("--show wants both, voltage or current, not '%1'").arg(value);
        } else if (!ParseSize(value, size)) {
            return QStringLiteral("--size wants WIDTHxHEIGHT in pixels, each %1 to %2, such as 800x600, not '%3'")
                .arg(kMinSide)
                .arg(kMaxSide)
                .arg(value);
        }
    }
    if (bHelp)
        return {};
    if (strRecord.isEmpty())
        return QStringLiteral("plot needs a record file");
    if (strOut.isEmpty())
        return QStringLiteral("plot needs --out FILE");
    return {};
}

QString CPlotOptions::Usage()
{
    return QStringLiteral(
               "usage: tarnwell-cli plot RECORD.csv --out FILE [--scale S] [--from SECONDS] [--show WHAT]\n"
               "                         [--size WxH]\n"
               "Writes the DataRecord page's picture of a record file without a display: the same grid,\n"
               "colours and traces. The extension of FILE chooses the format: .png, .svg or .pdf (SVG\n"
               "and PDF as vector drawings). A record the page refuses is refused with the same reason\n"
               "(exit status 4).\n"
               "  --out FILE      the picture to write\n"
               "  --scale %1\n"
               "                  the time scale, the page's Time Scale list: the window's width in\n"
               "                  seconds, minutes or hours (default 50s)\n"
               "  --from SECONDS  the first second shown (default 0; also 15m, 2h); held within the\n"
               "                  record as the page's scroll bar holds it\n"
               "  --show both|voltage|current\n"
               "                  the traces drawn (default both)\n"
               "  --size WxH      the picture's size in pixels (default 800x600, each %2 to %3); SVG and\n"
               "                  PDF at 96 pixels to the inch\n")
        .arg(ScaleNames().join(QLatin1Char('|')))
        .arg(kMinSide)
        .arg(kMaxSide);
}

namespace {

// Standard error carries only what went wrong with the command: not the platform's remarks
// about a session without a runtime folder (root shells, cron, containers).
void QuietPlatformMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtDebugMsg || type == QtInfoMsg || (type == QtWarningMsg && text.startsWith(u"QStandardPaths:")))
        return;
    std::fputs(qFormatLogMessage(type, context, text).toLocal8Bit().append('\n').constData(), stderr);
}

} // namespace

int RunPlot(int argc, char** argv)
{
    // Text is drawn through the platform's fonts; the offscreen platform needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietPlatformMessages);
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnwell-cli"));
    std::setlocale(LC_NUMERIC, "C");
    CCliConsole& console = CCliConsole::Instance();

    CPlotOptions options;
    const QString strError = options.Parse(QCoreApplication::arguments().mid(2));
    if (!strError.isEmpty()) {
        console.Error(strError);
        std::fputs(CPlotOptions::Usage().toLocal8Bit().constData(), stderr);
        return kExitUsage;
    }
    if (options.bHelp) {
        std::fputs(CPlotOptions::Usage().toLocal8Bit().constData(), stdout);
        return kExitDone;
    }

    CPowerSupply supply;
    if (!LoadRecord(supply, options.strRecord))
        return kExitFile;
    std::vector<float> volts;
    std::vector<float> amps;
    const int nPoints = supply.m_nPointsPerCycle.load();
    pslink::RecordView view;
    view.timeScale = options.nTimeScale;
    view.viewOffset = timescale::ClampViewOffset(nPoints, options.nTimeScale, options.nFrom);
    if (options.bShowVoltage) {
        view.voltCount = std::min(nPoints, supply.CopySeries(volts, 1));
        view.volts = volts.data();
    }
    if (options.bShowCurrent) {
        view.ampCount = std::min(nPoints, supply.CopySeries(amps, 2));
        view.amps = amps.data();
    }
    const QString strWriteError = pslink::WritePicture(
        options.strOut, options.size, 1.0, [&](QPainter& dc) { pslink::DrawRecordPicture(dc, options.size, view); });
    if (!strWriteError.isEmpty()) {
        console.Error(QStringLiteral("cannot write %1: %2").arg(options.strOut, strWriteError));
        return kExitFile;
    }
    return kExitDone;
}
