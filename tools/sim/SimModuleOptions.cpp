// tarnwell-sim's options for a Modbus module: which module it is, and what it does to its link in
// time. Kept apart from the general options: they grow with the dialect.

#include "SimOptions.h"

#include "device/link/Protection.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

constexpr long kHighestRegister = 0xFFFF;

// A whole number in decimal or, with 0x, hexadecimal; false unless all of `text` is one.
bool parseWhole(const char* text, long low, long high, int& out)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 0);
    if (end == text || *end != '\0' || errno != 0 || v < low || v > high)
        return false;
    out = static_cast<int>(v);
    return true;
}

unsigned protectionNamed(const std::string& name)
{
    static const struct
    {
        const char* name;
        unsigned bit;
    } kNames[] = {{"ovp", pslink::kOverVoltage},
                  {"ocp", pslink::kOverCurrent},
                  {"opp", pslink::kOverPower},
                  {"otp", pslink::kOverTemperature},
                  {"scp", pslink::kShortCircuit}};
    for (const auto& n : kNames)
        if (name == n.name)
            return n.bit;
    return 0;
}

// "SECONDS=ovp|ocp|opp|otp|scp"
bool parseTrip(const std::string& text, Options& o)
{
    const size_t equals = text.find('=');
    double seconds = 0.0;
    if (equals == std::string::npos || !parseNumber(text.substr(0, equals).c_str(), seconds) || seconds < 0.0
        || seconds > 86400.0)
        return false;
    o.tripBits = protectionNamed(text.substr(equals + 1));
    o.tripAfterMs = static_cast<int>(seconds * 1000.0);
    return o.tripBits != 0;
}

bool parseFirmware(const char* text, int& out)
{
    double version = 0.0;
    if (!parseNumber(text, version) || version < 0.0 || version * 100.0 > kHighestRegister)
        return false;
    out = static_cast<int>(version * 100.0 + 0.5);
    return true;
}

} // namespace

const char* moduleUsage()
{
    return "                    [--model ID] [--layout A|B|C] [--decimals WORD] [--address A] [--firmware V]\n"
           "                    [--trip-after SECONDS=ovp|ocp|opp|otp|scp] [--corrupt-every N]\n";
}

Taken parseModuleArg(const std::string& a, const char* value, Options& o)
{
    if (const Taken family = parseFamilyArg(a, value, o); family != Taken::No)
        return family; // which unit it is, like a module's model
    static const char* const kOwn[] = {"--model",    "--layout",     "--decimals",     "--address",
                                       "--firmware", "--trip-after", "--corrupt-every"};
    bool own = false;
    for (const char* name : kOwn)
        own = own || a == name;
    if (!own)
        return Taken::No;
    if (!value)
        return Taken::Bad;
    pslink::ResponderQuirks& q = o.quirks;
    bool ok = false;
    if (a == "--model") {
        // A family's model is a name; whether it is one is told once the family is known.
        o.model = value;
        ok = parseWhole(value, 1, kHighestRegister, q.modelId) || (*value && !std::isdigit(static_cast<unsigned char>(*value)));
    } else if (a == "--layout") {
        ok = std::strlen(value) == 1 && std::strchr("ABC", value[0]) != nullptr;
        q.layout = ok ? value[0] : q.layout;
    } else if (a == "--decimals") {
        int word = 0;
        ok = parseWhole(value, 0, kHighestRegister, word);
        q.decimals = word;
    } else if (a == "--address") {
        ok = parseWhole(value, 1, 247, q.address);
    } else if (a == "--firmware") {
        ok = parseFirmware(value, q.firmware);
    } else if (a == "--trip-after") {
        ok = parseTrip(value, o);
    } else {
        ok = parseWhole(value, 1, 1000000, o.corruptEvery);
    }
    return ok ? Taken::Yes : Taken::Bad;
}

} // namespace sim
