#include "engine/RunJournal.h"

#include "device/RecordFormat.h"
#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kMarkerSuffix[] = ".running";
const std::string kHeaderLine = std::string(recordfile::kHeader) + std::string(recordfile::kLineEnd);
constexpr auto kSyncEvery = std::chrono::seconds(1);

QString SystemReason(int nError)
{
    return QString::fromLocal8Bit(std::strerror(nError));
}

// mkdir -p, with the reason when it fails.
int MakePath(const QString& strFolder)
{
    const QByteArray path = QFile::encodeName(strFolder);
    for (qsizetype i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/')
            continue;
        const QByteArray part = path.left(i);
        if (::mkdir(part.constData(), 0755) != 0 && errno != EEXIST)
            return errno;
    }
    struct stat info = {};
    if (::stat(path.constData(), &info) != 0)
        return errno;
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

QString MarkerOf(const QString& strJournal)
{
    return strJournal.left(strJournal.size() - 4) + QLatin1String(kMarkerSuffix);
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
    const QStringList names = dir.entryList({QStringLiteral("run-*.csv")}, QDir::Files, QDir::Time);
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
        Folder() + QStringLiteral("/run-") + start.toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral(".csv");
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
    strRow += "\r\n";
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

void CRunJournal::WriterLoop()
{
    // A batch thread is not run ahead of the thread that woke it: handing over a row never costs
    // the sampling thread its turn on the processor.
    sched_param param = {};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &param);

    int fd = -1;
    int fdMarker = -1;
    QString strPath;
    int nOpenJournal = 0;
    ErrorHandler onError;
    bool bDirty = false;
    Clock::time_point lastSync = Clock::now();

    auto fail = [&](int nError) {
        if (onError)
            onError(SystemReason(nError));
        onError = nullptr; // one message per journal
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    };
    auto sync = [&] {
        if (fd >= 0 && bDirty)
            ::fdatasync(fd);
        bDirty = false;
        lastSync = Clock::now();
    };
    auto close = [&] {
        sync();
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        if (fdMarker >= 0) {
            QFile::remove(MarkerOf(strPath));
            ::close(fdMarker); // releases its lock
            fdMarker = -1;
        }
    };

    std::unique_lock<std::mutex> guard(m_hLock);
    for (;;) {
        if (m_jobs.empty()) {
            m_bBusy = false;
            m_cvIdle.notify_all();
            if (m_bStop)
                break;
            if (bDirty)
                m_cvWork.wait_until(guard, lastSync + kSyncEvery);
            else
                m_cvWork.wait(guard);
            if (m_jobs.empty()) {
                guard.unlock();
                if (bDirty && Clock::now() - lastSync >= kSyncEvery)
                    sync();
                guard.lock();
                continue;
            }
        }
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_bBusy = true;
        guard.unlock();

        switch (job.kind) {
        case Job::Open: {
            close();
            onError = std::move(job.onError);
            strPath = job.strPath;
            const QString folder = QFileInfo(strPath).path();
            int nError = MakePath(folder);
            if (nError != 0) {
                fail(nError);
                break;
            }
            // A second run within the same second gets its own file.
            const QString stem = strPath.left(strPath.size() - 4);
            for (int n = 2; QFileInfo::exists(strPath) || QFileInfo::exists(MarkerOf(strPath)); ++n)
                strPath = stem + QLatin1Char('-') + QString::number(n) + QStringLiteral(".csv");
            // The marker is locked before it gets its name, so no other process ever sees it
            // unlocked and takes the run for a dead one.
            const QString marker = MarkerOf(strPath);
            const QByteArray pending = QFile::encodeName(marker + QStringLiteral(".new"));
            fdMarker = ::open(pending.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fdMarker < 0 || ::flock(fdMarker, LOCK_EX) != 0
                || ::rename(pending.constData(), QFile::encodeName(marker).constData()) != 0) {
                fail(errno);
                if (fdMarker >= 0)
                    ::close(fdMarker);
                fdMarker = -1;
                ::unlink(pending.constData());
                break;
            }
            fd = ::open(QFile::encodeName(strPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC,
                        0644);
            if (fd < 0) {
                nError = errno;
            } else if ((nError = platform::WriteAll(fd, kHeaderLine.data(), kHeaderLine.size())) != 0) {
                ::close(fd);
                fd = -1;
                QFile::remove(strPath);
            }
            if (nError != 0) {
                fail(nError);
                QFile::remove(marker);
                ::close(fdMarker);
                fdMarker = -1;
                break;
            }
            ::fsync(fd);
            // The new name survives a power cut only once its folder is synced too.
            platform::SyncFolder(QFile::encodeName(folder).toStdString());
            lastSync = Clock::now();
            {
                std::lock_guard<std::mutex> paths(m_hLock);
                m_paths[job.nJournal] = strPath;
            }
            nOpenJournal = job.nJournal;
            break;
        }
        case Job::Row: {
            if (fd < 0)
                break; // no journal (it failed): the run goes on in memory
            if (const int nError = platform::WriteAll(fd, job.text.data(), job.text.size()); nError != 0)
                fail(nError);
            else
                bDirty = true;
            if (Clock::now() - lastSync >= kSyncEvery)
                sync();
            break;
        }
        case Job::Close: {
            const bool bOpened = fdMarker >= 0;
            close();
            onError = nullptr;
            if (bOpened)
                Prune(QFileInfo(strPath).path(), kKeepNewest);
            break;
        }
        case Job::Remove: {
            QString path;
            {
                std::lock_guard<std::mutex> paths(m_hLock);
                const auto it = m_paths.find(job.nJournal);
                if (it != m_paths.end())
                    path = it->second;
            }
            // Never the journal still being written.
            if (!path.isEmpty() && !(fdMarker >= 0 && job.nJournal == nOpenJournal)) {
                QFile::remove(path);
                QFile::remove(MarkerOf(path));
            }
            break;
        }
        case Job::Sync:
            sync();
            break;
        }
        guard.lock();
    }
    guard.unlock();
    close();
}

std::vector<CRunJournal::CutOff> CRunJournal::TakeCutOffRuns()
{
    std::vector<CutOff> found;
    QDir dir(Folder());
    const QStringList markers = dir.entryList({QStringLiteral("run-*") + QLatin1String(kMarkerSuffix)}, QDir::Files,
                                              QDir::Name);
    for (const QString& name : markers) {
        const QString marker = dir.filePath(name);
        const int fd = ::open(QFile::encodeName(marker).constData(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            continue;
        // The process writing that journal still holds its marker: its run is going.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        const QString journal = marker.left(marker.size() - static_cast<int>(std::strlen(kMarkerSuffix))) +
                                QStringLiteral(".csv");
        const QFileInfo info(journal);
        if (info.exists())
            found.push_back({journal, info.lastModified(), CountRows(journal)});
        QFile::remove(marker);
        ::close(fd);
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
