// Every brand family end to end: tarnwell-sim as a unit of the family, tarnwell-cli driving its
// second channel over a pseudo-terminal, a socket or the USB-TMC road, and only that channel.

#include "support/CliProcess.h"
#include "support/SimProcess.h"
#include "support/UsbTmcTree.h"

#include "device/link/Families.h"
#include "device/link/scpi/FamilyCommands.h"
#include "device/link/scpi/FamilyResponder.h"

#include <gtest/gtest.h>

#include <QThread>

#include <algorithm>
#include <memory>
#include <vector>
#include <string_view>

namespace {

enum class Road { Terminal, Socket, UsbTmc };

// A change the command sends to `channel` of a unit of `family`, by the family's own patterns.
bool ChangesChannel(const pslink::Family& family, const QString& command, int channel)
{
    if (family.wire == pslink::Wire::PlainText)
        return command.startsWith(QStringLiteral("VSET%1:").arg(channel))
               || command.startsWith(QStringLiteral("ISET%1:").arg(channel));
    for (const char* pattern : {family.select, family.setVoltage, family.setCurrent, family.outputOn, family.outputOff}) {
        int heard = 0;
        std::string value;
        if (*pattern && std::string_view(pattern).find("{n}") != std::string_view::npos
            && pslink::scpi::matchCommand(pattern, command.toStdString(), heard, value) && heard == channel)
            return true;
    }
    return false;
}


struct Row
{
    const char* family;
    const char* model;
    Road road;
    int channel;
    bool bOption;     ///< --channel N, else #chN after the port
    bool bNamed;      ///< the dialect named in the port setting, else found on connect
    QString strHolds; ///< what `set` to 32 V, 5.1 A says the channel holds
    QString strNotice;
};

// identify, set past the channel's maxima, set into the current limit, read, a run, and the first
// channel untouched.
void DriveOneChannel(const Row& row)
{
    SCOPED_TRACE(QStringLiteral("%1 channel %2").arg(row.family).arg(row.channel).toStdString());
    const pslink::Family& family = *pslink::FindFamily(row.family);
    QStringList simArgs{"--family", row.family, "--model", row.model, "--load", "10"};
    if (row.road == Road::Socket)
        simArgs << "--tcp" << "0";
    SimProcess sim(simArgs);
    ASSERT_FALSE(sim.path().isEmpty());
    // The USB-TMC unit is found by its serial number in a tree of the test's own, its node the
    // simulator's terminal.
    const auto tree = row.road == Road::UsbTmc ? std::make_unique<UsbTmcTree>("MY56000001", sim.path()) : nullptr;
    const QString port = row.road == Road::UsbTmc                     ? QStringLiteral("usbtmc:MY56000001")
                         : row.road == Road::Terminal && row.bNamed ? QStringLiteral("scpi:") + sim.path()
                                                                    : sim.path();
    const QString channel = QString::number(row.channel);
    const QStringList there = row.bOption ? QStringList{"--port", port, "--channel", channel}
                                          : QStringList{"--port", port + "#ch" + channel};

    CliResult r = RunCli(QStringList{"identify"} + there);
    ASSERT_EQ(r.nExit, 0) << r.errors.toStdString();
    EXPECT_TRUE(r.lines.join(' ').contains(row.model));
    r = RunCli(QStringList{"set", "--volts", "32", "--amps", "5.1"} + there);
    EXPECT_EQ(r.nExit, 0) << r.errors.toStdString();
    EXPECT_TRUE(r.errors.contains(row.strHolds)) << r.errors.toStdString();
    EXPECT_TRUE(r.errors.contains(row.strNotice)) << r.errors.toStdString();
    r = RunCli(QStringList{"set", "--volts", "7", "--amps", "0.3", "--on"} + there);
    EXPECT_EQ(r.nExit, 0) << r.errors.toStdString();
    r = RunCli(QStringList{"read"} + there);
    EXPECT_EQ(r.lines, QStringList{"3.00 0.300 CC OUT"}) << "7 V into 10 ohms held at 0.3 A";
    // A run connects as the window does: 5 V, 1 A into 10 ohms, on the same channel.
    r = RunCli(QStringList{"log", "--for", "2"} + there);
    EXPECT_EQ(r.nExit, 0) << r.errors.toStdString();
    EXPECT_TRUE(!r.lines.isEmpty() && r.lines.back().endsWith(" 5.00 0.500 CV OUT")) << r.lines.join('|').toStdString();
    const QStringList commands = sim.log();
    for (const QString& command : commands)
        EXPECT_FALSE(ChangesChannel(family, command, row.channel == 2 ? 1 : 2)) << command.toStdString();
    EXPECT_TRUE(std::any_of(commands.begin(), commands.end(),
                            [&](const QString& c) { return ChangesChannel(family, c, row.channel); }));
    EXPECT_FALSE(commands.contains(pslink::scpi::FamilyResponder::kBeep));
    // Within a connection the family's pace is kept: nothing but a new connection's first request
    // may come while the unit is still busy with the last one's.
    for (const QString& line : sim.errors().split('\n'))
        EXPECT_TRUE(!line.contains("dropped") || line.endsWith("*IDN?")) << line.toStdString();
    // A unit that keeps its selection is told the channel once a connection, not before each command.
    if (*family.select) {
        EXPECT_LE(commands.count(QString::fromStdString(pslink::scpi::expand(family.select, row.channel))), 5);
    }
    // The first channel kept its own setpoints; its output is its own unless one switch serves all.
    r = RunCli({"read", "--port", port + "#ch1"});
    EXPECT_EQ(r.lines, QStringList{family.outputAll ? "5.00 0.500 CV OUT" : "0.00 0.000 -- off"});
}

} // namespace

TEST(CliFamilies, EachFamilyDrivesOnlyTheChannelItIsGivenAndTellsItsModeAndMaxima)
{
    const Row rows[] = {
        {"rigol-dp", "DP832", Road::Socket, 2, false, false, "holds at most 30.00 V, 3.000 A", ""},
        {"siglent-spd", "SPD3303X-E", Road::Terminal, 2, true, false, "holds at most 3.200 A", ""},
        {"keysight-e36", "E36312A", Road::UsbTmc, 2, false, true, "holds at most 25.00 V, 1.000 A", ""},
        {"keysight-e3631", "E3631A", Road::Terminal, 2, false, true, "holds at most 25.00 V, 1.000 A",
         "all its channels"},
        {"keysight-e3631", "E3631A", Road::Socket, 3, true, false, "holds at most 25.00 V, 1.000 A", "negative output"},
        {"rs-hmc", "HMC8043", Road::Socket, 2, true, false, "holds at most 3.000 A", ""},
        {"gw-gpd", "GPD-3303S", Road::Terminal, 2, false, false, "holds at most 3.200 A", "all its channels"},
        {"tti", "PL303QMD-P", Road::Socket, 2, true, false, "holds at most 30.00 V, 3.000 A", ""},
        {"text2", "PSU3305", Road::Terminal, 2, true, false, "holds at most 30.00 V, 5.000 A", "all its channels"},
    };
    // The rows take real seconds: they run side by side, each on a thread with an event loop of
    // its own for its processes.
    std::vector<std::unique_ptr<QThread>> drives;
    for (const Row& row : rows) {
        drives.emplace_back(QThread::create([&row] { DriveOneChannel(row); }));
        drives.back()->start();
    }
    for (const auto& drive : drives)
        drive->wait();
}
