#include "platform/DurableFile.h"

#include "platform/AtomicFile.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::atomic<int> g_appendFailure{0};

} // namespace

void SetAppendFailure(int error)
{
    g_appendFailure.store(error);
}

int MakePath(const QString& folder)
{
    const QByteArray path = QFile::encodeName(folder);
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

QString SystemErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// ---- AppendFile ----

AppendFile::~AppendFile()
{
    Close();
}

int AppendFile::Create(const QString& path)
{
    Close();
    m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
    if (m_fd < 0)
        return errno;
    m_path = path;
    return 0;
}

int AppendFile::Reopen(const QString& path, qint64 nKeep)
{
    Close();
    m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (m_fd < 0)
        return errno;
    m_path = path;
    if (::ftruncate(m_fd, static_cast<off_t>(nKeep)) != 0) {
        const int error = errno;
        Close();
        return error;
    }
    return 0;
}

int AppendFile::Append(std::string_view bytes)
{
    if (m_fd < 0)
        return EBADF;
    if (const int error = g_appendFailure.load(); error != 0)
        return error;
    return WriteAll(m_fd, bytes.data(), bytes.size());
}

int AppendFile::SyncData()
{
    return m_fd < 0 || ::fdatasync(m_fd) == 0 ? 0 : errno;
}

int AppendFile::SyncWithFolder()
{
    if (m_fd < 0)
        return EBADF;
    if (::fsync(m_fd) != 0)
        return errno;
    SyncFolder(QFile::encodeName(QFileInfo(m_path).path()).toStdString());
    return 0;
}

void AppendFile::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

// ---- LockedMarker ----

LockedMarker::~LockedMarker()
{
    if (m_fd >= 0)
        ::close(m_fd); // the lock goes with it; the marker stays, telling of a run cut off
}

int LockedMarker::Create(const QString& path)
{
    Remove();
    const QByteArray pending = QFile::encodeName(path + QStringLiteral(".new"));
    const int fd = ::open(pending.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0 || ::rename(pending.constData(), QFile::encodeName(path).constData()) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        ::unlink(pending.constData());
        return error;
    }
    m_fd = fd;
    m_path = path;
    return 0;
}

void LockedMarker::Remove()
{
    if (m_fd < 0)
        return;
    QFile::remove(m_path);
    ::close(m_fd); // releases its lock
    m_fd = -1;
}

bool LockedMarker::Adopt(const QString& path)
{
    Remove();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    // The process that made it still holds it: its run is going.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_path = path;
    return true;
}

} // namespace platform
