// tarnwell-sim: serves the simulated supply on a pseudo-terminal, so the program's serial path
// can be tried end to end without hardware. Prints the terminal's path as its first line, then
// serves until standard input closes or SIGINT/SIGTERM arrives.

#include "device/NumberText.h"
#include "device/link/Dialects.h"
#include "device/link/SimulatedSupply.h"
#include "device/link/SupplyResponder.h"
#include "platform/BuildVersion.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

volatile std::sig_atomic_t g_quit = 0;

void onSignal(int)
{
    g_quit = 1;
}

struct Options
{
    const pslink::DialectInfo* dialect = pslink::FindDialect("text");
    double loadOhms = 0.0; // 0: the supply's own default
    int latencyMs = 0;
    int baud = 0;          // 0: no wire time
    int minGapMs = -1;     // -1: what strict units of the dialect need
    int slowMs = 0;        // 0: ready for the next command at once after a change
    int maxCentivolts = numtext::kMaxCount; // the most the unit holds
    int maxMilliamps = numtext::kMaxCount;
    std::string logPath;
    pslink::SupplyResponder::Quirks quirks;
};

std::string dialectNames()
{
    std::string names;
    for (const pslink::DialectInfo* d : pslink::WireDialects()) {
        if (!names.empty())
            names += '|';
        names += d->name;
    }
    return names;
}

void usage()
{
    std::fprintf(stderr,
                 "usage: tarnwell-sim [--dialect %s] [--load OHMS] [--latency MS] [--baud N]\n"
                 "                    [--max-volts V] [--max-amps A]\n"
                 "                    [--log FILE] [--min-gap MS] [--slow MS] [--noisy] [--eol lf|crlf|lfcr]\n"
                 "                    [--no-mode-query] [--identity TEXT] [--iset-stray] [--status-noise]\n"
                 "       tarnwell-sim --version\n"
                 "control lines on standard input: hang, resume, load OHMS, refuse, accept\n",
                 dialectNames().c_str());
}

bool parseNumber(const char* text, double& out)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end); // the C locale is never changed here
    if (end == text || *end != '\0' || errno != 0)
        return false;
    out = v;
    return true;
}

// "ACME PSU3005 V5.5\x01\xbc": \xHH is one byte, \\ a backslash.
bool parseEscapes(const std::string& text, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.push_back(text[i]);
        } else if (i + 1 < text.size() && text[i + 1] == '\\') {
            out.push_back('\\');
            ++i;
        } else if (i + 3 < text.size() && text[i + 1] == 'x' && std::isxdigit(static_cast<unsigned char>(text[i + 2]))
                   && std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out.push_back(static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16)));
            i += 3;
        } else {
            return false;
        }
    }
    return !out.empty();
}

bool parseArgs(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        double n = 0.0;
        if (a == "--noisy") {
            o.quirks.noisyReplies = true;
        } else if (a == "--no-mode-query") {
            o.quirks.modeQuery = false;
        } else if (a == "--iset-stray") {
            o.quirks.isetStray = true;
        } else if (a == "--status-noise") {
            o.quirks.statusNoise = true;
        } else if (!value) {
            return false;
        } else if (a == "--dialect") {
            o.dialect = pslink::FindDialect(argv[++i]);
            if (!o.dialect || !o.dialect->onWire())
                return false;
        } else if (a == "--log") {
            o.logPath = argv[++i];
        } else if (a == "--identity") {
            if (!parseEscapes(argv[++i], o.quirks.identity))
                return false;
        } else if (a == "--eol") {
            const std::string e = argv[++i];
            if (e == "lf")
                o.quirks.lineEnd = "\n";
            else if (e == "crlf")
                o.quirks.lineEnd = "\r\n";
            else if (e == "lfcr")
                o.quirks.lineEnd = "\n\r";
            else
                return false;
        } else if (parseNumber(value, n)) {
            ++i;
            if (a == "--load" && n > 0.0)
                o.loadOhms = n;
            else if (a == "--latency" && n >= 0.0 && n <= 60000.0)
                o.latencyMs = static_cast<int>(n);
            else if (a == "--baud" && n >= 0.0 && n <= 4000000.0)
                o.baud = static_cast<int>(n);
            else if (a == "--min-gap" && n >= 0.0 && n <= 60000.0)
                o.minGapMs = static_cast<int>(n);
            else if (a == "--slow" && n >= 0.0 && n <= 60000.0)
                o.slowMs = static_cast<int>(n);
            else if (a == "--max-volts" && n > 0.0 && n * 100.0 <= numtext::kMaxCount)
                o.maxCentivolts = static_cast<int>(std::lround(n * 100.0));
            else if (a == "--max-amps" && n > 0.0 && n * 1000.0 <= numtext::kMaxCount)
                o.maxMilliamps = static_cast<int>(std::lround(n * 1000.0));
            else
                return false;
        } else {
            return false;
        }
    }
    if (o.minGapMs < 0)
        o.minGapMs = static_cast<int>(o.dialect->unitGap.count());
    return true;
}

struct PendingReply
{
    Clock::time_point due;
    std::string bytes;
};

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

    bool start()
    {
        if (!m_options.logPath.empty() && !(m_log = std::fopen(m_options.logPath.c_str(), "w"))) {
            std::fprintf(stderr, "tarnwell-sim: cannot write %s: %s\n", m_options.logPath.c_str(), std::strerror(errno));
            return false;
        }
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
        std::printf("%s\n", m_path.c_str());
        std::fflush(stdout);
        return true;
    }

    int run()
    {
        bool stdinOpen = true;
        std::string control;
        while (!g_quit) {
            pollfd fds[2] = {{m_master, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
            const auto beforePoll = Clock::now();
            const int ready = ::poll(fds, stdinOpen ? 2 : 1, timeoutMs());
            if (ready < 0 && errno != EINTR)
                return 1;
            const auto now = Clock::now();
            if (ready > 0 && (fds[0].revents & POLLIN))
                receive(now);
            else if (ready >= 0)
                m_quietAt = beforePoll; // nothing had come by some moment after this
            if (stdinOpen && ready > 0 && (fds[1].revents & (POLLIN | POLLHUP))) {
                char buf[256];
                const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
                if (n <= 0)
                    return 0; // standard input closed: the user is done
                control.append(buf, static_cast<size_t>(n));
                size_t end;
                while ((end = control.find('\n')) != std::string::npos) {
                    handleControl(control.substr(0, end));
                    control.erase(0, end + 1);
                }
            }
            // A plain-text unit forgets half a command after a pause.
            if (m_responder->hasPartial() && now - m_lastInput > milliseconds(50))
                m_responder->discardPartial();
            sendDue(Clock::now());
        }
        return 0;
    }

private:
    microseconds wireTime(size_t bytes) const
    {
        // Ten bits a byte: start, eight data, stop.
        return m_options.baud > 0 ? microseconds(static_cast<long long>(bytes) * 10'000'000LL / m_options.baud)
                                  : microseconds(0);
    }

    int timeoutMs() const
    {
        int timeout = 20;
        if (!m_replies.empty()) {
            const auto left = std::chrono::duration_cast<milliseconds>(m_replies.front().due - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, timeout));
        }
        return timeout;
    }

    void receive(Clock::time_point now)
    {
        char buf[512];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            return;
        m_lastInput = now;
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
            const std::string reply = m_responder->execute(command);
            if (reply.empty())
                continue;
            const auto due = now + wireTime(command.size()) + milliseconds(m_options.latencyMs) + wireTime(reply.size());
            m_replies.push_back({std::max(due, m_replies.empty() ? due : m_replies.back().due), reply});
        }
    }

    void sendDue(Clock::time_point now)
    {
        while (!m_replies.empty() && m_replies.front().due <= now) {
            const std::string& bytes = m_replies.front().bytes;
            if (::write(m_master, bytes.data(), bytes.size()) < 0 && errno != EAGAIN)
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
};

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("tarnwell-sim %s\n", platform::kBuildVersion);
        return 0;
    }
    Options options;
    if (!parseArgs(argc, argv, options)) {
        usage();
        return 2;
    }
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Simulator sim(options);
    if (!sim.start())
        return 1;
    return sim.run();
}
