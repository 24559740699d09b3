#pragma once

#include "device/link/LinkTypes.h"

#include <QString>

#include <array>
#include <vector>

namespace pslink {

/// The port mappings of a ports.conf file: `COM3=tcp://192.168.1.50`, one a line, blank lines
/// and `#` comments allowed. A line that cannot be used is left out and said in `issues`.
struct PortsConf
{
    /// What each COMn is mapped to; empty for a port the file does not map.
    std::array<QString, kPortCount> settings;
    /// "FILE, line N: what is wrong; the line is ignored."
    std::vector<QString> issues;
};

/// Reads the text of a ports.conf; `name` names the file in the issues.
PortsConf ParsePortsConf(const QString& text, const QString& name);

/// $XDG_CONFIG_HOME/tarnwell/ports.conf, ~/.config/tarnwell/ports.conf when that is unset.
QString PortsConfPath();

/// The file at PortsConfPath(), read now; nothing mapped when there is none.
PortsConf ReadPortsConf();

} // namespace pslink
