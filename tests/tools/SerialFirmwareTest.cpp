// Real firmware as it is, emulated by tarnwell-sim: identity variants, stray bytes, undefined
// status bits, a line feed after each command, slow units that ignore what comes too soon, and
// samples that must reflect every command sent before them.

#include "LinkCalls.h"
#include "SimProcess.h"

#include "device/pslink.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

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

TEST(SerialFirmware, EachVariantIsDetectedAndItsSamplesAreFresh)
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

TEST(SerialFirmware, SlowFirmwareLosesNoChange)
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
        QTest::qWait(300);
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

TEST(SerialFirmware, AChangeThatNeverHoldsEndsTheLink)
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
    setPoint(600, 1000);
    Answer refused, sample;
    pslink::AfterCommandsConfirmed(0, refused.callback());
    pslink::AfterFreshReadings(0, sample.callback());
    ASSERT_TRUE(refused.wait(8000));
    EXPECT_FALSE(refused.ok());
    ASSERT_TRUE(sample.wait(1000));
    EXPECT_FALSE(sample.ok());
    EXPECT_EQ(dsoLinkAlive(0), 0);
    EXPECT_EQ(sim.errors().count("refused: VSET1:06.00"), 3) << sim.errors().toStdString();

    Answer afterwards; // the link stays lost
    pslink::AfterFreshReadings(0, afterwards.callback());
    EXPECT_EQ(afterwards.calls(), 1);
    EXPECT_FALSE(afterwards.ok());
}

TEST(SerialFirmware, ClosingDuringAnOutstandingSampleDropsItAndReturnsPromptly)
{
    SimProcess sim({"--latency", "50", "--baud", "9600"});
    Com1 com(sim.path());
    ASSERT_EQ(OpenCOM(0, 0), 1);
    ASSERT_FALSE(version().empty());
    sim.control("hang");
    setPoint(700, 800);
    Answer sample;
    pslink::AfterFreshReadings(0, sample.callback());
    QTest::qWait(300);
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
    QTest::qWait(200);
    EXPECT_EQ(sample.calls(), 1); // and never again
}
