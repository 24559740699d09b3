#pragma once

// What a SCPI client sends the service, taken apart: one line into its commands, each header
// matched against the service's command tree (long and short forms, any case, optional nodes,
// the path a compound line carries on), each parameter into a value. Pure: text in, values out.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scpiserve {

/// Every command the service knows.
enum class Command {
    Idn,        ///< *IDN?
    Rst,        ///< *RST
    Cls,        ///< *CLS
    Opc,        ///< *OPC
    OpcQuery,   ///< *OPC?
    Wai,        ///< *WAI
    ErrorQuery, ///< SYSTem:ERRor[:NEXT]?
    Volt,       ///< [SOURce:]VOLTage[:LEVel][:IMMediate][:AMPLitude] <value>
    VoltQuery,
    Curr, ///< [SOURce:]CURRent[...] <value>
    CurrQuery,
    Outp, ///< OUTPut[:STATe] ON|OFF|1|0
    OutpQuery,
    ModeQuery,  ///< OUTPut:MODE? (CV or CC)
    TripQuery,  ///< OUTPut:PROTection:TRIPped? (1 when a protection tripped)
    MeasVolt,   ///< MEASure[:SCALar]:VOLTage[:DC]?
    MeasCurr,   ///< MEASure[:SCALar]:CURRent[:DC]?
};

/// A parameter as written: a number (in volts or amperes, a unit suffix taken off), or one of
/// the keywords.
struct Value
{
    enum Kind { Number, Minimum, Maximum, Default, On, Off } kind = Number;
    double number = 0.0;
};

/// A standard SCPI error: its code and its text, as SYSTem:ERRor? reports them.
struct Error
{
    int code;
    const char* text;
};

inline constexpr Error kNoError{0, "No error"};
inline constexpr Error kSyntaxError{-102, "Syntax error"};
inline constexpr Error kMissingParameter{-109, "Missing parameter"};
inline constexpr Error kUndefinedHeader{-113, "Undefined header"};
inline constexpr Error kDataOutOfRange{-222, "Data out of range"};
inline constexpr Error kQueueOverflow{-350, "Queue overflow"};
inline constexpr Error kInputOverrun{-363, "Input buffer overrun"};

/// One command of a line, or why it is none.
struct Request
{
    std::optional<Command> command; ///< empty: `error` says why
    std::optional<Value> value;     ///< its parameter, where it takes one ("VOLT? MAX" too)
    Error error = kNoError;

    bool isQuery() const;
};

/// Splits `line` (without its line end; a CR before it is ignored) at the semicolons outside
/// quotes and resolves each command, a header without a leading colon continuing the path of
/// the one before it. An empty line gives nothing.
std::vector<Request> ParseLine(std::string_view line);

} // namespace scpiserve
