#include "engine/JournalWriter.h"

#include "device/FileKinds.h"
#include "device/RecordFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const std::string kHeaderLine = std::string(recordfile::kHeader) + std::string(recordfile::kLineEnd);

// Journals beyond the newest few go; one whose run is going or was cut off (it has a marker) stays.
void Prune(const QString& strFolder, int nKeep)
{
    QDir dir(strFolder);
    // Newest first by when they were last written: names of runs within one second differ only by
    // a counter, which does not sort as a number.
    const QStringList names = dir.entryList({QStringLiteral("run-*") + filekinds::kCsv}, QDir::Files, QDir::Time);
    int nKept = 0;
    for (const QString& name : names) {
        const QString path = dir.filePath(name);
        if (QFileInfo::exists(CJournalWriter::MarkerOf(path)))
            continue;
        if (++nKept > nKeep) {
            QFile::remove(path);
            QFile::remove(CJournalWriter::EventsOf(path));
        }
    }
}

} // namespace

QString CJournalWriter::MarkerOf(const QString& strJournal)
{
    return strJournal.left(strJournal.size() - filekinds::kCsv.size()) + QLatin1String(kMarkerSuffix);
}

QString CJournalWriter::EventsOf(const QString& strJournal)
{
    return strJournal.left(strJournal.size() - filekinds::kCsv.size()) + QStringLiteral(".events");
}

void CJournalWriter::Note(const std::string& strLine)
{
    if (m_nOpenJournal == 0)
        return;
    // Rare and short: a plain append, synced with it; a disk that refuses it refuses the rows too,
    // which is said once already.
    QFile events(EventsOf(m_current.strPath));
    if (events.open(QIODevice::WriteOnly | QIODevice::Append))
        events.write(strLine.data(), static_cast<qint64>(strLine.size()));
}

void CJournalWriter::Open(int nJournal, const QString& strPath, ErrorHandler onError)
{
    Close();
    m_onError = std::move(onError);
    m_nOpenJournal = nJournal;
    m_current = {strPath, 0, {}};
    // A second run within the same second gets its own file.
    const QString stem = strPath.left(strPath.size() - filekinds::kCsv.size());
    for (int n = 2; QFileInfo::exists(m_current.strPath) || QFileInfo::exists(MarkerOf(m_current.strPath)); ++n)
        m_current.strPath = stem + QLatin1Char('-') + QString::number(n) + filekinds::kCsv;
    if (Create())
        m_onMade(nJournal, m_current.strPath);
}

bool CJournalWriter::Create()
{
    const QString folder = QFileInfo(m_current.strPath).path();
    int nError = platform::MakePath(folder);
    if (nError == 0 && !m_marker.IsHeld())
        nError = m_marker.Create(MarkerOf(m_current.strPath));
    if (nError == 0)
        nError = m_file.Create(m_current.strPath);
    if (nError == 0 && (nError = m_file.Append(kHeaderLine)) != 0) {
        m_file.Close();
        QFile::remove(m_current.strPath);
    }
    if (nError != 0) {
        Fail(nError);
        return false;
    }
    // The new name survives a power cut only once its folder is synced too.
    m_file.SyncWithFolder();
    m_lastSync = Clock::now();
    m_current.nGoodBytes = static_cast<qint64>(kHeaderLine.size());
    m_bMade = true;
    return true;
}

void CJournalWriter::Row(std::string strText)
{
    if (m_nOpenJournal == 0)
        return;
    m_current.rows.push_back(std::move(strText));
    if (m_bFailing)
        return; // waits for the next retry, in order
    if (!WriteBacklog())
        return;
    m_bDirty = true;
    if (Clock::now() - m_lastSync >= kSyncEvery)
        Sync();
}

bool CJournalWriter::WriteBacklog()
{
    while (!m_current.rows.empty()) {
        const std::string& row = m_current.rows.front();
        if (const int nError = m_file.Append(row); nError != 0) {
            Fail(nError);
            return false;
        }
        m_current.nGoodBytes += static_cast<qint64>(row.size());
        m_current.rows.pop_front();
    }
    return true;
}

bool CJournalWriter::WriteBacklog(Backlog& backlog)
{
    platform::AppendFile file;
    if (file.Reopen(backlog.strPath, backlog.nGoodBytes) != 0)
        return false;
    while (!backlog.rows.empty()) {
        if (file.Append(backlog.rows.front()) != 0)
            return false;
        backlog.nGoodBytes += static_cast<qint64>(backlog.rows.front().size());
        backlog.rows.pop_front();
    }
    return file.SyncData() == 0;
}

void CJournalWriter::Fail(int nError)
{
    if (m_onError)
        m_onError(platform::SystemErrorText(nError));
    m_onError = nullptr; // one message per journal
    m_file.Close();
    m_bFailing = true;
    m_nextRetry = Clock::now() + m_retryEvery;
}

void CJournalWriter::Retry()
{
    m_nextRetry = Clock::now() + m_retryEvery;
    for (auto it = m_ended.begin(); it != m_ended.end();)
        it = WriteBacklog(*it) ? m_ended.erase(it) : it + 1;
    if (!m_bFailing || m_nOpenJournal == 0)
        return;
    m_bFailing = false;
    if (!m_bMade) {
        if (Create())
            m_onMade(m_nOpenJournal, m_current.strPath);
        else
            return;
    } else if (const int nError = m_file.Reopen(m_current.strPath, m_current.nGoodBytes); nError != 0) {
        return Fail(nError);
    }
    if (WriteBacklog())
        m_bDirty = true;
}

void CJournalWriter::End(int nKeep)
{
    if (m_bFailing)
        Retry(); // one more try before the run's rows are left to the retries
    const bool bOpened = m_marker.IsHeld();
    if (m_bMade && !m_current.rows.empty())
        m_ended.push_back(m_current);
    const QString folder = QFileInfo(m_current.strPath).path();
    Close();
    if (bOpened && nKeep > 0)
        Prune(folder, nKeep);
}

void CJournalWriter::Remove(int nJournal, const QString& strPath)
{
    // Never the journal still being written.
    if (strPath.isEmpty() || (m_marker.IsHeld() && nJournal == m_nOpenJournal))
        return;
    QFile::remove(strPath);
    QFile::remove(MarkerOf(strPath));
    QFile::remove(EventsOf(strPath));
}

void CJournalWriter::Sync()
{
    if (m_bDirty)
        m_file.SyncData();
    m_bDirty = false;
    m_lastSync = Clock::now();
}

std::optional<CJournalWriter::Clock::time_point> CJournalWriter::NextDue() const
{
    std::optional<Clock::time_point> due;
    if (m_bDirty)
        due = m_lastSync + kSyncEvery;
    if ((m_bFailing && m_nOpenJournal != 0) || !m_ended.empty())
        due = due ? std::min(*due, m_nextRetry) : m_nextRetry;
    return due;
}

void CJournalWriter::Tick()
{
    const auto now = Clock::now();
    if (m_bDirty && now - m_lastSync >= kSyncEvery)
        Sync();
    if (((m_bFailing && m_nOpenJournal != 0) || !m_ended.empty()) && now >= m_nextRetry)
        Retry();
}

void CJournalWriter::Close()
{
    Sync();
    m_file.Close();
    m_marker.Remove();
    m_onError = nullptr;
    m_nOpenJournal = 0;
    m_bMade = false;
    m_bFailing = false;
    m_current = {};
}
