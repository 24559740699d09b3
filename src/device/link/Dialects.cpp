#include "device/link/Dialects.h"

#include "device/link/Link.h"
#include "device/link/PortSetting.h"
#include "device/link/SimLink.h"
#include "device/link/WireLink.h"
#include "device/link/modbus/ModbusDialect.h"
#include "device/link/scpi/ScpiDialect.h"
#include "device/link/text/TextDialect.h"

#include <algorithm>
#include <cctype>

namespace pslink {

// The one list of drivers. It is written out rather than filled by objects registering
// themselves: the library is a static archive, and the linker leaves out any object nothing
// refers to, so a self-registering dialect could silently be missing from one program but not
// another. The order is also a decision across dialects: plain text goes first because its
// unterminated identity request is harmless to the others and a terminated one completes it;
// plain text with LF before SCPI because SCPI units answer the same terminated request and only
// the plain-text probe can tell the two apart. Modbus comes last: its binary requests are
// noise to a text or SCPI unit, which may answer them with an error line that would spoil the
// next probe, while a module ignores the text probes (no frame with a good CRC); it also
// probes at two baud rates, which costs a port reconfiguration nobody else should pay. The
// simulator needs no wire and is never probed.
const std::vector<const DialectInfo*>& Dialects()
{
    static const std::vector<const DialectInfo*> list{
        &text::kDialect,
        &text::kDialectLf,
        &scpi::kDialect,
        &modbus::kDialect,
        &kSimulator,
    };
    return list;
}

const std::vector<const DialectInfo*>& WireDialects()
{
    static const std::vector<const DialectInfo*> list = [] {
        std::vector<const DialectInfo*> wire;
        for (const DialectInfo* d : Dialects())
            if (d->onWire())
                wire.push_back(d);
        return wire;
    }();
    return list;
}

const DialectInfo* FindDialect(std::string_view name)
{
    const auto& list = Dialects();
    const auto found = std::find_if(list.begin(), list.end(), [&](const DialectInfo* d) {
        const std::string_view own = d->name;
        return own.size() == name.size()
               && std::equal(own.begin(), own.end(), name.begin(), [](char a, char b) {
                      return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
                  });
    });
    return found == list.end() ? nullptr : *found;
}

std::unique_ptr<Link> OpenLink(const PortSetting& setting, QString* error)
{
    if (!setting.unusable.isEmpty()) {
        ParsePortSetting(setting.unusable, error); // for the reason it gives
        return nullptr;
    }
    if (setting.dialect && setting.dialect->openLink)
        return setting.dialect->openLink(setting, error);
    if (setting.path.isEmpty() && !setting.onNetwork())
        return nullptr; // nothing behind this port: no reason to give
    return OpenWireLink(setting, error);
}

} // namespace pslink
