#pragma once

#include "device/link/SerialPorts.h"

#include <QString>

#include <optional>
#include <vector>

namespace pslink {

/// What tells a USB serial adapter from any other across unplugging it: its /dev/ttyUSB* number
/// may change when it comes back, these do not.
struct StablePortName
{
    QString byIdName;     ///< the name of its link under SerialByIdDir(), e.g. "usb-FTDI_..._A1-if00-port0"
    QString serialNumber; ///< the adapter's USB serial number
    std::optional<unsigned> vendorId;
    std::optional<unsigned> productId;

    /// Nothing stable is known: the port is found again by its path alone.
    bool empty() const { return byIdName.isEmpty() && serialNumber.isEmpty(); }
    bool operator==(const StablePortName&) const = default;
};

/// The folder of the system's stable links to serial ports: TARNWELL_SERIAL_BY_ID when set (for
/// tests), else /dev/serial/by-id.
QString SerialByIdDir();

/// What is stable about the port at `path`, learned when it is opened: the by-id link that
/// resolves to it, and the serial number the system reports for it among `ports`.
StablePortName StableNameOf(const QString& path, const std::vector<SerialPortEntry>& ports);

/// The paths to try, in order, when reopening what was opened as `path` with `name` learned
/// then. A path that is itself a link is reopened by that link (resolved afresh by the open).
/// Otherwise a by-id link found again wins; next a port with the same serial number (and USB
/// ids) among `ports`; the old path only when nothing stable is known, because once an adapter
/// is known by name, another device on its old number is not it.
std::vector<QString> ReopenPaths(const QString& path, const StablePortName& name,
                                 const std::vector<SerialPortEntry>& ports);

} // namespace pslink
