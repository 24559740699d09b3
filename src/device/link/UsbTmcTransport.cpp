#include "device/link/UsbTmcTransport.h"

#include "device/link/PortSetting.h"
#include "device/link/SerialPorts.h"
#include "device/link/UsbTmcNodes.h"

#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/usb/tmc.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace pslink {

namespace {

using std::chrono::milliseconds;

// The driver refuses shorter timeouts.
constexpr milliseconds kShortestTimeout{100};
constexpr size_t kReplyBuffer = 4096;

QString missingSerialMessage(const QString& serial)
{
    QStringList found;
    for (const UsbTmcNode& node : SystemUsbTmcNodes())
        found << (node.serial.isEmpty() ? node.path : QStringLiteral("%1 on %2").arg(node.serial, node.path));
    const QString present = found.isEmpty() ? QStringLiteral("no USB-TMC unit is plugged in")
                                            : QStringLiteral("it is not plugged in (plugged in: %1)")
                                                  .arg(found.join(QStringLiteral(", ")));
    return QStringLiteral("Cannot open the USB-TMC unit with serial number %1: %2. Check its USB cable, then "
                          "connect again.")
        .arg(serial, present);
}

QString openMessage(const QString& path, int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return QStringLiteral("Cannot open %1: permission denied. The package's udev rules give the desktop user "
                              "access to USB-TMC units; unplug the unit and plug it in again after installing them.")
            .arg(path);
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return OpenFailureMessage(path, OpenFailure::Missing, {});
    case EBUSY:
        return OpenFailureMessage(path, OpenFailure::Busy, {});
    default:
        break;
    }
    return OpenFailureMessage(path, OpenFailure::Other, QString::fromLocal8Bit(::strerror(error)));
}

bool gone(int error)
{
    return error == ENODEV || error == EIO || error == EPIPE || error == ENXIO || error == EBADF;
}

} // namespace

UsbTmcTransport::UsbTmcTransport(const std::atomic<bool>& stop) : Transport(stop) {}

UsbTmcTransport::~UsbTmcTransport()
{
    close();
}

bool UsbTmcTransport::open(const PortSetting& setting, QString* error)
{
    close();
    QString path = setting.path;
    if (!path.startsWith(QLatin1Char('/'))) {
        const auto node = FindUsbTmcNode(setting.path);
        if (!node) {
            if (error)
                *error = missingSerialMessage(setting.path);
            return false;
        }
        path = node->path;
    }
    m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0) {
        if (error)
            *error = openMessage(path, errno);
        return false;
    }
    unsigned timeout = 0;
    m_driver = ::ioctl(m_fd, USBTMC_IOCTL_GET_TIMEOUT, &timeout) == 0;
    m_timeout = milliseconds(m_driver ? timeout : 0);
    m_failed = false;
    m_asked = false;
    if (!m_driver && ::isatty(m_fd)) {
        // A terminal standing in for an instrument: no line discipline between us and it.
        termios tio{};
        if (::tcgetattr(m_fd, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    return true;
}

void UsbTmcTransport::close()
{
    if (m_fd < 0)
        return;
    if (m_driver)
        ::ioctl(m_fd, USBTMC488_IOCTL_GOTO_LOCAL); // the front panel is the user's again
    ::close(m_fd);
    m_fd = -1;
    m_driver = false;
}

bool UsbTmcTransport::write(const std::string& bytes)
{
    if (failed())
        return false;
    // One write is one message to the driver; a stand-in takes it in as many pieces as it likes.
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_failed = n < 0 && gone(errno);
            return false;
        }
        done += static_cast<size_t>(n);
        if (m_driver)
            break;
    }
    m_asked = true;
    return done == bytes.size();
}

std::string UsbTmcTransport::readSome(milliseconds timeout)
{
    if (failed())
        return {};
    return m_driver ? readDriver(timeout) : readStream(timeout);
}

std::string UsbTmcTransport::readDriver(milliseconds timeout)
{
    // A reply only comes to a message: without one a read would wait out its timeout for nothing.
    if (!m_asked || stopping())
        return {};
    const milliseconds wanted = std::max(timeout, kShortestTimeout);
    if (wanted != m_timeout) {
        unsigned value = static_cast<unsigned>(wanted.count());
        if (::ioctl(m_fd, USBTMC_IOCTL_SET_TIMEOUT, &value) == 0)
            m_timeout = wanted;
    }
    char buffer[kReplyBuffer];
    ssize_t n;
    do {
        n = ::read(m_fd, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    m_asked = false;
    if (n > 0)
        return std::string(buffer, static_cast<size_t>(n));
    if (n < 0 && gone(errno)) {
        m_failed = true;
    } else {
        // Timed out: the driver's clear puts the instrument's input and output back to nothing
        // pending, so the next message starts afresh.
        ::ioctl(m_fd, USBTMC_IOCTL_CLEAR);
    }
    return {};
}

std::string UsbTmcTransport::readStream(milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{m_fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(std::clamp(left, milliseconds(0), kSlice).count()));
        if (polled > 0 && (ready.revents & POLLIN)) {
            char buffer[kReplyBuffer];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0)
                return std::string(buffer, static_cast<size_t>(n));
            m_failed = n == 0 || gone(errno);
            return {};
        }
        if (polled > 0 && (ready.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            m_failed = true;
            return {};
        }
        if (left.count() <= 0 || stopping())
            return {};
    }
}

void UsbTmcTransport::drain()
{
    // The driver keeps nothing that no read asked for; a stand-in may.
    while (!m_driver && !failed()) {
        pollfd ready{m_fd, POLLIN, 0};
        char buffer[kReplyBuffer];
        if (::poll(&ready, 1, 0) <= 0 || !(ready.revents & POLLIN) || ::read(m_fd, buffer, sizeof buffer) <= 0)
            return;
    }
}

} // namespace pslink
