#pragma once

// Files the tests make and read back.

#include <QByteArray>
#include <QFile>
#include <QString>

/// Writes `bytes` to `path`, replacing what was there; true when every byte was written.
inline bool WriteTestFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

/// The bytes of `path`; "(missing)" when it cannot be read.
inline QByteArray ReadTestFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}
