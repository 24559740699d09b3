#include "device/link/TransportFor.h"

#include "device/link/SerialTransport.h"
#include "device/link/TcpTransport.h"
#include "device/link/UsbTmcTransport.h"

namespace pslink {

std::unique_ptr<Transport> transportFor(const PortSetting& setting, const std::atomic<bool>& stop)
{
    if (setting.onNetwork())
        return std::make_unique<TcpTransport>(stop);
    if (setting.usbtmc)
        return std::make_unique<UsbTmcTransport>(stop);
    return std::make_unique<SerialTransport>(stop);
}

} // namespace pslink
