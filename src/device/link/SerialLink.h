#pragma once

#include "device/link/Link.h"

#include <QString>

#include <memory>

namespace pslink {

/// Opens a serial supply. `target` is a device path, optionally with a dialect and baud rate:
/// "/dev/ttyUSB0", "text:/dev/ttyUSB0", "scpi:/dev/ttyACM0@115200". nullptr when it cannot open.
std::unique_ptr<Link> OpenSerialLink(const QString& target);

} // namespace pslink
