#pragma once

// Reading a module: finding its layout and model, and the whole state of one poll in as few
// requests as its register map allows. Pure: the requests go through a callback.

#include "device/link/Dialect.h"
#include "device/link/modbus/ModbusModels.h"
#include "device/link/modbus/ModbusProtocol.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pslink::modbus {

/// One protection that can trip.
enum class Trip : std::uint8_t {
    OverVoltage = 1,
    OverCurrent = 2,
    OverPower = 4,
    OverTemperature = 8,
    ShortCircuit = 16,
    Other = 0x80, ///< a code or bit this program does not know: tripped all the same
};

/// What has tripped; layout C may report several at once. A tripped unit has its output off.
struct Protection
{
    std::uint8_t bits = 0;

    bool tripped() const { return bits != 0; }
    bool has(Trip trip) const { return (bits & static_cast<std::uint8_t>(trip)) != 0; }
    static Protection of(Trip trip) { return {static_cast<std::uint8_t>(trip)}; }
    bool operator==(const Protection&) const = default;
};

/// Layouts A and B: one code, 0 none, 1 OVP, 2 OCP, 3 OPP, 4 OTP.
Protection protectionFromCode(int code);
/// The code of the first of OVP, OCP, OPP, OTP tripped; 0 when none of them is.
int protectionCode(Protection protection);
/// Layout C: 1 OVP, 2 OCP, 4 OPP, 8 OTP, 16 short circuit.
Protection protectionFromMask(int mask);
int protectionMask(Protection protection);

using Registers = std::map<int, std::uint16_t>;

/// Registers `start` .. `start + count - 1`.
struct Span
{
    int start;
    int count;
};

/// One read of `count` registers from `start`, its reply parsed.
using ReadRegisters = std::function<Reply(int start, int count)>;

struct SpanRead
{
    std::optional<Registers> registers;
    Reply fault; ///< why not, when registers is nullopt
};

/// The registers of `spans` (ascending) in one request covering them all; one request per span
/// when `separately` is set or the unit refuses the registers between them (exception 2), which
/// sets `separately` for next time.
SpanRead readSpans(const ReadRegisters& read, const std::vector<Span>& spans, bool& separately);

/// What a poll reads: A 8..11 and 16..18 (one request of 11), B 0..3 and 7..9 (one of 10),
/// C 1..2, 0x10..0x11 and 0x30..0x31 (one of 49, or three where the unit refuses the gaps).
std::vector<Span> pollSpans(Layout layout);

/// The whole state of the supply at one poll, in link counts.
struct Poll
{
    int setCentivolts = 0;
    int setMilliamps = 0;
    int centivolts = 0;
    int milliamps = 0;
    bool outputOn = false;
    bool constantCurrent = false; ///< only while the output is on
    Protection protection;

    /// The OUT, C.V and C.C lamps.
    SupplyState state() const;
};

/// The poll in `registers` for `model`; nullopt when one it needs is missing. Layout C has no
/// mode register: the mode is inferred from readings and setpoints.
std::optional<Poll> decodePoll(const Model& model, const Registers& registers);

/// A module found at its address.
struct Found
{
    Model model;
    std::optional<int> firmware; ///< the version times 100; layout C has none
};

struct Detection
{
    std::optional<Found> found;
    std::string reason; ///< why nothing was found: no reply, or the refusal of an unknown model
};

/// Finds the layout and model: register 0 holding a known layout-A model, else register 11 a
/// known layout-B model, else register 3 a model id with a well-formed decimals register 5.
Detection detect(const ReadRegisters& read, const ModelTable& models);

/// "Modbus module 60062 fw 1.28"; "Modbus module 3010" for a layout without firmware register.
std::string identityText(const Found& found);

} // namespace pslink::modbus
