#pragma once

// tarnwell-sim --tcp: the simulated unit on a TCP socket, as a SCPI unit with a LAN port.

#include "Simulator.h"

#include <functional>
#include <vector>

namespace sim {

struct TcpOptions
{
    int port = -1;           ///< -1: no TCP, the pseudo-terminal; 0: any free port
    bool anyAddress = false; ///< every interface rather than 127.0.0.1 and ::1
};

/// Takes --tcp PORT and --tcp-any out of `args` (argv after the program name) into `out`; false
/// on a port that cannot be one.
bool TakeTcpArgs(std::vector<char*>& args, TcpOptions& out);

/// Serves one client at a time, as many single-client units do: a second one is accepted and
/// closed at once. Prints "tcp://ADDRESS:PORT" (where the simulator listens) as its first line.
class TcpServer
{
public:
    /// Asked every turn of the loop (about every 20 ms): false while the link is down; the
    /// client is then dropped and new ones are closed at once until it is up again.
    using LinkUp = std::function<bool()>;

    TcpServer(Simulator& simulator, TcpOptions options);
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    void setLinkUp(LinkUp linkUp) { m_linkUp = std::move(linkUp); }
    /// Listens and prints where.
    bool start();
    /// Serves until standard input closes or SIGINT/SIGTERM; the exit status.
    int run();

private:
    bool listenOn(const char* address, int family);
    void acceptClient(int listener, bool up);
    void dropClient();

    Simulator& m_simulator;
    TcpOptions m_options;
    LinkUp m_linkUp;
    std::vector<int> m_listeners;
    int m_client = -1;
};

} // namespace sim
