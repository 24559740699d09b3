#include "TcpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace sim {

bool TakeTcpArgs(std::vector<char*>& args, TcpOptions& out)
{
    for (size_t i = 0; i < args.size();) {
        const std::string a = args[i];
        if (a == "--tcp-any") {
            out.anyAddress = true;
            args.erase(args.begin() + static_cast<long>(i));
        } else if (a == "--tcp") {
            double port = -1.0;
            if (i + 1 >= args.size() || !parseNumber(args[i + 1], port) || port < 0 || port > 65535
                || port != static_cast<int>(port))
                return false;
            out.port = static_cast<int>(port);
            args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
        } else {
            ++i;
        }
    }
    return out.port >= 0 || !out.anyAddress;
}

TcpServer::TcpServer(Simulator& simulator, TcpOptions options) : m_simulator(simulator), m_options(options) {}

TcpServer::~TcpServer()
{
    dropClient();
    for (const int fd : m_listeners)
        ::close(fd);
}

// Binds `address` at the port asked, or at the one the first listener got (port 0 asks for any).
bool TcpServer::listenOn(const char* address, int family)
{
    sockaddr_storage storage{};
    socklen_t size = 0;
    if (family == AF_INET6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(static_cast<uint16_t>(m_options.port));
        ::inet_pton(AF_INET6, address, &a->sin6_addr);
        size = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&storage);
        a->sin_family = AF_INET;
        a->sin_port = htons(static_cast<uint16_t>(m_options.port));
        ::inet_pton(AF_INET, address, &a->sin_addr);
        size = sizeof *a;
    }
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    if (fd < 0)
        return false;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (family == AF_INET6)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one); // IPv4 has its own listener
    if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), size) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return false;
    }
    if (m_options.port == 0) {
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &size);
        m_options.port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                                  : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    }
    m_listeners.push_back(fd);
    return true;
}

bool TcpServer::start()
{
    if (!m_simulator.openLog())
        return false;
    const char* v4 = m_options.anyAddress ? "0.0.0.0" : "127.0.0.1";
    const char* v6 = m_options.anyAddress ? "::" : "::1";
    // IPv4 first, so that a free port it got is taken for IPv6 too; a machine without IPv6 is
    // served on IPv4 alone.
    if (!listenOn(v4, AF_INET)) {
        std::fprintf(stderr, "tarnwell-sim: cannot listen on %s:%d: %s\n", v4, m_options.port, std::strerror(errno));
        return false;
    }
    listenOn(v6, AF_INET6);
    std::printf("tcp://%s:%d\n", v4, m_options.port);
    std::fflush(stdout);
    return true;
}

void TcpServer::acceptClient(int listener, bool up)
{
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return;
    if (m_client >= 0 || !up) {
        ::close(fd); // one client at a time, and none while the link is down
        std::fprintf(stderr, "tarnwell-sim: closed a %s client at once\n", up ? "second" : "new");
        return;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    m_client = fd;
    m_simulator.startConnection();
}

void TcpServer::dropClient()
{
    if (m_client >= 0)
        ::close(m_client);
    m_client = -1;
}

int TcpServer::run()
{
    while (!g_quit) {
        const bool up = !m_linkUp || m_linkUp();
        if (!up)
            dropClient();
        std::vector<pollfd> fds{{STDIN_FILENO, POLLIN, 0}};
        for (const int fd : m_listeners)
            fds.push_back({fd, POLLIN, 0});
        if (m_client >= 0)
            fds.push_back({m_client, POLLIN, 0});
        const auto beforePoll = Clock::now();
        const int ready = ::poll(fds.data(), fds.size(), m_simulator.timeoutMs());
        if (ready < 0 && errno != EINTR)
            return 1;
        if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP)) && !m_simulator.readControl())
            return 0; // standard input closed: the user is done
        // The client first: one that hung up is gone before a new one is taken.
        if (m_client >= 0) {
            const bool readable = ready > 0 && fds.back().fd == m_client && (fds.back().revents & (POLLIN | POLLHUP));
            if (!m_simulator.serveWire(m_client, readable, ready >= 0, beforePoll))
                dropClient(); // the client hung up
        }
        for (size_t i = 0; i < m_listeners.size(); ++i)
            if (ready > 0 && (fds[i + 1].revents & POLLIN))
                acceptClient(m_listeners[i], up);
    }
    return 0;
}

} // namespace sim
