#pragma once

// The names and dialogs of record and program files, read by every page and program that opens or
// saves them.

#include "platform/FileDialogRequest.h"

#include <QString>

namespace filekinds {

/// Record and program files are read only under this extension; Save Data writes only to it.
inline const QString kCsv = QStringLiteral(".csv");
/// The Program page also reads and writes program files under this one.
inline const QString kTxt = QStringLiteral(".txt");

/// True when the last four characters of `path` equal `ext`, ignoring case.
inline bool HasExtension(const QString& path, const QString& ext)
{
    return path.size() >= ext.size() && path.right(ext.size()).compare(ext, Qt::CaseInsensitive) == 0;
}
inline bool IsCsv(const QString& path)
{
    return HasExtension(path, kCsv);
}

/// Opens a program file (Control and Program pages) or a record file (DataRecord page).
inline platform::FileDialogRequest OpenFile()
{
    return {false, QStringLiteral("Open File..."), QStringLiteral("Program Files(*.csv)|*.csv|"), QStringLiteral(".set")};
}
/// Save Data.
inline platform::FileDialogRequest SaveRecord()
{
    return {true, QStringLiteral("Save Data As CSV..."), QStringLiteral("CSV File(*.csv)|*.csv||"), kCsv};
}
/// The Program page's Save.
inline platform::FileDialogRequest SaveProgram()
{
    return {true, QStringLiteral("Save data to file..."),
            QStringLiteral("Program File(*.csv)|*.csv|Text File(*.txt)|*.txt||"), kTxt};
}

} // namespace filekinds
