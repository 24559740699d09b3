// The wave display's numbers under a user locale with a decimal comma: QApplication takes
// LC_NUMERIC from the environment, and the read-out and the time axis must not follow it.
#include "device/pslink.h"
#include "widgets/StaticWave.h"

#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <clocale>

namespace {

// Builds a German locale into a private directory (none is installed on a bare system) and makes
// it the process's LC_NUMERIC until destroyed.
class CommaLocale
{
public:
    CommaLocale()
    {
        const QString localedef = QStandardPaths::findExecutable(QStringLiteral("localedef"));
        if (localedef.isEmpty() || !m_dir.isValid())
            return;
        QProcess process;
        process.start(localedef, {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                                  QStringLiteral("UTF-8"), m_dir.filePath(QStringLiteral("de_DE.UTF-8"))});
        if (!process.waitForFinished(60000) || process.exitCode() != 0)
            return;
        qputenv("LOCPATH", m_dir.path().toLocal8Bit());
        m_bActive = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    }
    ~CommaLocale()
    {
        std::setlocale(LC_NUMERIC, "C");
        qunsetenv("LOCPATH");
    }
    bool active() const { return m_bActive; }

private:
    QTemporaryDir m_dir;
    bool m_bActive = false;
};

QImage RecordGrid(std::int16_t scale, int offset)
{
    QImage image(540, 340, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter dc(&image);
    dsoDrawGridRecord(&dc, 20, 20, 520, 320, 33, 35, scale, offset);
    dc.end();
    return image;
}

TEST(WaveLocale, NumbersKeepTheirPointUnderACommaLocale)
{
    // The time axis with fractional labels ("1.5h", "2.5min") as drawn in the C locale.
    const QImage hours = RecordGrid(4, 5400);
    const QImage minutes = RecordGrid(1, 90);

    CommaLocale locale;
    if (!locale.active())
        GTEST_SKIP() << "no comma locale could be built here";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 2.5);
    ASSERT_STREQ(probe, "2,5") << "the locale is in force";

    EXPECT_EQ(CStaticWave::FormatReadout(1, 600, 25, 35).toStdString(), "12.5Min 35V 7.0A");
    EXPECT_EQ(CStaticWave::FormatReadout(6, 7200, 50, 5).toStdString(), "102.0h 5V 1.0A");
    EXPECT_EQ(CStaticWave::FormatReadout(0, 120, 50, 12).toStdString(), "170Sec 12V 2.4A");
    // Exact ties round as "%.1f" does (to even): 15 s is 0.25 min.
    EXPECT_EQ(CStaticWave::FormatReadout(2, 15, 0, 0).toStdString(), "0.2Min 0V 0.0A");
    EXPECT_TRUE(RecordGrid(4, 5400) == hours);
    EXPECT_TRUE(RecordGrid(1, 90) == minutes);
}

} // namespace
