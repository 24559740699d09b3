#pragma once

// The brand families of bench supplies as data: how each answers the identity request, which
// models it has with what each channel holds, and how its commands are spelt. A family is chosen
// by the identity answer (see UnitModels.h); the SCPI family dialect, the plain-text dialect and
// the simulator's responders all read their commands from here.

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace pslink {

/// What a channel of a model is.
enum class Output {
    Programmable, ///< set and read as the program's presets are
    Negative,     ///< a negative output: set and read by its magnitude
    Fixed,        ///< a fixed output that can only be switched: not driven
};

/// What one channel holds at most; 0 where the table does not know.
struct ChannelRating
{
    double volts = 0;
    double amps = 0;
    Output kind = Output::Programmable;
};

/// The channels of the models that match `maker` (the family's makers when empty) and `model`.
struct ModelRating
{
    std::string maker = {};
    std::string model = {};
    std::vector<ChannelRating> channels = {};
};

/// How the family's wire is framed.
enum class Wire {
    Scpi,      ///< one command a line, replies one line each
    PlainText, ///< the plain-text dialect: no terminators, fixed-length replies
};

/// How the mode query's reply tells constant voltage from constant current.
enum class ModeReply {
    Inferred,    ///< no query tells: inferred from readings and setpoints
    Words,       ///< "CV" or "CC"; any other word ("UR", unregulated) lights neither
    Condition,   ///< a number: bit 0 constant current, bit 1 constant voltage
    LimitStatus, ///< a number: bit 0 CV, 1 CC, 2 OVP trip, 3 OCP trip; reading it clears it
    StatusWord,  ///< one hex word for all channels: bit n-1 CC for channel n, bit n+3 output on
    StatusText,  ///< a '0'/'1' a bit, first CH1: '1' CV for channel n's, the sixth output on
};

/// A query and the form of its answer. "{n}" is the channel, "{v}" the value; an answer's "{e}"
/// is a value in exponent form.
struct Query
{
    const char* ask = "";
    const char* answer = "{v}";
};

struct Family
{
    const char* name = "";   ///< "rigol-dp": the probe's words and tarnwell-sim's --family
    const char* title = "";  ///< "Rigol DP800/DP700"
    const char* makers = ""; ///< patterns of the identity's maker field (see matchesPattern)
    const char* models = ""; ///< patterns of its model field, for the models the table does not list
    Wire wire = Wire::Scpi;
    /// The channels of the family's largest model: what a model the table does not list may have.
    int maxChannels = 1;
    std::vector<ModelRating> ratings = {};

    /// Makes later commands without "{n}" go to a channel. The choice persists in the unit, so
    /// it is sent only when the channel changes.
    const char* select = "";
    const char* setVoltage = "";
    const char* setCurrent = "";
    Query setVoltageQuery = {};
    Query setCurrentQuery = {};
    Query voltageReading = {};
    Query currentReading = {};
    const char* outputOn = "";
    const char* outputOff = "";
    /// The switch switches every channel together.
    bool outputAll = false;
    /// Sent after a channel's output goes on: the unit's master switch.
    const char* masterOn = "";
    /// Empty: the output is told by the mode query's reply.
    const char* outputQuery = "";
    const char* onWord = "1";
    const char* offWord = "0";
    const char* modeQuery = "";
    ModeReply modeReply = ModeReply::Inferred;
    /// Where the unit's error queue is read; empty for a unit that answers errors as text lines.
    const char* errorQuery = "SYST:ERR?";
    bool answersOpc = true;
    int voltDecimals = 2; ///< of the values sent
    int ampDecimals = 3;
    /// Start-to-start spacing the unit needs between commands, and after the mode query.
    std::chrono::milliseconds gap{0};
    std::chrono::milliseconds modeGap{0};
    const char* replyEnd = "\n";
    /// A second line end (an empty line, a CR before the LF) makes the unit beep.
    bool oneLineEnd = false;
    /// How a unit of the family answers the identity request ("{model}": its model), for
    /// tarnwell-sim.
    const char* identity = "";
};

/// Every family, SCPI ones first in the order they are matched.
const std::vector<Family>& Families();

/// The family called `name`, or nullptr.
const Family* FindFamily(std::string_view name);

/// "rigol-dp|siglent-spd|...": for usage texts.
std::string FamilyNames();

/// The maker names of the patterns without wildcards, for splitting identities without commas.
const std::vector<std::string>& KnownMakers();

/// A model of `family` for tarnwell-sim when none is named: its first listed one.
std::string DefaultModel(const Family& family);
/// How a unit of `family` that is a `model` answers the identity request.
std::string FamilyIdentity(const Family& family, const std::string& model);

} // namespace pslink
