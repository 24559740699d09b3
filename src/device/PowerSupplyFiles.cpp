// Record and program files of CPowerSupply: one CSV format, "Time(S),Voltage(V),Current(A)" then
// one row per second. Written with CR LF; read with CR LF or LF.
#include "device/PowerSupply.h"

#include "platform/AtomicFile.h"
#include "platform/Dialogs.h"

#include <QFile>

#include <charconv>
#include <string_view>
#include <vector>

namespace {

const char kHeader[] = "Time(S),Voltage(V),Current(A)";

void appendInt(std::string& out, long long value)
{
    char buf[24];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, res.ptr);
}

// Every line of `data`: CR LF or a lone LF ends a line; a last line without one still counts.
template <typename F>
void forEachLine(const QByteArray& data, F&& onLine)
{
    const char* p = data.constData();
    const char* end = p + data.size();
    while (p < end) {
        const char* nl = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)));
        const char* lineEnd = nl ? nl : end;
        const char* textEnd = lineEnd;
        if (textEnd > p && textEnd[-1] == '\r')
            --textEnd;
        onLine(p, textEnd);
        p = nl ? nl + 1 : end;
    }
}

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
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        platform::MessageBox(QStringLiteral("Can not open file: %1").arg(file.errorString().left(1024)));
        return 0;
    }
    file.close();

    std::vector<std::string_view> lines; // views into `data`, without their line ends
    forEachLine(data, [&](const char* b, const char* e) { lines.emplace_back(b, static_cast<size_t>(e - b)); });

    // A display-mode object only draws its record: it keeps neither the lines nor the record
    // rows, which would cost two heap strings a row and most of the load time of a long record.
    const bool keepText = m_bDisplayMode.load() == 0;
    std::deque<std::string> lineCopies;
    if (keepText) {
        for (const std::string_view line : lines) {
            std::string copy;
            copy.reserve(line.size() + 1);
            copy.append(line);
            copy += '\n';
            lineCopies.push_back(std::move(copy));
        }
    }

    {
        // The old contents are freed after the lock is released.
        std::deque<std::string> oldRows, oldLines;
        std::deque<int> oldTime;
        std::deque<float> oldVoltage, oldCurrent;
        std::lock_guard<std::mutex> guard(m_hLock);
        m_nPointsPerCycle = 0;
        oldRows.swap(m_rows);
        ++m_nRowsEpoch;
        oldTime.swap(m_progTime);
        oldVoltage.swap(m_progVoltage);
        oldCurrent.swap(m_progCurrent);
        oldLines.swap(m_lines);
        m_lines.swap(lineCopies);
        m_nPlayIndex = 0;
        if (m_bDisplayMode.load() != 0)
            m_nCycles = 1;
        if (bCountOnly != 0) {
            m_nPointsPerCycle = static_cast<int>(lines.size()) - 1;
            return 1;
        }
    }

    // Painting may run between batches of rows; a batch keeps the lock traffic small.
    constexpr int kRowsPerLock = 1024;
    std::unique_lock<std::mutex> lock(m_hLock, std::defer_lock);
    int rowsUnderLock = 0;
    const int cycles = m_nCycles.load();
    int perCycle = 0;
    for (int pass = 0; pass < cycles; ++pass) {
        bool first = true;
        long previous = 0;
        for (size_t i = 1; i < lines.size(); ++i) {
            const std::string_view line = lines[i];
            const size_t comma1 = line.find(',');
            const long time = ParseInt(line.substr(0, comma1));
            const std::string_view rest = comma1 == std::string_view::npos ? line : line.substr(comma1 + 1);
            const size_t comma2 = rest.find(',');
            const std::string_view voltageText =
                comma2 == std::string_view::npos ? std::string_view() : rest.substr(0, comma2);
            const std::string_view currentText =
                comma2 == std::string_view::npos ? rest : rest.substr(comma2 + 1);
            // One point per second: a break in the times ends the pass.
            if (!first && static_cast<long long>(time) != static_cast<long long>(previous) + 1)
                break;
            first = false;
            previous = time;

            const float volts = static_cast<float>(ParseFloat(voltageText));
            const float amps = static_cast<float>(ParseFloat(currentText));
            std::string row;
            if (keepText) {
                row.reserve(voltageText.size() + currentText.size() + 14);
                appendInt(row, static_cast<long long>(perCycle) * pass + time);
                row += ',';
                row.append(voltageText);
                row += ',';
                row.append(currentText);
                row += '\n';
            }

            if (!lock.owns_lock())
                lock.lock();
            m_progTime.push_back(static_cast<int>(time));
            m_progVoltage.push_back(volts);
            m_progCurrent.push_back(amps);
            if (keepText)
                m_rows.push_back(std::move(row));
            if (pass == 0)
                m_nPointsPerCycle = ++perCycle;
            if (++rowsUnderLock == kRowsPerLock) {
                rowsUnderLock = 0;
                lock.unlock();
            }
        }
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

int CPowerSupply::SaveRecord(QString strPath)
{
    QByteArray bytes;
    {
        std::lock_guard<std::mutex> guard(m_hLock);
        size_t size = sizeof kHeader + 2;
        for (const std::string& row : m_rows)
            size += row.size() + 1;
        bytes.reserve(static_cast<qsizetype>(size));
        bytes.append(kHeader).append("\r\n");
        for (const std::string& row : m_rows) {
            // Rows end in "\n"; on disk every line ends in CR LF.
            for (char c : row) {
                if (c == '\n')
                    bytes.append('\r');
                bytes.append(c);
            }
        }
    }

    // Written beside the target and renamed over it only when complete, so a full disk or an
    // I/O error never leaves a half-written file in place of a good one.
    QString error;
    if (!platform::WriteFileAtomically(strPath, bytes, &error)) {
        platform::MessageBox(QStringLiteral("Cann't save file: %1").arg(error.left(1024)));
        return 0;
    }
    return 1;
}
