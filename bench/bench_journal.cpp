// What the run journal costs the thread that takes the samples: each row is handed to the
// journal's writer, which appends it and syncs the file once a second. Rows come every
// millisecond here (a thousand times the real rate) so the writer is busy syncing while they
// arrive; the figure is the longest any hand-over took.
#include "engine/RunJournal.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bench::UseCLocaleNumbers();
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());

    constexpr int kRows = 3000;
    double worst = 0.0;
    std::vector<double> all;
    all.reserve(kRows);
    {
        CRunJournal journal;
        journal.Begin(QDateTime::currentDateTime(), [](const QString& reason) {
            std::fprintf(stderr, "journal failed: %s\n", qPrintable(reason));
        });
        for (int i = 1; i <= kRows; ++i) {
            std::string row = std::to_string(i) + ",12.34,1.234";
            const auto start = std::chrono::steady_clock::now();
            journal.Append(std::move(row));
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            worst = std::max(worst, ms);
            all.push_back(ms);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        journal.End();
        journal.Flush();
    }
    std::sort(all.begin(), all.end());
    bench::Print("journal_row_ui_ms_max", worst, "ms");
    bench::Print("journal_row_ui_ms_median", all[all.size() / 2], "ms");
    return 0;
}
