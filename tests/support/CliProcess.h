#pragma once

// tarnwell-cli run as a script runs it: a separate process, its lines and its exit status.

#include <QProcess>
#include <QString>
#include <QStringList>

struct CliResult
{
    int nExit = -1;
    QStringList lines; ///< standard output, one entry a line
    QString errors;    ///< standard error
};

inline void StartCli(QProcess& process, const QStringList& args)
{
    process.setProgram(QStringLiteral(TARNWELL_CLI_PATH));
    process.setArguments(args);
    process.start();
}

inline CliResult FinishCli(QProcess& process)
{
    CliResult result;
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(3000);
        return result;
    }
    result.nExit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.lines =
        QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    result.errors = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

inline CliResult RunCli(const QStringList& args)
{
    QProcess process;
    StartCli(process, args);
    return FinishCli(process);
}
