#include "device/link/TcpTransport.h"

#include "device/link/PortSetting.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pslink {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kStep{20}; // as Transport's slices: the stop flag is looked at this often
constexpr milliseconds kWriteTimeout{500};

enum class Failure { Refused, Unreachable, TimedOut, NotFound, Stopped, Other };

struct Attempt
{
    int socket = -1;
    Failure failure = Failure::TimedOut;
    int error = 0; // errno, for Failure::Other
};

// getaddrinfo cannot be cut short: it runs on a thread of its own, which is left to finish
// alone (and free its answer) when the wait for it gives up.
struct Lookup
{
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    int code = 0;
    int error = 0; // errno of the lookup's thread, for EAI_SYSTEM
    addrinfo* result = nullptr;
    ~Lookup()
    {
        if (result)
            ::freeaddrinfo(result);
    }
};

int sliceMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp(left, milliseconds(0), kStep).count());
}

std::shared_ptr<Lookup> lookUp(const PortSetting& setting)
{
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host = setting.host.toStdString(), port = std::to_string(setting.tcpPort)] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM; // no AI_ADDRCONFIG: it hides ::1 on a host with loopback IPv6 alone
        addrinfo* result = nullptr;
        const int code = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &result);
        const int error = errno;
        std::lock_guard<std::mutex> guard(lookup->lock);
        lookup->code = code;
        lookup->error = error;
        lookup->result = result;
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();
    return lookup;
}

Failure failureOf(int error)
{
    switch (error) {
    case ECONNREFUSED:
        return Failure::Refused;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
        return Failure::Unreachable;
    case ETIMEDOUT:
        return Failure::TimedOut;
    default:
        return Failure::Other;
    }
}

// One address: a non-blocking connect, waited for in slices.
Attempt connectTo(const addrinfo& address, const Transport& transport, Clock::time_point deadline)
{
    Attempt attempt;
    const int fd = ::socket(address.ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {-1, failureOf(errno), errno};
    int error = ::connect(fd, address.ai_addr, address.ai_addrlen) == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
        error = ETIMEDOUT;
        while (Clock::now() < deadline && !transport.stopping()) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, sliceMs(deadline)) > 0) {
                socklen_t size = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
                break;
            }
        }
    }
    if (error != 0) {
        ::close(fd);
        return {-1, transport.stopping() ? Failure::Stopped : failureOf(error), error};
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one); // commands are a few bytes each
    attempt.socket = fd;
    return attempt;
}

Attempt connectToHost(const PortSetting& setting, const Transport& transport)
{
    const auto deadline = Clock::now() + kConnectTimeout;
    const std::shared_ptr<Lookup> lookup = lookUp(setting);
    std::unique_lock<std::mutex> guard(lookup->lock);
    while (!lookup->finished && Clock::now() < deadline && !transport.stopping())
        lookup->done.wait_for(guard, milliseconds(sliceMs(deadline)));
    if (!lookup->finished)
        return {-1, transport.stopping() ? Failure::Stopped : Failure::TimedOut, 0};
    if (lookup->code != 0)
        return {-1, lookup->code == EAI_SYSTEM ? failureOf(lookup->error) : Failure::NotFound, lookup->error};
    Attempt attempt;
    // Each address the name has (IPv6 and IPv4) in turn, within the one time limit.
    for (const addrinfo* a = lookup->result; a && attempt.socket < 0; a = a->ai_next) {
        attempt = connectTo(*a, transport, deadline);
        if (attempt.failure == Failure::Stopped)
            break;
    }
    return attempt;
}

QString failureText(const Attempt& attempt)
{
    switch (attempt.failure) {
    case Failure::Refused:
        return QStringLiteral("the connection was refused: nothing listens on that port (check the port "
                              "number and that the unit's network interface is switched on).");
    case Failure::Unreachable:
        return QStringLiteral("the host is unreachable (check the address, the cable and the network).");
    case Failure::TimedOut:
        return QStringLiteral("no answer within %1 seconds (check that the unit is on, on this network and "
                              "at this address).")
            .arg(kConnectTimeout.count() / 1000);
    case Failure::NotFound:
        return QStringLiteral("the host name was not found (check its spelling, or use the unit's IP "
                              "address).");
    case Failure::Stopped:
        return QStringLiteral("the link was closed while connecting.");
    case Failure::Other:
        break;
    }
    return QString::fromLocal8Bit(std::strerror(attempt.error)) + QLatin1Char('.');
}

} // namespace

TcpTransport::TcpTransport(const std::atomic<bool>& stop) : Transport(stop) {}

TcpTransport::~TcpTransport()
{
    close();
}

bool TcpTransport::open(const PortSetting& setting, QString* error)
{
    close();
    const Attempt attempt = connectToHost(setting, *this);
    if (attempt.socket < 0) {
        if (error)
            *error = QStringLiteral("Cannot connect to %1: %2").arg(NetworkAddressText(setting), failureText(attempt));
        return false;
    }
    m_socket = attempt.socket;
    m_failed = false;
    m_closedByUnit = false;
    m_heard = false;
    return true;
}

void TcpTransport::close()
{
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
}

bool TcpTransport::failed() const
{
    return m_failed || m_socket < 0;
}

bool TcpTransport::write(const std::string& bytes)
{
    const auto deadline = Clock::now() + kWriteTimeout;
    size_t sent = 0;
    while (!failed() && sent < bytes.size() && !stopping() && Clock::now() < deadline) {
        const ssize_t n = ::send(m_socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n >= 0) {
            sent += static_cast<size_t>(n);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            pollfd p{m_socket, POLLOUT, 0};
            ::poll(&p, 1, sliceMs(deadline));
        } else if (errno != EINTR) {
            m_failed = true; // reset or closed by the unit
            m_closedByUnit = errno == EPIPE || errno == ECONNRESET;
        }
    }
    return sent == bytes.size();
}

std::string TcpTransport::receiveWaiting()
{
    std::string data;
    char buffer[512];
    while (!failed()) {
        const ssize_t n = ::recv(m_socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            data.append(buffer, static_cast<size_t>(n));
            m_heard = true;
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            m_failed = true; // the unit closed the connection, or it broke
            m_closedByUnit = n == 0 || errno == ECONNRESET;
        } else if (errno != EINTR) {
            break;
        }
    }
    return data;
}

std::string TcpTransport::readSome(milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!failed()) {
        pollfd p{m_socket, POLLIN, 0};
        if (::poll(&p, 1, sliceMs(deadline)) > 0) {
            std::string data = receiveWaiting();
            if (!data.empty())
                return data;
        }
        if (Clock::now() >= deadline || stopping())
            break;
    }
    return {};
}

void TcpTransport::drain()
{
    receiveWaiting();
}

} // namespace pslink
