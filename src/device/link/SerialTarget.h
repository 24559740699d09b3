#pragma once

#include "device/link/Dialect.h"

#include <QString>

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

/// For the port list's tooltip, e.g. "Serial port /dev/ttyUSB0 (plain text, 9600 baud)", with
/// `adapter` (what is known of it, see DescribeAdapter) on a second line when not empty.
QString DescribeSerialTarget(const QString& target, const QString& adapter = QString());

} // namespace pslink
