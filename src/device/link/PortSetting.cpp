#include "device/link/PortSetting.h"

#include "device/link/Dialects.h"
#include "device/link/PortsConf.h"
#include "device/link/SerialPorts.h"
#include "device/link/SimLink.h"

#include <algorithm>
#include <atomic>
#include <string_view>

namespace pslink {

namespace {

constexpr long long kLowestBaud = 50;
constexpr long long kHighestBaud = 4000000;

constexpr int kLowestAddress = 1;
constexpr int kHighestAddress = 247;
const QString kTcpScheme = QStringLiteral("tcp://");
const QString kUsbTmcPrefix = QStringLiteral("usbtmc:");
const QString kChannelMark = QStringLiteral("#ch");

std::atomic<bool> g_simulateAll{false};

bool allDigits(const QString& text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
}

// "host", "host:port", "[v6]" or "[v6]:port" into `out`; false when no host is left or the port
// is impossible.
bool readHostAndPort(const QString& rest, PortSetting& out)
{
    QString host = rest.trimmed();
    QString port;
    if (host.startsWith(QLatin1Char('['))) {
        const int close = host.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        const QString after = host.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(QLatin1Char(':')))
            return false;
        port = after.mid(1);
        host = host.mid(1, close - 1);
        if (!after.isEmpty() && port.isEmpty())
            return false;
    } else if (const int colon = host.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        if (host.indexOf(QLatin1Char(':')) != colon)
            return false; // an IPv6 address goes in brackets
        port = host.mid(colon + 1);
        host = host.left(colon);
        if (port.isEmpty())
            return false;
    }
    if (!port.isEmpty()) {
        bool ok = false;
        const int number = port.toInt(&ok);
        if (!allDigits(port) || !ok || number < 1 || number > 65535)
            return false;
        out.tcpPort = number;
    }
    out.host = host;
    return !host.isEmpty() && !host.contains(QLatin1Char('/'));
}

// A trailing "#address" into `out.address`; false when it is no bus address.
bool readAddress(QString& rest, PortSetting& out)
{
    const int hash = rest.lastIndexOf(QLatin1Char('#'));
    if (hash < 0)
        return true;
    const QString digits = rest.mid(hash + 1);
    bool ok = false;
    const int address = digits.toInt(&ok);
    if (!allDigits(digits) || !ok || address < kLowestAddress || address > kHighestAddress)
        return false;
    out.address = address;
    rest = rest.left(hash);
    return true;
}

// A trailing "#chN" into `out.channel`; false when N is no channel.
bool readChannel(QString& rest, PortSetting& out)
{
    const int mark = rest.lastIndexOf(kChannelMark, -1, Qt::CaseInsensitive);
    if (mark < 0)
        return true;
    const QString digits = rest.mid(mark + kChannelMark.size());
    bool ok = false;
    const int channel = digits.toInt(&ok);
    if (!allDigits(digits) || !ok || channel < 1 || channel > kMaxChannel)
        return false;
    out.channel = channel;
    rest = rest.left(mark).trimmed();
    return true;
}

// "path" or "path@baud" into `out`; false when no path is left or the rate is impossible.
bool readPathAndBaud(QString rest, PortSetting& out)
{
    const int at = rest.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString digits = rest.mid(at + 1);
        const bool allDigits = !digits.isEmpty() &&
                               std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); });
        bool ok = false;
        const long long baud = digits.toLongLong(&ok);
        if (!allDigits || !ok || baud < kLowestBaud || baud > kHighestBaud)
            return false;
        out.baud = static_cast<int>(baud);
        out.baudGiven = true;
        rest = rest.left(at);
    }
    out.path = rest.trimmed();
    return !out.path.isEmpty();
}

std::optional<PortSetting> refuse(QString* error, QString why)
{
    if (error)
        *error = std::move(why);
    return std::nullopt;
}

QString unusableMessage(const QString& text)
{
    return QStringLiteral(
               "Cannot use the serial port setting \"%1\": it names no port, or an impossible baud rate.")
        .arg(text);
}

} // namespace

std::optional<PortSetting> ParsePortSetting(const QString& text, QString* error)
{
    PortSetting out;
    QString rest = text.trimmed();
    if (!readChannel(rest, out))
        return refuse(error, QStringLiteral("Cannot use the port setting \"%1\": a channel is a number from 1 to %2 "
                                            "(...#ch2).")
                                 .arg(text)
                                 .arg(kMaxChannel));
    // A driver without a wire is named alone: there is nothing more to say about it.
    if (const DialectInfo* alone = FindDialect(rest.toStdString()); alone && !alone->onWire()) {
        if (out.channel > 1)
            return refuse(error, QStringLiteral("Cannot use the port setting \"%1\": \"%2\" has one channel.")
                                     .arg(text, QString::fromLatin1(alone->name)));
        out.dialect = alone;
        return out;
    }
    if (rest.startsWith(kUsbTmcPrefix, Qt::CaseInsensitive)) {
        // What a USB-TMC instrument speaks; the node, or the serial number it is found by.
        out.dialect = FindDialect("scpi");
        out.usbtmc = true;
        out.path = rest.mid(kUsbTmcPrefix.size()).trimmed();
        if (out.path.isEmpty() || out.path.contains(QLatin1Char('@')))
            return refuse(error, QStringLiteral("Cannot use the port setting \"%1\": it names no USB-TMC node or "
                                                "serial number (usbtmc:/dev/usbtmc0, usbtmc:SERIAL).")
                                     .arg(text));
        return out;
    }
    const int colon = rest.indexOf(QLatin1Char(':'));
    if (colon > 0) {
        if (const DialectInfo* named = FindDialect(rest.left(colon).toStdString())) {
            if (!named->onWire())
                return refuse(error,
                              QStringLiteral("Cannot use the port setting \"%1\": \"%2\" takes no port and "
                                             "no baud rate.")
                                  .arg(text, QString::fromLatin1(named->name)));
            out.dialect = named;
            rest = rest.mid(colon + 1);
        }
    }
    if (rest.startsWith(kTcpScheme, Qt::CaseInsensitive)) {
        // SCPI is what units on a raw socket speak.
        if (!out.dialect)
            out.dialect = FindDialect("scpi");
        if (!readHostAndPort(rest.mid(kTcpScheme.size()), out))
            return refuse(error, QStringLiteral("Cannot use the network setting \"%1\": it names no host, or an "
                                                "impossible port (tcp://HOST[:PORT], [::1]:5025 for IPv6).")
                                     .arg(text));
        return out;
    }
    const bool bModbus = out.dialect && std::string_view(out.dialect->name) == "modbus";
    if (bModbus && !readAddress(rest, out))
        return refuse(error, QStringLiteral("Cannot use the port setting \"%1\": a module's address is a number "
                                            "from 1 to 247 (modbus:PATH[@BAUD][#ADDRESS]).")
                                 .arg(text));
    if (!readPathAndBaud(rest, out))
        return refuse(error, unusableMessage(text));
    return out;
}

PortSetting ReadPortSetting(const QString& text)
{
    if (text.trimmed().isEmpty())
        return {}; // nothing written: nothing reached
    if (auto setting = ParsePortSetting(text))
        return *setting;
    PortSetting unusable;
    unusable.unusable = text;
    return unusable;
}

void SetSimulateAll(bool on)
{
    g_simulateAll.store(on);
}

bool SimulateAll()
{
    return g_simulateAll.load();
}

PortSetting PortSettingFor(int port)
{
    if (port < 0 || port >= kPortCount)
        return {};
    PortSetting setting;
    const QByteArray mapped = qgetenv(QByteArray("TARNWELL_COM") + QByteArray::number(port + 1)).trimmed();
    const QString configured = mapped.isEmpty() ? ReadPortsConf().settings[static_cast<size_t>(port)] : QString();
    if (!mapped.isEmpty()) {
        setting = ReadPortSetting(QString::fromLocal8Bit(mapped));
    } else if (!configured.isEmpty()) {
        setting = ReadPortSetting(configured); // a port's own mapping, as TARNWELL_COM<n> is
    } else if (SimulateAll()) {
        setting.dialect = &kSimulator;
    } else {
        const std::vector<SerialPortEntry> ports = SystemSerialPorts();
        if (static_cast<size_t>(port) < ports.size())
            setting.path = ports[static_cast<size_t>(port)].path;
    }
    if (setting.dialect && !setting.dialect->onWire())
        setting.simulator = port; // each COMn has its own simulated supply
    return setting;
}

QString NetworkAddressText(const PortSetting& setting)
{
    const QString host = setting.host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(setting.host)
                                                                  : setting.host;
    return QStringLiteral("%1:%2").arg(host, QString::number(setting.tcpPort)); // one pass: a "%1" in the host stays
}

QString PlaceText(const PortSetting& setting)
{
    return setting.onNetwork() ? NetworkAddressText(setting) : setting.path;
}

QString DescribePortSetting(const PortSetting& setting)
{
    if (!setting.unusable.isEmpty())
        return QStringLiteral("Unusable serial port setting %1").arg(setting.unusable);
    if (setting.dialect && !setting.dialect->onWire())
        return QString::fromLatin1(setting.dialect->description);
    const QString channel = setting.channel > 0 ? QStringLiteral(", channel %1").arg(setting.channel) : QString();
    const QString dialect = setting.dialect ? QString::fromLatin1(setting.dialect->description)
                                            : QStringLiteral("dialect detected on connect");
    if (setting.onNetwork())
        return QStringLiteral("Network unit %1 (%2%3)").arg(NetworkAddressText(setting), dialect, channel);
    if (setting.usbtmc) {
        const bool node = setting.path.startsWith(QLatin1Char('/'));
        return QStringLiteral("USB-TMC unit %1%2 (%3%4)")
            .arg(node ? QString() : QStringLiteral("with serial number "), setting.path, dialect, channel);
    }
    if (setting.path.isEmpty())
        return QStringLiteral("No serial port");
    // One pass: a second arg() would take a "%1" in the path for a place of its own.
    const bool bModbus = setting.dialect && std::string_view(setting.dialect->name) == "modbus";
    const QString baud = bModbus && !setting.baudGiven ? QStringLiteral("115200 or 9600")
                                                      : QString::number(setting.baud);
    QString text = QStringLiteral("Serial port %1 (%2, %3 baud%4)").arg(setting.path, dialect, baud, channel);
    if (bModbus)
        text += QStringLiteral(", address %1").arg(setting.address);
    if (const auto entry = FindSerialPort(setting.path)) {
        const QString adapter = DescribeAdapter(*entry);
        if (!adapter.isEmpty())
            text += QLatin1Char('\n') + adapter;
    }
    return text;
}

} // namespace pslink
