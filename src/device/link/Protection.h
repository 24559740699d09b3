#pragma once

namespace pslink {

/// A supply's tripped protections, as bits. 0: none tripped, or the dialect cannot tell. A tripped
/// unit has switched its output off.
enum ProtectionBit : unsigned {
    kOverVoltage = 1,
    kOverCurrent = 2,
    kOverPower = 4,
    kOverTemperature = 8,
    kShortCircuit = 16,
};

} // namespace pslink
