#pragma once

#include <string>

namespace pslink {

/// An identity reply with leading and trailing non-printable bytes and blanks removed and inner
/// control bytes turned into blanks; empty when nothing printable is left.
std::string cleanIdentity(const std::string& reply);

} // namespace pslink
