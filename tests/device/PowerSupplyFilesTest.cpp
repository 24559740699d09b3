#include "device/PowerSupply.h"
#include "support/DialogRecorder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class PowerSupplyFiles : public ::testing::Test
{
protected:
    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    static QByteArray read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static std::deque<int> times(const CPowerSupply& ps) { return ps.m_progTime; }

    QTemporaryDir dir;
    DialogRecorder dialogs;
};

} // namespace

TEST_F(PowerSupplyFiles, RefusedNamesAndUnreadableFilesChangeNothing)
{
    CPowerSupply ps;
    ps.m_rows = {"1,5.00,0.250\n"};
    ps.m_nPointsPerCycle = 7;
    EXPECT_EQ(ps.LoadFile(write("program.txt", "Time\n1,2,3\n")), 0);
    EXPECT_EQ(ps.LoadFile(dir.filePath("missing.csv")), 0);
    ASSERT_EQ(dialogs.messages.size(), 2);
    EXPECT_EQ(dialogs.messages[0], "This is not a CSV file!");
    EXPECT_TRUE(dialogs.messages[1].startsWith("Can not open file: ")) << dialogs.messages[1].toStdString();
    EXPECT_GT(dialogs.messages[1].size(), QString("Can not open file: ").size());
    EXPECT_EQ(ps.m_rows.size(), 1u);
    EXPECT_EQ(ps.m_nPointsPerCycle.load(), 7);

    EXPECT_EQ(ps.LoadFile(write("UPPER.CSV", "h\n1,2,3\n")), 1); // extension without regard to case
    EXPECT_EQ(ps.m_nPointsPerCycle.load(), 1);
}

TEST_F(PowerSupplyFiles, ContinuityRuleCyclesAndRecordRows)
{
    CPowerSupply ps;
    // Times 1, 2, 4: the break ends the pass.
    ASSERT_EQ(ps.LoadFile(write("a.csv", "Time(S),Voltage(V),Current(A)\r\n1,1.0,0.1\r\n2,2.0,0.2\r\n4,4.0,0.4\r\n")), 1);
    EXPECT_EQ(ps.m_nPointsPerCycle.load(), 2);
    EXPECT_EQ(times(ps), (std::deque<int>{1, 2}));

    // Times 5, 6, 7 (the first need not be 1); LF ends, last line without one, texts kept as written.
    ASSERT_EQ(ps.LoadFile(write("b.csv", "1,9,9\n5,5.5,0.50\n6,6,0.6\n7,7.25,0.7")), 1);
    EXPECT_EQ(times(ps), (std::deque<int>{5, 6, 7}));
    EXPECT_EQ(ps.m_rows, (std::deque<std::string>{"5,5.5,0.50\n", "6,6,0.6\n", "7,7.25,0.7\n"}));
    EXPECT_EQ(ps.m_lines.size(), 4u);
    EXPECT_EQ(ps.m_lines.front(), "1,9,9\n");

    // Two cycles: the program lists hold both passes; rows are renumbered over all passes.
    ps.m_nCycles = 2;
    ASSERT_EQ(ps.LoadFile(write("c.csv", "h\n1,1,0.1\n2,2,0.2\n3,3,0.3\n")), 1);
    EXPECT_EQ(times(ps), (std::deque<int>{1, 2, 3, 1, 2, 3}));
    ASSERT_EQ(ps.m_rows.size(), 6u);
    EXPECT_EQ(ps.m_rows[3], "4,1,0.1\n");
    EXPECT_EQ(ps.m_rows[5], "6,3,0.3\n");
    EXPECT_EQ(ps.m_nPointsPerCycle.load(), 3);

    ps.m_nCycles = 0; // no passes: nothing taken
    ASSERT_EQ(ps.LoadFile(write("d.csv", "h\n1,1,0.1\n")), 1);
    EXPECT_TRUE(ps.m_progTime.empty());
}

TEST_F(PowerSupplyFiles, FieldSplittingOfOddRows)
{
    CPowerSupply ps;
    ASSERT_EQ(ps.LoadFile(write("e.csv", "h\n3,12.5,0.5,word\n")), 1);
    EXPECT_EQ(ps.m_progTime.front(), 3);
    EXPECT_FLOAT_EQ(ps.m_progVoltage.front(), 12.5f);
    EXPECT_FLOAT_EQ(ps.m_progCurrent.front(), 0.5f);

    ASSERT_EQ(ps.LoadFile(write("f.csv", "h\n2,5.00\n")), 1); // two fields: 0 V and 5.0 A
    EXPECT_FLOAT_EQ(ps.m_progVoltage.front(), 0.0f);
    EXPECT_FLOAT_EQ(ps.m_progCurrent.front(), 5.0f);
    EXPECT_EQ(ps.m_rows.front(), "2,,5.00\n");

    // Header only; a header that is itself a data row is skipped too; an empty file.
    ASSERT_EQ(ps.LoadFile(write("g.csv", "Time(S),Voltage(V),Current(A)\n")), 1);
    EXPECT_EQ(ps.m_nPointsPerCycle.load(), 0);
    ASSERT_EQ(ps.LoadFile(write("h.csv", "1,1,1\n2,2,2\n")), 1);
    EXPECT_EQ(times(ps), (std::deque<int>{2}));
    ASSERT_EQ(ps.LoadFile(write("i.csv", "")), 1);
    EXPECT_EQ(ps.m_nPointsPerCycle.load(), 0);
}

TEST_F(PowerSupplyFiles, CountOnlyLoadCountsLinesAndParsesNothing)
{
    CPowerSupply ps;
    ps.m_bCountOnly = 1;
    ASSERT_EQ(ps.LoadFile(write("a.csv", "h\n1,1,1\n\n7,7,7\n")), 1);
    EXPECT_EQ(ps.m_nPointsPerCycle.load(), 3); // an empty line is a line
    EXPECT_TRUE(ps.m_progTime.empty());
    EXPECT_TRUE(ps.m_rows.empty());
    ASSERT_EQ(ps.LoadFile(write("b.csv", "")), 1);
    EXPECT_EQ(ps.m_nPointsPerCycle.load(), -1);
    ASSERT_EQ(ps.LoadFile(write("c.csv", "h")), 1);
    EXPECT_EQ(ps.m_nPointsPerCycle.load(), 0);
}

TEST_F(PowerSupplyFiles, GarbageIsNeverACrash)
{
    CPowerSupply ps;
    QByteArray garbage;
    for (int i = 0; i < 100000; ++i)
        garbage.append(static_cast<char>((i * 7919) % 256));
    garbage.append(QByteArray(200000, 'x')); // one very long line
    garbage.append("\n\xff\xfe,\xe4\xb8\xad,\x80\n");
    ASSERT_EQ(ps.LoadFile(write("g.csv", garbage)), 1);

    QByteArray million = "h\n";
    for (int i = 1; i <= 1000000; ++i)
        million.append(QByteArray::number(i)).append(",1.00,0.100\n");
    ps.m_bDisplayMode = 1;
    ASSERT_EQ(ps.LoadFile(write("m.csv", million)), 1);
    ps.ExpandProgram();
    EXPECT_EQ(ps.m_logVoltage.size(), 1000000u);
}

TEST_F(PowerSupplyFiles, SavedRecordHasTheHeaderAndCrLf)
{
    CPowerSupply ps;
    ps.m_rows = {"1,5.00,0.250\n", "2,5.00,0.251\n"};
    const QString path = dir.filePath("rec.csv");
    ASSERT_EQ(ps.SaveRecord(path), 1);
    EXPECT_EQ(read(path), QByteArray("Time(S),Voltage(V),Current(A)\r\n1,5.00,0.250\r\n2,5.00,0.251\r\n"));

    // A saved record loads back with its rows as they stood; a viewer keeps only the numbers.
    CPowerSupply loader;
    ASSERT_EQ(loader.LoadFile(path), 1);
    EXPECT_EQ(loader.m_rows, ps.m_rows);
    CPowerSupply viewer;
    viewer.m_bDisplayMode = 1;
    ASSERT_EQ(viewer.LoadFile(path), 1);
    viewer.ExpandProgram();
    EXPECT_TRUE(viewer.m_rows.empty());
    EXPECT_EQ(viewer.m_logTime, (std::deque<int>{1, 2}));
    EXPECT_EQ(viewer.m_logCurrent, (std::deque<float>{0.25f, 0.251f}));
}

TEST_F(PowerSupplyFiles, SaveRecordAsFollowsTheDialog)
{
    CPowerSupply ps;
    ps.m_rows = {"1,1.00,0.100\n"};
    dialogs.answerNext(std::nullopt);                 // cancelled
    dialogs.answerNext(dir.filePath("run.txt"));      // wrong extension: nothing written
    dialogs.answerNext(dir.filePath("run.CSV"));      // written
    ps.SaveRecordAs();
    ps.SaveRecordAs();
    ps.SaveRecordAs();
    ASSERT_EQ(dialogs.requests.size(), 3u);
    EXPECT_TRUE(dialogs.requests[0].save);
    EXPECT_EQ(dialogs.requests[0].title, "Save Data As CSV...");
    EXPECT_EQ(dialogs.requests[0].filter, "CSV File(*.csv)|*.csv||");
    EXPECT_EQ(dialogs.requests[0].defaultExt, ".csv");
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("run.txt")));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("run.CSV")));
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(PowerSupplyFiles, FailedSaveIsReportedAndKeepsTheGoodFile)
{
    CPowerSupply ps;
    ps.m_rows = {"1,1.00,0.100\n"};
    const QString good = write("good.csv", "Time(S),Voltage(V),Current(A)\r\n9,9.00,0.900\r\n");

    // A folder that cannot be written (root ignores permissions, so use a missing folder too).
    EXPECT_EQ(ps.SaveRecord(dir.filePath("no/such/folder/x.csv")), 0);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith("Cann't save file: "));

    // A full disk: a file-size limit makes the write fail part-way; the good file stays whole.
    {
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit tiny = saved;
        tiny.rlim_cur = 16;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
        const int result = ps.SaveRecord(good);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, oldHandler);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(dialogs.messages.size(), 2);
        EXPECT_EQ(read(good), QByteArray("Time(S),Voltage(V),Current(A)\r\n9,9.00,0.900\r\n"));
    }

    // The good file stays whole when a save into its folder fails part-way.
    ::chmod(dir.path().toLocal8Bit().constData(), 0555);
    if (::geteuid() != 0) {
        EXPECT_EQ(ps.SaveRecord(good), 0);
        EXPECT_EQ(read(good), QByteArray("Time(S),Voltage(V),Current(A)\r\n9,9.00,0.900\r\n"));
    }
    ::chmod(dir.path().toLocal8Bit().constData(), 0755);
    EXPECT_EQ(ps.SaveRecord(good), 1);
    EXPECT_EQ(read(good), QByteArray("Time(S),Voltage(V),Current(A)\r\n1,1.00,0.100\r\n"));
    // No temporary files left beside the target.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"good.csv"});
}
