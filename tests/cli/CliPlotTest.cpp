// tarnwell-cli plot as a script meets it: the picture of a record, read back from the file.
#include "support/TestFiles.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>

namespace {

// 540 x 340 pixels: the plot spans columns 20..520 and rows 20..320.
const QString kSize = QStringLiteral("540x340");
constexpr int kTop = 20;
constexpr int kCurrentRow = 320 - 43; // 1 A of 7 on 300 rows

struct Plot
{
    int nExit = -1;
    QString errors;
};

Plot RunPlot(const QStringList& args)
{
    QProcess process;
    process.start(QStringLiteral(TARNWELL_CLI_PATH), QStringList{QStringLiteral("plot")} + args);
    Plot result;
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit)
        result.nExit = process.exitCode();
    result.errors = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

// 100 seconds at 10 V and 1 A, with 35 V at sample 60 (time 61).
QByteArray SpikeRecord()
{
    QByteArray text = "Time(S),Voltage(V),Current(A)\r\n";
    for (int i = 0; i < 100; ++i)
        text += QByteArray::number(i + 1) + (i == 60 ? ",35.00" : ",10.00") + ",1.000\r\n";
    return text;
}

std::set<int> RedColumns(const QImage& image, int y)
{
    std::set<int> xs;
    for (int x = 0; x < image.width(); ++x)
        if (image.pixel(x, y) == qRgb(255, 0, 0))
            xs.insert(x);
    return xs;
}

int CountColour(const QImage& image, QRgb colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixel(x, y) == colour ? 1 : 0;
    return n;
}

// The PDF's content streams, inflated: what is drawn on the page.
QByteArray PdfDrawing(const QByteArray& pdf)
{
    QByteArray drawn;
    static const QRegularExpression kStream(QStringLiteral(">>\\s*stream\r?\n"));
    qsizetype at = 0;
    QRegularExpressionMatch match;
    while ((at = QString::fromLatin1(pdf).indexOf(kStream, at, &match)) >= 0) {
        const qsizetype begin = at + match.capturedLength();
        const qsizetype end = pdf.indexOf("endstream", begin);
        if (end < 0)
            break;
        // qUncompress takes zlib data (0x78 ...) behind the expected size (a hint, big-endian).
        const QByteArray data = pdf.mid(begin, end - begin).trimmed();
        if (data.startsWith('\x78'))
            drawn += qUncompress(QByteArray("\x00\x01\x00\x00", 4) + data);
        at = end;
    }
    return drawn;
}

} // namespace

TEST(CliPlot, PngShowsTheSamplesWhereThePageDrawsThem)
{
    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral("run.csv"));
    ASSERT_TRUE(WriteTestFile(record, SpikeRecord()));
    const QString out = dir.filePath(QStringLiteral("run.png"));

    struct Case
    {
        QStringList args;
        std::set<int> spike; ///< red columns on the plot's top edge (35 V)
        bool voltage;
        bool current;
    };
    const Case cases[] = {
        // 50 samples over 500 columns from sample 40: sample 60 on column 20 + 10 * 20.
        {{"--scale", "50s", "--from", "40"}, {220}, true, true},
        // Held as the scroll bar holds it: at most 100 - 50.
        {{"--from=1000"}, {120}, true, true},
        {{"--from", "40", "--show", "voltage"}, {220}, true, false},
        {{"--from", "40", "--show", "current"}, {}, false, true},
        // 5 minutes hold the whole record: it starts at sample 0 whatever --from says.
        {{"--scale", "5m", "--from", "30"}, {120}, true, true},
    };
    for (const Case& c : cases) {
        QFile::remove(out);
        const Plot r = RunPlot(QStringList{record, "--out", out, "--size", kSize} + c.args);
        ASSERT_EQ(r.nExit, 0) << c.args.join(' ').toStdString() << r.errors.toStdString();
        const QImage image(out);
        ASSERT_EQ(image.size(), QSize(540, 340)) << c.args.join(' ').toStdString();
        EXPECT_EQ(RedColumns(image, kTop), c.spike) << c.args.join(' ').toStdString();
        EXPECT_EQ(CountColour(image, qRgb(255, 0, 0)) > 0, c.voltage) << c.args.join(' ').toStdString();
        EXPECT_EQ(image.pixel(100, kCurrentRow) == qRgb(255, 255, 0), c.current) << c.args.join(' ').toStdString();
        EXPECT_EQ(image.pixel(5, 5), qRgb(0, 0, 0)); // the black margin
    }
}

TEST(CliPlot, SvgAndPdfAreVectorDrawingsOfTheRecord)
{
    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral("run.csv"));
    ASSERT_TRUE(WriteTestFile(record, SpikeRecord()));

    const QString svgPath = dir.filePath(QStringLiteral("run.svg"));
    ASSERT_EQ(RunPlot({record, "--out", svgPath, "--size", kSize, "--from", "40"}).nExit, 0);
    const QString svg = QString::fromUtf8(ReadTestFile(svgPath));
    EXPECT_TRUE(svg.contains(QStringLiteral("viewBox=\"0 0 540 340\"")));
    EXPECT_FALSE(svg.contains(QStringLiteral("<image")));
    // The red trace is one polyline through the spike's top at (220, 20), from the plot's left
    // edge to its right one (a vector drawing has no clip to hide what lies outside).
    static const QRegularExpression kRed(
        QStringLiteral("stroke=\"#ff0000\"[^>]*>\\s*<polyline[^>]*points=\"([^\"]*)\""));
    const QRegularExpressionMatch red = kRed.match(svg);
    ASSERT_TRUE(red.hasMatch());
    EXPECT_TRUE(red.captured(1).startsWith(QStringLiteral("20,234 "))) << red.captured(1).toStdString();
    EXPECT_TRUE(red.captured(1).contains(QStringLiteral(" 220,20 "))) << red.captured(1).toStdString();
    EXPECT_TRUE(red.captured(1).endsWith(QStringLiteral(" 520,234 "))) << red.captured(1).toStdString();
    EXPECT_TRUE(svg.contains(QStringLiteral("stroke=\"#ffff00\"")));

    const QString pdfPath = dir.filePath(QStringLiteral("run.PDF"));
    ASSERT_EQ(RunPlot({record, "--out", pdfPath, "--size", kSize}).nExit, 0);
    const QByteArray pdf = ReadTestFile(pdfPath);
    EXPECT_TRUE(pdf.startsWith("%PDF-"));
    EXPECT_TRUE(QString::fromLatin1(pdf).contains(QRegularExpression(QStringLiteral("/MediaBox \\[0 0 405(\\.0*)? 255(\\.0*)?\\]"))))
        << "540 x 340 pixels at 96 to the inch";
    EXPECT_FALSE(pdf.contains("/Subtype /Image"));
    const QByteArray drawn = PdfDrawing(pdf);
    EXPECT_TRUE(drawn.contains("1 0 0 SCN")) << "red strokes";
    EXPECT_TRUE(drawn.contains("1 1 0 SCN")) << "yellow strokes";
}

TEST(CliPlot, RefusesWhatThePageRefusesAndKeepsAGoodFile)
{
    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral("run.csv"));
    ASSERT_TRUE(WriteTestFile(record, SpikeRecord()));
    const QString notCsv = dir.filePath(QStringLiteral("run.txt"));
    ASSERT_TRUE(WriteTestFile(notCsv, SpikeRecord()));
    const QString kept = dir.filePath(QStringLiteral("kept.png"));
    ASSERT_TRUE(WriteTestFile(kept, "an older picture"));

    struct Case
    {
        QStringList args;
        int nExit;
        const char* reason;
    };
    const Case cases[] = {
        {{notCsv, "--out", kept}, 4, "This is not a CSV file!"},
        {{dir.filePath("missing.csv"), "--out", kept}, 4, "Can not open file: "},
        {{record, "--out", dir.filePath("no-such-folder/x.png")}, 4, "cannot write"},
        {{record, "--out", dir.filePath("x.jpg")}, 1, "--out wants a file name ending in .png, .svg or .pdf"},
        {{record, "--out", kept, "--scale", "1h"}, 1, "--scale wants one of 50s, 5m, 25m, 100m, 5h, 25h, 100h"},
        {{record, "--out", kept, "--size", "20x20"}, 1, "--size wants"},
        {{record}, 1, "plot needs --out FILE"},
    };
    for (const Case& c : cases) {
        const Plot r = RunPlot(c.args);
        EXPECT_EQ(r.nExit, c.nExit) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.errors.contains(QLatin1String(c.reason))) << r.errors.toStdString();
    }
    EXPECT_EQ(ReadTestFile(kept), QByteArray("an older picture"));
}
