#pragma once

#include "device/link/Dialect.h"
#include "device/link/Link.h"

#include <QString>

#include <memory>
#include <optional>

namespace pslink {

/// A serial port setting as a user writes it: "/dev/ttyUSB0", "text:/dev/ttyUSB0",
/// "scpi:/dev/ttyACM0@115200" (any registered dialect's name as the prefix). The baud rate
/// defaults to 9600.
struct SerialTarget
{
    const DialectInfo* dialect = nullptr; ///< nullptr: found on connect
    QString path;
    int baud = 9600;
};

/// nullopt when `target` names no path or an impossible baud rate.
std::optional<SerialTarget> ParseSerialTarget(const QString& target);

/// For the port list's tooltip, e.g. "Serial port /dev/ttyUSB0 (plain text, 9600 baud)".
QString DescribeSerialTarget(const QString& target);

/// Opens a serial supply and starts its link thread, which polls the readings and sends queued
/// setpoints so that no call on the link waits for the wire. `target` as for ParseSerialTarget.
/// nullptr when the port cannot be opened.
std::unique_ptr<Link> OpenSerialLink(const QString& target);

} // namespace pslink
