#pragma once

#include <QString>

#include <string_view>

namespace platform {

/// Makes `folder` and every folder above it that is missing (mkdir -p); 0, or the errno of the
/// failure (ENOTDIR when a file stands in its place).
int MakePath(const QString& folder);

/// The system's text for an errno value, e.g. "No space left on device".
QString SystemErrorText(int error);

/// A file that only grows and is made durable as it goes: created new (never over an existing
/// file), appended to, synced. Every call returns 0 or the errno of its failure; a write that
/// takes nothing counts as a full disk.
class AppendFile
{
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    /// Creates `path` (mode 0644 less the umask); EEXIST when something is already there.
    int Create(const QString& path);
    /// Opens the existing file `path` to go on appending after its first `nKeep` bytes (what was
    /// written after them, such as half a line a full disk cut short, is cut off).
    int Reopen(const QString& path, qint64 nKeep);
    int Append(std::string_view bytes);
    /// Puts what was appended on the disk (the data; the size with it).
    int SyncData();
    /// Syncs the file and its folder, so that a file just made survives a power cut by its name.
    int SyncWithFolder();
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

private:
    int m_fd = -1;
    QString m_path;
};

/// For tests: while `error` is not 0, every AppendFile::Append fails with it without writing, as
/// a full disk (ENOSPC) or a failing device (EIO) would.
void SetAppendFailure(int error);

/// A marker file that says "in use" for as long as this process holds it: locked before it gets its
/// name, so no other process ever sees it unlocked while it is held. A marker left behind unlocked
/// tells that its owner died.
class LockedMarker
{
public:
    LockedMarker() = default;
    ~LockedMarker();
    LockedMarker(const LockedMarker&) = delete;
    LockedMarker& operator=(const LockedMarker&) = delete;

    /// Makes and locks the marker at `path`; 0 or the errno of the failure (nothing left behind).
    int Create(const QString& path);
    /// Removes the marker and lets its lock go.
    void Remove();
    bool IsHeld() const { return m_fd >= 0; }

    /// Takes over the marker at `path` when nobody holds it (its owner is gone): true, and this
    /// object holds it until Remove. False when a living process holds it or it cannot be opened.
    bool Adopt(const QString& path);

private:
    int m_fd = -1;
    QString m_path;
};

} // namespace platform
