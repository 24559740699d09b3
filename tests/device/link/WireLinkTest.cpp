// The real serial path end to end: the device library over a pseudo-terminal to tarnwell-sim.

#include "support/LinkCalls.h"
#include "support/SimProcess.h"

#include "device/pslink.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <algorithm>
#include <string>

namespace {

// What the Control page does on Connect; true when the supply answered.
bool connectSequence()
{
    if (!OpenCOM(0, 0))
        return false;
    unsigned char version[10] = {};
    if (!dsoReadVersion(0, version))
        return false;
    dsoCloseOutput(0);
    setPoint(500, 1000);
    dsoOpenPower(0);
    return true;
}

QStringList only(const QStringList& log, const QStringList& wanted)
{
    QStringList out;
    for (const QString& line : log)
        for (const QString& w : wanted)
            if (line.startsWith(w))
                out << line;
    return out;
}

struct DialectCase
{
    const char* name;
    QStringList simArgs;
    QString targetPrefix;
    QStringList setters; // prefixes of the set commands in the log
    QStringList connectLog;
};

const DialectCase kText{"text", {"--dialect", "text"}, "", {"VSET1:", "ISET1:", "OUT"},
                        {"OUT0", "VSET1:05.00", "ISET1:1.000"}};
const DialectCase kScpi{"scpi", {"--dialect", "scpi"}, "", {"VOLT ", "CURR ", "OUTP "},
                        {"OUTP OFF", "VOLT 5.00", "CURR 1.000"}};

} // namespace

TEST(WireLink, DetectsEitherDialectAndLogsTheConnectSequence)
{
    for (const DialectCase& c : {kText, kScpi}) {
        SCOPED_TRACE(c.name);
        SimProcess sim(c.simArgs);
        ASSERT_FALSE(sim.path().isEmpty());
        Com1 com(sim.path()); // no dialect given: found by probing
        ASSERT_TRUE(OpenCOM(0, 0));
        unsigned char version[10] = {};
        ASSERT_NE(dsoReadVersion(0, version), 0);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(version)), "TARNWELL-");
        dsoCloseOutput(0);
        setPoint(500, 1000);
        dsoOpenPower(0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return only(sim.log(), c.setters).size() >= 3; }, 3000));
        EXPECT_EQ(only(sim.log(), c.setters), c.connectLog);
        EXPECT_TRUE(sim.log().contains("*IDN?"));
        EXPECT_EQ(dsoLinkAlive(0), 1);
    }
}

TEST(WireLink, ReadingsAndLampsFollowTheLoad)
{
    const struct
    {
        const char* name;
        QStringList simArgs;
        const char* dialect;
    } rows[] = {
        {"text", {"--dialect", "text"}, "text:"},
        {"text, stray bytes and noisy identity", {"--dialect", "text", "--noisy"}, "text:"},
        {"scpi, CR LF", {"--dialect", "scpi", "--eol", "crlf"}, "scpi:"},
        {"scpi, LF CR, mode inferred", {"--dialect", "scpi", "--eol", "lfcr", "--no-mode-query"}, "scpi:"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SimProcess sim(row.simArgs + QStringList{"--load", "10"});
        Com1 com(row.dialect + sim.path());
        ASSERT_TRUE(connectSequence());
        dsoOpenOutput(0);
        // 5 V into 10 ohm with a 1 A limit: constant voltage, 0.5 A.
        const Reading cv{500, 500, 1, 1, 0};
        EXPECT_TRUE(QTest::qWaitFor([&] { return read() == cv; }, 6000));
        // 2 ohm would draw 2.5 A: the 1 A limit holds and the voltage falls to 2 V.
        sim.control("load 2");
        const Reading cc{200, 1000, 1, 0, 1};
        EXPECT_TRUE(QTest::qWaitFor([&] { return read() == cc; }, 6000));
        dsoCloseOutput(0);
        const Reading off{0, 0, 0, 0, 0};
        EXPECT_TRUE(QTest::qWaitFor([&] { return read() == off; }, 6000));
        EXPECT_EQ(dsoLinkAlive(0), 1);
    }
}

TEST(WireLink, ProgramPointsArriveInOrderWithTheTextSpacingKept)
{
    // A strict unit: anything sooner than 80 ms after the previous command is dropped (and
    // reported on the simulator's error output).
    SimProcess sim({"--dialect", "text", "--min-gap", "80", "--latency", "20", "--baud", "9600"});
    Com1 com("text:" + sim.path());
    ASSERT_TRUE(connectSequence());
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim.log().contains("ISET1:1.000"); }, 3000));
    const int points[][2] = {{100, 100}, {200, 200}, {300, 300}};
    QStringList expected;
    for (int cycle = 0; cycle < 2; ++cycle) {
        for (const auto& p : points) {
            setPoint(p[0], p[1]);
            if (cycle == 0 && &p == &points[0])
                dsoOpenOutput(0);
            const QString v = QString::fromStdString("VSET1:0" + std::to_string(p[0] / 100) + ".00");
            const QString i = QString::fromStdString("ISET1:0." + std::to_string(p[1]));
            expected << v << i;
            // One point per tick: the next goes out once this one has reached the supply.
            ASSERT_TRUE(QTest::qWaitFor([&] { return only(sim.log(), {"VSET1:", "ISET1:"}).size() == 2 + expected.size(); }, 6000))
                << sim.log().join(' ').toStdString() << sim.errors().toStdString();
        }
    }
    // Meanwhile the link kept polling; a whole poll more goes by before looking at the gaps.
    const qsizetype seen = sim.log().size();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim.log().size() >= seen + 3; }, 3000));
    EXPECT_EQ(only(sim.log(), {"VSET1:", "ISET1:"}).mid(2), expected);
    EXPECT_TRUE(only(sim.log(), {"OUT1"}).size() == 1);
    EXPECT_FALSE(sim.errors().contains("dropped")) << sim.errors().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return read().centivolts == 300; }, 3000));
}

TEST(WireLink, SetpointStreamDoesNotStarveTheReadings)
{
    SimProcess sim({"--dialect", "text", "--load", "10"});
    Com1 com("text:" + sim.path());
    ASSERT_TRUE(connectSequence());
    dsoOpenOutput(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return read() == Reading{500, 500, 1, 1, 0}; }, 6000));
    sim.control("load 2");
    // The wheel turning steadily: a new voltage setpoint every few milliseconds. In constant
    // current at 1 A into 2 ohm the readings do not depend on which one the supply has.
    int step = 0;
    const bool updated = QTest::qWaitFor([&] {
        setPoint(500 + (++step % 2), 1000);
        return read() == Reading{200, 1000, 1, 0, 1};
    }, 8000);
    const Reading r = read();
    EXPECT_TRUE(updated) << r.centivolts << " " << r.milliamps << " " << r.out << r.cv << r.cc << " "
                         << sim.log().mid(sim.log().size() - 12).join(' ').toStdString() << sim.errors().toStdString();
}

TEST(WireLink, HangDropsTheLinkWithoutBlockingAndCloseReturnsPromptly)
{
    SimProcess sim({"--dialect", "text", "--latency", "50", "--baud", "9600"});
    Com1 com(sim.path());
    ASSERT_TRUE(connectSequence());
    dsoOpenOutput(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return read().out == 1; }, 3000));
    ASSERT_EQ(dsoLinkAlive(0), 1);

    sim.control("hang");
    QElapsedTimer clock;
    clock.start();
    qint64 slowest = 0;
    // What the page's ticks do meanwhile: every call comes straight back.
    const bool lost = QTest::qWaitFor([&] {
        QElapsedTimer call;
        call.start();
        setPoint(700, 800);
        const Reading r = read();
        const int alive = dsoLinkAlive(0);
        slowest = std::max(slowest, call.elapsed());
        EXPECT_EQ(r.out, 1); // the last good readings stay, nothing made up
        return alive == 0;
    }, 6000);
    EXPECT_TRUE(lost);
    // Not long before three silent seconds: the last answer came a poll or so before the hang
    // (more on a busy machine), and no earlier than that.
    EXPECT_GE(clock.elapsed(), 2000);
    EXPECT_LT(clock.elapsed(), 5000);
    // Far below the 1.5 s a query waits for its reply: no call waited for the wire. (The
    // milliseconds a call really takes are the benchmark's business.)
    EXPECT_LT(slowest, 300);

    clock.restart();
    CloseCOM(0);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(dsoLinkAlive(0), 0);

    // Back on: connecting again works.
    sim.control("resume");
    ASSERT_TRUE(connectSequence()) << sim.log().join(' ').toStdString() << sim.errors().toStdString();
    EXPECT_EQ(dsoLinkAlive(0), 1);
}

TEST(WireLink, VanishedPortDropsTheLink)
{
    SimProcess sim({"--dialect", "scpi"});
    Com1 com("scpi:" + sim.path());
    ASSERT_TRUE(connectSequence());
    ASSERT_EQ(dsoLinkAlive(0), 1);
    sim.kill();
    EXPECT_TRUE(QTest::qWaitFor([] { return dsoLinkAlive(0) == 0; }, 5000));
    QElapsedTimer clock;
    clock.start();
    CloseCOM(0);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(OpenCOM(0, 0), 0); // the terminal is gone with it
}

TEST(WireLink, NothingAnsweringFailsTheConnectInBoundedTime)
{
    SimProcess sim({"--dialect", "scpi"});
    sim.control("hang");
    Com1 com(sim.path());
    ASSERT_TRUE(OpenCOM(0, 0)); // the port itself opens
    QElapsedTimer clock;
    clock.start();
    unsigned char version[10] = {1, 2, 3};
    EXPECT_EQ(dsoReadVersion(0, version), 0);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(version[0], 0);
    clock.restart();
    CloseCOM(0);
    EXPECT_LT(clock.elapsed(), 1000);

    qputenv("TARNWELL_COM1", "text:/nonexistent/ttyUSB9");
    EXPECT_EQ(OpenCOM(0, 0), 0);
}
