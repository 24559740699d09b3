#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pslink {

/// An identity reply with leading and trailing non-printable bytes and blanks removed and inner
/// control bytes turned into blanks; empty when nothing printable is left.
std::string cleanIdentity(const std::string& reply);

/// The parts of an identity answer: maker, model, serial number and firmware.
struct IdentityFields
{
    std::string maker;
    std::string model;
    std::string serial;   ///< without an "SN:" before it
    std::string firmware; ///< every field after the serial number, as one text
};

/// Splits an identity answer. Units do not all answer "MAKER,MODEL,SERIAL,FIRMWARE": some add a
/// fifth field, put "SN:" before the serial number, a blank after each comma, or use no commas at
/// all. Without commas a maker of `makers` at the start (any case) is taken whole and the rest is
/// split at blanks; else the first word is the maker.
IdentityFields splitIdentity(std::string_view identity, const std::vector<std::string>& makers);

/// `text` matches `pattern` in any case: '*' stands for any run of characters, '?' for one, and
/// '|' separates alternatives ("DP8*|DP7*").
bool matchesPattern(std::string_view text, std::string_view pattern);

} // namespace pslink
