#pragma once

// Which family and model a unit is, found from its identity answer, and what each of its
// channels holds: the family table's models and those a user adds in scpi-models.csv.

#include "device/link/Families.h"
#include "device/link/Identity.h"
#include "device/link/LinkTypes.h"

#include <string>
#include <string_view>
#include <vector>

namespace pslink {

/// A unit as its identity answer places it.
struct UnitMatch
{
    const Family* family = nullptr; ///< nullptr: of no known family
    IdentityFields fields;
    /// What the table says of each channel; for a model it does not list, the family's most
    /// channels with nothing known of them; empty without a family.
    std::vector<ChannelRating> channels;
    bool rated = false; ///< the model is in the table
};

/// Where a user adds models without rebuilding: scpi-models.csv in the tarnwell configuration
/// folder.
std::string userUnitModelsPath();

/// The models known: the family table's, and those a user added (which come first).
class UnitTable
{
public:
    /// The family table's models.
    UnitTable() = default;
    /// Those and the lines of userUnitModelsPath().
    static UnitTable installed();

    /// Adds the models of scpi-models.csv text: lines "maker pattern,model pattern,family,channel
    /// [,channel...]", a channel written "VOLTS/AMPS" ("-25/1" for a negative output, "fixed" for one
    /// that can only be switched), blank lines and '#' comments. Returns one text per bad line,
    /// "line 3: ...", and skips it.
    std::vector<std::string> read(std::string_view text);
    /// read() of the file at `path`; no file, no issues.
    std::vector<std::string> readFile(const std::string& path);
    /// The issues of the files read, each naming its file and line.
    const std::vector<std::string>& issues() const { return m_issues; }

    /// The unit that answers `identity`, among the families spoken over `wire`.
    UnitMatch match(const std::string& identity, Wire wire) const;

private:
    struct Row
    {
        const Family* family;
        ModelRating rating;
    };
    std::string take(const std::vector<std::string_view>& fields);

    std::vector<Row> m_user;
    std::vector<std::string> m_issues;
};

/// Why `channel` of `unit` is not driven, naming the channels it has; empty when it is.
std::string channelRefusal(const UnitMatch& unit, int channel);
/// What channel `channel` of `unit` holds at most, in counts no larger than a digit buffer
/// holds; 0 where the table does not know.
UnitMaximum channelMaximum(const UnitMatch& unit, int channel);
/// "Rigol DP800/DP700 (rigol-dp), model DP832, channels 1, 2 and 3": for the probe; empty
/// without a family.
std::string describeUnit(const UnitMatch& unit);
/// What the user should know about driving `channel` of `unit`: an output switch that switches
/// every channel, a negative output set and read by its magnitude; empty when nothing.
std::string unitNotice(const UnitMatch& unit, int channel);
/// Channel `channel` of `unit` is a negative output.
bool negativeChannel(const UnitMatch& unit, int channel);

} // namespace pslink
