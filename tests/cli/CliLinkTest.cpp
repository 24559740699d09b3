// tarnwell-cli on units that answer as real firmware does: no mode query, a maximum query that
// only reads its header, values out of range refused, a connection already taken. Each over a
// pseudo-terminal and a local socket, as the two roads a SCPI unit is reached by.
#include "support/CliProcess.h"
#include "support/SimProcess.h"

#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The port setting of the simulated unit: SCPI on its terminal, or its socket.
QString PortOf(const SimProcess& sim, bool bTcp)
{
    return bTcp ? sim.path() : QStringLiteral("scpi:") + sim.path();
}

// Another program's connection to the unit at "tcp://127.0.0.1:PORT", served by it: it asked
// for the identity and had an answer.
struct OtherClient
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); // not kept open by the programs started

    explicit OtherClient(const QString& url)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(url.section(QLatin1Char(':'), -1).toInt()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        pollfd answer{fd, POLLIN, 0};
        char reply[64];
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::write(fd, "*IDN?\n", 6) != 6
            || ::poll(&answer, 1, 3000) != 1 || ::read(fd, reply, sizeof reply) <= 0)
            leave(); // closed at once, or no answer: not served
    }
    ~OtherClient() { leave(); }
    bool served() const { return fd >= 0; }
    void leave()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

} // namespace

TEST(CliLink, UnitsBelievedOnlyForWhatTheyShow)
{
    const struct
    {
        const char* name;
        QStringList simArgs;
        QStringList set;      // what `set` is given
        int nExit;            // of `set`
        QString strErrors;    // in its standard error; empty: nothing said
        QString strRead;      // in what `read --json` prints afterwards
        const char* sent;     // a command the unit received
    } rows[] = {
        {"the mode inferred from readings and setpoints", {"--no-mode-query", "--load", "10"},
         {"--volts", "20", "--amps", "1", "--on"}, 0, "", R"({"v":10.00,"i":1.000,"mode":"CC","out":true)", "VOLT?"},
        {"a maximum that is the setpoint read back is none", {"--max-as-setpoint", "--load", "1"},
         {"--volts", "3", "--amps", "2", "--on"}, 0, "", R"("i":2.000,"mode":"CC")", "CURR 2.000"},
        {"a refused value is told, and the link goes on",
         {"--max-volts", "30", "--refuse-out-of-range", "--max-as-setpoint", "--load", "10"}, {"--volts", "31", "--amps", "0.2", "--on"},
         5, R"(refused 31.00 V: -222,"Data out of range")", R"({"v":2.00,"i":0.200,"mode":"CC","out":true)",
         "SYST:ERR?"},
    };
    for (const auto& row : rows) {
        for (const bool bTcp : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (bTcp ? " (socket)" : " (terminal)"));
            SimProcess sim(row.simArgs + (bTcp ? QStringList{"--tcp", "0"} : QStringList{"--dialect", "scpi"}));
            ASSERT_FALSE(sim.path().isEmpty());
            CliResult r = RunCli(QStringList{"set", "--port", PortOf(sim, bTcp)} + row.set);
            EXPECT_EQ(r.nExit, row.nExit) << r.errors.toStdString();
            if (row.strErrors.isEmpty())
                EXPECT_TRUE(r.errors.isEmpty()) << r.errors.toStdString();
            else
                EXPECT_TRUE(r.errors.contains(row.strErrors)) << r.errors.toStdString();
            r = RunCli({"read", "--port", PortOf(sim, bTcp), "--json"});
            EXPECT_EQ(r.nExit, 0) << r.errors.toStdString();
            EXPECT_TRUE(r.lines.value(0).contains(row.strRead)) << r.lines.join('\n').toStdString();
            EXPECT_TRUE(sim.log().contains(row.sent)) << sim.log().join(' ').toStdString();
        }
    }
}

// A unit that takes one client: taken by another program it closes the connection at once,
// which is said as such; freed while it is asked again, it is taken.
TEST(CliLink, AUnitTakenByAnotherProgramIsSaidToBeAndTriedOnceMore)
{
    for (const bool bFreed : {false, true}) {
        SCOPED_TRACE(bFreed ? "freed meanwhile" : "taken");
        SimProcess sim({"--tcp", "0"});
        OtherClient other(sim.path());
        ASSERT_TRUE(other.served());

        QProcess cli;
        StartCli(cli, {"identify", "--port", sim.path()});
        if (bFreed) {
            QString told;
            ASSERT_TRUE(QTest::qWaitFor([&] { return (told += sim.errors()).contains("closed a second client"); }, 10000));
            other.leave();
        }
        const CliResult r = FinishCli(cli);
        if (bFreed) {
            EXPECT_EQ(r.nExit, 0) << r.errors.toStdString();
            EXPECT_EQ(r.lines.value(0), "TARNWELL-SIM V1.0");
        } else {
            EXPECT_EQ(r.nExit, 2);
            EXPECT_TRUE(r.errors.contains("the unit closed the connection at once; another program may be connected to it"))
                << r.errors.toStdString();
            EXPECT_FALSE(r.errors.contains("did not answer")) << r.errors.toStdString();
        }
    }
}
