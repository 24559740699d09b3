#include "device/link/SerialPorts.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace pslink {

namespace {

bool isUsbAdapter(const SerialPortEntry& port)
{
    return port.path.startsWith(QLatin1String("/dev/ttyUSB")) || port.path.startsWith(QLatin1String("/dev/ttyACM"))
           || port.vendorId.has_value();
}

QString withoutLeadingZeros(QString digits)
{
    while (digits.size() > 1 && digits.front() == QLatin1Char('0'))
        digits.remove(0, 1);
    return digits;
}

// Paths compared with their digit runs as numbers: ttyUSB2 < ttyUSB10.
bool naturalLess(const QString& a, const QString& b)
{
    int i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            int ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            // Leading zeros aside, the longer run is the larger number.
            const QString na = withoutLeadingZeros(a.mid(i, ei - i));
            const QString nb = withoutLeadingZeros(b.mid(j, ej - j));
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

} // namespace

void OrderSerialPorts(std::vector<SerialPortEntry>& ports)
{
    std::stable_sort(ports.begin(), ports.end(), [](const SerialPortEntry& a, const SerialPortEntry& b) {
        const bool usbA = isUsbAdapter(a);
        const bool usbB = isUsbAdapter(b);
        if (usbA != usbB)
            return usbA;
        return naturalLess(a.path, b.path);
    });
}

std::vector<SerialPortEntry> SystemSerialPorts()
{
    std::vector<SerialPortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialPortEntry entry;
        entry.path = info.systemLocation();
        entry.description = info.description().trimmed();
        entry.manufacturer = info.manufacturer().trimmed();
        entry.serialNumber = info.serialNumber().trimmed();
        if (info.hasVendorIdentifier())
            entry.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            entry.productId = info.productIdentifier();
        ports.push_back(std::move(entry));
    }
    OrderSerialPorts(ports);
    return ports;
}

std::optional<SerialPortEntry> FindSerialPort(const QString& path)
{
    // Asking the system for its ports takes milliseconds; a path that is not there is none of them.
    if (!path.startsWith(QLatin1Char('/')) || !QFileInfo::exists(path))
        return std::nullopt;
    for (SerialPortEntry& port : SystemSerialPorts())
        if (port.path == path)
            return std::move(port);
    return std::nullopt;
}

QString DescribeAdapter(const SerialPortEntry& port)
{
    QStringList parts;
    if (!port.description.isEmpty())
        parts << port.description;
    if (!port.manufacturer.isEmpty() && port.manufacturer != port.description)
        parts << port.manufacturer;
    if (port.vendorId && port.productId)
        parts << QStringLiteral("USB %1:%2")
                     .arg(*port.vendorId, 4, 16, QLatin1Char('0'))
                     .arg(*port.productId, 4, 16, QLatin1Char('0'));
    return parts.join(QStringLiteral(", "));
}

OpenFailure DiagnoseOpenFailure(const QString& path, bool refused, bool notFound)
{
    const QByteArray local = path.toLocal8Bit();
    // The effective ids, as open() itself uses them.
    if (::faccessat(AT_FDCWD, local.constData(), F_OK, AT_EACCESS) != 0)
        return errno == EACCES ? OpenFailure::Permission : OpenFailure::Missing;
    if (notFound)
        return OpenFailure::Missing; // a device node without its device
    if (::faccessat(AT_FDCWD, local.constData(), R_OK | W_OK, AT_EACCESS) != 0)
        return errno == EACCES ? OpenFailure::Permission : OpenFailure::Other;
    // Allowed, yet refused: a lock or an exclusive open by someone else.
    return refused ? OpenFailure::Busy : OpenFailure::Other;
}

QString OpenFailureMessage(const QString& path, OpenFailure why, const QString& detail)
{
    switch (why) {
    case OpenFailure::Permission:
        return QStringLiteral("Cannot open %1: permission denied. To use serial ports, add your user to the dialout "
                              "group, then log in again.")
            .arg(path);
    case OpenFailure::Busy:
        return QStringLiteral("Cannot open %1: the port is busy. Another program holds it; close that program, "
                              "then connect again.")
            .arg(path);
    case OpenFailure::Missing:
        return QStringLiteral("Cannot open %1: no such device. Check that the supply's cable is plugged in, then "
                              "connect again.")
            .arg(path);
    case OpenFailure::Other:
        break;
    }
    return detail.isEmpty() ? QStringLiteral("Cannot open %1.").arg(path)
                            : QStringLiteral("Cannot open %1: %2.").arg(path, detail);
}

} // namespace pslink
