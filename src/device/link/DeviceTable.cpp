#include "device/link/DeviceTable.h"

#include "device/link/Dialects.h"

#include <array>

namespace pslink {

namespace {

std::array<Device, kDevices> g_devices;

} // namespace

Device* deviceAt(int device)
{
    return device >= 0 && device < kDevices ? &g_devices[static_cast<size_t>(device)] : nullptr;
}

std::shared_ptr<Link> takeLink(Device& d)
{
    std::lock_guard<std::mutex> guard(d.lock);
    return std::move(d.link);
}

std::shared_ptr<Link> linkFor(int device, const char* call)
{
    Device* d = deviceAt(device);
    if (!d)
        return nullptr;
    std::lock_guard<std::mutex> guard(d->lock);
    if (d->link && call)
        d->link->noteCall(call);
    return d->link;
}

int openOn(Device& d, const PortSetting& opened, const PortSetting& asked, QString* error,
           const StablePortName& stable)
{
    if (const auto previous = takeLink(d))
        previous->close(); // a serial link may take a moment; nobody waits on the device lock

    QString why;
    const std::shared_ptr<Link> link = OpenLink(opened, &why);
    if (link)
        why.clear();
    std::shared_ptr<Link> overtaken;
    bool cancelled = false;
    {
        std::lock_guard<std::mutex> guard(d.lock);
        // Another thread opened the device meanwhile: the later open wins.
        overtaken = std::move(d.link);
        d.link = link;
        d.sim = link ? link->simulatedSupply() : nullptr;
        d.setting = asked;
        d.stable = stable;
        d.openError = why;
        cancelled = d.waitsCancelled;
    }
    if (link && cancelled)
        link->cancelWaits(); // its owner gave up before it was open
    if (overtaken)
        overtaken->close(); // up to a second: never under the lock the UI thread's reads take
    if (error)
        *error = why;
    return link ? 1 : 0;
}

} // namespace pslink
