#pragma once

// tarnwell-sim --log FILE: every command the unit took, one a line, and the link's drops.

#include <cstdio>
#include <string>

namespace sim {

class CommandLog
{
public:
    CommandLog() = default;
    ~CommandLog();
    CommandLog(const CommandLog&) = delete;
    CommandLog& operator=(const CommandLog&) = delete;

    /// Starts the file at `path`; nothing to do for an empty path. False, saying why on standard
    /// error, when it cannot be written.
    bool open(const std::string& path);
    /// One line, at once on disk: readers follow the file while the simulator runs.
    void write(const std::string& line);

private:
    std::FILE* m_file = nullptr;
};

} // namespace sim
