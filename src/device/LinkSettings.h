#pragma once

// What the ports reach and what the user's settings files say, apart from the devices' links:
// the port list's tooltips, the problems to tell at start, and probing a port on a link of its own.

#include "device/link/PortSetting.h"

#include <QString>

#include <string>
#include <vector>

namespace pslink {

/// What port index `port` (0..6) reaches, for the port list's tooltips.
QString DescribePort(int port);

/// What is wrong in $XDG_CONFIG_HOME/tarnwell/ports.conf (~/.config without it), one sentence a
/// bad line with its number ("..., line 4: ...; the line is ignored."), for showing at start.
/// Empty when every line is usable or there is no such file.
std::vector<QString> PortsConfIssues();

/// The problems of the user's Modbus model table (modules.csv), one text per bad line naming the
/// file and the line; empty when it has none or there is no such file.
std::vector<QString> ModuleTableIssues();
/// The problems of the user's SCPI model table (scpi-models.csv), as ModuleTableIssues().
std::vector<QString> UnitTableIssues();
/// PortsConfIssues(), ModuleTableIssues() and UnitTableIssues() together: what to tell the user at
/// start.
std::vector<QString> SettingsIssues();

/// What answers behind `setting`, as a probe of the port list finds it.
struct LinkProbe
{
    QString dialect;      ///< the driver's description ("SCPI"); empty when nothing answered
    std::string identity; ///< the identity as the unit sent it; empty when it did not answer
    QString unit;         ///< its family, model and channels where its dialect places it; else empty
    QString error;        ///< why the port could not be opened; empty when it could
};

/// Opens what `setting` reaches on a link of its own (no device index), asks the identity,
/// finds the dialect where the setting names none, and closes it again.
LinkProbe ProbeLink(const PortSetting& setting);

} // namespace pslink
