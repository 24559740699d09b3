#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace pslink {

/// A serial port of the system as the port list shows it.
struct SerialPortEntry
{
    QString path;         ///< "/dev/ttyUSB0"
    QString description;  ///< the adapter's own name, e.g. "FT232R USB UART"
    QString manufacturer; ///< e.g. "FTDI"
    std::optional<unsigned> vendorId;
    std::optional<unsigned> productId;
    QString serialNumber = {}; ///< the adapter's USB serial number, when it has one
};

/// Orders ports for COM1, COM2, ...: USB serial adapters first (ttyUSB*, ttyACM* or any port
/// with a USB id), then the others; within each, by path with numbers compared as numbers
/// (ttyUSB2 before ttyUSB10). So on a machine with a built-in UART and one supply, COM1 is the
/// supply's adapter.
void OrderSerialPorts(std::vector<SerialPortEntry>& ports);

/// The system's serial ports in that order.
std::vector<SerialPortEntry> SystemSerialPorts();

/// The system's port at `path`, when there is one.
std::optional<SerialPortEntry> FindSerialPort(const QString& path);

/// "FT232R USB UART, FTDI, USB 0403:6001" (what is known of it); empty when nothing is.
QString DescribeAdapter(const SerialPortEntry& port);

/// Why a port could not be opened, as far as the user can do something about it.
enum class OpenFailure
{
    Permission, ///< the user may not use the port
    Busy,       ///< another program holds it
    Missing,    ///< no such device
    Other,
};

/// Tells the causes apart for a port whose open failed. `refused` is true when the serial port
/// library reported a permission error, which it also does for a port that another program holds.
OpenFailure DiagnoseOpenFailure(const QString& path, bool refused, bool notFound);

/// The whole sentence for a message box: what failed, why, and the remedy. `detail` is the
/// system's own text, used when the cause is none of the known ones.
QString OpenFailureMessage(const QString& path, OpenFailure why, const QString& detail);

} // namespace pslink
