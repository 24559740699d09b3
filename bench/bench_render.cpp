// Time of one full render of an 800 x 600 wave display: a 100-hour record, the same record at
// 50 seconds scrolled to its middle, a 10-hour live program run, each also at device pixel ratio 2
// (a 200 % screen), and for comparison a renderer that draws every sample of the 100-hour record as
// one polyline.
#include "device/PowerSupply.h"
#include "device/pslink.h"
#include "widgets/StaticWave.h"

#include "BenchSupport.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <functional>
#include <mutex>
#include <vector>

namespace {

constexpr int kRecordSamples = 360000;
constexpr int kLiveSamples = 36000;

void Fill(CPowerSupply& supply, int n)
{
    std::lock_guard<std::mutex> guard(supply.m_hLock);
    supply.m_logVoltage.clear();
    supply.m_logCurrent.clear();
    unsigned noise = 12345u;
    for (int t = 0; t < n; ++t) {
        noise = noise * 1103515245u + 12345u;
        const float jitter = static_cast<float>((noise >> 16) & 0xFF) / 2560.0f;
        const float volts = 12.0f + 8.0f * static_cast<float>(std::sin(t / 5000.0)) + jitter;
        supply.m_logVoltage.push_back(volts);
        supply.m_logCurrent.push_back(volts / 10.0f + jitter);
    }
    supply.m_nPointsPerCycle = n;
    supply.m_nWindow = n;
}

// Median milliseconds of `runs` calls after a few to warm up.
double MedianMs(const std::function<void()>& render, int runs)
{
    for (int i = 0; i < 3; ++i)
        render();
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        render();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}


} // namespace

int main(int argc, char** argv)
{
    bench::UseOffscreenByDefault();
    QApplication app(argc, argv);
    bench::UseCLocaleNumbers();

    CPowerSupply record;
    Fill(record, kRecordSamples);
    CStaticWave wave;
    wave.resize(800, 600);
    wave.InitBackBuffer();
    wave.m_pSupply = &record;
    wave.m_bRecordMode = 1;
    wave.m_bDrawWaves = 1;

    wave.m_nTimeScale = 6;
    record.m_nViewOffset = 0;
    const double hundredHours = MedianMs([&] { wave.Render(); }, 41);

    // The same on a 200 % screen: four times the pixels, drawn at the device pixel ratio.
    const double hundredHoursRatio2 = MedianMs([&] { wave.Render(2.0); }, 41);

    wave.m_nTimeScale = 0;
    record.m_nViewOffset = kRecordSamples / 2;
    const double fiftySeconds = MedianMs([&] { wave.Render(); }, 41);
    const double fiftySecondsRatio2 = MedianMs([&] { wave.Render(2.0); }, 41);

    CPowerSupply live;
    Fill(live, kLiveSamples);
    CStaticWave liveWave;
    liveWave.resize(800, 600);
    liveWave.InitBackBuffer();
    liveWave.m_pSupply = &live;
    liveWave.m_bDrawWaves = 1;
    const double liveRun = MedianMs([&] { liveWave.Render(); }, 41);
    const double liveRunRatio2 = MedianMs([&] { liveWave.Render(2.0); }, 41);

    // Every sample a vertex, same surface, grid, copies and scaling.
    const QRect plot = wave.m_rcPlot;
    auto naive = [&] {
        QImage surface(800, 600, QImage::Format_RGB32);
        surface.fill(Qt::black);
        QPainter dc(&surface);
        dsoDrawGridRecord(&dc, plot.left(), plot.top(), plot.left() + plot.width(), plot.top() + plot.height(), 33, 35,
                          6, 0);
        const struct
        {
            short series;
            double maximum;
            QColor colour;
        } traces[] = {{1, 35.0, QColor(255, 0, 0)}, {2, 7.0, QColor(255, 255, 0)}};
        for (const auto& trace : traces) {
            std::vector<float> data;
            const int n = record.CopySeries(data, trace.series);
            QPolygonF line;
            line.reserve(n);
            for (int i = 0; i < n; ++i)
                line.append(QPointF(plot.left() + static_cast<double>(i) * plot.width() / kRecordSamples,
                                    plot.top() + plot.height() - data[static_cast<size_t>(i)] / trace.maximum * plot.height()));
            dc.setPen(trace.colour);
            dc.drawPolyline(line);
        }
    };
    const double naiveMs = MedianMs(naive, 7);

    bench::Print("render_record_100hr_ms", hundredHours, "ms");
    bench::Print("render_record_50s_ms", fiftySeconds, "ms");
    bench::Print("render_live_36000_ms", liveRun, "ms");
    bench::Print("render_record_100hr_ratio2_ms", hundredHoursRatio2, "ms");
    bench::Print("render_record_50s_ratio2_ms", fiftySecondsRatio2, "ms");
    bench::Print("render_live_36000_ratio2_ms", liveRunRatio2, "ms");
    bench::Print("render_naive_100hr_ms", naiveMs, "ms");
    bench::Print("render_speedup_100hr_x", naiveMs / hundredHours, "x");
    return 0;
}
