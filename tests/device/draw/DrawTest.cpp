#include "device/pslink.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

// Plot 20..520 x 20..320 on a 540 x 340 surface.
struct Surface
{
    QImage image{540, 340, QImage::Format_RGB32};
    QPainter dc;
    Surface()
    {
        image.fill(Qt::black);
        dc.begin(&image);
    }
    QImage done()
    {
        dc.end();
        return image;
    }
};

int CountColour(const QImage& image, QRgb colour, QRect area = {})
{
    if (area.isNull())
        area = image.rect();
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.pixel(x, y) == colour ? 1 : 0;
    return n;
}

int CountLit(const QImage& image, QRect area)
{
    return area.width() * area.height() - CountColour(image, QColor(Qt::black).rgb(), area);
}

const QRgb kRed = QColor(255, 0, 0).rgb();
const QRgb kYellow = QColor(255, 255, 0).rgb();

TEST(DrawFunctions, BadArgumentsDrawNothing)
{
    Surface s;
    const std::vector<float> data(100, 20.0f);
    dsoDrawGrid(nullptr, 20, 20, 520, 320, 33, 35);
    dsoDrawWave(nullptr, 20, 20, 520, 320, data.data(), 100, 0.0, 35.0, DsoRgb(255, 0, 0));
    dsoDrawWave(&s.dc, 20, 20, 520, 320, nullptr, 100, 0.0, 35.0, DsoRgb(255, 0, 0));
    dsoDrawWave(&s.dc, 20, 20, 520, 320, data.data(), 0, 0.0, 35.0, DsoRgb(255, 0, 0));
    dsoDrawWave(&s.dc, 20, 20, 520, 320, data.data(), -5, 0.0, 35.0, DsoRgb(255, 0, 0));
    dsoDrawWave(&s.dc, 520, 20, 20, 320, data.data(), 100, 0.0, 35.0, DsoRgb(255, 0, 0)); // inverted
    for (std::int16_t scale : {-1, 7, 300})
        dsoDrawWaveRecord(&s.dc, 20, 20, 520, 320, data.data(), scale, 0, 100, 0.0, 35.0, 1, DsoRgb(255, 0, 0));
    dsoDrawWaveRecord(&s.dc, 20, 20, 520, 320, data.data(), 0, 0, -1, 0.0, 35.0, 1, DsoRgb(255, 0, 0));
    // Windows that start after the last sample, held or joined.
    dsoDrawWaveRecord(&s.dc, 20, 20, 520, 320, data.data(), 0, 100, 100, 0.0, 35.0, 0, DsoRgb(255, 0, 0));
    dsoDrawWaveRecord(&s.dc, 20, 20, 520, 320, data.data(), 0, 100, 100, 0.0, 35.0, 1, DsoRgb(255, 0, 0));
    dsoDrawWaveRecord(&s.dc, 20, 20, 520, 320, data.data(), 0, -500, 100, 0.0, 35.0, 1, DsoRgb(255, 0, 0));
    dsoDrawWaveMea(&s.dc, 20, 20, nullptr, 5, DsoRgb(0, 255, 0));
    dsoDrawWaveMea(&s.dc, 20, 20, "label", 0, DsoRgb(0, 255, 0));
    dsoDrawGridRecord(&s.dc, 20, 20, 20, 20, 33, 35, 0, 0);
    const QImage image = s.done();
    EXPECT_EQ(CountColour(image, QColor(Qt::black).rgb()), image.width() * image.height());
}

TEST(DrawFunctions, TracesStayInsideThePlotInTheirColour)
{
    Surface s;
    // Far out of range, negative and NaN values, and a window starting before the record.
    const std::vector<float> data = {1e30f, -1e30f, std::nanf(""), 3.5f, std::numeric_limits<float>::infinity()};
    dsoDrawWaveRecord(&s.dc, 20, 20, 520, 320, data.data(), 0, -10, 5, 0.0, 7.0, 1, DsoRgb(255, 255, 0));
    const QImage image = s.done();
    const int inside = CountColour(image, kYellow, QRect(20, 20, 501, 301));
    EXPECT_GT(inside, 0);
    EXPECT_EQ(CountColour(image, kYellow), inside);
    EXPECT_EQ(image.pixel(120, 20), kYellow);  // sample 0 ten seconds in, held to the top
    EXPECT_EQ(image.pixel(150, 170), kYellow); // 3.5 A halfway up
    EXPECT_EQ(CountColour(image, kYellow, QRect(20, 20, 100, 301)), 0);
    EXPECT_EQ(CountColour(image, kRed), 0);
}

TEST(DrawFunctions, OnlyTheRecordGridCarriesATimeAxis)
{
    const QRect below(40, 322, 460, 18); // clear of the scales' "0" labels
    const QRect leftScale(0, 0, 19, 340);
    const QRect rightScale(522, 0, 18, 340);
    for (bool record : {false, true}) {
        Surface s;
        if (record)
            dsoDrawGridRecord(&s.dc, 20, 20, 520, 320, 33, 35, 4, 3600);
        else
            dsoDrawGrid(&s.dc, 20, 20, 520, 320, 33, 35);
        const QImage image = s.done();
        EXPECT_GT(CountLit(image, leftScale), 0) << record;
        EXPECT_GT(CountLit(image, rightScale), 0) << record;
        EXPECT_EQ(CountLit(image, below) > 0, record);
    }
}

} // namespace
