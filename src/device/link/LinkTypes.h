#pragma once

// The link's own small types, shared by its inside and the device library's face (pslink.h).

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

} // namespace pslink
