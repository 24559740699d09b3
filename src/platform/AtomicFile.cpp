#include "platform/AtomicFile.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    auto fail = [&](int code) {
        if (error)
            *error = systemError(code);
        return false;
    };
    const QByteArray target = QFile::encodeName(path);
    // A link is written through to the file it names, as a plain open would.
    const QFileInfo info(path);
    const QByteArray finalPath = info.isSymLink() ? QFile::encodeName(info.symLinkTarget()) : target;

    struct stat existing{};
    const bool exists = ::stat(finalPath.constData(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode))
        return fail(S_ISDIR(existing.st_mode) ? EISDIR : EINVAL);

    QByteArray temp = finalPath + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return fail(errno);
    auto abandon = [&](int code) {
        ::close(fd);
        ::unlink(temp.constData());
        return fail(code);
    };

    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return abandon(errno);
        }
        if (n == 0)
            return abandon(ENOSPC);
        p += n;
        left -= n;
    }
    if (::fsync(fd) != 0)
        return abandon(errno);
    // Keep the permissions of the file being replaced; a new file gets the usual 0666 & ~umask.
    mode_t mode = 0666;
    if (exists) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    ::fchmod(fd, mode);
    if (::close(fd) != 0) {
        const int code = errno;
        ::unlink(temp.constData());
        return fail(code);
    }
    if (::rename(temp.constData(), finalPath.constData()) != 0) {
        const int code = errno;
        ::unlink(temp.constData());
        return fail(code);
    }
    return true;
}

} // namespace platform
