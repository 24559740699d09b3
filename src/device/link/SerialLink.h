#pragma once

#include "device/link/Link.h"
#include "device/link/PortSetting.h"

#include <QString>

#include <memory>

namespace pslink {

/// Opens a serial supply and starts its link thread, which polls the readings and sends queued
/// changes, confirming each by reading it back, so that no call on the link waits for the wire.
/// nullptr when the port cannot be opened, with `error` (when given) set to a sentence for the
/// user saying why and what to do.
std::unique_ptr<Link> OpenWireLink(const PortSetting& setting, QString* error = nullptr);

} // namespace pslink
