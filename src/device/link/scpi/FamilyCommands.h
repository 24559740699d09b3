#pragma once

// A family's commands and replies as its row spells them: filled in for the wire, recognised
// by the simulator, and the mode replies read and written. Pure: text in, values out.

#include "device/link/Families.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pslink::scpi {

/// `pattern` with "{n}" as `channel` and "{v}" as `value`.
std::string expand(std::string_view pattern, int channel, std::string_view value = {});

/// `command` is `pattern` (any case; a leading ':' on either is optional): "{n}" takes the
/// channel's digits into `channel`, "{v}" (or "{e}") a number's text into `value`.
bool matchCommand(std::string_view pattern, std::string_view command, int& channel, std::string& value);

/// `counts` (of 10^-countDecimals) as the text of a value with `decimals` decimals, negated for a
/// negative output: (500, 2, 3, false) is "5.000".
std::string valueText(int counts, int countDecimals, int decimals, bool negative);

/// A reply in the form `answer` of `channel` ("V1 5.000", "5.003V"), or a plain number, in
/// counts of 10^-decimals; a negative output's by its magnitude. nullopt for anything else, such
/// as a text error line.
std::optional<int> readValue(std::string_view answer, int channel, const std::string& reply, int decimals,
                             bool negative);
/// For the simulator: `counts` of 10^-decimals as `answer` spells it for `channel`.
std::string answerText(std::string_view answer, int channel, int counts, int decimals, bool negative);

/// What a mode reply tells of one channel.
struct ModeState
{
    std::optional<bool> outputOn; ///< where the reply tells it
    bool constantVoltage = false;
    bool constantCurrent = false;
    unsigned protection = 0; ///< ProtectionBit values
};
/// The reply of a `kind` mode query read for `channel`; nullopt when it is no such reply.
std::optional<ModeState> readMode(ModeReply kind, const std::string& reply, int channel);

/// One channel as the simulator shows it.
struct ChannelShown
{
    bool outputOn = false;
    bool constantCurrent = false;
    unsigned trips = 0; ///< ProtectionBit values latched since the last read
};
/// For the simulator: the `kind` reply for channel `channel` (1-based) of `channels`.
std::string modeText(ModeReply kind, const std::vector<ChannelShown>& channels, int channel);

} // namespace pslink::scpi
