#include "CommandLog.h"

#include <cerrno>
#include <cstring>

namespace sim {

CommandLog::~CommandLog()
{
    if (m_file)
        std::fclose(m_file);
}

bool CommandLog::open(const std::string& path)
{
    if (!path.empty() && !(m_file = std::fopen(path.c_str(), "w"))) {
        std::fprintf(stderr, "tarnwell-sim: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

void CommandLog::write(const std::string& line)
{
    if (!m_file)
        return;
    std::fwrite(line.data(), 1, line.size(), m_file);
    std::fputc('\n', m_file);
    std::fflush(m_file);
}

void CommandLog::command(const std::string& line, Clock::time_point at)
{
    tick(at);
    if (!m_first)
        m_first = at;
    ++m_count;
    write(line);
}

void CommandLog::tick(Clock::time_point now)
{
    if (!m_first)
        return;
    const long long second = std::chrono::duration_cast<std::chrono::seconds>(now - *m_first).count();
    for (; m_second < second; ++m_second) {
        write(kCountMark + std::to_string(m_second) + ": " + std::to_string(m_count) + " requests");
        m_count = 0;
    }
}

} // namespace sim
