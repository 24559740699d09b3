#pragma once

#include "device/link/Dialect.h"

#include <QString>

#include <memory>
#include <string_view>
#include <vector>

namespace pslink {

class Link;
struct PortSetting;

/// Every driver: the wire dialects in the order detection tries them, then the drivers that
/// need no wire.
const std::vector<const DialectInfo*>& Dialects();

/// The wire dialects of Dialects(), in the order detection tries them.
const std::vector<const DialectInfo*>& WireDialects();

/// The driver called `name` (any case), or nullptr.
const DialectInfo* FindDialect(std::string_view name);

/// Opens the link `setting` names: its driver's own, or a wire link in its dialect (detected
/// when it names none). nullptr when it cannot, with `error` set to a sentence for the user
/// (left empty for a setting that reaches nothing).
std::unique_ptr<Link> OpenLink(const PortSetting& setting, QString* error);

} // namespace pslink
