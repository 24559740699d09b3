#include "device/PowerSupply.h"
#include "widgets/StaticWave.h"

#include <QColor>
#include <QDir>
#include <QImage>
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <set>
#include <vector>

namespace {

// Plot 20..520 across (500 columns), 20..320 down (300 rows).
constexpr int kWidth = 540;
constexpr int kHeight = 340;
constexpr int kLeft = 20;
constexpr int kTop = 20;
constexpr int kRight = 520;
constexpr int kBottom = 320;

bool IsRed(QRgb c)
{
    return qRed(c) == 255 && qGreen(c) == 0 && qBlue(c) == 0;
}
bool IsYellow(QRgb c)
{
    return qRed(c) == 255 && qGreen(c) == 255 && qBlue(c) == 0;
}
bool IsGreenish(QRgb c)
{
    return qGreen(c) > 64 && qRed(c) == 0 && qBlue(c) == 0;
}

class StaticWave : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wave.resize(kWidth, kHeight);
        wave.InitBackBuffer();
        wave.m_pSupply = &supply;
    }

    // A record as LoadFile leaves it: both series and the sample count.
    void load(const std::vector<float>& volts, const std::vector<float>& amps)
    {
        std::lock_guard<std::mutex> guard(supply.m_hLock);
        supply.m_logVoltage.assign(volts.begin(), volts.end());
        supply.m_logCurrent.assign(amps.begin(), amps.end());
        supply.m_nPointsPerCycle = static_cast<int>(volts.size());
        supply.m_nWindow = static_cast<int>(volts.size());
    }

    void record(std::uint16_t scale, int offset)
    {
        wave.m_bRecordMode = 1;
        wave.m_bDrawWaves = 1;
        wave.m_nTimeScale = scale;
        supply.m_nViewOffset = offset;
    }

    QImage render()
    {
        wave.Render();
        return wave.m_bmpBack;
    }

    template <typename Pred> static std::set<int> columnsInRow(const QImage& image, int y, Pred pred)
    {
        std::set<int> xs;
        for (int x = 0; x < image.width(); ++x)
            if (pred(image.pixel(x, y)))
                xs.insert(x);
        return xs;
    }

    template <typename Pred> static int count(const QImage& image, Pred pred)
    {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += pred(image.pixel(x, y)) ? 1 : 0;
        return n;
    }

    CPowerSupply supply;
    CStaticWave wave;
};

TEST(StaticWaveReadout, LabelOfEveryTimeScale)
{
    struct Case
    {
        std::uint16_t scale;
        std::uint32_t first;
        int x;
        int volts;
        const char* label;
    };
    const Case cases[] = {
        {0, 120, 50, 12, "170Sec 12V 2.4A"},
        {1, 600, 25, 35, "12.5Min 35V 7.0A"},
        {2, 600, 10, 5, "15.0Min 5V 1.0A"},
        {3, 90, 10, 0, "21Min 0V 0.0A"}, // 21.5, fraction dropped
        {4, 3600, 5, 20, "1.5h 20V 4.0A"},
        {5, 1800, 3, 1, "2.0h 1V 0.2A"},
        {6, 7200, 50, 5, "102.0h 5V 1.0A"},
        {0, 4000000000u, 0, 0, "4000000000Sec 0V 0.0A"},
        {7, 120, 50, 12, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CStaticWave::FormatReadout(c.scale, c.first, c.x, c.volts), QString::fromLatin1(c.label))
            << c.scale << " " << c.first;
}

TEST_F(StaticWave, FreshDisplayShowsOnlyBlackAndTheGrid)
{
    load(std::vector<float>(100, 12.0f), std::vector<float>(100, 1.0f));
    wave.m_bShowReadout = 1;
    for (int mode : {0, 1}) {
        wave.m_bRecordMode = mode;
        const QImage image = render();
        EXPECT_EQ(count(image, [](QRgb c) { return qRed(c) != qGreen(c) || qGreen(c) != qBlue(c); }), 0) << mode;
        EXPECT_NE(image.pixel(kLeft, kTop), QColor(Qt::black).rgb()) << "border at the plot corner";
        EXPECT_NE(image.pixel(kRight, kBottom), QColor(Qt::black).rgb());
        EXPECT_EQ(image.pixel(kLeft + 3, kTop + 3), QColor(Qt::black).rgb());
    }
}

TEST_F(StaticWave, RecordWindowPlacesSamplesOnTheirColumns)
{
    // 50 samples across 500 columns: sample i of the window lands on column 20 + 10 * (i - offset).
    std::vector<float> volts(100, 0.0f);
    volts[60] = 35.0f;
    load(volts, std::vector<float>(100, 0.0f));
    wave.m_bShowCurrent = 0;
    record(0, 40);
    QImage image = render();
    EXPECT_EQ(columnsInRow(image, kTop, IsRed), (std::set<int>{220})); // maximum on the top edge
    const std::set<int> bottom = columnsInRow(image, kBottom, IsRed);  // minimum on the bottom edge
    EXPECT_EQ(*bottom.begin(), kLeft);
    EXPECT_EQ(*bottom.rbegin(), kRight);
    EXPECT_EQ(bottom.count(220), 0u);

    // Straight line: the spike is held for one second, 220 to 230.
    wave.m_nLineStyle = 0;
    image = render();
    const std::set<int> top = columnsInRow(image, kTop, IsRed);
    EXPECT_EQ(*top.begin(), 220);
    EXPECT_EQ(*top.rbegin(), 230);
    EXPECT_EQ(top.size(), 11u);

    // A window reaching past the last sample draws what exists and nothing after it.
    wave.m_nLineStyle = 1;
    supply.m_nPointsPerCycle = 55;
    image = render();
    EXPECT_EQ(*columnsInRow(image, kBottom, IsRed).rbegin(), kLeft + 140);

    supply.m_nViewOffset = 100;
    EXPECT_EQ(count(render(), IsRed), 0);
}

TEST_F(StaticWave, EnvelopeKeepsOneSampleSpikesOfAHundredHours)
{
    std::vector<float> volts(360000, 10.0f);
    volts[123457] = 35.0f; // column 20 + 123457 * 500 / 360000 = 191
    volts[300000] = 0.0f;  // column 20 + 416 = 436
    load(volts, std::vector<float>(360000, 0.0f));
    wave.m_bShowCurrent = 0;
    record(6, 0);
    QImage image = render();
    EXPECT_EQ(columnsInRow(image, kTop, IsRed), (std::set<int>{191}));
    EXPECT_EQ(columnsInRow(image, kBottom, IsRed), (std::set<int>{436}));
    // Every column up to the last sample carries the trace (sample 360000 would be on the edge).
    const int level = kBottom - 86; // 10 V of 35 on 300 rows, rounded
    const std::set<int> columns = columnsInRow(image, level, IsRed);
    EXPECT_EQ(columns.size(), 500u);
    EXPECT_EQ(*columns.rbegin(), kRight - 1);

    // Scrolled to the middle at 50 Sec: sample 180000 is on the left edge.
    volts.assign(360000, 0.0f);
    volts[180000] = 35.0f;
    load(volts, std::vector<float>(360000, 0.0f));
    record(0, 180000);
    EXPECT_EQ(columnsInRow(render(), kTop, IsRed), (std::set<int>{kLeft}));
}

TEST_F(StaticWave, LiveSamplesSpreadAcrossThePlot)
{
    wave.m_bDrawWaves = 1;
    // A user-mode run of 35 samples fills the width: the last sample on the right edge.
    std::vector<float> volts(35, 0.0f);
    volts[34] = 35.0f;
    load(volts, std::vector<float>(35, 0.0f));
    EXPECT_EQ(columnsInRow(render(), kTop, IsRed), (std::set<int>{kRight}));

    // The first sample of a run shows on both traces.
    load({35.0f}, {3.5f});
    QImage image = render();
    EXPECT_GT(count(image, IsRed), 0);
    EXPECT_FALSE(columnsInRow(image, kBottom - 150, IsYellow).empty());

    // A long program run shows all its samples.
    volts.assign(36000, 0.0f);
    volts[18000] = 35.0f;
    volts[35999] = 35.0f;
    load(volts, std::vector<float>(36000, 0.0f));
    EXPECT_EQ(columnsInRow(render(), kTop, IsRed), (std::set<int>{kLeft + 250, kRight}));

    // Nothing to copy: only the grid.
    load({}, {});
    EXPECT_EQ(count(render(), IsRed), 0);
}

TEST_F(StaticWave, CurrentIsDrawnOverVoltage)
{
    // Full scale on both ranges: the traces share the top edge (51 samples span the window).
    load(std::vector<float>(51, 35.0f), std::vector<float>(51, 7.0f));
    for (int mode : {0, 1}) {
        wave.m_bRecordMode = mode;
        wave.m_bDrawWaves = 1;
        const QImage image = render();
        const std::set<int> yellow = columnsInRow(image, kTop, IsYellow);
        EXPECT_EQ(yellow.size(), 501u) << mode;
        EXPECT_TRUE(columnsInRow(image, kTop, IsRed).empty()) << mode;
    }
    // The record display's "Display:" choice.
    record(0, 0);
    wave.m_bShowCurrent = 0;
    QImage image = render();
    EXPECT_GT(count(image, IsRed), 0);
    EXPECT_EQ(count(image, IsYellow), 0);
    wave.m_bShowCurrent = 1;
    wave.m_bShowVoltage = 0;
    image = render();
    EXPECT_EQ(count(image, IsRed), 0);
    EXPECT_GT(count(image, IsYellow), 0);
}

TEST_F(StaticWave, ReadoutSitsAtThePlotsTopLeftCorner)
{
    load(std::vector<float>(100, 35.0f), std::vector<float>(100, 7.0f));
    record(0, 120);
    wave.m_bShowReadout = 1;
    wave.m_nReadoutX = 50;
    wave.m_nReadoutVolts = 12;
    const QImage image = render();
    int minX = kWidth, minY = kHeight, maxX = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if (IsGreenish(image.pixel(x, y))) {
                minX = std::min(minX, x);
                minY = std::min(minY, y);
                maxX = std::max(maxX, x);
            }
    EXPECT_GE(minX, kLeft);
    EXPECT_LE(minX, kLeft + 8);
    EXPECT_GE(minY, kTop);
    EXPECT_LE(minY, kTop + 8);
    EXPECT_LT(maxX, kLeft + 200);
    // Its backing keeps the traces from running through the text.
    EXPECT_FALSE(IsYellow(image.pixel(minX, kTop)));

    wave.m_nTimeScale = 9; // no such scale: no label
    EXPECT_EQ(count(render(), IsGreenish), 0);
}

TEST_F(StaticWave, ResizedControlRepaintsAtItsNewSize)
{
    load(std::vector<float>(50, 35.0f), std::vector<float>(50, 7.0f));
    wave.m_bDrawWaves = 1;
    render();
    wave.resize(700, 420);
    const QImage image = render();
    ASSERT_EQ(image.size(), QSize(700, 420));
    EXPECT_EQ(wave.m_rcPlot, QRect(20, 20, 660, 380));
    EXPECT_EQ(columnsInRow(image, 20, IsYellow).size(), 661u);
    EXPECT_NE(image.pixel(680, 400), QColor(Qt::black).rgb());
    // What reaches the window is the same picture.
    wave.show();
    const QImage shown = wave.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown.pixel(300, 20), image.pixel(300, 20));
}

// Renders a loaded record the way the DataRecord page shows it and keeps the picture beside the
// test binary, so that a person can look at it.
TEST_F(StaticWave, PictureOfARecordIsWritten)
{
    wave.resize(800, 600);
    std::vector<float> volts;
    std::vector<float> amps;
    for (int t = 0; t < 3 * 3600; ++t) {
        const float v = t < 3600 ? 12.0f : t < 7200 ? 24.0f : 5.0f + 0.002f * static_cast<float>(t - 7200);
        volts.push_back(v + 0.3f * static_cast<float>(std::sin(t / 200.0)));
        amps.push_back(v / 10.0f > 2.5f ? 2.5f : v / 10.0f);
    }
    load(volts, amps);
    record(4, 0);
    wave.m_bShowReadout = 1;
    wave.m_nReadoutX = 20;
    wave.m_nReadoutVolts = 24;
    const QImage image = render();
    const QString path = QDir::current().absoluteFilePath(QStringLiteral("wave_record.png"));
    EXPECT_TRUE(image.save(path)) << path.toStdString();
    EXPECT_GT(count(image, IsRed), 0);
    EXPECT_GT(count(image, IsYellow), 0);
}

} // namespace
