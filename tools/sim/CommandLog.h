#pragma once

// tarnwell-sim --log FILE: every command the unit took, one a line, the link's drops, and at the
// end of each second since the first command how many requests that second brought
// ("-- second 3: 7 requests").

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

namespace sim {

class CommandLog
{
public:
    using Clock = std::chrono::steady_clock;

    /// The start of each count line, for readers that want the commands alone.
    static constexpr const char* kCountMark = "-- second ";

    CommandLog() = default;
    ~CommandLog();
    CommandLog(const CommandLog&) = delete;
    CommandLog& operator=(const CommandLog&) = delete;

    /// Starts the file at `path`; nothing to do for an empty path. False, saying why on standard
    /// error, when it cannot be written.
    bool open(const std::string& path);
    /// One line, at once on disk: readers follow the file while the simulator runs.
    void write(const std::string& line);
    /// A command that came at `at`: written, and counted in its second.
    void command(const std::string& line, Clock::time_point at);
    /// Writes the count of each second that has ended by `now`.
    void tick(Clock::time_point now);

private:
    std::FILE* m_file = nullptr;
    std::optional<Clock::time_point> m_first; // the first command: the seconds count from it
    long long m_second = 0;                   // the second being counted
    int m_count = 0;
};

} // namespace sim
