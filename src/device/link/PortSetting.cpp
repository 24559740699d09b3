#include "device/link/PortSetting.h"

#include "device/pslink.h"

#include "device/link/Dialects.h"
#include "device/link/SerialPorts.h"
#include "device/link/SimLink.h"

#include <algorithm>

namespace pslink {

namespace {

constexpr long long kLowestBaud = 50;
constexpr long long kHighestBaud = 4000000;

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
    // A driver without a wire is named alone: there is nothing more to say about it.
    if (const DialectInfo* alone = FindDialect(rest.toStdString()); alone && !alone->onWire()) {
        out.dialect = alone;
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

PortSetting PortSettingFor(int port)
{
    if (port < 0 || port >= kPortCount)
        return {};
    PortSetting setting;
    const QByteArray mapped = qgetenv(QByteArray("TARNWELL_COM") + QByteArray::number(port + 1)).trimmed();
    if (!mapped.isEmpty()) {
        setting = ReadPortSetting(QString::fromLocal8Bit(mapped));
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

QString DescribePortSetting(const PortSetting& setting)
{
    if (!setting.unusable.isEmpty())
        return QStringLiteral("Unusable serial port setting %1").arg(setting.unusable);
    if (setting.dialect && !setting.dialect->onWire())
        return QString::fromLatin1(setting.dialect->description);
    if (setting.path.isEmpty())
        return QStringLiteral("No serial port");
    const QString dialect = setting.dialect ? QString::fromLatin1(setting.dialect->description)
                                            : QStringLiteral("dialect detected on connect");
    // One pass: a second arg() would take a "%1" in the path for a place of its own.
    QString text = QStringLiteral("Serial port %1 (%2, %3 baud)")
                       .arg(setting.path, dialect, QString::number(setting.baud));
    if (const auto entry = FindSerialPort(setting.path)) {
        const QString adapter = DescribeAdapter(*entry);
        if (!adapter.isEmpty())
            text += QLatin1Char('\n') + adapter;
    }
    return text;
}

} // namespace pslink
