#include "cli/CliConsole.h"

#include <cstdio>
#include <unistd.h>

CCliConsole& CCliConsole::Instance()
{
    static CCliConsole console;
    return console;
}

CCliConsole::CCliConsole() : m_bTerminal(::isatty(STDERR_FILENO) != 0) {}

bool CCliConsole::PrintLine(const QString& strLine)
{
    const QByteArray bytes = strLine.toLocal8Bit() + '\n';
    std::lock_guard<std::mutex> guard(m_hLock);
    // The progress line and the samples may share one terminal: the sample goes above it.
    const bool bRedraw = !m_strProgress.isEmpty();
    if (bRedraw)
        ClearProgressLocked();
    const bool bWritten = std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout) ==
                              static_cast<size_t>(bytes.size()) &&
                          std::fflush(stdout) == 0;
    if (bRedraw)
        DrawProgressLocked();
    return bWritten;
}

void CCliConsole::Error(const QString& strText)
{
    const QByteArray bytes = QStringLiteral("tarnwell-cli: %1\n").arg(strText).toLocal8Bit();
    std::lock_guard<std::mutex> guard(m_hLock);
    const bool bRedraw = !m_strProgress.isEmpty();
    if (bRedraw)
        ClearProgressLocked();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    if (bRedraw)
        DrawProgressLocked();
    std::fflush(stderr);
}

void CCliConsole::Progress(const QString& strText)
{
    if (!m_bTerminal)
        return;
    std::lock_guard<std::mutex> guard(m_hLock);
    m_strProgress = strText;
    DrawProgressLocked();
}

void CCliConsole::EndProgress()
{
    std::lock_guard<std::mutex> guard(m_hLock);
    if (m_strProgress.isEmpty())
        return;
    ClearProgressLocked();
    m_strProgress.clear();
}

void CCliConsole::ClearProgressLocked()
{
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
}

void CCliConsole::DrawProgressLocked()
{
    const QByteArray bytes = ("\r\033[K" + m_strProgress).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}
