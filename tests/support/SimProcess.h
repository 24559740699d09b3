#pragma once

// Runs tarnwell-sim for one test: its pseudo-terminal path, control lines and command log.

#include "device/pslink.h"

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <vector>

class SimProcess
{
public:
    explicit SimProcess(QStringList args)
    {
        args << QStringLiteral("--log") << m_dir.filePath(QStringLiteral("commands.log"));
        m_process.start(QStringLiteral(TARNWELL_SIM_PATH), args);
        if (!m_process.waitForStarted(5000))
            return;
        if (QTest::qWaitFor([&] { return m_process.canReadLine() || m_process.state() != QProcess::Running; }, 5000)
            && m_process.canReadLine())
            m_path = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }

    ~SimProcess()
    {
        m_process.closeWriteChannel(); // the simulator ends when its input closes
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    QString path() const { return m_path; }

    /// The supply vanishes at once, terminal and all (a USB adapter pulled out).
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }

    void control(const char* line)
    {
        m_process.write(QByteArray(line) + '\n');
        m_process.waitForBytesWritten(1000);
    }

    /// Commands the simulator received so far, one per entry, exactly as received, and its
    /// notes of the link ("-- link down").
    QStringList log() const
    {
        QStringList lines;
        for (const QString& line : logLines())
            if (!line.startsWith(QLatin1String(kCountMark)))
                lines << line;
        return lines;
    }

    /// How many requests came in each whole second since the first, as its log counts them.
    std::vector<int> requestsPerSecond() const
    {
        std::vector<int> counts;
        for (const QString& line : logLines())
            if (line.startsWith(QLatin1String(kCountMark)))
                counts.push_back(line.section(QLatin1Char(' '), 3, 3).toInt());
        return counts;
    }

    QString errors() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }

private:
    static constexpr const char* kCountMark = "-- second ";

    QStringList logLines() const
    {
        QFile file(m_dir.filePath(QStringLiteral("commands.log")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'));
        if (!lines.isEmpty() && lines.back().isEmpty())
            lines.pop_back();
        return lines;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_path;
};

// COM1 reaches `target`; the device is closed again when the test ends.
class Com1
{
public:
    explicit Com1(const QString& target) { qputenv("TARNWELL_COM1", target.toLocal8Bit()); }
    ~Com1()
    {
        CloseCOM(0);
        qunsetenv("TARNWELL_COM1");
    }
};
