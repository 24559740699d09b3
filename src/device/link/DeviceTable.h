#pragma once

// The library's devices by index, each with its link, the setting it was last opened with and
// what finds its serial port again: the state behind the functions of device/pslink.h.

#include "device/link/Link.h"
#include "device/link/PortSetting.h"
#include "device/link/SimulatedSupply.h"
#include "device/link/StablePort.h"

#include <QString>

#include <memory>
#include <mutex>
#include <optional>

namespace pslink {

/// Devices the library holds, by index 0..kDevices-1.
inline constexpr int kDevices = 8;

struct Device
{
    // Guards the members. Links are called outside it (each is safe from several threads), so a
    // slow dsoReadVersion on the worker thread never holds up the UI thread's reads.
    std::mutex lock;
    std::shared_ptr<Link> link;
    std::shared_ptr<SimulatedSupply> sim; // kept after CloseCOM so its log stays readable
    std::optional<PortSetting> setting;   // the last one asked for
    StablePortName stable;                // what finds its serial port again
    QString openError;                    // why the last open failed
    bool waitsCancelled = false;          // CancelWaits: every link opened gives up its waits
};

/// The device of index `device`; nullptr outside 0..kDevices-1.
Device* deviceAt(int device);
/// The link of `d`, taken out of it.
std::shared_ptr<Link> takeLink(Device& d);
/// The link of `device`, with the call (when given) noted under the device lock: the log keeps
/// the order of the calls, and a call noted before CloseCOM's never comes after it.
std::shared_ptr<Link> linkFor(int device, const char* call);
/// Opens `opened` on `d`; `asked` is remembered as the setting, the one a reopen starts from.
/// Nonzero when open, `error` (when given) saying why not.
int openOn(Device& d, const PortSetting& opened, const PortSetting& asked, QString* error, const StablePortName& stable);

} // namespace pslink
