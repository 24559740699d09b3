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

} // namespace sim
