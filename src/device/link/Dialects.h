#pragma once

#include "device/link/Dialect.h"

#include <string_view>
#include <vector>

namespace pslink {

/// Every dialect, in the order detection tries them.
const std::vector<const DialectInfo*>& Dialects();

/// The dialect called `name` (any case), or nullptr.
const DialectInfo* FindDialect(std::string_view name);

} // namespace pslink
