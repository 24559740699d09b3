#include "UnitTiming.h"

namespace sim {

using std::chrono::microseconds;
using std::chrono::milliseconds;

UnitTiming::UnitTiming(Pace pace, Clock::time_point start) : m_pace(pace), m_quietAt(start) {}

void UnitTiming::quietAt(Clock::time_point at)
{
    m_quietAt = at;
}

void UnitTiming::garbled(Clock::time_point now)
{
    m_lastInput = now;
}

void UnitTiming::arrived(Clock::time_point now, bool emptied, bool continues)
{
    m_lastInput = now;
    // These bytes arrived after m_quietAt and by `now`; how late the simulator woke up to read
    // them is not the client's doing. A command counts as too soon only when it came too soon
    // however the arrivals fall within their windows, so a busy machine running the simulator
    // cannot fault a client that keeps its spacing.
    m_arrivalEarliest = m_quietAt;
    if (emptied)
        m_quietAt = now;
    if (!continues)
        m_startEarliest = m_arrivalEarliest;
}

UnitTiming::Verdict UnitTiming::take(Clock::time_point now)
{
    const Clock::time_point start = m_startEarliest; // this command began no earlier
    const bool tooSoon = m_pace.minGapMs > 0 && m_haveCommand
                         && now - m_lastCommandEarliest < milliseconds(m_pace.minGapMs);
    const bool busy = m_pace.slowMs > 0 && m_haveBusy && now - m_busyEarliest < milliseconds(m_pace.slowMs);
    m_lastCommandEarliest = start;
    m_startEarliest = m_arrivalEarliest; // a further command in these bytes began in them
    m_haveCommand = true;
    if (tooSoon)
        return Verdict::TooSoon;
    return busy ? Verdict::Busy : Verdict::Heard;
}

void UnitTiming::leaveBusy()
{
    m_busyEarliest = m_lastCommandEarliest;
    m_haveBusy = true;
}

Clock::time_point UnitTiming::replyDue(Clock::time_point now, std::size_t commandBytes, std::size_t replyBytes) const
{
    return now + wireTime(commandBytes) + milliseconds(m_pace.latencyMs) + wireTime(replyBytes);
}

microseconds UnitTiming::wireTime(std::size_t bytes) const
{
    // Ten bits a byte: start, eight data, stop.
    return m_pace.baud > 0 ? microseconds(static_cast<long long>(bytes) * 10'000'000LL / m_pace.baud) : microseconds(0);
}

} // namespace sim
