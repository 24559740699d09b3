// The run journal: every sample on disk as it is taken, in the record format; a journal that
// cannot be written never stops the run; Save Data makes a user run's journal redundant; journals
// of runs that were cut off are reported once.
#include "engine/RunEngine.h"
#include "engine/RunJournal.h"
#include "device/PowerSupply.h"
#include "device/link/SimulatedSupply.h"
#include "device/pslink.h"
#include "platform/Dialogs.h"
#include "platform/DurableFile.h"
#include "support/RunTicks.h"
#include "support/TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QByteArray kHeader = "Time(S),Voltage(V),Current(A)\r\n";

class RunJournalTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_oldState = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", m_home.path().toLocal8Bit());
        pslink::ResetSimulators();
        pslink::SetSimulateAll(true);
        platform::SetDialogHandlers([this](const QString& text) { m_messages.push_back(text); }, {});
        ASSERT_EQ(m_supply.Connect(), 1);
    }

    void TearDown() override
    {
        CloseCOM(0);
        platform::SetDialogHandlers({}, {});
        pslink::SetSimulateAll(false);
        pslink::ResetSimulators();
        qputenv("XDG_STATE_HOME", m_oldState);
    }

    QStringList Journals() const
    {
        return QDir(CRunJournal::Folder()).entryList({QStringLiteral("run-*")}, QDir::Files, QDir::Name);
    }

    QByteArray m_oldState;
    QTemporaryDir m_home;
    QTemporaryDir m_dir;
    CPowerSupply m_supply;
    std::vector<QString> m_messages;
};

} // namespace

TEST_F(RunJournalTest, EverySampleIsOnDiskAsTakenAndSaveDataReplacesTheJournal)
{
    CRunEngine engine(m_supply);
    engine.Run().StartRun(false, QString(), 0);
    ASSERT_TRUE(Tick(engine.Run(), CRun::kUserTimer));
    engine.Run().FlushJournal();
    const QStringList running = Journals();
    ASSERT_EQ(running.size(), 2) << "the journal and the marker of its run";
    const QString path = QDir(CRunJournal::Folder()).filePath(running.filter(QStringLiteral(".csv")).value(0));
    EXPECT_TRUE(QFileInfo(path).fileName().startsWith(QStringLiteral("run-")));
    EXPECT_EQ(ReadTestFile(path), kHeader + "1,5.00,0.500\r\n");
    ASSERT_TRUE(Tick(engine.Run(), CRun::kUserTimer));
    engine.Run().FlushJournal();
    EXPECT_EQ(ReadTestFile(path), kHeader + "1,5.00,0.500\r\n2,5.00,0.500\r\n");

    engine.Run().EndRun();
    engine.Run().FlushJournal();
    EXPECT_EQ(Journals(), QStringList{QFileInfo(path).fileName()}) << "a run that ended leaves no marker";
    EXPECT_TRUE(CRunJournal::TakeCutOffRuns().empty());

    // The journal is the record Save Data would write: saved, it goes.
    const QString record = m_dir.filePath(QStringLiteral("record.csv"));
    ASSERT_EQ(m_supply.SaveRecord(record), 1);
    EXPECT_EQ(ReadTestFile(record), ReadTestFile(path));
    engine.Run().OnRecordSaved();
    engine.Run().FlushJournal();
    EXPECT_TRUE(Journals().isEmpty());

    // A program run's journal holds the measured samples, which Save Data does not write.
    const QString program = m_dir.filePath(QStringLiteral("prog.csv"));
    ASSERT_TRUE(WriteTestFile(program, kHeader + "1,1.00,0.100\r\n2,2.00,0.200\r\n"));
    m_supply.m_nDevice = 0;
    engine.Run().StartRun(true, program, 1);
    ASSERT_TRUE(Tick(engine.Run(), CRun::kProgramTimer));
    ASSERT_TRUE(Tick(engine.Run(), CRun::kProgramTimer));
    engine.Run().EndRun();
    ASSERT_EQ(m_supply.SaveRecord(record), 1);
    engine.Run().OnRecordSaved();
    engine.Run().FlushJournal();
    ASSERT_EQ(Journals().size(), 1);
    EXPECT_EQ(ReadTestFile(QDir(CRunJournal::Folder()).filePath(Journals()[0])), kHeader + "1,1.00,0.100\r\n2,2.00,0.200\r\n");
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(RunJournalTest, AJournalThatCannotBeWrittenNeverStopsTheRun)
{
    // The state folder's place is taken by a file: nothing can be made there, root or not.
    const QString blocked = m_home.filePath(QStringLiteral("blocked"));
    QFile file(blocked);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    qputenv("XDG_STATE_HOME", blocked.toLocal8Bit());

    CRunEngine engine(m_supply);
    QObject::connect(&engine.Run(), &CRun::JournalFailed, [this](const QString& strFolder, const QString& strReason) {
        m_messages.push_back(enginetext::JournalFailureMessage(strFolder, strReason));
    });
    engine.Run().StartRun(false, QString(), 0);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Tick(engine.Run(), CRun::kUserTimer));
        engine.Run().FlushJournal();
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(engine.Run().IsRunning());
    EXPECT_EQ(m_supply.m_nSample.load(), 3);
    ASSERT_EQ(m_messages.size(), 1u) << "one message for the run";
    EXPECT_TRUE(m_messages[0].contains(QStringLiteral("Not a directory"))) << m_messages[0].toStdString();
    engine.Run().EndRun();
    EXPECT_EQ(m_messages.size(), 1u);
}

TEST_F(RunJournalTest, AFullDiskLosesNoSampleAndTheRowsFollowOnceItHasRoom)
{
    CRunEngine engine(m_supply);
    engine.Run().SetJournalRetry(std::chrono::milliseconds(20));
    QObject::connect(&engine.Run(), &CRun::JournalFailed, [this](const QString& strFolder, const QString& strReason) {
        m_messages.push_back(enginetext::JournalFailureMessage(strFolder, strReason));
    });
    engine.Run().StartRun(false, QString(), 0);
    ASSERT_TRUE(Tick(engine.Run(), CRun::kUserTimer));
    engine.Run().FlushJournal();
    platform::SetAppendFailure(ENOSPC); // the disk fills up during the run
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Tick(engine.Run(), CRun::kUserTimer));
        engine.Run().FlushJournal();
    }
    QCoreApplication::processEvents();
    ASSERT_EQ(m_messages.size(), 1u) << "said once";
    EXPECT_TRUE(m_messages[0].contains(QStringLiteral("No space left on device"))) << m_messages[0].toStdString();
    EXPECT_TRUE(m_messages[0].contains(CRunJournal::Folder())) << "the message names the folder";

    // Save Data still works to another place meanwhile (its writer is not the journal's).
    const QString record = m_dir.filePath(QStringLiteral("record.csv"));
    EXPECT_EQ(m_supply.SaveRecord(record), 1);

    platform::SetAppendFailure(0); // room again: the waiting rows follow, in order, then the new ones
    const QString journal = QDir(CRunJournal::Folder()).filePath(Journals().filter(QStringLiteral(".csv")).value(0));
    const QByteArray expected = kHeader + "1,5.00,0.500\r\n2,5.00,0.500\r\n3,5.00,0.500\r\n4,5.00,0.500\r\n";
    EXPECT_TRUE(QTest::qWaitFor([&] { return ReadTestFile(journal) == expected; }, 3000)) << ReadTestFile(journal).toStdString();
    ASSERT_TRUE(Tick(engine.Run(), CRun::kUserTimer));
    engine.Run().EndRun();
    engine.Run().FlushJournal();
    EXPECT_EQ(ReadTestFile(journal), expected + "5,5.00,0.500\r\n");
    EXPECT_EQ(m_messages.size(), 1u);
}

TEST_F(RunJournalTest, OnlyTheNewestJournalsAreKept)
{
    QDir folder(CRunJournal::Folder());
    ASSERT_TRUE(folder.mkpath(QStringLiteral(".")));
    const QDateTime old = QDateTime::currentDateTime().addDays(-30);
    for (int i = 0; i < 25; ++i) {
        QFile journal(folder.filePath(QStringLiteral("run-20260101-0000%1.csv").arg(i, 2, 10, QLatin1Char('0'))));
        ASSERT_TRUE(journal.open(QIODevice::WriteOnly));
        journal.write(kHeader);
        journal.flush();
        journal.setFileTime(old.addSecs(i), QFileDevice::FileModificationTime);
    }
    CRunEngine engine(m_supply);
    engine.Run().StartRun(false, QString(), 0);
    ASSERT_TRUE(Tick(engine.Run(), CRun::kUserTimer));
    engine.Run().EndRun();
    engine.Run().FlushJournal();
    const QStringList kept = Journals();
    ASSERT_EQ(kept.size(), CRunJournal::kKeepNewest);
    EXPECT_FALSE(kept.contains(QStringLiteral("run-20260101-000005.csv"))) << "the oldest go";
    EXPECT_TRUE(kept.contains(QStringLiteral("run-20260101-000006.csv")));
}

TEST_F(RunJournalTest, ACutOffRunIsReportedOnceAndALiveOneNever)
{
    QDir folder(CRunJournal::Folder());
    ASSERT_TRUE(folder.mkpath(QStringLiteral(".")));
    // What a killed process leaves: the journal and its marker, nobody holding the marker.
    const QString dead = folder.filePath(QStringLiteral("run-20260301-101500.csv"));
    ASSERT_TRUE(WriteTestFile(dead, kHeader + "1,5.00,0.500\r\n2,5.00,0.500\r\n3,5.0"));
    QFile marker(folder.filePath(QStringLiteral("run-20260301-101500.running")));
    ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    marker.close();

    // A run going on right now in this process holds its own marker.
    CRunEngine engine(m_supply);
    engine.Run().StartRun(false, QString(), 0);
    ASSERT_TRUE(Tick(engine.Run(), CRun::kUserTimer));
    engine.Run().FlushJournal();

    const std::vector<CRunJournal::CutOff> found = CRunJournal::TakeCutOffRuns();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].strPath, dead);
    EXPECT_EQ(found[0].nSamples, 2) << "only whole rows count";
    const QString message = CRunJournal::CutOffMessage(found[0]);
    EXPECT_TRUE(message.startsWith(QStringLiteral("A run cut off on ")));
    EXPECT_TRUE(message.endsWith(QStringLiteral(" was kept: ") + dead + QStringLiteral(" (2 samples).")))
        << message.toStdString();
    const CRunJournal::CutOff odd{QStringLiteral("/home/u/100%1/run.csv"), found[0].cutAt, 3};
    EXPECT_TRUE(CRunJournal::CutOffMessage(odd).endsWith(QStringLiteral(": /home/u/100%1/run.csv (3 samples).")));
    EXPECT_TRUE(CRunJournal::TakeCutOffRuns().empty()) << "reported once";
    EXPECT_TRUE(QFile::exists(dead)) << "the journal itself stays";
    engine.Run().EndRun();
}
