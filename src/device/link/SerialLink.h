#pragma once

#include "device/link/Link.h"
#include "device/link/SerialTarget.h"

#include <QString>

#include <memory>

namespace pslink {

/// Opens a serial supply and starts its link thread, which polls the readings and sends queued
/// changes, confirming each by reading it back, so that no call on the link waits for the wire.
/// `target` as for ParseSerialTarget. nullptr when the port cannot be opened, with `error` (when
/// given) set to a sentence for the user saying why and what to do.
std::unique_ptr<Link> OpenSerialLink(const QString& target, QString* error = nullptr);

} // namespace pslink
