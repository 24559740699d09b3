// Real firmware as it is, emulated by tarnwell-sim: identity variants, stray bytes, undefined
// status bits, a line feed after each command, slow units that ignore what comes too soon, and
// samples that must reflect every command sent before them.

#include "support/LinkCalls.h"
#include "support/SimProcess.h"

#include "device/pslink.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSerialPort>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace {

// The answer of one AfterFreshReadings / AfterCommandsConfirmed request; it may come after the
// test stopped waiting for it.
class Answer
{
public:
    std::function<void(bool)> callback()
    {
        return [state = m_state](bool ok) {
            state->ok = ok;
            ++state->calls;
        };
    }
    bool wait(int ms) { return QTest::qWaitFor([&] { return calls() > 0; }, ms); }
    int calls() const { return m_state->calls.load(); }
    bool ok() const { return m_state->ok.load(); }

private:
    struct State
    {
        std::atomic<int> calls{0};
        std::atomic<bool> ok{false};
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

// The reading once the link has carried out everything given so far and polled afresh.
Reading freshReading()
{
    Answer answer;
    pslink::AfterFreshReadings(0, answer.callback());
    if (!answer.wait(6000) || !answer.ok())
        return {};
    return read();
}

std::string version()
{
    unsigned char text[10] = {};
    return dsoReadVersion(0, text) ? std::string(reinterpret_cast<char*>(text)) : std::string();
}

} // namespace

TEST(WireLinkFirmware, EachVariantIsDetectedAndItsSamplesAreFresh)
{
    const struct
    {
        const char* name;
        QStringList simArgs;
        const char* version; // what the 10-byte version buffer receives
    } rows[] = {
        {"no blanks, junk after the identity", {"--identity", "ACMEPSU3005V2.0\\x01\\xbc"}, "ACMEPSU30"},
        {"serial number", {"--identity", "ACME PSU3005 V5.5 SN:59834414"}, "ACME PSU3"},
        {"stray byte after ISET1?, undefined status bits", {"--iset-stray", "--status-noise", "--noisy"}, "TARNWELL-"},
        {"line feed after each command", {"--dialect", "text-lf", "--identity", "ACME PSU3005 V5.5"}, "ACME PSU3"},
        {"SCPI", {"--dialect", "scpi"}, "TARNWELL-"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SimProcess sim(row.simArgs + QStringList{"--latency", "50", "--baud", "9600", "--load", "10"});
        ASSERT_FALSE(sim.path().isEmpty());
        Com1 com(sim.path()); // the dialect found by probing
        ASSERT_EQ(OpenCOM(0, 0), 1);
        ASSERT_EQ(version(), row.version);
        dsoCloseOutput(0);
        setPoint(500, 1000);
        dsoOpenPower(0);

        // The first sample of a run already shows the output on: no stale poll.
        dsoOpenOutput(0);
        EXPECT_EQ(freshReading(), (Reading{500, 500, 1, 1, 0}));
        // Each point's sample reflects that point, not the one before.
        setPoint(700, 300); // 0.7 A wanted, 0.3 A allowed: the current limit holds
        EXPECT_EQ(freshReading(), (Reading{300, 300, 1, 0, 1}));
        setPoint(200, 1000);
        EXPECT_EQ(freshReading(), (Reading{200, 200, 1, 1, 0}));
        EXPECT_EQ(dsoLinkAlive(0), 1);
        // The commands went out as this unit understands them.
        EXPECT_FALSE(sim.errors().contains("dropped")) << sim.errors().toStdString();
        if (row.simArgs.contains("text-lf")) {
            EXPECT_TRUE(sim.log().contains("VSET1:02.00")) << sim.log().join(' ').toStdString();
        }
    }
}

TEST(WireLinkFirmware, SlowFirmwareLosesNoChange)
{
    // A command arriving within 450 ms after a change or a status query is ignored.
    SimProcess sim({"--slow", "450", "--latency", "50", "--baud", "9600", "--load", "10"});
    ASSERT_FALSE(sim.path().isEmpty());
    Com1 com("text:" + sim.path());
    ASSERT_EQ(OpenCOM(0, 0), 1);
    ASSERT_FALSE(version().empty()) << sim.log().join(' ').toStdString() << sim.errors().toStdString();
    dsoCloseOutput(0);
    setPoint(500, 1000);
    dsoOpenOutput(0);

    // Changes faster than the unit takes them: some are replaced before they go out, none that
    // went out is lost, and the supply ends up with the last.
    for (int n = 1; n <= 8; ++n) {
        setPoint(100 * n, 900 + n);
        QTest::qWait(300); // the operator's pace: real time between the changes is the point
    }
    Answer confirmed;
    pslink::AfterCommandsConfirmed(0, confirmed.callback());
    ASSERT_TRUE(confirmed.wait(15000));
    EXPECT_TRUE(confirmed.ok());
    EXPECT_EQ(freshReading(), (Reading{800, 800, 1, 1, 0}));
    EXPECT_EQ(dsoLinkAlive(0), 1);

    // Every setpoint that reached the unit was in the end taken: sent more often than dropped.
    std::map<QString, int> balance;
    for (const QString& command : sim.log())
        if (command.startsWith("VSET1:") || command.startsWith("ISET1:"))
            ++balance[command];
    const QString errors = sim.errors();
    const QString dropped = "tarnwell-sim: dropped (slow): ";
    for (const QString& line : errors.split('\n')) {
        const QString command = line.mid(dropped.size());
        if (line.startsWith(dropped) && (command.startsWith("VSET1:") || command.startsWith("ISET1:")))
            --balance[command];
    }
    for (const auto& [command, surplus] : balance) {
        EXPECT_GT(surplus, 0) << command.toStdString() << " was lost\n"
                              << sim.log().join(' ').toStdString() << "\n" << errors.toStdString();
    }
    // The unit did drop commands: the link learned its pace rather than never meeting it.
    EXPECT_TRUE(errors.contains("dropped (slow)"));
}

TEST(WireLinkFirmware, SlowFirmwareLearnsItsPaceInOneMiss)
{
    // A user who does not wait: connect, UP, UP, UP, ON, 300 ms apart. One ignored command must
    // be enough to learn the unit's pace; learning it a little at a time costs a reply timeout
    // per step and leaves the unit behind the clicks for seconds.
    SimProcess sim({"--slow", "450", "--load", "10"});
    ASSERT_FALSE(sim.path().isEmpty());
    Com1 com("text:" + sim.path());
    ASSERT_EQ(OpenCOM(0, 0), 1);
    ASSERT_FALSE(version().empty());
    dsoCloseOutput(0);
    setPoint(500, 1000);
    dsoOpenPower(0);
    for (int step = 1; step <= 3; ++step) {
        QTest::qWait(300); // the user's clicks, in real time
        unsigned char digits[5];
        numtext::DigitsFromCount(500 + 10 * step, digits);
        dsoSetVoltage(0, digits);
    }
    QTest::qWait(300); // the last click, in real time too
    dsoOpenOutput(0);
    Answer confirmed;
    pslink::AfterCommandsConfirmed(0, confirmed.callback());
    ASSERT_TRUE(confirmed.wait(15000));
    EXPECT_TRUE(confirmed.ok());
    EXPECT_EQ(freshReading(), (Reading{530, 530, 1, 1, 0}));
    const QString errors = sim.errors();
    // The connect's first commands meet the unit before its pace is known; nothing after.
    EXPECT_LE(errors.count("dropped (slow)"), 2) << errors.toStdString() << sim.log().join(' ').toStdString();
}

TEST(WireLinkFirmware, AUnitStillBusyWithTheLastProgramsQueryIsAskedWhoItIsOnceMore)
{
    // The program before asked for the status (400 ms of work on this unit) just before it left.
    SimProcess sim({"--family", "gw-gpd", "--model", "GPD-3303S"});
    ASSERT_FALSE(sim.path().isEmpty());
    {
        QSerialPort before(sim.path());
        ASSERT_TRUE(before.open(QIODevice::ReadWrite));
        before.write("STATUS?\n");
        ASSERT_TRUE(before.waitForBytesWritten(1000));
    }
    Com1 com("scpi:" + sim.path());
    ASSERT_EQ(OpenCOM(0, 0), 1);
    EXPECT_EQ(version().rfind("GW INSTEK", 0), 0u) << sim.errors().toStdString();
}

TEST(WireLinkFirmware, AUnitHoldsSetpointsBeyondItsMaximumAtItsMaximum)
{
    const struct
    {
        const char* name;
        QStringList simArgs;
        const char* prefix;
        const char* asked;  // the 32 V setpoint as sent
        const char* capped; // the later 31 V setpoint as sent
        int askedSends;     // how often 32 V goes out; -1 when slow firmware decides
        const char* held;   // what the unit holds before the link opens; nullptr: its default
        bool bAtMaximumFirst = false; // stepped to exactly 30 V / 3 A before it is asked for more
    } rows[] = {
        {"plain text", {"--dialect", "text"}, "text:", "VSET1:32.00", "VSET1:30.00", 2, nullptr},
        // A SCPI unit tells its maximum (VOLT? MAX) on connect: 32 V never goes out.
        {"SCPI", {"--dialect", "scpi"}, "scpi:", "VOLT 32.00", "VOLT 30.00", 0, nullptr},
        {"plain text, at its maximum already", {"--dialect", "text"}, "text:", "VSET1:32.00", "VSET1:30.00", 2,
         nullptr, true},
        // Ignoring the connect's 5.00 V, it reads back 2.00 V: no sign of a 2 V unit.
        {"plain text, slow firmware holding 2 V", {"--dialect", "text", "--slow", "450"}, "text:", "VSET1:32.00",
         "VSET1:30.00", -1, "VSET1:02.00"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        // A 30 V / 3 A unit; 30 V into 20 ohm draws 1.5 A, within the 3 A it holds.
        SimProcess sim(row.simArgs + QStringList{"--max-volts", "30", "--max-amps", "3", "--load", "20", "--latency", "20"});
        ASSERT_FALSE(sim.path().isEmpty());
        if (row.held) {
            QSerialPort port(sim.path());
            ASSERT_TRUE(port.open(QIODevice::ReadWrite));
            port.write(row.held);
            ASSERT_TRUE(port.waitForBytesWritten(1000));
            // Asked until it answers: a slow unit ignores everything for a while after a change.
            QByteArray reply;
            ASSERT_TRUE(QTest::qWaitFor([&] {
                port.write("VSET1?");
                port.waitForBytesWritten(100);
                if (port.waitForReadyRead(150))
                    reply += port.readAll();
                return reply.endsWith(QByteArray(row.held).mid(6)); // "02.00"
            }, 5000));
        }
        ASSERT_EQ(pslink::OpenPort(0, *pslink::ParsePortSetting(row.prefix + sim.path())), 1);
        ASSERT_FALSE(version().empty());
        dsoCloseOutput(0);
        setPoint(500, 1000);
        dsoOpenPower(0);
        Answer connected;
        pslink::AfterCommandsConfirmed(0, connected.callback());
        ASSERT_TRUE(connected.wait(15000));
        EXPECT_TRUE(connected.ok());
        EXPECT_EQ(pslink::LearnedMaximum(0), pslink::UnitMaximum{}) << sim.errors().toStdString();
        if (row.bAtMaximumFirst) {
            setPoint(3000, 3000);
            Answer atMaximum;
            pslink::AfterCommandsConfirmed(0, atMaximum.callback());
            ASSERT_TRUE(atMaximum.wait(15000));
            ASSERT_TRUE(atMaximum.ok());
        }

        setPoint(3200, 5000);
        dsoOpenOutput(0);
        Answer confirmed;
        pslink::AfterCommandsConfirmed(0, confirmed.callback());
        ASSERT_TRUE(confirmed.wait(15000));
        EXPECT_TRUE(confirmed.ok()) << sim.log().join(' ').toStdString();
        EXPECT_EQ(freshReading(), (Reading{3000, 1500, 1, 1, 0}));
        EXPECT_EQ(dsoLinkAlive(0), 1);
        // What the read-backs said: 30.00 and 3.000.
        EXPECT_EQ(pslink::LearnedMaximum(0), (pslink::UnitMaximum{3000, 3000}));
        if (row.askedSends >= 0) {
            EXPECT_EQ(sim.log().count(row.asked), row.askedSends) << sim.log().join(' ').toStdString();
        }

        // From now on the link knows better than to ask for more: 31 V goes out as 30 V, once.
        const qsizetype mark = sim.log().size();
        setPoint(3100, 1000);
        Answer capped;
        pslink::AfterCommandsConfirmed(0, capped.callback());
        ASSERT_TRUE(capped.wait(10000));
        EXPECT_TRUE(capped.ok());
        const QStringList later = sim.log().mid(mark);
        EXPECT_EQ(later.count(row.capped), 1) << later.join(' ').toStdString();
        EXPECT_FALSE(later.join(' ').contains("31.00"));
        EXPECT_EQ(dsoLinkAlive(0), 1);

        CloseCOM(0);
        EXPECT_EQ(pslink::LearnedMaximum(0), pslink::UnitMaximum{});
    }
}

TEST(WireLinkFirmware, AChangeThatNeverHoldsEndsTheLink)
{
    SimProcess sim({"--latency", "20"});
    Com1 com("text:" + sim.path());
    ASSERT_EQ(OpenCOM(0, 0), 1);
    ASSERT_FALSE(version().empty());
    setPoint(500, 1000);
    Answer settled;
    pslink::AfterCommandsConfirmed(0, settled.callback());
    ASSERT_TRUE(settled.wait(5000));
    ASSERT_TRUE(settled.ok());

    sim.control("refuse"); // answers every query, takes no change
    setPoint(400, 1000);
    Answer refused, sample;
    pslink::AfterCommandsConfirmed(0, refused.callback());
    pslink::AfterFreshReadings(0, sample.callback());
    ASSERT_TRUE(refused.wait(8000));
    EXPECT_FALSE(refused.ok());
    ASSERT_TRUE(sample.wait(1000));
    EXPECT_FALSE(sample.ok());
    EXPECT_EQ(dsoLinkAlive(0), 0);
    EXPECT_EQ(sim.errors().count("refused: VSET1:04.00"), 3) << sim.errors().toStdString();

    Answer afterwards; // the link stays lost
    pslink::AfterFreshReadings(0, afterwards.callback());
    EXPECT_EQ(afterwards.calls(), 1);
    EXPECT_FALSE(afterwards.ok());
}

TEST(WireLinkFirmware, ClosingDuringAnOutstandingSampleDropsItAndReturnsPromptly)
{
    SimProcess sim({"--latency", "50", "--baud", "9600"});
    Com1 com(sim.path());
    ASSERT_EQ(OpenCOM(0, 0), 1);
    ASSERT_FALSE(version().empty());
    sim.control("hang");
    setPoint(700, 800);
    Answer sample;
    pslink::AfterFreshReadings(0, sample.callback());
    QTest::qWait(300); // real time on purpose: a sample of a hung unit never comes, no event says so
    ASSERT_EQ(sample.calls(), 0);

    QElapsedTimer clock;
    clock.start();
    CloseCOM(0);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(sample.calls(), 1) << "told before CloseCOM returned";
    EXPECT_FALSE(sample.ok());

    Answer closed; // nothing open: told at once
    pslink::AfterFreshReadings(0, closed.callback());
    EXPECT_EQ(closed.calls(), 1);
    EXPECT_FALSE(closed.ok());
    QTest::qWait(200); // nor does anything that would come later: only time shows it
    EXPECT_EQ(sample.calls(), 1); // and never again
}
