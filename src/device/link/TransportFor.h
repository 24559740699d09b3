#pragma once

#include "device/link/PortSetting.h"
#include "device/link/Transport.h"

#include <atomic>
#include <memory>

namespace pslink {

/// The one place that picks the transport: a socket for a unit on the network, the USB-TMC
/// driver's node, else a serial port. `stop` ends its waits.
std::unique_ptr<Transport> transportFor(const PortSetting& setting, const std::atomic<bool>& stop);

} // namespace pslink
