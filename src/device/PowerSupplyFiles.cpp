// Record and program files of CPowerSupply, in the format of device/RecordFormat.h.
//
// A program is kept as one pass, whatever the number of cycles: playback goes round it and the
// record rows of the later passes are made when the record is written. Memory and load time
// depend on the file, never on the cycles.
#include "device/PowerSupply.h"

#include "device/FileKinds.h"
#include "device/NumberText.h"
#include "device/RecordFormat.h"
#include "platform/AtomicFile.h"

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

// Takes a file apart line by line: every line kept (when its text is wanted), and the rows of one
// pass, which a break in the times ends.
class FileParser
{
public:
    FileParser(bool bKeepText, bool bTakeRows) : m_bKeepText(bKeepText), m_bTakeRows(bTakeRows) {}

    /// False once nothing more is wanted from the file.
    bool OnLine(std::string_view line)
    {
        ++m_loaded.lineCount;
        if (m_bKeepText) {
            std::string& copy = m_loaded.lines.emplace_back();
            copy.reserve(line.size() + 1);
            copy.append(line);
            copy += '\n';
        }
        // Line 1 is the header, whatever it holds.
        if (!m_bTakeRows || !m_bPassOpen || m_loaded.lineCount == 1)
            return true;
        const recordfile::RowTexts texts = recordfile::SplitRow(line);
        const long time = numtext::ParseInt(texts.time);
        // One point per second: the first row is taken whatever its time.
        if (m_loaded.rows > 0 && static_cast<long long>(time) != m_nPrevious + 1LL) {
            m_bPassOpen = false;
            return m_bKeepText; // the lines are still wanted
        }
        m_nPrevious = time;
        m_loaded.times.push_back(static_cast<int>(time));
        m_loaded.volts.push_back(static_cast<float>(numtext::ParseFloat(texts.voltage)));
        m_loaded.amps.push_back(static_cast<float>(numtext::ParseFloat(texts.current)));
        if (m_bKeepText) {
            std::string& text = m_loaded.texts.emplace_back();
            text.reserve(texts.voltage.size() + texts.current.size() + 1);
            text.append(texts.voltage);
            text += ',';
            text.append(texts.current);
        }
        ++m_loaded.rows;
        return true;
    }

    LoadedFile& Loaded() { return m_loaded; }

private:
    const bool m_bKeepText;
    const bool m_bTakeRows;
    bool m_bPassOpen = true;
    long m_nPrevious = 0;
    LoadedFile m_loaded;
};

// Reads `file` a chunk at a time into `parser`: a closing window cuts a long load short between
// chunks, and the file is never held whole.
CResult ReadChunks(QFile& file, const std::atomic<int>& abort, FileParser& parser)
{
    std::string pending; // what was read and not yet taken: the start of an unfinished line
    bool bWanted = true;
    while (bWanted) {
        if (abort.load() != 0)
            return CResult::Failure(CResult::kAborted, file.fileName());
        const size_t kept = pending.size();
        pending.resize(kept + kReadChunk);
        const qint64 n = file.read(pending.data() + kept, kReadChunk);
        pending.resize(kept + static_cast<size_t>(std::max<qint64>(n, 0)));
        if (n < 0)
            return CResult::Failure(CResult::kCannotOpen, file.fileName(), file.errorString());
        if (n == 0) {
            recordfile::ForEachLine(pending, [&](std::string_view line) { bWanted = parser.OnLine(line); });
            break;
        }
        const size_t end = pending.rfind('\n');
        if (end == std::string::npos)
            continue; // one line longer than what has been read so far
        recordfile::ForEachLine(std::string_view(pending.data(), end + 1),
                                [&](std::string_view line) { return bWanted = parser.OnLine(line); });
        pending.erase(0, end + 1);
    }
    return CResult::Done(file.fileName());
}

} // namespace

CResult CPowerSupply::Load(const QString& strPath, bool bCountOnly)
{
    if (!filekinds::IsCsv(strPath))
        return CResult::Failure(CResult::kNotCsv, strPath);
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return CResult::Failure(CResult::kCannotOpen, strPath, file.errorString());
    // A display-mode object only draws its record: it keeps neither the lines nor the texts of
    // the rows, which would cost heap strings per row and most of the load time of a long record.
    const bool bDisplay = m_bDisplayMode.load() != 0;
    const int cycles = bDisplay ? 1 : m_nCycles.load();
    const bool bTakeRows = !bCountOnly && cycles > 0;
    FileParser parser(!bDisplay, bTakeRows);
    const CResult read = ReadChunks(file, m_bAbortLoad, parser);
    file.close();
    if (!read.Ok())
        return read;

    // The old contents are freed after the lock is released.
    LoadedFile& loaded = parser.Loaded();
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
        m_nRecordPasses = bTakeRows ? cycles : 0;
        m_nPlayIndex = 0;
        if (bDisplay)
            m_nCycles = 1;
        m_nPointsPerCycle = bCountOnly ? loaded.lineCount - 1 : loaded.rows;
    }
    return CResult::Done(strPath);
}

CResult CPowerSupply::SaveRecordAs(const platform::FileChooser& choose)
{
    const std::optional<QString> path = choose ? choose(filekinds::SaveRecord()) : std::nullopt;
    if (path && filekinds::IsCsv(*path))
        return Save(*path);
    return CResult::Failure(CResult::kNothing, path.value_or(QString()));
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

CResult CPowerSupply::Save(const QString& strPath)
{
    // Written beside the target and renamed over it only when complete, so a full disk or an
    // I/O error never leaves a half-written file in place of a good one.
    platform::AtomicFileWriter writer(strPath);
    const bool bWritten =
        writer.Open() && WriteRecord([&](std::string_view chunk) { return writer.Write(chunk); }) && writer.Commit();
    if (!bWritten)
        return CResult::Failure(CResult::kCannotSave, strPath, writer.ErrorText());
    return CResult::Done(strPath);
}
