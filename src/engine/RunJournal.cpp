#include "engine/RunJournal.h"

#include "device/FileKinds.h"
#include "device/RecordFormat.h"
#include "platform/DurableFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>

#include <pthread.h>
#include <sched.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kMarkerSuffix[] = ".running";
const std::string kHeaderLine = std::string(recordfile::kHeader) + std::string(recordfile::kLineEnd);
constexpr auto kSyncEvery = std::chrono::seconds(1);

QString MarkerOf(const QString& strJournal)
{
    return strJournal.left(strJournal.size() - filekinds::kCsv.size()) + QLatin1String(kMarkerSuffix);
}

// Complete rows after the header.
int CountRows(const QString& strPath)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    int nLines = 0;
    char buffer[1 << 16];
    qint64 n = 0;
    while ((n = file.read(buffer, sizeof buffer)) > 0)
        nLines += static_cast<int>(std::count(buffer, buffer + n, '\n'));
    return std::max(0, nLines - 1);
}

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
        if (QFileInfo::exists(MarkerOf(path)))
            continue;
        if (++nKept > nKeep)
            QFile::remove(path);
    }
}

} // namespace

// The writer thread's side: one journal open at a time, its file and its marker.
class CRunJournal::Writer
{
public:
    explicit Writer(CRunJournal& journal) : m_journal(journal) {}
    ~Writer() { Close(); }

    void Open(Job& job)
    {
        Close();
        m_onError = std::move(job.onError);
        m_strPath = job.strPath;
        const QString folder = QFileInfo(m_strPath).path();
        if (const int nError = platform::MakePath(folder); nError != 0)
            return Fail(nError);
        // A second run within the same second gets its own file.
        const QString stem = m_strPath.left(m_strPath.size() - filekinds::kCsv.size());
        for (int n = 2; QFileInfo::exists(m_strPath) || QFileInfo::exists(MarkerOf(m_strPath)); ++n)
            m_strPath = stem + QLatin1Char('-') + QString::number(n) + filekinds::kCsv;
        if (const int nError = m_marker.Create(MarkerOf(m_strPath)); nError != 0)
            return Fail(nError);
        int nError = m_file.Create(m_strPath);
        if (nError == 0 && (nError = m_file.Append(kHeaderLine)) != 0) {
            m_file.Close();
            QFile::remove(m_strPath);
        }
        if (nError != 0) {
            m_marker.Remove();
            return Fail(nError);
        }
        // The new name survives a power cut only once its folder is synced too.
        m_file.SyncWithFolder();
        m_lastSync = Clock::now();
        m_journal.NoteMade(job.nJournal, m_strPath);
        m_nOpenJournal = job.nJournal;
    }

    void Row(const Job& job)
    {
        if (!m_file.IsOpen())
            return; // no journal (it failed): the run goes on in memory
        if (const int nError = m_file.Append(job.text); nError != 0)
            Fail(nError);
        else
            m_bDirty = true;
        if (Clock::now() - m_lastSync >= kSyncEvery)
            Sync();
    }

    void End()
    {
        const bool bOpened = m_marker.IsHeld();
        Close();
        m_onError = nullptr;
        if (bOpened)
            Prune(QFileInfo(m_strPath).path(), kKeepNewest);
    }

    void Remove(const Job& job)
    {
        const QString path = m_journal.PathOf(job.nJournal);
        // Never the journal still being written.
        if (!path.isEmpty() && !(m_marker.IsHeld() && job.nJournal == m_nOpenJournal)) {
            QFile::remove(path);
            QFile::remove(MarkerOf(path));
        }
    }

    void Sync()
    {
        if (m_bDirty)
            m_file.SyncData();
        m_bDirty = false;
        m_lastSync = Clock::now();
    }

    /// When a row written without a sync is due for one; nullopt when nothing waits.
    std::optional<Clock::time_point> SyncDue() const
    {
        return m_bDirty ? std::optional<Clock::time_point>(m_lastSync + kSyncEvery) : std::nullopt;
    }

private:
    void Fail(int nError)
    {
        if (m_onError)
            m_onError(platform::SystemErrorText(nError));
        m_onError = nullptr; // one message per journal
        m_file.Close();
    }

    void Close()
    {
        Sync();
        m_file.Close();
        m_marker.Remove();
    }

    CRunJournal& m_journal;
    platform::AppendFile m_file;
    platform::LockedMarker m_marker;
    QString m_strPath;
    int m_nOpenJournal = 0;
    ErrorHandler m_onError;
    bool m_bDirty = false;
    Clock::time_point m_lastSync = Clock::now();
};

CRunJournal::CRunJournal() : m_hThread([this] { WriterLoop(); }) {}

CRunJournal::~CRunJournal()
{
    {
        std::lock_guard<std::mutex> guard(m_hLock);
        m_bStop = true;
    }
    m_cvWork.notify_all();
    m_hThread.join();
}

QString CRunJournal::Folder()
{
    QByteArray base = qgetenv("XDG_STATE_HOME");
    // Only an absolute path counts; anything else is to be ignored.
    if (base.isEmpty() || !base.startsWith('/'))
        base = qgetenv("HOME") + "/.local/state";
    return QFile::decodeName(base) + QStringLiteral("/tarnwell/runs");
}

void CRunJournal::Push(Job job)
{
    {
        std::lock_guard<std::mutex> guard(m_hLock);
        m_jobs.push_back(std::move(job));
    }
    m_cvWork.notify_one();
}

int CRunJournal::Begin(const QDateTime& start, ErrorHandler onError)
{
    const QString path =
        Folder() + QStringLiteral("/run-") + start.toString(QStringLiteral("yyyyMMdd-HHmmss")) + filekinds::kCsv;
    int nJournal = 0;
    {
        std::lock_guard<std::mutex> guard(m_hLock);
        nJournal = ++m_nLastJournal;
    }
    Push({Job::Open, {}, nJournal, path, std::move(onError)});
    return nJournal;
}

QString CRunJournal::PathOf(int nJournal) const
{
    std::lock_guard<std::mutex> guard(m_hLock);
    const auto it = m_paths.find(nJournal);
    return it == m_paths.end() ? QString() : it->second;
}

void CRunJournal::Append(std::string strRow)
{
    strRow += recordfile::kLineEnd;
    Push({Job::Row, std::move(strRow), 0, {}, {}});
}

void CRunJournal::End()
{
    Push({Job::Close, {}, 0, {}, {}});
}

void CRunJournal::Delete(int nJournal)
{
    Push({Job::Remove, {}, nJournal, {}, {}});
}

void CRunJournal::Flush()
{
    Push({Job::Sync, {}, 0, {}, {}});
    std::unique_lock<std::mutex> guard(m_hLock);
    m_cvIdle.wait(guard, [this] { return m_jobs.empty() && !m_bBusy; });
}

void CRunJournal::NoteMade(int nJournal, const QString& strPath)
{
    std::lock_guard<std::mutex> guard(m_hLock);
    m_paths[nJournal] = strPath;
}

void CRunJournal::WriterLoop()
{
    // A batch thread is not run ahead of the thread that woke it: handing over a row never costs
    // the sampling thread its turn on the processor.
    sched_param param = {};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &param);

    Writer writer(*this);
    std::unique_lock<std::mutex> guard(m_hLock);
    for (;;) {
        if (m_jobs.empty()) {
            m_bBusy = false;
            m_cvIdle.notify_all();
            if (m_bStop)
                break;
            const std::optional<Clock::time_point> due = writer.SyncDue();
            if (due)
                m_cvWork.wait_until(guard, *due);
            else
                m_cvWork.wait(guard);
            if (m_jobs.empty()) {
                guard.unlock();
                if (due && Clock::now() >= *due)
                    writer.Sync();
                guard.lock();
                continue;
            }
        }
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_bBusy = true;
        guard.unlock();
        Run(writer, job);
        guard.lock();
    }
}

void CRunJournal::Run(Writer& writer, Job& job)
{
    switch (job.kind) {
    case Job::Open:
        writer.Open(job);
        break;
    case Job::Row:
        writer.Row(job);
        break;
    case Job::Close:
        writer.End();
        break;
    case Job::Remove:
        writer.Remove(job);
        break;
    case Job::Sync:
        writer.Sync();
        break;
    }
}

std::vector<CRunJournal::CutOff> CRunJournal::TakeCutOffRuns()
{
    std::vector<CutOff> found;
    QDir dir(Folder());
    const QStringList markers = dir.entryList({QStringLiteral("run-*") + QLatin1String(kMarkerSuffix)}, QDir::Files,
                                              QDir::Name);
    for (const QString& name : markers) {
        const QString marker = dir.filePath(name);
        const QString journal =
            marker.left(marker.size() - static_cast<int>(std::strlen(kMarkerSuffix))) + filekinds::kCsv;
        platform::LockedMarker adopted;
        if (!adopted.Adopt(marker))
            continue;
        const QFileInfo info(journal);
        if (info.exists())
            found.push_back({journal, info.lastModified(), CountRows(journal)});
        adopted.Remove();
    }
    return found;
}

QString CRunJournal::CutOffMessage(const CutOff& cutOff)
{
    // One pass: a second arg() would take a "%1" in the path (it comes from XDG_STATE_HOME) for
    // a place of its own.
    return QStringLiteral("A run cut off on %1 %2 was kept: %3 (%4 samples).")
        .arg(cutOff.cutAt.toString(QStringLiteral("yyyy-MM-dd")), cutOff.cutAt.toString(QStringLiteral("HH:mm:ss")),
             cutOff.strPath, QString::number(cutOff.nSamples));
}
