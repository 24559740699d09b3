#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

/// Writes `bytes` to `path` through a temporary file beside it, flushed to disk and renamed over
/// the target only when every byte was written, so a failure (full disk, I/O error, read-only
/// folder) never leaves a half-written file in place of a good one. On failure returns false and
/// puts the system's error text into `error`.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error);

} // namespace platform
