// Record and program files of CPowerSupply, in the format of device/RecordFormat.h.
#include "device/PowerSupply.h"

#include "device/NumberText.h"
#include "device/RecordFormat.h"
#include "platform/AtomicFile.h"
#include "platform/Dialogs.h"

#include <QFile>

#include <string_view>
#include <vector>

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
    recordfile::ForEachLine(std::string_view(data.constData(), static_cast<size_t>(data.size())),
                            [&](std::string_view line) { lines.push_back(line); });

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
            const recordfile::RowTexts texts = recordfile::SplitRow(lines[i]);
            const long time = numtext::ParseInt(texts.time);
            // One point per second: a break in the times ends the pass.
            if (!first && static_cast<long long>(time) != static_cast<long long>(previous) + 1)
                break;
            first = false;
            previous = time;

            const float volts = static_cast<float>(numtext::ParseFloat(texts.voltage));
            const float amps = static_cast<float>(numtext::ParseFloat(texts.current));
            std::string row;
            if (keepText) {
                row.reserve(texts.voltage.size() + texts.current.size() + 14);
                recordfile::AppendRow(row, static_cast<long long>(perCycle) * pass + time, texts.voltage,
                                      texts.current);
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
        size_t size = recordfile::kHeader.size() + recordfile::kLineEnd.size();
        for (const std::string& row : m_rows)
            size += row.size() + 1;
        bytes.reserve(static_cast<qsizetype>(size));
        bytes.append(recordfile::kHeader.data(), static_cast<qsizetype>(recordfile::kHeader.size()));
        bytes.append(recordfile::kLineEnd.data(), static_cast<qsizetype>(recordfile::kLineEnd.size()));
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
