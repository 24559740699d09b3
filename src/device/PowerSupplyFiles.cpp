// Record and program files of CPowerSupply, in the format of device/RecordFormat.h.
//
// A program is kept as one pass, whatever the number of cycles: playback goes round it and the
// record rows of the later passes are made when the record is written. Memory and load time
// depend on the file, never on the cycles.
#include "device/PowerSupply.h"

#include "device/NumberText.h"
#include "device/RecordFormat.h"
#include "platform/AtomicFile.h"
#include "platform/Dialogs.h"

#include <QFile>

#include <algorithm>
#include <string_view>

namespace {

constexpr qint64 kReadChunk = 1 << 20;

// Everything a loaded file leaves in the object, built aside and put in place at once.
struct LoadedFile
{
    std::deque<std::string> lines;
    std::deque<int> times;
    std::deque<float> volts;
    std::deque<float> amps;
    std::deque<std::string> texts;
    int lineCount = 0;
    int rows = 0;
};

} // namespace

int CPowerSupply::LoadFile(QString strPath, int bCountOnly)
{
    if (!HasExtension(strPath, QStringLiteral(".csv"))) {
        platform::MessageBox(QStringLiteral("This is not a CSV file!"));
        return 0;
    }
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly)) {
        platform::MessageBox(QStringLiteral("Can not open file: %1").arg(file.errorString().left(1024)));
        return 0;
    }
    // A display-mode object only draws its record: it keeps neither the lines nor the texts of
    // the rows, which would cost heap strings per row and most of the load time of a long record.
    const bool keepText = m_bDisplayMode.load() == 0;
    const bool countOnly = bCountOnly != 0;
    const int cycles = m_bDisplayMode.load() != 0 ? 1 : m_nCycles.load();
    const bool takeRows = !countOnly && cycles > 0;

    LoadedFile loaded;
    bool passOpen = true; // a break in the times ends the pass
    long previous = 0;
    // False once nothing more is wanted from the file.
    auto onLine = [&](std::string_view line) {
        ++loaded.lineCount;
        if (keepText) {
            std::string& copy = loaded.lines.emplace_back();
            copy.reserve(line.size() + 1);
            copy.append(line);
            copy += '\n';
        }
        // Line 1 is the header, whatever it holds.
        if (!takeRows || !passOpen || loaded.lineCount == 1)
            return true;
        const recordfile::RowTexts texts = recordfile::SplitRow(line);
        const long time = numtext::ParseInt(texts.time);
        // One point per second: the first row is taken whatever its time.
        if (loaded.rows > 0 && static_cast<long long>(time) != previous + 1LL) {
            passOpen = false;
            return keepText; // the lines are still wanted
        }
        previous = time;
        loaded.times.push_back(static_cast<int>(time));
        loaded.volts.push_back(static_cast<float>(numtext::ParseFloat(texts.voltage)));
        loaded.amps.push_back(static_cast<float>(numtext::ParseFloat(texts.current)));
        if (keepText) {
            std::string& text = loaded.texts.emplace_back();
            text.reserve(texts.voltage.size() + texts.current.size() + 1);
            text.append(texts.voltage);
            text += ',';
            text.append(texts.current);
        }
        ++loaded.rows;
        return true;
    };

    // Read and taken apart a chunk at a time: a closing window cuts a long load short between
    // chunks, and the file is never held whole. A read error changes nothing either.
    std::string pending; // what was read and not yet taken: the start of an unfinished line
    bool wanted = true;
    while (wanted) {
        if (m_bAbortLoad.load() != 0)
            return 0;
        const size_t kept = pending.size();
        pending.resize(kept + kReadChunk);
        const qint64 n = file.read(pending.data() + kept, kReadChunk);
        pending.resize(kept + static_cast<size_t>(std::max<qint64>(n, 0)));
        if (n < 0) {
            platform::MessageBox(QStringLiteral("Can not open file: %1").arg(file.errorString().left(1024)));
            return 0;
        }
        if (n == 0) {
            recordfile::ForEachLine(pending, [&](std::string_view line) { wanted = onLine(line); });
            break;
        }
        const size_t end = pending.rfind('\n');
        if (end == std::string::npos)
            continue; // one line longer than what has been read so far
        recordfile::ForEachLine(std::string_view(pending.data(), end + 1),
                                [&](std::string_view line) { return wanted = onLine(line); });
        pending.erase(0, end + 1);
    }
    file.close();

    // The old contents are freed after the lock is released.
    LoadedFile old;
    std::deque<std::string> oldRows;
    {
        std::lock_guard<std::mutex> guard(m_hLock);
        oldRows.swap(m_rows);
        ++m_nRowsEpoch;
        m_lines.swap(loaded.lines);
        m_progTime.swap(loaded.times);
        m_progVoltage.swap(loaded.volts);
        m_progCurrent.swap(loaded.amps);
        m_progTexts.swap(loaded.texts);
        m_nRecordPasses = takeRows ? cycles : 0;
        m_nPlayIndex = 0;
        if (m_bDisplayMode.load() != 0)
            m_nCycles = 1;
        m_nPointsPerCycle = countOnly ? loaded.lineCount - 1 : loaded.rows;
    }
    return 1;
}

platform::FileDialogRequest CPowerSupply::OpenFileRequest()
{
    return {false, QStringLiteral("Open File..."), QStringLiteral("Program Files(*.csv)|*.csv|"),
            QStringLiteral(".set")};
}

int CPowerSupply::SaveRecordAs()
{
    const std::optional<QString> path = platform::ChooseFile(
        {true, QStringLiteral("Save Data As CSV..."), QStringLiteral("CSV File(*.csv)|*.csv||"), QStringLiteral(".csv")});
    if (path && HasExtension(*path, QStringLiteral(".csv")))
        return SaveRecord(*path);
    return 0;
}

bool CPowerSupply::WriteRecord(const std::function<bool(std::string_view)>& sink)
{
    // A copy taken under the lock: the rows are written without holding it. The program's rows
    // are one pass; the user-mode rows are what a run has added since.
    std::deque<int> times;
    std::deque<std::string> texts;
    std::deque<std::string> rows;
    long long passes = 0;
    long long perCycle = 0;
    {
        std::lock_guard<std::mutex> guard(m_hLock);
        times = m_progTime;
        texts = m_progTexts;
        rows = m_rows;
        passes = texts.empty() ? 0 : m_nRecordPasses.load();
        perCycle = m_nPointsPerCycle.load();
    }

    constexpr size_t kChunk = 1 << 16;
    std::string chunk;
    chunk.reserve(kChunk + 256);
    auto flushIfFull = [&]() {
        if (chunk.size() < kChunk)
            return true;
        const bool ok = sink(chunk);
        chunk.clear();
        return ok;
    };

    recordfile::AppendLine(chunk, recordfile::kHeader);
    // The program's rows over all its passes, renumbered: pass p shows time + p * rows per pass.
    const size_t n = std::min(times.size(), texts.size());
    for (long long pass = 0; pass < passes; ++pass) {
        for (size_t i = 0; i < n; ++i) {
            numtext::AppendInt(chunk, perCycle * pass + times[i]);
            chunk += ',';
            recordfile::AppendLine(chunk, texts[i]);
            if (!flushIfFull())
                return false;
        }
    }
    // Rows end in "\n"; on disk every line ends in CR LF.
    for (const std::string& row : rows) {
        for (size_t start = 0; start < row.size();) {
            const size_t nl = row.find('\n', start);
            if (nl == std::string::npos) {
                chunk.append(row, start, std::string::npos);
                break;
            }
            chunk.append(row, start, nl - start);
            chunk.append(recordfile::kLineEnd);
            start = nl + 1;
        }
        if (!flushIfFull())
            return false;
    }
    return chunk.empty() || sink(chunk);
}

int CPowerSupply::SaveRecord(QString strPath)
{
    // Written beside the target and renamed over it only when complete, so a full disk or an
    // I/O error never leaves a half-written file in place of a good one.
    platform::AtomicFileWriter writer(strPath);
    const bool written =
        writer.Open() && WriteRecord([&](std::string_view chunk) { return writer.Write(chunk); }) && writer.Commit();
    if (!written) {
        platform::MessageBox(QStringLiteral("Cann't save file: %1").arg(writer.ErrorText().left(1024)));
        return 0;
    }
    return 1;
}
