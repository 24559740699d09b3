#include "device/link/LinkDemand.h"

#include <algorithm>

namespace pslink {

void LinkDemand::queue(const Change& change)
{
    ++m_given;
    if (change.kind == Change::Output) {
        if (!m_pending.empty() && m_pending.back().kind == Change::Output)
            m_pending.back() = change;
        else
            m_pending.push_back(change);
        return;
    }
    // Nothing stale goes out.
    const auto waiting =
        std::find_if(m_pending.begin(), m_pending.end(), [&](const Change& c) { return c.kind == change.kind; });
    if (waiting != m_pending.end())
        waiting->value = change.value;
    else
        m_pending.push_back(change);
}

void LinkDemand::add(Awaited what, Done done)
{
    m_waiters.push_back({m_given, what, m_pollsStarted, std::move(done)});
}

bool LinkDemand::met(const Waiter& w) const
{
    const bool confirmed = w.what == Awaited::Sample || m_confirmed >= w.queued;
    return confirmed && (!needsSample(w.what) || sampled(w));
}

bool LinkDemand::pollWanted() const
{
    return std::any_of(m_waiters.begin(), m_waiters.end(),
                       [&](const Waiter& w) { return needsSample(w.what) && w.queued <= m_sent && !sampled(w); });
}

bool LinkDemand::anyMet() const
{
    return std::any_of(m_waiters.begin(), m_waiters.end(), [&](const Waiter& w) { return met(w); });
}

std::vector<std::pair<LinkDemand::Done, bool>> LinkDemand::takeReady(bool alive)
{
    std::vector<std::pair<Done, bool>> ready;
    for (auto it = m_waiters.begin(); it != m_waiters.end();) {
        const bool ok = met(*it);
        if (ok || !alive) {
            ready.emplace_back(std::move(it->done), ok && alive);
            it = m_waiters.erase(it);
        } else {
            ++it;
        }
    }
    return ready;
}

std::vector<LinkDemand::Done> LinkDemand::takeAll()
{
    std::vector<Done> all;
    for (Waiter& w : m_waiters)
        all.push_back(std::move(w.done));
    m_waiters.clear();
    return all;
}

} // namespace pslink
