#include "fuzz/harness/FuzzWire.h"

#include "fuzz/harness/FuzzOracles.h"

#include "device/link/PortSetting.h"
#include "device/link/SimulatedSupply.h"

#include <algorithm>

namespace fuzz {

bool Loopback::send(const std::string& bytes, pslink::Pace)
{
    m_pending.clear(); // stray bytes still waiting are thrown away before a command
    m_responder.discardPartial();
    return append(bytes);
}

bool Loopback::append(const std::string& bytes)
{
    sent.push_back(bytes);
    for (const std::string& command : m_responder.feed(bytes))
        m_pending += m_responder.execute(command);
    return true;
}

std::optional<std::string> Loopback::receive(pslink::Framer& framer, pslink::ReplyTiming)
{
    bursts.push_back(m_pending); // an empty one: no reply came
    if (m_pending.empty())
        return std::nullopt;
    framer.feed(m_pending);
    m_pending.clear();
    return framer.take();
}

std::optional<std::string> Loopback::ask(const std::string& request, pslink::Framer& framer, pslink::ReplyTiming timing)
{
    framer.reset();
    return exchange(request, framer, timing);
}

ScriptedWire::ScriptedWire(std::string_view input, std::uint64_t chunkSeed)
    : m_bursts(Bursts(input)), m_chunkSeed(chunkSeed), m_rng(chunkSeed)
{
    if (input.empty())
        m_bursts.clear();
}

std::optional<std::string> ScriptedWire::receive(pslink::Framer& framer, pslink::ReplyTiming)
{
    if (exhausted())
        return std::nullopt;
    std::string_view burst = m_bursts[m_next++];
    if (burst.empty())
        return std::nullopt; // nothing came before the first byte's time-out
    do {
        const std::size_t n = m_chunkSeed == 0 ? burst.size() : 1 + m_rng.below(std::min<std::size_t>(burst.size(), 7));
        framer.feed(std::string(burst.substr(0, n)));
        burst.remove_prefix(n);
    } while (!burst.empty() && !framer.complete());
    return framer.take();
}

std::optional<std::string> ScriptedWire::ask(const std::string& request, pslink::Framer& framer,
                                             pslink::ReplyTiming timing)
{
    framer.reset();
    return exchange(request, framer, timing);
}

namespace {

void CheckCounts(const std::optional<int>& value, const char* what)
{
    if (value && (*value < 0 || *value > 9999))
        Fail(std::string(what) + " out of 0..9999: " + std::to_string(*value));
}

std::string Line(char call, const std::optional<int>& value)
{
    std::string line(1, call);
    line += ' ';
    line += value ? std::to_string(*value) : std::string("-");
    line += '\n';
    return line;
}

} // namespace

std::string RunSession(pslink::Dialect& dialect, pslink::Channel& channel, pslink::Probe& probe, std::size_t calls,
                       const ScriptedWire* wire)
{
    std::string log;
    const std::string identity = dialect.identify(probe);
    Check(std::all_of(identity.begin(), identity.end(), [](char c) { return c >= ' ' && c < 0x7F; }),
          "an identity with a control byte");
    Check(identity.empty() || (PrintableByte(identity.front()) && PrintableByte(identity.back())),
          "an identity with blanks around it");
    log += "I " + identity + "\n";
    for (std::size_t call = 0; call < calls && !(wire && wire->exhausted()); ++call) {
        const int round = static_cast<int>(call / 9);
        switch (call % 9) {
        case 0:
            log += Line('v', dialect.setVoltage(channel, (1234 + 977 * round) % 3300) ? 1 : 0);
            break;
        case 1:
            log += Line('c', dialect.setCurrent(channel, (2500 + 1311 * round) % 5200) ? 1 : 0);
            break;
        case 2:
            log += Line('o', dialect.setOutput(channel, round % 3 != 1) ? 1 : 0);
            break;
        case 3: {
            const auto state = dialect.queryState(channel);
            if (state) {
                Check(!(state->constantVoltage && state->constantCurrent), "C.V and C.C at once");
                Check(state->outputOn || (!state->constantVoltage && !state->constantCurrent),
                      "C.V or C.C with the output off");
            }
            log += Line('S', state ? std::optional<int>(state->outputOn * 4 + state->constantVoltage * 2
                                                        + state->constantCurrent)
                                   : std::nullopt);
            break;
        }
        case 4: {
            const auto v = dialect.queryVoltage(channel);
            CheckCounts(v, "a voltage");
            log += Line('V', v);
            break;
        }
        case 5: {
            const auto i = dialect.queryCurrent(channel);
            CheckCounts(i, "a current");
            log += Line('A', i);
            break;
        }
        case 6: {
            const auto v = dialect.querySetVoltage(channel);
            CheckCounts(v, "a voltage setpoint");
            log += Line('W', v);
            break;
        }
        case 7: {
            const auto i = dialect.querySetCurrent(channel);
            CheckCounts(i, "a current setpoint");
            log += Line('B', i);
            break;
        }
        default: {
            const auto on = dialect.queryOutput(channel);
            log += Line('O', on ? std::optional<int>(*on ? 1 : 0) : std::nullopt);
            break;
        }
        }
    }
    return log;
}

Traffic Capture(const pslink::DialectInfo& info)
{
    Traffic traffic;
    for (const std::uint64_t bits : {0x00, 0x01, 0x02, 0x06, 0x08, 0x0c, 0x10, 0x40, 0x80, 0x35}) {
        for (const double ohms : {10.0, 0.5}) {
            pslink::SimulatedSupply supply;
            supply.setLoadOhms(ohms);
            const auto responder = info.respond(supply, QuirksOf(bits));
            Loopback wire(*responder);
            const auto dialect = info.open(pslink::PortSetting{});
            RunSession(*dialect, wire, wire, 27);
            traffic.replies.push_back(JoinBursts(wire.bursts));
            std::string commands;
            for (const std::string& sent : wire.sent) {
                commands += sent;
                if (std::find(traffic.words.begin(), traffic.words.end(), sent) == traffic.words.end())
                    traffic.words.push_back(sent);
            }
            traffic.commands.push_back(commands);
            for (const std::string& burst : wire.bursts) {
                if (std::find(traffic.bursts.begin(), traffic.bursts.end(), burst) == traffic.bursts.end())
                    traffic.bursts.push_back(burst);
            }
        }
    }
    return traffic;
}

pslink::ResponderQuirks QuirksOf(std::uint64_t bits)
{
    static const char* const kLineEnds[] = {"\n", "\n", "\r\n", "\n\r"};
    static const char* const kIdentities[] = {"", "", "ACME PSU3005 V5.5 SN:59834414\x01\xbc", " \x7f" "A"};
    pslink::ResponderQuirks quirks;
    quirks.noisyReplies = (bits & 1) != 0;
    quirks.modeQuery = (bits & 2) == 0;
    quirks.lineEnd = kLineEnds[(bits >> 2) & 3];
    quirks.identity = kIdentities[(bits >> 4) & 3];
    quirks.isetStray = ((bits >> 6) & 1) != 0;
    quirks.statusNoise = ((bits >> 7) & 1) != 0;
    return quirks;
}

} // namespace fuzz
