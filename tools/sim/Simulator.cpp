#include "Simulator.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace sim {

using std::chrono::milliseconds;

Simulator::Simulator(const Options& o)
    : m_options(o), m_channels(m_options, m_supply),
      m_timing({o.minGapMs, o.slowMs, o.latencyMs, o.baud}, Clock::now()), m_faults(o.corruptEvery, o.tripAfterMs),
      m_drop(o.dropAfterMs, o.dropForMs)
{
    if (o.loadOhms > 0.0)
        m_supply.setLoadOhms(o.loadOhms);
    m_supply.setMaximum(o.maxCentivolts, o.maxMilliamps);
    m_responder = m_channels.respond(o.quirks); // the first channel's maximum is known now
}

bool Simulator::openLog()
{
    return m_log.open(m_options.logPath);
}

bool Simulator::linkUp()
{
    dropTurn();
    return !m_drop.down();
}

DropSchedule::Change Simulator::dropTurn()
{
    m_log.tick(Clock::now());
    const DropSchedule::Change change = m_drop.update(Clock::now());
    if (change == DropSchedule::Change::Dropped)
        linkGone();
    else if (change == DropSchedule::Change::Back)
        linkReturned();
    return change;
}

// The unit's side of a pulled cable, whatever the road: what was in flight is lost.
void Simulator::linkGone()
{
    m_replies.clear();
    m_responder->discardPartial();
    m_log.write("-- link down");
    std::fprintf(stderr, "tarnwell-sim: link down\n");
}

// Plugged in again: the unit may have lost its power or be another one.
void Simulator::linkReturned()
{
    if (m_options.backOff)
        m_channels.forEach([](pslink::SimulatedSupply& channel) { channel.setOutput(false); });
    if (!m_options.backIdentity.empty()) {
        pslink::SupplyResponder::Quirks quirks = m_options.quirks;
        quirks.identity = m_options.backIdentity;
        m_responder = m_channels.respond(quirks);
    }
    m_log.write("-- link back");
}

bool Simulator::serveWire(int fd, bool readable, bool polled, Clock::time_point beforePoll)
{
    const auto now = Clock::now();
    m_log.tick(now);
    bool open = true;
    if (readable)
        open = receive(fd, now);
    else if (polled)
        m_timing.quietAt(beforePoll);
    // A plain-text unit forgets half a command after a pause.
    if (m_responder->hasPartial() && m_timing.forgetsPartial(now))
        m_responder->discardPartial();
    tripWhenDue(Clock::now());
    if (open)
        sendDue(fd, Clock::now());
    return open;
}

bool Simulator::readControl()
{
    char buf[256];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0)
        return false;
    m_control.append(buf, static_cast<size_t>(n));
    size_t end;
    while ((end = m_control.find('\n')) != std::string::npos) {
        handleControl(m_control.substr(0, end));
        m_control.erase(0, end + 1);
    }
    return true;
}

void Simulator::startConnection()
{
    m_replies.clear();
    m_responder = m_channels.respond(m_options.quirks);
    m_timing.quietAt(Clock::now());
}

int Simulator::timeoutMs() const
{
    int timeout = 20;
    if (!m_replies.empty()) {
        const auto left = std::chrono::duration_cast<milliseconds>(m_replies.front().due - Clock::now()).count();
        timeout = static_cast<int>(std::clamp<long long>(left, 0, timeout));
    }
    return timeout;
}

// False when the wire closed or broke.
bool Simulator::receive(int fd, Clock::time_point now)
{
    char buf[512];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0)
        return n < 0 && (errno == EAGAIN || errno == EINTR);
    m_drop.heardAt(now);
    if (m_lineCheck && !m_lineCheck()) {
        m_timing.garbled(now);
        std::fprintf(stderr, "tarnwell-sim: dropped (port not at %d baud): %zd bytes\n", m_options.baud, n);
        return true;
    }
    m_faults.heardAt(now);
    m_timing.arrived(now, static_cast<size_t>(n) < sizeof buf, m_responder->hasPartial());
    for (const std::string& command : m_responder->feed(std::string(buf, static_cast<size_t>(n))))
        takeCommand(command, now);
    return true;
}

void Simulator::takeCommand(const std::string& command, Clock::time_point now)
{
    m_log.command(command, now);
    switch (m_timing.take(now)) {
    case UnitTiming::Verdict::TooSoon:
        // What a strict unit does: the command is lost without a word.
        std::fprintf(stderr, "tarnwell-sim: dropped (too soon): %s\n", command.c_str());
        return;
    case UnitTiming::Verdict::Busy:
        // Slow firmware, still busy with the last change or status query.
        std::fprintf(stderr, "tarnwell-sim: dropped (slow): %s\n", command.c_str());
        return;
    case UnitTiming::Verdict::Heard:
        break;
    }
    if (m_refusing && m_responder->changesSupply(command)) {
        std::fprintf(stderr, "tarnwell-sim: refused: %s\n", command.c_str());
        return;
    }
    if (m_responder->leavesBusy(command))
        m_timing.leaveBusy();
    const std::string reply = m_faults.damaged(m_responder->execute(command));
    if (reply.empty())
        return;
    const auto due = m_timing.replyDue(now, command.size(), reply.size());
    // Replies leave in the order of their commands.
    m_replies.push_back({std::max(due, m_replies.empty() ? due : m_replies.back().due), reply});
}

void Simulator::tripWhenDue(Clock::time_point now)
{
    if (!m_faults.tripDue(now))
        return;
    m_supply.trip(m_options.tripBits);
    std::fprintf(stderr, "tarnwell-sim: protection tripped\n");
}

void Simulator::sendDue(int fd, Clock::time_point now)
{
    while (!m_replies.empty() && m_replies.front().due <= now) {
        const std::string& bytes = m_replies.front().bytes;
        // A client that just hung up is found by the next read, not reported here.
        if (::write(fd, bytes.data(), bytes.size()) < 0 && errno != EAGAIN && errno != EPIPE && errno != ECONNRESET)
            std::perror("tarnwell-sim: write");
        m_replies.pop_front();
    }
}

void Simulator::handleControl(std::string line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    if (line == "hang") {
        m_channels.forEach([](pslink::SimulatedSupply& channel) { channel.setAnswering(false); });
        m_replies.clear(); // nothing more leaves a dead supply
    } else if (line == "resume") {
        m_channels.forEach([](pslink::SimulatedSupply& channel) { channel.setAnswering(true); });
    } else if (line == "refuse" || line == "accept") {
        m_refusing = line == "refuse"; // answers as ever, takes no change
    } else if (line.rfind("load ", 0) == 0) {
        double ohms = 0.0;
        if (parseNumber(line.substr(5).c_str(), ohms) && ohms > 0.0)
            m_channels.forEach([ohms](pslink::SimulatedSupply& channel) { channel.setLoadOhms(ohms); });
        else
            std::fprintf(stderr, "tarnwell-sim: bad load: %s\n", line.c_str());
    } else if (!line.empty()) {
        std::fprintf(stderr, "tarnwell-sim: unknown control line: %s\n", line.c_str());
    }
}

} // namespace sim
