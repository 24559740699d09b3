#pragma once

#include "DropSchedule.h"
#include "SimOptions.h"

#include "device/link/SimulatedSupply.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace sim {

/// Set by SIGINT and SIGTERM: the simulator ends.
inline volatile std::sig_atomic_t g_quit = 0;

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

struct PendingReply
{
    Clock::time_point due;
    std::string bytes;
};

/// The simulated unit on a pseudo-terminal: reads commands, answers them with the unit's timing.
class Simulator
{
public:
    explicit Simulator(const Options& o) : m_options(o), m_responder(o.dialect->respond(m_supply, o.quirks))
    {
        if (o.loadOhms > 0.0)
            m_supply.setLoadOhms(o.loadOhms);
        m_supply.setMaximum(o.maxCentivolts, o.maxMilliamps);
    }
    ~Simulator()
    {
        if (m_log)
            std::fclose(m_log);
        if (m_slave >= 0)
            ::close(m_slave);
        if (m_master >= 0)
            ::close(m_master);
    }

    /// Opens the command log, when one was asked for.
    bool openLog()
    {
        if (!m_options.logPath.empty() && !(m_log = std::fopen(m_options.logPath.c_str(), "w"))) {
            std::fprintf(stderr, "tarnwell-sim: cannot write %s: %s\n", m_options.logPath.c_str(), std::strerror(errno));
            return false;
        }
        return true;
    }

    bool start()
    {
        if (!openLog())
            return false;
        if (!openTerminal())
            return false;
        if (!m_options.linkPath.empty() && !pointLink())
            return false;
        std::printf("%s\n", m_path.c_str());
        std::fflush(stdout);
        return true;
    }

    int run()
    {
        while (!g_quit) {
            // While the link is away nothing is read: the terminal is not the one clients know.
            pollfd fds[2] = {{m_drop.down() ? -1 : m_master, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
            const auto beforePoll = Clock::now();
            const int ready = ::poll(fds, 2, m_drop.waitMs(beforePoll, timeoutMs()));
            if (ready < 0 && errno != EINTR)
                return 1;
            serveWire(m_master, ready > 0 && (fds[0].revents & POLLIN), ready >= 0, beforePoll);
            if (ready > 0 && (fds[1].revents & (POLLIN | POLLHUP)) && !readControl())
                return 0; // standard input closed: the user is done
            followDrop();
        }
        return 0;
    }

    /// For a server of another wire: false while the link is away (--drop-after), having lost
    /// what was in flight when it went and come back as the unit --back-off/--back-identity say.
    bool linkUp()
    {
        dropTurn();
        return !m_drop.down();
    }

    /// What the drop schedule says by now, with the unit's side of it carried out; the road's
    /// own side (a terminal, a socket) is the caller's.
    DropSchedule::Change dropTurn()
    {
        const DropSchedule::Change change = m_drop.update(Clock::now());
        if (change == DropSchedule::Change::Dropped)
            linkGone();
        else if (change == DropSchedule::Change::Back)
            linkReturned();
        return change;
    }

    // A fresh pseudo-terminal in m_master, m_slave and m_path.
    bool openTerminal()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
            std::perror("tarnwell-sim: pseudo-terminal");
            return false;
        }
        const char* name = ::ptsname(m_master);
        if (!name)
            return false;
        m_path = name;
        // Holding the other end open keeps the terminal alive between the clients' opens, and
        // raw mode keeps the line discipline from echoing replies back at us.
        m_slave = ::open(m_path.c_str(), O_RDWR | O_NOCTTY);
        termios tio{};
        if (m_slave < 0 || ::tcgetattr(m_slave, &tio) != 0) {
            std::perror("tarnwell-sim: terminal settings");
            return false;
        }
        ::cfmakeraw(&tio);
        ::tcsetattr(m_slave, TCSANOW, &tio);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        return true;
    }

    // The stable link leads to the current terminal; renamed over the old one, so a client
    // never finds it missing or half made.
    bool pointLink()
    {
        const std::string temporary = m_options.linkPath + ".new";
        ::unlink(temporary.c_str());
        if (::symlink(m_path.c_str(), temporary.c_str()) != 0
            || ::rename(temporary.c_str(), m_options.linkPath.c_str()) != 0) {
            std::fprintf(stderr, "tarnwell-sim: cannot link %s: %s\n", m_options.linkPath.c_str(), std::strerror(errno));
            return false;
        }
        return true;
    }

    // The cable is pulled: the terminal and its link go, and the clients' reads fail. The next
    // terminal is taken now, while the old is still held, so that it comes back under another name.
    void dropLink()
    {
        const int oldMaster = m_master, oldSlave = m_slave;
        if (!openTerminal())
            g_quit = 1;
        ::close(oldSlave);
        ::close(oldMaster);
        if (!m_options.linkPath.empty())
            ::unlink(m_options.linkPath.c_str()); // as udev removes an unplugged adapter's links
    }

    // The unit's side of a pulled cable, whatever the road: what was in flight is lost.
    void linkGone()
    {
        m_replies.clear();
        m_responder->discardPartial();
        log("-- link down");
        std::fprintf(stderr, "tarnwell-sim: link down\n");
    }

    // Plugged in again: the unit may have lost its power or be another one.
    void linkReturned()
    {
        if (m_options.backOff)
            m_supply.setOutput(false);
        if (!m_options.backIdentity.empty()) {
            pslink::SupplyResponder::Quirks quirks = m_options.quirks;
            quirks.identity = m_options.backIdentity;
            m_responder = m_options.dialect->respond(m_supply, quirks);
        }
        log("-- link back");
    }

    // Plugged in again: what was sent meanwhile is gone.
    void bringBack()
    {
        char buf[512];
        while (::read(m_master, buf, sizeof buf) > 0) {
        }
        if (!m_options.linkPath.empty() && !pointLink())
            g_quit = 1;
        std::fprintf(stderr, "tarnwell-sim: link back on %s\n", m_path.c_str());
        std::printf("%s\n", m_path.c_str());
        std::fflush(stdout);
    }

    void followDrop()
    {
        const DropSchedule::Change change = dropTurn();
        if (change == DropSchedule::Change::Dropped)
            dropLink();
        else if (change == DropSchedule::Change::Back)
            bringBack();
    }

    // ---- For a server loop of another wire (tarnwell-sim --tcp) ----

    /// One turn on the wire `fd` after a poll that began at `beforePoll`: what came in when
    /// `readable` (else, when `polled`, the wire was quiet), half a command forgotten after a
    /// pause, the replies due sent. False when the wire closed (a client hung up).
    bool serveWire(int fd, bool readable, bool polled, Clock::time_point beforePoll)
    {
        const auto now = Clock::now();
        bool open = true;
        if (readable)
            open = receive(fd, now);
        else if (polled)
            m_quietAt = beforePoll; // nothing had come by some moment after this
        // A plain-text unit forgets half a command after a pause.
        if (m_responder->hasPartial() && now - m_lastInput > milliseconds(50))
            m_responder->discardPartial();
        tripWhenDue(Clock::now());
        if (open)
            sendDue(fd, Clock::now());
        return open;
    }

    /// Reads standard input's control lines; false once it closed.
    bool readControl()
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

    /// A new connection: nothing of the previous one (replies due, half a line) reaches it.
    /// The supply keeps its state, as a unit does between clients.
    void startConnection()
    {
        m_replies.clear();
        m_responder = m_options.dialect->respond(m_supply, m_options.quirks);
        m_quietAt = Clock::now();
    }

    /// How long the next poll may wait, ms: until the next reply is due, 20 at most.
    int timeoutMs() const
    {
        int timeout = 20;
        if (!m_replies.empty()) {
            const auto left = std::chrono::duration_cast<milliseconds>(m_replies.front().due - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, timeout));
        }
        return timeout;
    }

private:
    microseconds wireTime(size_t bytes) const
    {
        // Ten bits a byte: start, eight data, stop.
        return m_options.baud > 0 ? microseconds(static_cast<long long>(bytes) * 10'000'000LL / m_options.baud)
                                  : microseconds(0);
    }

    // False when the wire closed or broke.
    bool receive(int fd, Clock::time_point now)
    {
        char buf[512];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            return n < 0 && (errno == EAGAIN || errno == EINTR);
        m_lastInput = now;
        m_drop.heardAt(now);
        if (fd == m_master && !hearsLineRate()) {
            std::fprintf(stderr, "tarnwell-sim: dropped (port not at %d baud): %zd bytes\n", m_options.baud, n);
            return true;
        }
        if (!m_firstCommand)
            m_firstCommand = now;
        // These bytes arrived after m_quietAt and by `now`; how late this process woke up to
        // read them is not the client's doing. A command counts as too soon only when it came
        // too soon however the arrivals fall within their windows, so a busy machine running
        // the simulator cannot fault a client that keeps its spacing.
        const Clock::time_point earliest = m_quietAt;
        if (static_cast<size_t>(n) < sizeof buf)
            m_quietAt = now; // the read emptied the terminal, after this moment
        if (!m_responder->hasPartial())
            m_startEarliest = earliest;
        for (const std::string& command : m_responder->feed(std::string(buf, static_cast<size_t>(n)))) {
            log(command);
            const Clock::time_point start = m_startEarliest; // this command began no earlier
            const bool tooSoon = m_options.minGapMs > 0 && m_haveCommand
                                 && now - m_lastCommandEarliest < milliseconds(m_options.minGapMs);
            const bool busy = m_options.slowMs > 0 && m_haveBusy && now - m_busyEarliest < milliseconds(m_options.slowMs);
            m_lastCommandEarliest = start;
            m_startEarliest = earliest; // a further command in these bytes began in them
            m_haveCommand = true;
            if (tooSoon) {
                // What a strict unit does: the command is lost without a word.
                std::fprintf(stderr, "tarnwell-sim: dropped (too soon): %s\n", command.c_str());
                continue;
            }
            if (busy) {
                // Slow firmware, still busy with the last change or status query.
                std::fprintf(stderr, "tarnwell-sim: dropped (slow): %s\n", command.c_str());
                continue;
            }
            if (m_refusing && m_responder->changesSupply(command)) {
                std::fprintf(stderr, "tarnwell-sim: refused: %s\n", command.c_str());
                continue;
            }
            if (m_responder->leavesBusy(command)) {
                m_busyEarliest = start;
                m_haveBusy = true;
            }
            const std::string reply = damaged(m_responder->execute(command));
            if (reply.empty())
                continue;
            const auto due = now + wireTime(command.size()) + milliseconds(m_options.latencyMs) + wireTime(reply.size());
            m_replies.push_back({std::max(due, m_replies.empty() ? due : m_replies.back().due), reply});
        }
        return true;
    }

    // --baud: a unit at that rate hears only garbage from a port set to another one, and a
    // rate the table here does not know is taken as matching.
    bool hearsLineRate() const
    {
        static const struct
        {
            int baud;
            speed_t speed;
        } kRates[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
                      {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};
        termios tio{};
        if (m_options.baud <= 0 || ::tcgetattr(m_slave, &tio) != 0)
            return true;
        for (const auto& r : kRates)
            if (r.baud == m_options.baud)
                return ::cfgetispeed(&tio) == r.speed;
        return true;
    }

    // --corrupt-every N: the N-th reply, the 2N-th, ... has one bit flipped in its middle byte.
    std::string damaged(std::string reply)
    {
        if (m_options.corruptEvery > 0 && !reply.empty() && ++m_replyCount % m_options.corruptEvery == 0) {
            reply[reply.size() / 2] ^= 0x10;
            std::fprintf(stderr, "tarnwell-sim: damaged reply %d\n", m_replyCount);
        }
        return reply;
    }

    // --trip-after: the protection trips once, that long after the first command.
    void tripWhenDue(Clock::time_point now)
    {
        if (m_options.tripAfterMs < 0 || m_tripped || !m_firstCommand
            || now - *m_firstCommand < milliseconds(m_options.tripAfterMs))
            return;
        m_tripped = true;
        m_supply.trip(m_options.tripBits);
        std::fprintf(stderr, "tarnwell-sim: protection tripped\n");
    }

    void sendDue(int fd, Clock::time_point now)
    {
        while (!m_replies.empty() && m_replies.front().due <= now) {
            const std::string& bytes = m_replies.front().bytes;
            // A client that just hung up is found by the next read, not reported here.
            if (::write(fd, bytes.data(), bytes.size()) < 0 && errno != EAGAIN && errno != EPIPE && errno != ECONNRESET)
                std::perror("tarnwell-sim: write");
            m_replies.pop_front();
        }
    }

    void handleControl(std::string line)
    {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line == "hang") {
            m_supply.setAnswering(false);
            m_replies.clear(); // nothing more leaves a dead supply
        } else if (line == "resume") {
            m_supply.setAnswering(true);
        } else if (line == "refuse" || line == "accept") {
            m_refusing = line == "refuse"; // answers as ever, takes no change
        } else if (line.rfind("load ", 0) == 0) {
            double ohms = 0.0;
            if (parseNumber(line.substr(5).c_str(), ohms) && ohms > 0.0)
                m_supply.setLoadOhms(ohms);
            else
                std::fprintf(stderr, "tarnwell-sim: bad load: %s\n", line.c_str());
        } else if (!line.empty()) {
            std::fprintf(stderr, "tarnwell-sim: unknown control line: %s\n", line.c_str());
        }
    }

    void log(const std::string& command)
    {
        if (!m_log)
            return;
        std::fwrite(command.data(), 1, command.size(), m_log);
        std::fputc('\n', m_log);
        std::fflush(m_log); // readers follow the file while we run
    }

    Options m_options;
    pslink::SimulatedSupply m_supply;
    std::unique_ptr<pslink::SupplyResponder> m_responder;
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
    std::FILE* m_log = nullptr;
    std::deque<PendingReply> m_replies;
    Clock::time_point m_lastInput{};
    Clock::time_point m_quietAt = Clock::now();         // the terminal was empty at some moment after this
    Clock::time_point m_startEarliest{};                 // earliest start of the command being received
    Clock::time_point m_lastCommandEarliest{};           // earliest start of the previous command
    bool m_haveCommand = false;
    Clock::time_point m_busyEarliest{};                  // earliest start of the last change or status query taken
    bool m_haveBusy = false;
    bool m_refusing = false;
    std::string m_control; // a control line still being typed
    DropSchedule m_drop{m_options.dropAfterMs, m_options.dropForMs};
    std::optional<Clock::time_point> m_firstCommand; // --trip-after counts from it
    bool m_tripped = false;
    int m_replyCount = 0;
};

} // namespace sim
