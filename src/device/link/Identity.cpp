#include "device/link/Identity.h"

#include "device/link/TextTrim.h"

#include <algorithm>
#include <cctype>

namespace pslink {

namespace {

char lower(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

std::vector<std::string> splitAt(std::string_view text, char separator)
{
    std::vector<std::string> parts;
    for (;;) {
        const size_t at = text.find(separator);
        const std::string_view part = trimmedBlanks(text.substr(0, at));
        if (!part.empty() || separator == ',')
            parts.emplace_back(part);
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}

bool startsWithAnyCase(std::string_view text, std::string_view head)
{
    return text.size() >= head.size()
           && std::equal(head.begin(), head.end(), text.begin(), [](char a, char b) { return lower(a) == lower(b); });
}

// One alternative, no '|': the classic backtracking match of '*' and '?'.
bool matchesOne(std::string_view text, std::string_view pattern)
{
    size_t t = 0;
    size_t p = 0;
    size_t star = std::string_view::npos;
    size_t resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(text[t]))) {
            ++t;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace

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

IdentityFields splitIdentity(std::string_view identity, const std::vector<std::string>& makers)
{
    identity = trimmedBlanks(identity);
    std::vector<std::string> parts;
    if (identity.find(',') != std::string_view::npos) {
        parts = splitAt(identity, ',');
    } else {
        // The longest maker that starts the text and ends at a blank: "GW INSTEK" before "GW".
        std::string_view maker;
        for (const std::string& known : makers) {
            const bool starts = startsWithAnyCase(identity, known);
            const bool ends = starts && (identity.size() == known.size() || identity[known.size()] == ' ');
            if (known.size() > maker.size() && ends)
                maker = identity.substr(0, known.size());
        }
        if (maker.empty())
            maker = identity.substr(0, identity.find(' '));
        parts = splitAt(identity.substr(maker.size()), ' ');
        parts.insert(parts.begin(), std::string(maker));
    }
    IdentityFields fields;
    fields.maker = parts.empty() ? std::string() : parts[0];
    fields.model = parts.size() > 1 ? parts[1] : std::string();
    if (parts.size() > 2) {
        std::string_view serial = parts[2];
        if (startsWithAnyCase(serial, "SN:"))
            serial = trimmedBlanks(serial.substr(3));
        fields.serial = serial;
    }
    for (size_t i = 3; i < parts.size(); ++i)
        fields.firmware += (i > 3 ? " " : "") + parts[i];
    return fields;
}

bool matchesPattern(std::string_view text, std::string_view pattern)
{
    for (;;) {
        const size_t bar = pattern.find('|');
        if (matchesOne(text, trimmedBlanks(pattern.substr(0, bar))))
            return true;
        if (bar == std::string_view::npos)
            return false;
        pattern.remove_prefix(bar + 1);
    }
}

} // namespace pslink
