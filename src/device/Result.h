#pragma once

#include <QString>

/// What an operation on a file or on the link came to: done, nothing to do, or why it failed, with
/// the name it concerns. The lower layers return it; the pages turn a failure into their message
/// box and tarnwell-cli into a line on standard error and its exit status.
struct CResult
{
    enum Kind {
        kOk,         ///< done
        kNothing,    ///< nothing was asked after all: a dialog cancelled, a name the save rule skips
        kAborted,    ///< cut short by a closing window; nothing changed
        kNotCsv,     ///< a file to read whose name does not end in ".csv"
        kCannotOpen, ///< a file that could not be opened or read
        kCannotSave, ///< a file that could not be written
        kNoPort,     ///< the port setting reaches nothing, or the port could not be opened
        kNoAnswer,   ///< the port opened, but no supply answered on it
        kLinkLost,   ///< the supply stopped answering
    };

    Kind nKind = kOk;
    QString strName;   ///< the file or the port concerned
    QString strReason; ///< the system's text for a file, the link's sentence for a port

    bool Ok() const { return nKind == kOk; }
    /// A failure the user is to be told of.
    bool Failed() const { return nKind != kOk && nKind != kNothing && nKind != kAborted; }
    /// The words the user sees: for files the pages' own messages ("This is not a CSV file!",
    /// "Can not open file: ...", "Cann't save file: ..."), for the link the reason.
    QString Message() const;

    static CResult Done(QString strName = {}) { return {kOk, std::move(strName), {}}; }
    static CResult Failure(Kind nKind, QString strName, QString strReason = {})
    {
        return {nKind, std::move(strName), std::move(strReason)};
    }
};
