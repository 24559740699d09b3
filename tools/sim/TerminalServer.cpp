#include "TerminalServer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

TerminalServer::TerminalServer(Simulator& simulator) : m_simulator(simulator)
{
    // Only the terminal has a line rate a client can get wrong.
    m_simulator.setLineCheck([this] { return hearsLineRate(); });
}

TerminalServer::~TerminalServer()
{
    m_simulator.setLineCheck({});
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

bool TerminalServer::start()
{
    if (!m_simulator.openLog())
        return false;
    if (!openTerminal())
        return false;
    if (!m_simulator.options().linkPath.empty() && !pointLink())
        return false;
    std::printf("%s\n", m_path.c_str());
    std::fflush(stdout);
    return true;
}

int TerminalServer::run()
{
    while (!g_quit) {
        // While the link is away nothing is read: the terminal is not the one clients know.
        pollfd fds[2] = {{m_simulator.linkDown() ? -1 : m_master, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const auto beforePoll = Clock::now();
        const int ready = ::poll(fds, 2, m_simulator.waitMs(beforePoll));
        if (ready < 0 && errno != EINTR)
            return 1;
        m_simulator.serveWire(m_master, ready > 0 && (fds[0].revents & POLLIN), ready >= 0, beforePoll);
        if (ready > 0 && (fds[1].revents & (POLLIN | POLLHUP)) && !m_simulator.readControl())
            return 0; // standard input closed: the user is done
        followDrop();
    }
    return 0;
}

// A fresh pseudo-terminal in m_master, m_slave and m_path.
bool TerminalServer::openTerminal()
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
bool TerminalServer::pointLink()
{
    const std::string& link = m_simulator.options().linkPath;
    const std::string temporary = link + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(m_path.c_str(), temporary.c_str()) != 0 || ::rename(temporary.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "tarnwell-sim: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

// The cable is pulled: the terminal and its link go, and the clients' reads fail. The next
// terminal is taken now, while the old is still held, so that it comes back under another name.
void TerminalServer::dropLink()
{
    const int oldMaster = m_master, oldSlave = m_slave;
    if (!openTerminal())
        g_quit = 1;
    ::close(oldSlave);
    ::close(oldMaster);
    if (!m_simulator.options().linkPath.empty())
        ::unlink(m_simulator.options().linkPath.c_str()); // as udev removes an unplugged adapter's links
}

// Plugged in again: what was sent meanwhile is gone.
void TerminalServer::bringBack()
{
    char buf[512];
    while (::read(m_master, buf, sizeof buf) > 0) {
    }
    if (!m_simulator.options().linkPath.empty() && !pointLink())
        g_quit = 1;
    std::fprintf(stderr, "tarnwell-sim: link back on %s\n", m_path.c_str());
    std::printf("%s\n", m_path.c_str());
    std::fflush(stdout);
}

void TerminalServer::followDrop()
{
    const DropSchedule::Change change = m_simulator.dropTurn();
    if (change == DropSchedule::Change::Dropped)
        dropLink();
    else if (change == DropSchedule::Change::Back)
        bringBack();
}

// --baud: a unit at that rate hears only garbage from a port set to another one, and a
// rate the table here does not know is taken as matching.
bool TerminalServer::hearsLineRate() const
{
    static const struct
    {
        int baud;
        speed_t speed;
    } kRates[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
                  {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};
    const int baud = m_simulator.options().baud;
    termios tio{};
    if (baud <= 0 || ::tcgetattr(m_slave, &tio) != 0)
        return true;
    for (const auto& r : kRates)
        if (r.baud == baud)
            return ::cfgetispeed(&tio) == r.speed;
    return true;
}

} // namespace sim
