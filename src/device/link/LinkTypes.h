#pragma once

// The link's own small types, shared by its inside and the device library's face (pslink.h).

#include <optional>
#include <string>

namespace pslink {

/// Ports the library knows: index 0..6, COM1..COM7.
inline constexpr int kPortCount = 7;

/// The highest channel a port setting names ("#ch8") and a unit of the model tables has.
inline constexpr int kMaxChannel = 8;

/// The largest setpoints a unit holds, in counts (hundredths of a volt, thousandths of an
/// ampere); 0 = not known.
struct UnitMaximum
{
    int centivolts = 0;
    int milliamps = 0;
    bool operator==(const UnitMaximum&) const = default;
};

/// The setpoints a unit holds, in counts, as last read back from it (nullopt where not known),
/// and the most it holds as it told or showed it, the bound of what is sent to it.
struct HeldSetpoints
{
    std::optional<int> centivolts;
    std::optional<int> milliamps;
    UnitMaximum limit;
    bool operator==(const HeldSetpoints&) const = default;
};

/// What a caller of Link::afterCommands waits for, after the commands it gave.
enum class Awaited {
    Confirmed,       ///< each of them read back from the supply (or replaced by a newer one)
    Sample,          ///< a whole poll started after they were sent, their read-backs perhaps still to come
    ConfirmedSample, ///< both
};

/// The latest setpoint a unit refused: it kept the one it had and said why (an out-of-range
/// value, SCPI error -222).
struct Refusal
{
    unsigned count = 0; ///< refusals seen on this connection; 0: none
    bool voltage = true;
    int value = 0;    ///< what was asked, in counts
    std::string said; ///< the unit's own words, e.g. -222,"Data out of range"
};

} // namespace pslink
