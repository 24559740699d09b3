#include "device/link/SerialLink.h"

namespace pslink {

std::unique_ptr<Link> OpenSerialLink(const QString& /*target*/)
{
    // The serial transport is not built yet: a serial port cannot be opened.
    return nullptr;
}

} // namespace pslink
