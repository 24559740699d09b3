#pragma once

// The USB-TMC instruments the kernel's driver has bound, as sysfs lists them: the node's number
// changes with plugging, the instrument's USB serial number does not.

#include <QString>

#include <optional>
#include <vector>

namespace pslink {

struct UsbTmcNode
{
    QString path;   ///< "/dev/usbtmc0"
    QString serial; ///< the instrument's USB serial number; empty when it has none
    QString product; ///< what the instrument calls itself on the bus; may be empty
};

/// The folder sysfs lists the driver's nodes in: TARNWELL_USBTMC_SYSFS when set (for tests), else
/// /sys/class/usbmisc.
QString UsbTmcSysfsDir();
/// The folder the nodes are in: TARNWELL_USBTMC_DEV when set (for tests), else /dev.
QString UsbTmcDevDir();

/// The nodes the driver has now, in name order.
std::vector<UsbTmcNode> SystemUsbTmcNodes();

/// The node of the instrument with USB serial number `serial` (any case), or nullopt.
std::optional<UsbTmcNode> FindUsbTmcNode(const QString& serial);

} // namespace pslink
