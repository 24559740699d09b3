#include "control/CommandQueue.h"

#include <algorithm>

void CCommandQueue::Push(ControlCommand command)
{
    std::lock_guard<std::mutex> guard(m_hLock);
    const auto pending = std::find(m_commands.begin(), m_commands.end(), command);
    if (pending != m_commands.end())
        m_commands.erase(pending);
    m_commands.push_back(command);
}

ControlCommand CCommandQueue::Pop()
{
    std::lock_guard<std::mutex> guard(m_hLock);
    if (m_commands.empty())
        return {};
    const ControlCommand front = m_commands.front();
    m_commands.pop_front();
    return front;
}

std::vector<ControlCommand> CCommandQueue::Pending() const
{
    std::lock_guard<std::mutex> guard(m_hLock);
    return {m_commands.begin(), m_commands.end()};
}
