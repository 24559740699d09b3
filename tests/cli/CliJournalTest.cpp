// A run killed outright: what the journal kept, and that the next start tells of it once.
#include "engine/RunJournal.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <gtest/gtest.h>

TEST(CliJournal, AKilledRunKeepsEverySampleTakenAndIsReportedOnce)
{
    QTemporaryDir state;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_STATE_HOME"), state.path());
    QProcess cli;
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(TARNWELL_CLI_PATH), {"log", "--port", "sim", "--for", "60"});
    QStringList printed;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            while (cli.canReadLine())
                printed << QString::fromLatin1(cli.readLine()).trimmed();
            return printed.size() >= 3;
        },
        10000))
        << "three samples";
    cli.kill(); // SIGKILL: nothing of the program runs any more
    ASSERT_TRUE(cli.waitForFinished(3000));
    printed << QString::fromLatin1(cli.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);

    const QByteArray oldState = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
    const std::vector<CRunJournal::CutOff> cut = CRunJournal::TakeCutOffRuns();
    const std::vector<CRunJournal::CutOff> again = CRunJournal::TakeCutOffRuns();
    qputenv("XDG_STATE_HOME", oldState);

    ASSERT_EQ(cut.size(), 1u);
    EXPECT_TRUE(again.empty()) << "reported once";
    EXPECT_TRUE(cut[0].strPath.startsWith(state.path() + QStringLiteral("/tarnwell/runs/run-")));
    // Every sample up to the last second is on disk: the one printed just before the kill may
    // not have reached the file yet.
    EXPECT_GE(cut[0].nSamples, printed.size() - 1);
    QFile journal(cut[0].strPath);
    ASSERT_TRUE(journal.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = journal.readAll().split('\n');
    EXPECT_EQ(lines[0], "Time(S),Voltage(V),Current(A)\r");
    for (int i = 0; i < std::min<int>(printed.size(), cut[0].nSamples); ++i) {
        // "12 5.00 0.500 CV OUT" on the terminal is "12,5.00,0.500" in the record.
        const QStringList fields = printed[i].split(QLatin1Char(' '));
        ASSERT_GE(fields.size(), 3);
        EXPECT_EQ(QString::fromLatin1(lines[i + 1]), fields[0] + ',' + fields[1] + ',' + fields[2] + '\r');
    }
    EXPECT_TRUE(CRunJournal::CutOffMessage(cut[0]).endsWith(
        QStringLiteral(" was kept: %1 (%2 samples).").arg(cut[0].strPath).arg(cut[0].nSamples)));
}
