// Opening a 100-hour record (360000 rows) for the DataRecord page: LoadFile + ExpandProgram time
// and the heap they keep per row, beside the floor (reading the file and splitting its lines) and
// Python's csv module reading it into three lists; a second load into an object that already
// holds the record; then the page's Open and its repaint at every time scale.
// Ratios are the load time divided by the other's time (below 1: the load is faster).
#include "device/PowerSupply.h"
#include "device/RecordFormat.h"
#include "platform/Dialogs.h"
#include "record/DlgRecord.h"

#include "BenchSupport.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kRows = 360000;
constexpr int kRuns = 7;

double Ms(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A record as Save Data writes it: header, "%ld,%.2f,%.3f" rows, CR LF.
bool WriteRecord(const QString& path)
{
    std::string data;
    data.reserve(static_cast<size_t>(kRows) * 21);
    recordfile::AppendLine(data, recordfile::kHeader);
    std::string row;
    unsigned noise = 2024u;
    for (int t = 1; t <= kRows; ++t) {
        noise = noise * 1103515245u + 12345u;
        const double volts = 12.0 + 6.0 * ((t / 900) % 3) + ((noise >> 16) & 0x3F) / 100.0;
        const double amps = volts / 10.0 + ((noise >> 8) & 0x0F) / 1000.0;
        row.clear();
        recordfile::AppendSampleRow(row, t, volts, amps);
        recordfile::AppendLine(data, row);
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data.data(), static_cast<qint64>(data.size())) ==
                                                  static_cast<qint64>(data.size());
}

size_t HeapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// The least any reader does: the bytes of the file, cut into lines.
size_t ReadAndSplit(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return 0;
    std::string data;
    char buffer[1 << 16];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        data.append(buffer, n);
    std::fclose(file);
    std::vector<std::string_view> lines;
    std::string_view rest(data);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return lines.size();
}

// Median milliseconds of csv.reader into three lists of numbers, timed inside Python; < 0 when
// python3 is missing or fails.
double PythonCsvMs(const QString& path)
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        return -1.0;
    const QString script = QStringLiteral(
        "import csv, sys, time\n"
        "times = []\n"
        "for _ in range(%1):\n"
        "    start = time.perf_counter()\n"
        "    t, v, a = [], [], []\n"
        "    with open(sys.argv[1], newline='') as f:\n"
        "        rows = csv.reader(f)\n"
        "        next(rows)\n"
        "        for row in rows:\n"
        "            t.append(int(row[0])); v.append(float(row[1])); a.append(float(row[2]))\n"
        "    times.append((time.perf_counter() - start) * 1000.0)\n"
        "times.sort()\n"
        "print(times[len(times) // 2])\n")
                               .arg(kRuns);
    QProcess process;
    process.start(python, {QStringLiteral("-c"), script, path});
    if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return -1.0;
    bool ok = false;
    const double ms = QString::fromLatin1(process.readAllStandardOutput()).trimmed().toDouble(&ok);
    return ok ? ms : -1.0;
}

// One LoadFile + ExpandProgram as the page runs them; false when the record did not load whole.
bool LoadOnce(const QString& path, double& ms, size_t& bytesHeld)
{
    const size_t before = HeapInUse();
    auto* supply = new CPowerSupply;
    supply->m_bDisplayMode = 1;
    const auto start = std::chrono::steady_clock::now();
    const int loaded = supply->LoadFile(path);
    supply->ExpandProgram();
    ms = Ms(start);
    bytesHeld = HeapInUse() - before;
    const bool whole =
        loaded == 1 && supply->m_nPointsPerCycle.load() == kRows && supply->m_logVoltage.size() == kRows;
    delete supply;
    return whole;
}

} // namespace

int main(int argc, char** argv)
{
    // `bench_record --load-once <file>`: one load in a fresh process, "<ms> <bytes held>" on
    // stdout. Each timed load gets its own process, because a heap that has just freed a
    // 100-hour record is slower to fill than the one a user opens a file into.
    if (argc == 3 && std::string_view(argv[1]) == "--load-once") {
        double ms = 0.0;
        size_t bytes = 0;
        if (!LoadOnce(QString::fromLocal8Bit(argv[2]), ms, bytes))
            return 1;
        std::printf("%.3f %zu\n", ms, bytes);
        return 0;
    }

    bench::UseOffscreenByDefault();
    QApplication app(argc, argv);
    bench::UseCLocaleNumbers();
    platform::SetDialogHandlers([](const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); },
                                {});

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("record_100h.csv"));
    if (!dir.isValid() || !WriteRecord(path)) {
        std::fprintf(stderr, "cannot write the record file\n");
        return 1;
    }

    std::vector<double> loadTimes;
    size_t bytesHeld = 0;
    for (int run = 0; run < kRuns; ++run) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--load-once"), path});
        const QStringList figures = child.waitForFinished(120000) && child.exitCode() == 0
                                        ? QString::fromLatin1(child.readAllStandardOutput()).split(QLatin1Char(' '))
                                        : QStringList();
        if (figures.size() != 2) {
            std::fprintf(stderr, "the record did not load whole\n");
            return 1;
        }
        loadTimes.push_back(figures[0].toDouble());
        bytesHeld = figures[1].trimmed().toULongLong();
    }
    const double loadMs = Median(loadTimes);

    // Opening a record again replaces the one held: the old rows are freed inside the load.
    std::vector<double> againTimes;
    {
        CPowerSupply supply;
        supply.m_bDisplayMode = 1;
        supply.LoadFile(path);
        supply.ExpandProgram();
        for (int run = 0; run < kRuns; ++run) {
            const auto start = std::chrono::steady_clock::now();
            supply.LoadFile(path);
            supply.ExpandProgram();
            againTimes.push_back(Ms(start));
        }
    }

    std::vector<double> floorTimes;
    const std::string nativePath = path.toStdString();
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        if (ReadAndSplit(nativePath) != static_cast<size_t>(kRows) + 1)
            return 1;
        floorTimes.push_back(Ms(start));
    }
    const double floorMs = Median(floorTimes);

    bench::Print("load_record_360k_ms", loadMs, "ms");
    bench::Print("load_record_bytes_per_row", static_cast<double>(bytesHeld) / kRows, "bytes");
    bench::Print("load_record_again_360k_ms", Median(againTimes), "ms");
    bench::Print("load_floor_360k_ms", floorMs, "ms");
    bench::Print("load_vs_floor_x", loadMs / floorMs, "x");
    const double pythonMs = PythonCsvMs(path);
    if (pythonMs > 0) {
        bench::Print("load_python_csv_360k_ms", pythonMs, "ms");
        bench::Print("load_vs_python_x", loadMs / pythonMs, "x");
    } else {
        std::fprintf(stderr, "python3 not available: no csv comparison\n");
    }

    // The page itself: Open through its dialog, then repaints at every scale and position.
    CDlgRecord page;
    page.resize(900, 500);
    page.show();
    QApplication::processEvents();
    platform::SetDialogHandlers({}, [&](const platform::FileDialogRequest&) { return std::optional<QString>(path); });
    auto start = std::chrono::steady_clock::now();
    page.OnBnClickedOpen();
    bench::Print("record_page_open_360k_ms", Ms(start), "ms");
    platform::SetDialogHandlers({}, {});

    double worst = 0.0;
    for (int scale = 0; scale < 7; ++scale) {
        page.m_cbTimeScale.setCurrentIndex(scale);
        std::vector<double> times;
        for (const int where : {0, 1, 2}) {
            page.OnHScroll(CDlgRecord::SB_THUMBPOSITION, page.m_nScrollMax / 2 * where);
            for (int i = 0; i < 3 * kRuns; ++i) {
                start = std::chrono::steady_clock::now();
                page.m_wave.repaint();
                times.push_back(Ms(start));
            }
        }
        const double ms = Median(times);
        worst = std::max(worst, ms);
        const std::string name = "record_repaint_scale" + std::to_string(scale) + "_ms";
        bench::Print(name.c_str(), ms, "ms");
    }
    bench::Print("record_repaint_worst_scale_ms", worst, "ms"); // the slowest scale's median
    return 0;
}
