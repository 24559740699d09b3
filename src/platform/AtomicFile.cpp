#include "platform/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr size_t kBufferBytes = 1 << 16;

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates a new file beside `target` with a name nobody else uses. The mode 0666 lets the kernel
// apply the umask (and any default ACL) as for any new file, without touching the process umask.
int CreateBeside(const std::string& target, std::string& temp)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = target + '.';
        for (int i = 0; i < 6; ++i)
            temp += kLetters[QRandomGenerator::global()->bounded(static_cast<int>(sizeof kLetters - 1))];
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

} // namespace

AtomicFileWriter::AtomicFileWriter(QString path) : m_path(std::move(path)) {}

AtomicFileWriter::~AtomicFileWriter()
{
    Discard();
}

bool AtomicFileWriter::Fail(int code)
{
    if (m_error == 0)
        m_error = code;
    Discard();
    return false;
}

bool AtomicFileWriter::Open()
{
    const QFileInfo info(m_path);
    m_target = (info.isSymLink() ? QFile::encodeName(info.symLinkTarget()) : QFile::encodeName(m_path)).toStdString();

    struct stat existing{};
    const bool exists = ::stat(m_target.c_str(), &existing) == 0;
    if (exists) {
        if (!S_ISREG(existing.st_mode))
            return Fail(S_ISDIR(existing.st_mode) ? EISDIR : EINVAL);
        // Renaming would replace a file the user may not write (the folder's permission is
        // enough for a rename): refuse it as opening it for writing would.
        if (::faccessat(AT_FDCWD, m_target.c_str(), W_OK, AT_EACCESS) != 0)
            return Fail(errno);
    }

    m_fd = CreateBeside(m_target, m_temp);
    if (m_fd < 0) {
        const int code = errno;
        m_temp.clear();
        if (!exists || (code != EACCES && code != EPERM))
            return Fail(code);
        // The folder takes no new file, but the target may be written: write it in place.
        m_fd = ::open(m_target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (m_fd < 0)
            return Fail(errno);
        m_inPlace = true;
    } else if (exists) {
        // The new file takes the place of the old one with its permissions.
        ::fchmod(m_fd, existing.st_mode & 07777);
    }
    m_buffer.reserve(kBufferBytes);
    return true;
}

bool AtomicFileWriter::Flush()
{
    if (m_fd < 0)
        return false;
    const int code = WriteAll(m_fd, m_buffer.data(), m_buffer.size());
    m_buffer.clear();
    return code == 0 || Fail(code);
}

bool AtomicFileWriter::Write(std::string_view bytes)
{
    if (m_fd < 0)
        return false;
    if (m_buffer.size() + bytes.size() > kBufferBytes) {
        if (!Flush())
            return false;
        if (bytes.size() >= kBufferBytes) {
            const int code = WriteAll(m_fd, bytes.data(), bytes.size());
            return code == 0 || Fail(code);
        }
    }
    m_buffer.append(bytes);
    return true;
}

bool AtomicFileWriter::Commit()
{
    if (m_fd < 0 || !Flush())
        return false;
    if (::fsync(m_fd) != 0)
        return Fail(errno);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return Fail(errno);
    if (!m_temp.empty()) {
        if (::rename(m_temp.c_str(), m_target.c_str()) != 0)
            return Fail(errno);
        m_temp.clear();
        // The rename lives in the folder: sync it too, or a power cut may bring back the old
        // name. The file itself is complete by now, so a folder that cannot be synced (some file
        // systems refuse) does not make the save a failure.
        SyncFolder(FolderOf(m_target));
    }
    return true;
}

void AtomicFileWriter::Discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temp.empty()) {
        ::unlink(m_temp.c_str());
        m_temp.clear();
    }
    m_buffer.clear();
}

QString AtomicFileWriter::ErrorText() const
{
    return QString::fromLocal8Bit(std::strerror(m_error));
}

int WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ENOSPC;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

void SyncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    AtomicFileWriter writer(path);
    const bool written = writer.Open() &&
                         writer.Write(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size()))) &&
                         writer.Commit();
    if (!written && error)
        *error = writer.ErrorText();
    return written;
}

} // namespace platform
