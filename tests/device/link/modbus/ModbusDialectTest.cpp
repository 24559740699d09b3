// The Modbus dialect against the module's side, bytes from one fed to the other, no port.

#include "device/link/SimulatedSupply.h"
#include "device/link/modbus/ModbusDialect.h"
#include "device/link/modbus/ModbusResponder.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using namespace pslink;
using namespace pslink::modbus;

namespace {

// The wire between the two: a request is answered at once, the reply passed on in bursts of a
// few bytes as a USB bridge does.
class Wire : public Channel, public Probe
{
public:
    explicit Wire(SupplyResponder& unit) : m_unit(unit) {}

    bool send(const std::string& bytes, Pace) override
    {
        requests.push_back(bytes);
        m_pending.clear();
        for (const std::string& frame : m_unit.feed(bytes))
            m_pending += m_unit.execute(frame);
        m_unit.discardPartial(); // the silence after the request
        if (corruptNext && !m_pending.empty()) {
            m_pending[m_pending.size() / 2] ^= 0x04;
            corruptNext = false;
        }
        return true;
    }
    bool append(const std::string& bytes) override { return send(bytes, Pace::Quick); }
    std::optional<std::string> receive(Framer& framer, ReplyTiming) override
    {
        if (m_pending.empty())
            return std::nullopt;
        for (size_t i = 0; i < m_pending.size() && !framer.complete(); i += 3)
            framer.feed(m_pending.substr(i, 3));
        m_pending.clear();
        return framer.take();
    }
    void settle(std::chrono::milliseconds) override { m_pending.clear(); }
    bool stopping() const override { return false; }
    std::optional<std::string> ask(const std::string& request, Framer& framer, ReplyTiming timing) override
    {
        return exchange(request, framer, timing);
    }
    Channel& channel() override { return *this; }

    std::vector<std::string> requests;
    bool corruptNext = false;

private:
    SupplyResponder& m_unit;
    std::string m_pending;
};

int valueOf(const std::string& writeFrame)
{
    return static_cast<unsigned char>(writeFrame[4]) << 8 | static_cast<unsigned char>(writeFrame[5]);
}

} // namespace

TEST(ModbusDialect, EveryLayoutEndToEnd)
{
    const struct
    {
        ModbusUnit unit;
        const char* identity;
        int rawVolts; // the registers written for 5.00 V and 1.000 A
        int rawAmps;
        Span poll; // the one request of a poll
    } rows[] = {
        {{.modelId = 60062}, "Modbus module 60062 fw 1.28", 500, 1000, {8, 11}},
        {{.modelId = 60065}, "Modbus module 60065 fw 1.28", 5000, 10000, {8, 11}},
        {{.modelId = 60121}, "Modbus module 60121 fw 1.28", 500, 100, {8, 11}},
        {{.modelId = 5005, .firmware = 110}, "Modbus module 5005 fw 1.10", 500, 1000, {0, 10}},
        {{.modelId = 3005, .layout = Layout::B}, "Modbus module 3005 fw 1.28", 500, 1000, {0, 10}},
        {{.modelId = 5020, .address = 7}, "Modbus module 5020 fw 1.28", 500, 100, {0, 10}},
        {{.modelId = 3010, .decimals = 0x0233}, "Modbus module 3010", 500, 1000, {1, 49}},
        {{.modelId = 6005, .address = 2, .decimals = 0x0142}, "Modbus module 6005", 50, 10000, {1, 49}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.identity);
        SimulatedSupply supply;
        supply.setLoadOhms(10.0);
        ModbusResponder unit(supply, r.unit);
        Wire wire(unit);
        ModbusDialect dialect(ModelTable(), r.unit.address);
        EXPECT_FALSE(dialect.setVoltage(wire, 500)); // no scale known yet: nothing is written
        ASSERT_EQ(dialect.identify(wire), r.identity);

        wire.requests.clear();
        ASSERT_TRUE(dialect.setVoltage(wire, 500));
        ASSERT_TRUE(dialect.setCurrent(wire, 1000));
        ASSERT_TRUE(dialect.setOutput(wire, true));
        ASSERT_EQ(wire.requests.size(), 3u);
        EXPECT_EQ(valueOf(wire.requests[0]), r.rawVolts);
        EXPECT_EQ(valueOf(wire.requests[1]), r.rawAmps);
        EXPECT_EQ(dialect.querySetVoltage(wire), 500);
        EXPECT_EQ(dialect.querySetCurrent(wire), 1000);
        EXPECT_EQ(dialect.queryOutput(wire), true);
        EXPECT_EQ(dialect.queryVoltage(wire), 500);
        EXPECT_EQ(dialect.queryCurrent(wire), 500);

        wire.requests.clear();
        auto p = dialect.poll(wire);
        ASSERT_TRUE(p);
        EXPECT_EQ(wire.requests,
                  std::vector<std::string>{readRequest(r.unit.address, r.poll.start, r.poll.count)});
        EXPECT_EQ(std::tie(p->setCentivolts, p->setMilliamps, p->centivolts, p->milliamps),
                  std::make_tuple(500, 1000, 500, 500));
        EXPECT_TRUE(p->state().outputOn && p->state().constantVoltage && !p->protection.tripped());

        supply.setLoadOhms(1.0); // the current reaches its limit
        p = dialect.poll(wire);
        ASSERT_TRUE(p);
        EXPECT_EQ(std::tie(p->centivolts, p->milliamps), std::make_tuple(100, 1000));
        EXPECT_TRUE(p->state().constantCurrent && !p->state().constantVoltage);

        unit.trip(Protection::of(Trip::OverCurrent));
        p = dialect.poll(wire);
        ASSERT_TRUE(p);
        EXPECT_TRUE(p->protection.has(Trip::OverCurrent));
        EXPECT_FALSE(p->outputOn); // a tripped unit has its output off
        EXPECT_EQ(dialect.queryState(wire)->outputOn, false);
        ASSERT_TRUE(dialect.setOutput(wire, true)); // switching on again resets it
        p = dialect.poll(wire);
        ASSERT_TRUE(p);
        EXPECT_TRUE(p->outputOn && !p->protection.tripped());
    }
}

TEST(ModbusDialect, NoReplyHasItsReason)
{
    SimulatedSupply supply;
    ModbusResponder unit(supply, {.modelId = 60062});
    Wire wire(unit);
    ModbusDialect dialect;
    ASSERT_FALSE(dialect.identify(wire).empty());
    EXPECT_EQ(dialect.maxCentivolts(), 6000);

    wire.corruptNext = true;
    EXPECT_EQ(dialect.queryVoltage(wire), std::nullopt);
    EXPECT_EQ(dialect.reason(), "a reply with a bad CRC");
    EXPECT_TRUE(dialect.poll(wire)); // the next frame is whole again
    EXPECT_EQ(dialect.reason(), "");

    supply.setAnswering(false); // the unit stops answering
    EXPECT_EQ(dialect.poll(wire), std::nullopt);
    EXPECT_EQ(dialect.queryOutput(wire), std::nullopt);
    EXPECT_EQ(dialect.reason(), "no reply");
    supply.setAnswering(true);

    ModbusDialect elsewhere(ModelTable(), 2); // another address: the unit keeps quiet
    EXPECT_EQ(elsewhere.identify(wire), "");
    EXPECT_EQ(elsewhere.reason(), "no reply");

    ModbusResponder unknown(supply, {.modelId = 60241, .layout = Layout::A});
    Wire toUnknown(unknown);
    ModbusDialect refusing;
    EXPECT_EQ(refusing.identify(toUnknown), "");
    EXPECT_NE(refusing.reason().find("unknown Modbus module model 60241"), std::string::npos)
        << refusing.reason();
    EXPECT_FALSE(refusing.setVoltage(toUnknown, 500));

    // A unit that refuses reads across its gaps is read span by span, learned once.
    ModbusResponder sparse(supply, {.modelId = 3010, .gapsRefused = true});
    Wire toSparse(sparse);
    ModbusDialect c;
    ASSERT_EQ(c.identify(toSparse), "Modbus module 3010");
    for (const size_t requests : {4u, 3u}) {
        toSparse.requests.clear();
        ASSERT_TRUE(c.poll(toSparse));
        EXPECT_EQ(toSparse.requests.size(), requests);
    }
}

TEST(ModbusDialect, ModuleSideFramesAndRefusals)
{
    SimulatedSupply supply;
    ModbusResponder unit(supply, {.modelId = 5005});
    const std::string read = readRequest(1, 0, 2);
    const std::string unknownFunction = withCrc(std::string("\x01\x11", 2));
    const struct
    {
        std::vector<std::string> chunks;
        size_t frames;
        bool partial;
    } splits[] = {
        {{read.substr(0, 3), read.substr(3, 1), read.substr(4)}, 1, false},
        {{read + writeRequest(1, 9, 1)}, 2, false},
        {{unknownFunction}, 1, false},               // ends where its CRC checks out
        {{std::string("\x01\x2B\x0E", 3)}, 0, true}, // waits for silence
    };
    for (const auto& s : splits) {
        size_t frames = 0;
        for (const auto& chunk : s.chunks)
            frames += unit.feed(chunk).size();
        EXPECT_EQ(frames, s.frames) << s.chunks.front().size();
        EXPECT_EQ(unit.hasPartial(), s.partial);
        unit.discardPartial();
    }
    std::string damaged = read;
    damaged[3] ^= 1;
    const struct
    {
        std::string frame;
        std::string reply;
    } answers[] = {
        {unknownFunction, withCrc(std::string("\x01\x91\x01", 3))},
        {damaged, ""},                                                     // a bad frame is ignored
        {readRequest(2, 0, 2), ""},                                        // ...as is one for another unit
        {readRequest(1, 12, 2), withCrc(std::string("\x01\x83\x02", 3))},  // past the last register
        {writeRequest(1, 11, 1), withCrc(std::string("\x01\x86\x02", 3))}, // the model id is read-only
        {writeRequest(1, 9, 2), withCrc(std::string("\x01\x86\x03", 3))},
        {writeRequest(1, 0, 5001), withCrc(std::string("\x01\x86\x03", 3))}, // past 50 V
        {writeRequest(0, 0, 1234), ""}, // a broadcast is carried out unanswered
    };
    for (const auto& a : answers)
        EXPECT_EQ(unit.execute(a.frame), a.reply) << static_cast<int>(a.frame[1]);
    EXPECT_EQ(supply.setCentivolts(), 1234);
    EXPECT_TRUE(unit.changesSupply(writeRequest(1, 0, 500)));
    EXPECT_FALSE(unit.changesSupply(read));
}
