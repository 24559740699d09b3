#include "UnitFaults.h"

#include <cstdio>

namespace sim {

UnitFaults::UnitFaults(int corruptEvery, int tripAfterMs) : m_corruptEvery(corruptEvery), m_tripAfterMs(tripAfterMs) {}

std::string UnitFaults::damaged(std::string reply)
{
    if (m_corruptEvery > 0 && !reply.empty() && ++m_replyCount % m_corruptEvery == 0) {
        reply[reply.size() / 2] ^= 0x10;
        std::fprintf(stderr, "tarnwell-sim: damaged reply %d\n", m_replyCount);
    }
    return reply;
}

void UnitFaults::heardAt(Clock::time_point at)
{
    if (!m_firstCommand)
        m_firstCommand = at;
}

bool UnitFaults::tripDue(Clock::time_point now)
{
    if (m_tripAfterMs < 0 || m_tripped || !m_firstCommand
        || now - *m_firstCommand < std::chrono::milliseconds(m_tripAfterMs))
        return false;
    m_tripped = true;
    return true;
}

} // namespace sim
