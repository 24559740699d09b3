#pragma once

// What one port reaches, as a value, and how a port's setting is read, found and described.

#include "device/link/LinkTypes.h"

#include <QString>

#include <optional>

namespace pslink {

struct DialectInfo;

/// The TCP port SCPI units listen on unless told otherwise.
inline constexpr int kScpiTcpPort = 5025;

/// What one port reaches, as a value: a driver of the registry (a wire dialect, or a driver
/// that needs no wire such as the built-in simulator) and, for a wire, where and how fast.
/// A default-constructed setting reaches nothing.

struct PortSetting
{
    /// The driver; nullptr: a wire dialect detected on connect (or nothing, without a path).
    const DialectInfo* dialect = nullptr;
    /// The serial port; empty for a driver without a wire and for a setting that reaches nothing.
    QString path;
    int baud = 9600;
    /// For the built-in simulator: which simulated supply (0..kPortCount-1; COMn has its own,
    /// which keeps its state across reconnects).
    int simulator = 0;
    /// The text of a setting that could not be read (a TARNWELL_COM<n> with a typo): it opens
    /// nothing and says so in its description. Empty for every usable setting.
    QString unusable;
    /// The baud rate was written: only it is used (a Modbus module is otherwise tried at 115200,
    /// then 9600).
    bool baudGiven = false;
    /// A Modbus unit's address on its bus, 1..247 ("#ADDRESS"; 1 when not written).
    int address = 1;
    /// A unit on the network ("tcp://HOST[:PORT]"): its host name or address, empty for a serial
    /// port, and its TCP port.
    QString host;
    int tcpPort = kScpiTcpPort;
    /// A unit through the kernel's USB-TMC driver ("usbtmc:/dev/usbtmc0", or "usbtmc:SERIAL" found by
    /// its USB serial number): `path` holds the node or the serial number.
    bool usbtmc = false;
    /// The channel of a unit with several ("#chN", 1..kMaxChannel); 0 when not written: the first.
    int channel = 0;

    /// Neither a driver nor a path nor unreadable text: nothing is behind this port.
    bool reachesNothing() const { return !dialect && path.isEmpty() && host.isEmpty() && unusable.isEmpty(); }
    bool onNetwork() const { return !host.isEmpty(); }
    bool onSerialPort() const { return !path.isEmpty() && !onNetwork() && !usbtmc; }
    bool operator==(const PortSetting&) const = default;
};

/// Reads a port setting as a user writes it: "sim", "/dev/ttyUSB0", "text:/dev/ttyUSB0",
/// "scpi:/dev/ttyACM0@115200" (any registered name as the prefix; "sim" stands alone),
/// "tcp://HOST[:PORT]", "usbtmc:/dev/usbtmc0" or "usbtmc:SERIAL", each but "sim" with an optional
/// "#chN" at the end for channel N of a unit with several. The baud rate defaults to 9600. nullopt when the text names no port, an impossible baud rate or a
/// port for the simulator, with `error` (when given) set to a sentence for the user.
std::optional<PortSetting> ParsePortSetting(const QString& text, QString* error = nullptr);

/// As ParsePortSetting, but text that cannot be read is kept as an unusable setting; blank text
/// reaches nothing.
PortSetting ReadPortSetting(const QString& text);

/// "host:port", an IPv6 address in brackets: how texts name a unit on the network.
QString NetworkAddressText(const PortSetting& setting);

/// Where the unit of `setting` is, as messages name it: the serial port's path, the network
/// address, the USB-TMC node or serial number.
QString PlaceText(const PortSetting& setting);

/// What COMn (`port` 0..6) reaches: TARNWELL_COM<n> when set (a setting that cannot be read is
/// kept as unusable), else its line in ports.conf (see PortsConfIssues), else the simulated
/// supply of that port when SimulateAll(), else the system's n-th serial port (USB adapters
/// first), else nothing (PortSetting::reachesNothing()).
PortSetting PortSettingFor(int port);

/// For the port list's tooltips: "Simulated supply (built in)", "Serial port /dev/ttyUSB0
/// (plain text, 9600 baud)" with what the system knows of the adapter on a second line, "No
/// serial port" or "Unusable serial port setting ...".
QString DescribePortSetting(const PortSetting& setting);

/// With `on`, every port without its own TARNWELL_COM<n> setting reaches the simulated supply.
void SetSimulateAll(bool on);
bool SimulateAll();

} // namespace pslink
