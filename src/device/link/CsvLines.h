#pragma once

// The user's table files (modules.csv, scpi-models.csv): one row a line, fields split at commas,
// blank lines and '#' comments, and a bad line said with its number and left out.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pslink {

/// What a table makes of one line's fields: empty when it took the line, else why not.
using TakeRow = std::function<std::string(const std::vector<std::string_view>& fields)>;

/// The fields of `line`, split at commas, blanks around each removed.
std::vector<std::string_view> csvFields(std::string_view line);

/// Hands `take` the fields of every line of `text` that is neither blank nor a comment; one text
/// per refused line, "line 3: why: LINE".
std::vector<std::string> readCsvText(std::string_view text, const TakeRow& take);

/// readCsvText() of the file at `path`, each issue naming the file and what becomes of the line
/// as the other settings files' issues do; no file, no issues.
std::vector<std::string> readCsvFile(const std::string& path, const TakeRow& take);

/// `name` in the tarnwell configuration folder ($XDG_CONFIG_HOME/tarnwell, ~/.config/tarnwell).
std::string configFilePath(const char* name);

} // namespace pslink
