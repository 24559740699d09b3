#pragma once

#include "device/link/Link.h"
#include "device/link/PortSetting.h"

#include <QString>

#include <memory>

namespace pslink {

/// Opens a supply over the transport `setting` chooses and starts its link thread, which polls
/// the readings and sends queued changes, confirming each by reading it back, so that no call
/// on the link waits for the wire. The dialect is the setting's, or found by probing. nullptr
/// when the transport cannot be opened, with `error` (when given) set to a sentence for the
/// user saying why and what to do.
std::unique_ptr<Link> OpenWireLink(const PortSetting& setting, QString* error = nullptr);

} // namespace pslink
