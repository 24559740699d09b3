// tarnwell-cli as a script meets it: a separate process, its lines, files and exit status.
// Runs take real seconds (one sample a second), so each case keeps to a few of them.
#include "support/CliProcess.h"
#include "support/SimProcess.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace {

const char kHeader[] = "Time(S),Voltage(V),Current(A)\r\n";

} // namespace

TEST(Cli, PlayEndsAfterTheLastPointAndWritesTheRecordAndTheMeasuredSamples)
{
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("charge.csv"));
    ASSERT_TRUE(WriteTestFile(program, "Time(S),Voltage(V),Current(A)\r\n1,1.0,0.1\r\n2,2.00,0.200\r\n3,3.00,0.300\r\n"));
    const QString out = dir.filePath(QStringLiteral("run.csv"));
    const QString measured = dir.filePath(QStringLiteral("measured.csv"));

    const CliResult r =
        RunCli({"play", "--port", "sim", program, "--cycles", "2", "--out", out, "--measured", measured});

    EXPECT_EQ(r.nExit, 0) << r.errors.toStdString();
    EXPECT_EQ(r.lines, QStringList({"1 1.00 0.100 CV OUT", "2 2.00 0.200 CV OUT", "3 3.00 0.300 CV OUT",
                                    "4 1.00 0.100 CV OUT", "5 2.00 0.200 CV OUT", "6 3.00 0.300 CV OUT"}));
    EXPECT_TRUE(r.errors.isEmpty()) << "no terminal: nothing but errors on standard error";
    // The window's record of a program run: the program's rows over both passes, texts as written.
    EXPECT_EQ(ReadTestFile(out), QByteArray(kHeader) + "1,1.0,0.1\r\n2,2.00,0.200\r\n3,3.00,0.300\r\n"
                                                   "4,1.0,0.1\r\n5,2.00,0.200\r\n6,3.00,0.300\r\n");
    EXPECT_EQ(ReadTestFile(measured), QByteArray(kHeader) + "1,1.00,0.100\r\n2,2.00,0.200\r\n3,3.00,0.300\r\n"
                                                        "4,1.00,0.100\r\n5,2.00,0.200\r\n6,3.00,0.300\r\n");
}

TEST(Cli, LogPrintsOneJsonObjectPerSampleAndRecordsEachRow)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("log.csv"));

    const CliResult r = RunCli({"log", "--port=sim", "--for", "3s", "--json", "--out", out});

    EXPECT_EQ(r.nExit, 0) << r.errors.toStdString();
    ASSERT_EQ(r.lines.size(), 3);
    EXPECT_EQ(r.lines[0], R"({"t":1,"v":5.00,"i":0.500,"mode":"CV","out":true,"protect":null})");
    for (int i = 0; i < 3; ++i) {
        QJsonParseError error{};
        const QJsonObject o = QJsonDocument::fromJson(r.lines[i].toUtf8(), &error).object();
        EXPECT_EQ(error.error, QJsonParseError::NoError) << r.lines[i].toStdString();
        EXPECT_EQ(o.value("t").toInt(), i + 1);
        EXPECT_DOUBLE_EQ(o.value("v").toDouble(), 5.0);
        EXPECT_DOUBLE_EQ(o.value("i").toDouble(), 0.5);
        EXPECT_EQ(o.value("mode").toString(), "CV");
        EXPECT_TRUE(o.value("out").toBool());
    }
    EXPECT_EQ(ReadTestFile(out), QByteArray(kHeader) + "1,5.00,0.500\r\n2,5.00,0.500\r\n3,5.00,0.500\r\n");
}

TEST(Cli, SigtermEndsTheRunAsOffWritesTheFilesAndExits130)
{
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("long.csv"));
    QFile file(program);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QByteArray rows = kHeader;
    for (int t = 1; t <= 60; ++t)
        rows += QByteArray::number(t) + ",4.00,0.400\r\n";
    file.write(rows);
    file.close();
    const QString out = dir.filePath(QStringLiteral("out.csv"));
    const QString measured = dir.filePath(QStringLiteral("measured.csv"));

    QProcess process;
    StartCli(process, {"play", "--port", "sim", program, "--out", out, "--measured", measured});
    QByteArray printed;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            printed += process.readAllStandardOutput();
            return printed.count('\n') >= 2 || process.state() == QProcess::NotRunning;
        },
        10000));
    process.terminate();
    const CliResult r = FinishCli(process);

    EXPECT_EQ(r.nExit, 130) << r.errors.toStdString();
    const QStringList lines =
        (QString::fromUtf8(printed) + r.lines.join('\n')).split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(ReadTestFile(out), rows) << "a program run's record holds the program's points";
    QByteArray expected = kHeader;
    for (int t = 1; t <= lines.size(); ++t)
        expected += QByteArray::number(t) + ",4.00,0.400\r\n";
    EXPECT_EQ(ReadTestFile(measured), expected) << "every sample printed is recorded, none after the signal";
}

TEST(Cli, FailuresExitWithTheirStatusAndReason)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing.csv"));

    CliResult r = RunCli({"charge"});
    EXPECT_EQ(r.nExit, 1);
    EXPECT_TRUE(r.errors.contains("unknown command 'charge'")) << r.errors.toStdString();
    EXPECT_TRUE(r.errors.contains("usage: tarnwell-cli")) << r.errors.toStdString();

    for (const QStringList& args :
         {QStringList{"log", "--port", "sim"}, QStringList{"log", "--for", "5x"},
          QStringList{"set", "--volts", "5,0"}, QStringList{"read", "--port", "COM8"},
          QStringList{"play", "a.csv", "--cycles", "0"}, QStringList{"play", "a.csv", "--out", "./a.csv"},
          QStringList{"log", "--for", "5", "--reconnect=soon"}, QStringList{"set", "--on", "--reconnect"}}) {
        r = RunCli(args);
        EXPECT_EQ(r.nExit, 1) << args.join(' ').toStdString();
    }

    r = RunCli({"play", "--port", "sim", missing});
    EXPECT_EQ(r.nExit, 4);
    EXPECT_TRUE(r.errors.contains("No such file or directory")) << r.errors.toStdString();

    r = RunCli({"log", "--port", "sim", "--for", "1", "--out", dir.filePath("no/such/folder.csv")});
    EXPECT_EQ(r.nExit, 4);
    EXPECT_TRUE(r.errors.contains("No such file or directory")) << r.errors.toStdString();
    EXPECT_TRUE(r.lines.isEmpty()) << "refused before the run";

    r = RunCli({"identify", "--port", dir.filePath("ttyNone")});
    EXPECT_EQ(r.nExit, 2);
    EXPECT_TRUE(r.errors.contains("no such device")) << r.errors.toStdString();
}

TEST(Cli, PortsIdentifyAndHelp)
{
    CliResult r = RunCli({"ports"});
    EXPECT_EQ(r.nExit, 0);
    ASSERT_EQ(r.lines.size(), 7);
    EXPECT_TRUE(r.lines[0].startsWith("COM1\t"));
    EXPECT_TRUE(r.lines[6].startsWith("COM7\t"));

    r = RunCli({"identify", "--port", "sim"});
    EXPECT_EQ(r.nExit, 0);
    EXPECT_EQ(r.lines, QStringList{"TARNWELL-SIM V1.0"})
        << "the whole identity, not the version buffer's nine bytes";

    for (const char* command : {"ports", "identify", "set", "read", "log", "play"}) {
        r = RunCli({command, "--help"});
        EXPECT_EQ(r.nExit, 0);
        EXPECT_TRUE(r.lines.value(0).startsWith(QStringLiteral("usage: tarnwell-cli %1").arg(command)));
    }
}

TEST(Cli, ASaveThatFailsAtTheEndIsReportedNotPassedOff)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("gone"));
    ASSERT_TRUE(QDir().mkpath(folder));

    QProcess process;
    StartCli(process, {"log", "--port", "sim", "--for", "2", "--out", folder + "/log.csv"});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return process.canReadLine() || process.state() == QProcess::NotRunning; }, 10000));
    ASSERT_TRUE(QDir(folder).removeRecursively()); // the target's folder vanishes during the run
    const CliResult r = FinishCli(process);

    EXPECT_EQ(r.nExit, 4);
    EXPECT_TRUE(r.errors.contains("No such file or directory")) << r.errors.toStdString();
}

TEST(Cli, OverASerialLinkSetSendsOnlyWhatIsAskedAndReadShowsIt)
{
    SimProcess sim({"--dialect", "text", "--load", "10"});
    ASSERT_FALSE(sim.path().isEmpty());

    CliResult r = RunCli({"set", "--port", sim.path(), "--volts", "7", "--amps", "9", "--on"});
    EXPECT_EQ(r.nExit, 0) << r.errors.toStdString();
    r = RunCli({"read", "--port", sim.path(), "--json"});
    EXPECT_EQ(r.nExit, 0) << r.errors.toStdString();
    EXPECT_EQ(r.lines, QStringList{R"({"v":7.00,"i":0.700,"mode":"CV","out":true,"protect":null})"})
        << "the readings once the link has polled, never its first zeros";

    QStringList setters;
    for (const QString& command : sim.log()) {
        // Changes only; the link reads each one back ("VSET1?") to confirm it.
        if ((command.startsWith("VSET") || command.startsWith("ISET") || command.startsWith("OUT"))
            && !command.endsWith('?'))
            setters << command;
    }
    // No connect sequence (output off, 5 V, 1 A); the limit clamped to what the supply takes.
    EXPECT_EQ(setters, QStringList({"VSET1:07.00", "ISET1:5.100", "OUT1"}));

    // A run connects as the window does; --off-at-end switches off before the link closes.
    r = RunCli({"log", "--port", "text:" + sim.path(), "--for", "1", "--off-at-end"});
    EXPECT_EQ(r.nExit, 0) << r.errors.toStdString();
    EXPECT_EQ(r.lines.size(), 1);
    const QStringList commands = sim.log();
    EXPECT_TRUE(commands.contains("VSET1:05.00") && commands.contains("ISET1:1.000"));
    QStringList switches = commands.filter(QRegularExpression("^OUT[01]$"));
    ASSERT_FALSE(switches.isEmpty());
    EXPECT_EQ(switches.back(), "OUT0");
}

TEST(Cli, AUnitThatHoldsLessThanAskedIsSetAndSaysWhatItHolds)
{
    SimProcess sim({"--dialect", "text", "--max-volts", "30", "--max-amps", "3", "--load", "100"});
    ASSERT_FALSE(sim.path().isEmpty());

    CliResult r = RunCli({"set", "--port", sim.path(), "--volts", "32", "--amps", "5", "--on"});
    EXPECT_EQ(r.nExit, 0) << r.errors.toStdString();
    EXPECT_TRUE(r.errors.contains("holds at most 30.00 V, 3.000 A")) << r.errors.toStdString();
    r = RunCli({"read", "--port", sim.path()});
    EXPECT_EQ(r.lines, QStringList{"30.00 0.300 CV OUT"}) << "the current limit and the output went out too";
}

TEST(Cli, ModbusModulesAnswerTellTheirTripsAndLimitsAndAreRefusedWhenUnknown)
{
    const struct
    {
        QStringList simArgs;
        QStringList cliArgs;
        int nExit;
        QString strOut;    ///< in the last line of standard output
        QString strErrors; ///< in standard error
    } rows[] = {
        {{"--model", "60062"}, {"identify"}, 0, "Modbus module 60062 fw 1.28", ""},
        {{"--model", "60241", "--layout", "A"}, {"identify"}, 2, "", "unknown Modbus module model 60241"},
        {{"--model", "60062", "--trip-after", "0=ovp"}, {"read", "--json"}, 0, R"("out":false,"protect":"OVP"})", ""},
        {{"--model", "5005", "--trip-after", "0=ocp"}, {"read"}, 0, " OCP", ""},
        {{"--model", "3010"}, {"set", "--volts", "32"}, 0, "", "holds at most 30.00 V"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE((row.simArgs + row.cliArgs).join(' ').toStdString());
        SimProcess sim(QStringList{"--dialect", "modbus"} + row.simArgs);
        const CliResult r = RunCli(row.cliArgs + QStringList{"--port", "modbus:" + sim.path()});
        EXPECT_EQ(r.nExit, row.nExit) << r.errors.toStdString();
        if (!row.strOut.isEmpty()) {
            ASSERT_FALSE(r.lines.isEmpty());
            EXPECT_TRUE(r.lines.back().contains(row.strOut)) << r.lines.back().toStdString();
        }
        EXPECT_TRUE(r.errors.contains(row.strErrors)) << r.errors.toStdString();
    }
}

TEST(Cli, ASupplyOnTheNetworkIsSetProbedAndLostAsASerialOneIs)
{
    SimProcess lan({"--tcp", "0", "--max-amps", "3", "--identity", "ACME LAN-PSU 30V3A"});
    ASSERT_TRUE(lan.path().startsWith("tcp://")) << lan.path().toStdString();
    CliResult r = RunCli({"set", "--port", lan.path(), "--amps", "5"});
    EXPECT_EQ(r.nExit, 0) << r.errors.toStdString();
    EXPECT_TRUE(r.errors.contains("holds at most 3.000 A")) << r.errors.toStdString();
    EXPECT_TRUE(lan.log().contains("CURR 3.000") && !lan.log().contains("CURR 5.000")) << lan.log().join(' ').toStdString();

    qputenv("TARNWELL_COM1", "sim");
    qputenv("TARNWELL_COM2", lan.path().toLocal8Bit());
    r = RunCli({"ports", "--probe"});
    qunsetenv("TARNWELL_COM1");
    qunsetenv("TARNWELL_COM2");
    ASSERT_GE(r.lines.size(), 2);
    EXPECT_TRUE(r.lines[1].contains("\tNetwork unit 127.0.0.1:") && r.lines[1].endsWith("\tSCPI \u2014 ACME LAN-PSU 30V3A"))
        << r.lines[1].toStdString();

    r = RunCli({"identify", "--port", "tcp://no-such-unit.invalid:5025"});
    EXPECT_EQ(r.nExit, 2);
    EXPECT_TRUE(r.errors.contains("Cannot connect to no-such-unit.invalid:5025: the host name was not found"))
        << r.errors.toStdString();

    // The unit going away mid-run ends it as a serial unit's does, in the same words.
    QStringList lost;
    for (const QStringList& args : {QStringList{"--dialect", "scpi"}, QStringList{"--tcp", "0"}}) {
        SimProcess sim(args);
        QProcess process;
        StartCli(process, {"log", "--port", sim.path(), "--for", "20"});
        ASSERT_TRUE(QTest::qWaitFor([&] { return process.canReadLine() || process.state() == QProcess::NotRunning; }, 10000));
        sim.kill();
        r = FinishCli(process);
        EXPECT_EQ(r.nExit, 3) << r.errors.toStdString();
        lost << r.errors.section(QStringLiteral(") "), 1).section(QStringLiteral(" after "), 0, 0);
    }
    EXPECT_EQ(lost, QStringList({"stopped answering", "stopped answering"}));
}

TEST(Cli, ARunOutlastsAPulledCableOnlyForItsOwnSupply)
{
    QTemporaryDir dir;
    const QString byId = dir.filePath(QStringLiteral("by-id"));
    ASSERT_TRUE(QDir().mkpath(byId));
    qputenv("TARNWELL_SERIAL_BY_ID", byId.toLocal8Bit()); // the runs inherit it
    const QString program = dir.filePath(QStringLiteral("steps.csv"));
    QByteArray points = kHeader;
    for (int t = 1; t <= 8; ++t)
        points += QByteArray::number(t) + ',' + QByteArray::number(t) + ".00,1.000\r\n";
    ASSERT_TRUE(WriteTestFile(program, points));
    const struct
    {
        const char* name;
        QStringList simArgs; // how it comes back, after a drop 2 s past the first command
        bool bViaLink;       // the port is the stable link itself, else the terminal found again by it
        QStringList args;
        int nExit;
        QStringList told;  // on standard error
        bool bTcp = false; // a SCPI unit on a TCP socket that closes its client and refuses others
    } rows[] = {
        {"a user run goes on", {"--drop-for", "3"}, false, {"log", "--for", "10", "--json", "--reconnect=20"}, 0,
         {"stopped answering", "answers again"}},
        {"a program goes on at its point", {"--drop-for", "3"}, true, {"play", program, "--reconnect=20"}, 0,
         {"stopped answering", "answers again"}},
        {"a program back with its output off ends", {"--drop-for", "2", "--back-off"}, false,
         {"play", program, "--reconnect=20"}, 3, {"answers again", "came back with its output off"}},
        {"another supply on the port is not taken", {"--drop-for", "2", "--back-identity", "ACME PSU3005 V5.5"}, false,
         {"log", "--for", "30", "--reconnect=5"}, 3, {"another supply answers", "did not come back within 0:00:05"}},
        {"a cable never plugged in again", {}, false, {"log", "--for", "30", "--reconnect=3"}, 3,
         {"did not come back within 0:00:03"}},
        {"a user run on the network goes on", {"--drop-for", "3"}, false,
         {"log", "--for", "10", "--json", "--reconnect=20"}, 0, {"stopped answering", "answers again"}, true},
        {"a program on the network goes on at its point", {"--drop-for", "3"}, false,
         {"play", program, "--reconnect=20"}, 0, {"stopped answering", "answers again"}, true},
    };
    // The cases take real seconds: they run side by side.
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::unique_ptr<QProcess>> runs;
    for (size_t i = 0; i < std::size(rows); ++i) {
        const QString link = QStringLiteral("%1/usb-Tarnwell_Sim_%2-if00").arg(byId).arg(i);
        const QStringList road = rows[i].bTcp ? QStringList{"--tcp", "0"} : QStringList{"--link", link};
        sims.push_back(std::make_unique<SimProcess>(QStringList{"--load", "10", "--drop-after", "2"} + road + rows[i].simArgs));
        ASSERT_FALSE(sims.back()->path().isEmpty());
        const QString out = dir.filePath(QStringLiteral("out%1.csv").arg(i));
        runs.push_back(std::make_unique<QProcess>());
        QStringList args = rows[i].args + QStringList{"--port", rows[i].bViaLink ? link : sims.back()->path(), "--out", out};
        if (args[0] == "play")
            args << "--measured" << out + ".measured";
        StartCli(*runs.back(), args);
    }
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.name);
        const CliResult r = FinishCli(*runs[i]);
        EXPECT_EQ(r.nExit, row.nExit) << r.errors.toStdString();
        for (const QString& text : row.told)
            EXPECT_TRUE(r.errors.contains(text)) << r.errors.toStdString();
        const QStringList commands = sims[i]->log();
        const qsizetype nDown = commands.indexOf(QStringLiteral("-- link down"));
        ASSERT_GE(nDown, 0);
        // Reconnecting switches nothing and sends no setpoint; a program sends its point again.
        for (const QString& command : commands.mid(nDown)) {
            EXPECT_FALSE(command.startsWith("OUT") && !command.contains('?')) << command.toStdString();
            if (row.args[0] == "log") {
                EXPECT_FALSE(command.startsWith("VSET") || command.startsWith("ISET") || command.startsWith("VOLT ")
                             || command.startsWith("CURR "))
                    << command.toStdString();
            }
        }
        const QByteArray saved = ReadTestFile(dir.filePath(QStringLiteral("out%1.csv").arg(i)));
        const QByteArray measured = ReadTestFile(dir.filePath(QStringLiteral("out%1.csv.measured").arg(i)));
        const QByteArray rowsWithoutValues = row.args[0] == "log" ? saved : measured;
        EXPECT_TRUE(QRegularExpression("\r\n[0-9]+,,\r\n").match(QString::fromLatin1(rowsWithoutValues)).hasMatch())
            << rowsWithoutValues.toStdString();
        if (row.nExit != 0)
            continue;
        if (row.args[0] == "log") {
            const QString printed = r.lines.join('\n');
            EXPECT_TRUE(printed.contains(R"("event":"link lost")") && printed.contains(R"("event":"link back")"));
            EXPECT_TRUE(r.lines.back().startsWith(R"({"t":10,)")) << "samples after the gap, to the end";
            EXPECT_TRUE(saved.endsWith("\r\n10,5.00,0.500\r\n")) << saved.toStdString();
        } else {
            QStringList volts;
            for (const QString& line : r.lines)
                volts << line.section(' ', 1, 1);
            EXPECT_EQ(volts, QStringList({"1.00", "2.00", "3.00", "4.00", "5.00", "6.00", "7.00", "8.00"}))
                << "each point once, in order, across the gap";
        }
    }
    qunsetenv("TARNWELL_SERIAL_BY_ID");
}
