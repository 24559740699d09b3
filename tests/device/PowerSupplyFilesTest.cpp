#include "device/PowerSupply.h"
#include "support/DialogRecorder.h"
#include "support/Unprivileged.h"

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
    static unsigned modeOf(const QString& path)
    {
        struct stat st{};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0u;
    }
    // The record file the object writes, with its header.
    QByteArray saved(CPowerSupply& ps)
    {
        const QString path = dir.filePath("saved.csv");
        EXPECT_EQ(ps.SaveRecord(path), 1);
        return read(path);
    }

    QTemporaryDir dir;
    DialogRecorder dialogs;
};

} // namespace

TEST_F(PowerSupplyFiles, RefusedNamesAndUnreadableFilesChangeNothing)
{
    CPowerSupply ps;
    ps.m_rows = {"1,5.00,0.250\n"};
    ps.m_nPointsPerCycle = 7;
    const CResult refused = ps.Load(write("program.txt", "Time\n1,2,3\n"), false);
    const CResult missing = ps.Load(dir.filePath("missing.csv"), false);
    EXPECT_EQ(refused.Message(), "This is not a CSV file!");
    EXPECT_EQ(missing.Message(), "Can not open file: No such file or directory");
    EXPECT_EQ(missing.strName, dir.filePath("missing.csv"));
    EXPECT_EQ(ps.LoadFile(dir.filePath("missing.csv")), 0);
    EXPECT_TRUE(dialogs.messages.isEmpty()) << "the pages say it, not the supply object";
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
    EXPECT_EQ(saved(ps), "Time(S),Voltage(V),Current(A)\r\n5,5.5,0.50\r\n6,6,0.6\r\n7,7.25,0.7\r\n");
    EXPECT_EQ(ps.m_lines.size(), 4u);
    EXPECT_EQ(ps.m_lines.front(), "1,9,9\n");

    // Two cycles: one pass is held; the record rows are renumbered over both passes, and the
    // rows of a user-mode run that follows come after them.
    ps.m_nCycles = 2;
    ASSERT_EQ(ps.LoadFile(write("c.csv", "h\n1,1,0.1\n2,2,0.2\n3,3,0.3\n")), 1);
    EXPECT_EQ(times(ps), (std::deque<int>{1, 2, 3}));
    EXPECT_EQ(ps.m_nPointsPerCycle.load(), 3);
    ps.m_rows.push_back("1,4.00,0.400\n");
    EXPECT_EQ(saved(ps), "Time(S),Voltage(V),Current(A)\r\n1,1,0.1\r\n2,2,0.2\r\n3,3,0.3\r\n"
                         "4,1,0.1\r\n5,2,0.2\r\n6,3,0.3\r\n1,4.00,0.400\r\n");

    ps.m_nCycles = 0; // no passes: nothing taken
    ASSERT_EQ(ps.LoadFile(write("d.csv", "h\n1,1,0.1\n")), 1);
    EXPECT_TRUE(ps.m_progTime.empty());
}

TEST_F(PowerSupplyFiles, AHundredMillionCyclesCostNoMoreThanOnePass)
{
    CPowerSupply ps;
    ps.m_nCycles = 100000000;
    ASSERT_EQ(ps.LoadFile(write("many.csv", "h\n1,1,0.1\n2,2,0.2\n3,3,0.3\n")), 1);
    EXPECT_EQ(times(ps), (std::deque<int>{1, 2, 3}));
    ps.ResetPlayback();
    ps.ExpandProgram();
    EXPECT_EQ(ps.m_nPlayTotal.load(), 300000000);
    EXPECT_EQ(ps.m_playVoltage.size(), 3u);

    // Playback goes round the pass, up to the last point of the last one.
    std::vector<float> played;
    for (int i = 0; i < 4; ++i) {
        ps.ApplyNextPoint();
        played.push_back(ps.m_fVoltage);
    }
    EXPECT_EQ(played, (std::vector<float>{1, 2, 3, 1}));
    ps.m_nPlayIndex = 300000000 - 2;
    ps.ApplyNextPoint();
    EXPECT_FLOAT_EQ(ps.m_fVoltage, 2.0f);
    ps.ApplyNextPoint();
    EXPECT_FLOAT_EQ(ps.m_fVoltage, 3.0f);
    EXPECT_EQ(ps.m_bFinished.load(), 0);
    ps.ApplyNextPoint();
    EXPECT_EQ(ps.m_bFinished.load(), 1);

    // The record rows are made as they are written, and writing stops when the sink says so.
    std::string head;
    int chunks = 0;
    EXPECT_FALSE(ps.WriteRecord([&](std::string_view chunk) {
        if (head.empty())
            head = chunk.substr(0, 100);
        return ++chunks < 3;
    }));
    EXPECT_EQ(chunks, 3);
    EXPECT_EQ(head.substr(0, head.find("5,2,0.2")),
              "Time(S),Voltage(V),Current(A)\r\n1,1,0.1\r\n2,2,0.2\r\n3,3,0.3\r\n4,1,0.1\r\n");
}

TEST_F(PowerSupplyFiles, AClosingWindowCutsALoadShortAndChangesNothing)
{
    CPowerSupply ps;
    ASSERT_EQ(ps.LoadFile(write("first.csv", "h\n1,1,0.1\n")), 1);
    ps.m_bAbortLoad = 1;
    EXPECT_EQ(ps.LoadFile(write("second.csv", "h\n7,7,0.7\n8,8,0.8\n")), 0);
    EXPECT_EQ(times(ps), (std::deque<int>{1}));
    EXPECT_EQ(ps.m_nPointsPerCycle.load(), 1);
    EXPECT_TRUE(dialogs.messages.isEmpty());
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
    EXPECT_EQ(saved(ps), "Time(S),Voltage(V),Current(A)\r\n2,,5.00\r\n");

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
    EXPECT_EQ(saved(loader), read(path));
    CPowerSupply viewer;
    viewer.m_bDisplayMode = 1;
    ASSERT_EQ(viewer.LoadFile(path), 1);
    viewer.ExpandProgram();
    EXPECT_TRUE(viewer.m_rows.empty());
    EXPECT_EQ(viewer.m_logTime, (std::deque<int>{1, 2}));
    EXPECT_EQ(viewer.m_logCurrent, (std::deque<float>{0.25f, 0.251f}));
}

TEST_F(PowerSupplyFiles, AFileOfManyChunksSavesBackByteForByte)
{
    // Lines and CR LF pairs fall across the reader's chunks somewhere in 3 MB.
    QByteArray file = "Time(S),Voltage(V),Current(A)\r\n";
    for (int t = 1; t <= 120000; ++t)
        file.append(QByteArray::number(t)).append(t % 7 ? ",12.25,0.500\r\n" : ",7,0.0625   \r\n");
    CPowerSupply ps;
    ASSERT_EQ(ps.LoadFile(write("big.csv", file)), 1);
    EXPECT_EQ(ps.m_nPointsPerCycle.load(), 120000);
    EXPECT_EQ(saved(ps), file);
}

TEST_F(PowerSupplyFiles, SaveRecordAsFollowsTheDialog)
{
    CPowerSupply ps;
    ps.m_rows = {"1,1.00,0.100\n"};
    dialogs.answerNext(std::nullopt);                 // cancelled
    dialogs.answerNext(dir.filePath("run.txt"));      // wrong extension: nothing written
    dialogs.answerNext(dir.filePath("run.CSV"));      // written
    EXPECT_EQ(ps.SaveRecordAs(platform::ChooseFile).nKind, CResult::kNothing);
    EXPECT_EQ(ps.SaveRecordAs(platform::ChooseFile).nKind, CResult::kNothing);
    EXPECT_TRUE(ps.SaveRecordAs(platform::ChooseFile).Ok());
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
    EXPECT_EQ(ps.Save(dir.filePath("no/such/folder/x.csv")).Message(), "Cann't save file: No such file or directory");

    // A full disk: a file-size limit makes the write fail part-way; the good file stays whole.
    {
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit tiny = saved;
        tiny.rlim_cur = 16;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
        const CResult result = ps.Save(good);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, oldHandler);
        EXPECT_EQ(result.Message(), "Cann't save file: File too large");
        EXPECT_EQ(read(good), QByteArray("Time(S),Voltage(V),Current(A)\r\n9,9.00,0.900\r\n"));
    }

    EXPECT_EQ(ps.SaveRecord(good), 1);
    EXPECT_EQ(read(good), QByteArray("Time(S),Voltage(V),Current(A)\r\n1,1.00,0.100\r\n"));
    // No temporary files left beside the target.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"good.csv"});
}

TEST_F(PowerSupplyFiles, SaveKeepsPermissionsAndHonoursTheUmask)
{
    CPowerSupply ps;
    ps.m_rows = {"1,1.00,0.100\n"};
    const mode_t saved = ::umask(027);
    EXPECT_EQ(ps.SaveRecord(dir.filePath("new.csv")), 1);
    ::umask(saved);
    EXPECT_EQ(modeOf(dir.filePath("new.csv")), 0640u);

    const QString mine = write("mine.csv", "old\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(mine).constData(), 0600), 0);
    EXPECT_EQ(ps.SaveRecord(mine), 1);
    EXPECT_EQ(modeOf(mine), 0600u);
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(PowerSupplyFiles, SaveFollowsThePermissionsAPlainOpenWould)
{
    // Root writes anything; the cases run as an unprivileged user.
    const auto failures = RunUnprivileged([this](Failures& failed) {
        auto check = [&failed](bool ok, const char* what) {
            if (!ok)
                failed.push_back(what);
        };
        char folderName[] = "/tmp/tarnwell-save-XXXXXX";
        if (::mkdtemp(folderName) == nullptr) {
            failed.push_back("no folder");
            return;
        }
        const QString folder = QString::fromLocal8Bit(folderName);
        auto put = [](const QString& path, const QByteArray& bytes) {
            QFile f(path);
            return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
        };
        const QByteArray old = "Time(S),Voltage(V),Current(A)\r\n9,9.00,0.900\r\n";
        const QByteArray fresh = "Time(S),Voltage(V),Current(A)\r\n1,1.00,0.100\r\n";
        CPowerSupply ps;
        ps.m_rows = {"1,1.00,0.100\n"};

        // A read-only file in a writable folder is refused and stays as it was.
        const QString readOnly = folder + "/read-only.csv";
        check(put(readOnly, old) && ::chmod(QFile::encodeName(readOnly).constData(), 0444) == 0, "set-up 1");
        const CResult refused = ps.Save(readOnly);
        check(!refused.Ok(), "a read-only file was replaced");
        check(refused.Message() == "Cann't save file: Permission denied", "read-only: wrong message");
        check(read(readOnly) == old, "a read-only file changed");
        check(QDir(folder).entryList(QDir::Files | QDir::Hidden) == QStringList{"read-only.csv"},
              "read-only: a file was left behind");

        // A folder without room for a new file: a writable file in it is written in place; a
        // new file cannot be made.
        const QString writable = folder + "/writable.csv";
        check(put(writable, old) && ::chmod(QFile::encodeName(writable).constData(), 0640) == 0, "set-up 2");
        check(::chmod(folderName, 0555) == 0, "set-up 3");
        check(ps.SaveRecord(writable) == 1, "a writable file in a closed folder was not written");
        check(read(writable) == fresh, "in place: wrong contents");
        check(modeOf(writable) == 0640u, "in place: permissions changed");
        check(ps.Save(folder + "/new.csv").Message() == "Cann't save file: Permission denied",
              "closed folder: a new file appeared, or the wrong message");
        check(QDir(folder).entryList(QDir::Files | QDir::Hidden) == QStringList({"read-only.csv", "writable.csv"}),
              "closed folder: a file was left behind");

        ::chmod(folderName, 0755);
        QDir(folder).removeRecursively();
    });
    if (!failures)
        GTEST_SKIP() << "running as root and cannot become \"nobody\": the permission cases need a user "
                        "that file permissions apply to";
    for (const std::string& failure : *failures)
        ADD_FAILURE() << failure;
}
