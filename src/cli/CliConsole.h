#pragma once

#include <QString>

#include <mutex>

/// Standard output and standard error of tarnwell-cli: sample lines, errors, the progress line.
class CCliConsole
{
public:
    static CCliConsole& Instance();

    /// One line on standard output, flushed at once so a pipe sees it live. False when standard
    /// output is gone (the reader of a pipe went away).
    bool PrintLine(const QString& strLine);
    /// "tarnwell-cli: <text>" on standard error.
    void Error(const QString& strText);
    /// The one updating line on standard error; shown only when standard error is a terminal.
    void Progress(const QString& strText);
    /// Takes the progress line away, so what follows starts on a clean line.
    void EndProgress();

private:
    CCliConsole();
    void ClearProgressLocked();
    void DrawProgressLocked();

    std::mutex m_hLock;
    bool m_bTerminal = false;
    QString m_strProgress; ///< empty when no progress line is shown
};
