#pragma once

#include <string_view>

namespace pslink {

/// `text` without the blanks, tabs and carriage returns around it: how the link's readers take a
/// field, a line or a reply.
inline std::string_view trimmedBlanks(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

} // namespace pslink
