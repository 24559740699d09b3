#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <string_view>

namespace platform {

/// Writes a file so that a failure never leaves a half-written file in place of a good one: the
/// bytes go to a new file beside the target, which is flushed to disk, renamed over the target
/// and made durable by syncing the folder, so the new name survives a power cut.
///
/// Rules, as a plain open would have them: an existing target the user may not write is refused
/// ("Permission denied") and left as it is; an existing file keeps its permission bits, a new one
/// gets 0666 less the process umask. Where the folder allows no new file but the existing target
/// is writable, the target itself is written in place (a failure part-way then leaves it cut
/// short, as it would any program's plain write). A link is written through to its file.
///
/// Usage: Open, any number of Write calls (chunks are buffered), then Commit; destroying the
/// writer without Commit discards the new file.
class AtomicFileWriter
{
public:
    explicit AtomicFileWriter(QString path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    /// Prepares the file; false (with ErrorText) when it cannot be written.
    bool Open();
    /// Appends `bytes`; false once any write has failed (later calls do nothing).
    bool Write(std::string_view bytes);
    /// Writes what is buffered, syncs, and puts the file in place; false on failure, with the
    /// target as it was (unless it was being written in place).
    bool Commit();
    /// Drops what was written; the target stays as it was (unless it was being written in place).
    void Discard();

    /// The system's text for the first failure, e.g. "Permission denied".
    QString ErrorText() const;
    /// True when the target is written in place because its folder takes no new file.
    bool InPlace() const { return m_inPlace; }

private:
    bool Fail(int code);
    bool Flush();

    QString m_path;
    std::string m_target;  ///< the file finally written (a link resolved), in the file system's encoding
    std::string m_temp;    ///< the new file beside it; empty when writing in place
    std::string m_buffer;
    int m_fd = -1;
    int m_error = 0;
    bool m_inPlace = false;
};

/// Writes all of `size` bytes to `fd`, resuming after interruptions; 0, or the errno of the
/// failure (a write that takes nothing counts as a full disk).
int WriteAll(int fd, const char* data, size_t size);

/// Syncs the folder `folder` (file-system encoding), so a name just made or changed in it survives
/// a power cut. Folders that cannot be synced are left as they are.
void SyncFolder(const std::string& folder);

/// Writes `bytes` to `path` with an AtomicFileWriter. On failure returns false and puts the
/// system's error text into `error`.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error);

} // namespace platform
