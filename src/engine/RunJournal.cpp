#include "engine/RunJournal.h"

#include "engine/EngineText.h"
#include "engine/JournalWriter.h"

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

} // namespace

CRunJournal::CRunJournal(QString strFolder, int nKeep)
    : m_strFolder(strFolder.isEmpty() ? Folder() : std::move(strFolder)), m_nKeep(nKeep), m_hThread([this] { WriterLoop(); })
{
}

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
        m_strFolder + QStringLiteral("/run-") + start.toString(QStringLiteral("yyyyMMdd-HHmmss")) + filekinds::kCsv;
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

void CRunJournal::Note(const QDateTime& at, const QString& strText)
{
    const QString line = at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + strText;
    Push({Job::Note, line.toStdString() + std::string(recordfile::kLineEnd), 0, {}, {}});
}

QString CRunJournal::EventsOf(const QString& strJournal)
{
    return CJournalWriter::EventsOf(strJournal);
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

    CJournalWriter writer([this](int nJournal, const QString& strPath) {
        std::lock_guard<std::mutex> paths(m_hLock);
        m_paths[nJournal] = strPath;
    });
    std::unique_lock<std::mutex> guard(m_hLock);
    for (;;) {
        writer.SetRetryInterval(m_retryEvery);
        if (m_jobs.empty()) {
            m_bBusy = false;
            m_cvIdle.notify_all();
            if (m_bStop)
                break;
            if (const auto due = writer.NextDue())
                m_cvWork.wait_until(guard, *due);
            else
                m_cvWork.wait(guard);
            if (m_jobs.empty()) {
                guard.unlock();
                writer.Tick();
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

void CRunJournal::Run(CJournalWriter& writer, Job& job)
{
    switch (job.kind) {
    case Job::Open:
        writer.Open(job.nJournal, job.strPath, std::move(job.onError));
        break;
    case Job::Row:
        writer.Row(std::move(job.text));
        break;
    case Job::Note:
        writer.Note(job.text);
        break;
    case Job::Close:
        writer.End(m_nKeep);
        break;
    case Job::Remove:
        writer.Remove(job.nJournal, PathOf(job.nJournal));
        break;
    case Job::Sync:
        writer.Sync();
        writer.Tick();
        break;
    }
}

void CRunJournal::SetRetryInterval(std::chrono::milliseconds interval)
{
    {
        std::lock_guard<std::mutex> guard(m_hLock);
        m_retryEvery = interval;
    }
    m_cvWork.notify_one();
}

std::vector<CRunJournal::CutOff> CRunJournal::TakeCutOffRuns()
{
    std::vector<CutOff> found;
    QDir dir(Folder());
    const QStringList markers = dir.entryList({QStringLiteral("run-*") + QLatin1String(CJournalWriter::kMarkerSuffix)},
                                              QDir::Files, QDir::Name);
    for (const QString& name : markers) {
        const QString marker = dir.filePath(name);
        const QString journal =
            marker.left(marker.size() - static_cast<int>(std::strlen(CJournalWriter::kMarkerSuffix))) + filekinds::kCsv;
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
    return enginetext::CutOffMessage(cutOff.cutAt, cutOff.strPath, cutOff.nSamples);
}
