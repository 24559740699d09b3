#include "device/link/Identity.h"

#include <algorithm>

namespace pslink {

std::string cleanIdentity(const std::string& reply)
{
    auto printable = [](char c) { return static_cast<unsigned char>(c) > ' ' && static_cast<unsigned char>(c) < 0x7F; };
    const auto first = std::find_if(reply.begin(), reply.end(), printable);
    if (first == reply.end())
        return {};
    const auto last = std::find_if(reply.rbegin(), reply.rend(), printable).base();
    std::string out(first, last);
    // Inner control bytes would corrupt the version buffer's text; blanks are fine.
    std::replace_if(out.begin(), out.end(),
                    [](char c) { return static_cast<unsigned char>(c) < ' ' || static_cast<unsigned char>(c) >= 0x7F; }, ' ');
    return out;
}

} // namespace pslink
