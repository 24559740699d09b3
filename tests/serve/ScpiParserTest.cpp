// A SCPI client's lines taken apart as the service's command tree reads them.
#include "serve/ScpiParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using scpiserve::Command;
using scpiserve::Value;

namespace {

// A request as one word: the command's number and its value, or the error's code.
std::string Shown(const scpiserve::Request& request)
{
    if (!request.command)
        return "error " + std::to_string(request.error.code);
    std::string text = std::to_string(static_cast<int>(*request.command));
    if (request.value)
        text += request.value->kind == Value::Number ? "=" + std::to_string(request.value->number)
                                                     : "/" + std::to_string(static_cast<int>(request.value->kind));
    return text;
}

std::string Command_(Command command, const std::string& value = {})
{
    return std::to_string(static_cast<int>(command)) + value;
}

} // namespace

TEST(ScpiParser, LinesBecomeTheirCommandsOrTheStandardErrors)
{
    const std::string on = "/" + std::to_string(static_cast<int>(Value::On));
    const std::string max = "/" + std::to_string(static_cast<int>(Value::Maximum));
    const struct
    {
        const char* line;
        std::vector<std::string> want;
    } rows[] = {
        {"*IDN?", {Command_(Command::Idn)}},
        {"*idn?\r", {Command_(Command::Idn)}},
        {"", {}},
        {"VOLT 5", {Command_(Command::Volt, "=5.000000")}},
        {"source:voltage:level:immediate:amplitude 12.5", {Command_(Command::Volt, "=12.500000")}},
        {"SOUR:VOLT 250 mV", {Command_(Command::Volt, "=0.250000")}},
        {"curr 1.5E-1A", {Command_(Command::Curr, "=0.150000")}},
        {"VOLT? MAX", {Command_(Command::VoltQuery, max)}},
        {"volt max", {Command_(Command::Volt, max)}},
        {"OUTP ON;OUTP?", {Command_(Command::Outp, on), Command_(Command::OutpQuery)}},
        {"OUTPut:STATe 1", {Command_(Command::Outp, on)}},
        // The path carries on: CURR? after MEAS:VOLT? is MEAS:CURR?.
        {"MEAS:VOLT?;CURR?", {Command_(Command::MeasVolt), Command_(Command::MeasCurr)}},
        {"SOUR:VOLT 5;CURR 1", {Command_(Command::Volt, "=5.000000"), Command_(Command::Curr, "=1.000000")}},
        {"VOLT:LEV 5;CURR 1", {Command_(Command::Volt, "=5.000000"), Command_(Command::Curr, "=1.000000")}},
        {"MEAS:VOLT?;:SYST:ERR?", {Command_(Command::MeasVolt), Command_(Command::ErrorQuery)}},
        {"*RST;*CLS;*OPC?", {Command_(Command::Rst), Command_(Command::Cls), Command_(Command::OpcQuery)}},
        {"OUTP:MODE?;OUTP:PROT:TRIP?", {Command_(Command::ModeQuery), Command_(Command::TripQuery)}},
        {"FOO:BAR", {"error -113"}},
        {"*XYZ?", {"error -113"}},
        {"VOLT", {"error -109"}},
        {"VOLT five", {"error -102"}},
        {"VOLT 5 A", {"error -102"}},
        {"OUTP MAYBE", {"error -102"}},
        {"*IDN? 3", {"error -102"}},
        {"VOLT:;CURR 1", {"error -102", Command_(Command::Curr, "=1.000000")}},
        {";;", {"error -102", "error -102", "error -102"}},
        {"VOLT 1E999", {"error -102"}},
        {"VOLT \"5;6\"", {"error -102"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        std::vector<std::string> got;
        for (const scpiserve::Request& request : scpiserve::ParseLine(row.line))
            got.push_back(Shown(request));
        EXPECT_EQ(got, row.want);
    }
}
