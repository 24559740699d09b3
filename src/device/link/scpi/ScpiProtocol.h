#pragma once

// The SCPI dialect: LF-terminated commands, replies ending in LF, CR LF or LF CR. Pure code:
// lines in, values out.

#include "device/link/Dialect.h"

#include <chrono>
#include <optional>
#include <string>

namespace pslink::scpi {

/// A reply's first byte may take this long; a longer pause between two of its bytes means the
/// line was cut.
constexpr ReplyTiming kReplyTiming{std::chrono::milliseconds(1500), std::chrono::milliseconds(100)};

constexpr const char* kQueryIdentity = "*IDN?";
constexpr const char* kQueryVoltage = "MEAS:VOLT?";
constexpr const char* kQueryCurrent = "MEAS:CURR?";
constexpr const char* kQueryOutput = "OUTP?";
constexpr const char* kQueryMode = "OUTP:MODE?";
constexpr const char* kQuerySetVoltage = "VOLT?";
constexpr const char* kQuerySetCurrent = "CURR?";
/// The argument that asks kQuerySetVoltage and kQuerySetCurrent for the maximum instead.
constexpr const char* kMaximum = "MAX";
constexpr const char* kQueryMaxVoltage = "VOLT? MAX";
constexpr const char* kQueryMaxCurrent = "CURR? MAX";
/// The next entry of the unit's error queue: `-222,"Data out of range"`, `0,"No error"` once empty.
constexpr const char* kQueryError = "SYST:ERR?";

/// The headers of the commands that change the supply; the argument follows after a space.
constexpr const char* kSetVoltage = "VOLT";
constexpr const char* kSetCurrent = "CURR";
constexpr const char* kOutput = "OUTP";
/// The words of an output switch and a state (1 and 0 are read too), and of the mode.
constexpr const char* kOn = "ON";
constexpr const char* kOff = "OFF";
constexpr const char* kModeCv = "CV";
constexpr const char* kModeCc = "CC";

/// "VOLT 5.00" for 500 centivolts (no terminator; the transport adds LF).
std::string setVoltageCommand(int centivolts);
/// "CURR 1.000" for 1000 milliamps.
std::string setCurrentCommand(int milliamps);
/// "OUTP ON" / "OUTP OFF".
std::string outputCommand(bool on);

/// A numeric reply ("5.00", "+5.000E+00") in counts of 10^-decimals; nullopt for garbage.
std::optional<int> parseCounts(const std::string& line, int decimals);
/// "1"/"0"/"ON"/"OFF" (any case); nullopt otherwise.
std::optional<bool> parseOnOff(const std::string& line);

/// One entry of the error queue.
struct ErrorEntry
{
    int code = 0;     ///< 0: no error; -100..-199 a command the unit did not know; -200..-299 one it could not carry out
    std::string text; ///< the whole entry as the unit gave it
    /// The unit refused a value it was given (-220 parameter error, -222 data out of range, ...).
    bool refusedValue() const { return code <= -220 && code >= -229; }
};
/// `-222,"Data out of range"` (a code, a comma, a quoted text; `+0,"No error"` too); nullopt
/// for anything else.
std::optional<ErrorEntry> parseError(const std::string& line);

enum class Mode { ConstantVoltage, ConstantCurrent };
/// "CV"/"CC" (any case); nullopt otherwise, e.g. for an error text.
std::optional<Mode> parseMode(const std::string& line);
/// For supplies without a mode query: the output is current-limited when the current has reached
/// its limit while the voltage stays below its setpoint.
Mode inferMode(int centivolts, int milliamps, int setCentivolts, int setMilliamps);

/// Splits received bytes into reply lines. Accepts LF, CR LF and LF CR endings (a lone CR also
/// ends a line); blank lines left over from two-byte endings are skipped.
class LineFramer
{
public:
    void feed(const std::string& bytes);
    /// The next complete line without its ending, or nullopt while none is complete.
    std::optional<std::string> takeLine();
    /// Bytes of a line that has not ended yet (a reply cut short).
    const std::string& partial() const { return m_buffer; }
    void clear() { m_buffer.clear(); }

private:
    std::string m_buffer;
};

/// One reply line as the session reads it: complete at the first non-blank line, nothing when
/// the line never ended.
class ReplyLine : public Framer
{
public:
    void feed(const std::string& bytes) override;
    bool complete() const override { return m_line.has_value(); }
    std::optional<std::string> take() override { return m_line; }
    void reset() override;

private:
    LineFramer m_framer;
    std::optional<std::string> m_line;
};

} // namespace pslink::scpi
