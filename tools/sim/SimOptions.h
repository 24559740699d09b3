#pragma once

// tarnwell-sim's command line: which unit it simulates and how that unit departs from the plain
// behaviour.

#include "device/NumberText.h"
#include "device/link/Dialects.h"
#include "device/link/Families.h"
#include "device/link/SupplyResponder.h"

#include <string>

namespace sim {

struct Options
{
    const pslink::DialectInfo* dialect = pslink::FindDialect("text");
    double loadOhms = 0.0; // 0: the supply's own default
    int latencyMs = 0;
    int baud = 0;          // 0: no wire time
    int minGapMs = -1;     // -1: what strict units of the dialect need
    int slowMs = 0;        // 0: ready for the next command at once after a change
    int maxCentivolts = numtext::kMaxCount; // the most the unit holds
    int maxMilliamps = numtext::kMaxCount;
    std::string logPath;
    // A link that drops (see DropSchedule.h) and how the unit comes back.
    int dropAfterMs = -1; // -1: never drops
    int dropForMs = -1;   // -1: never comes back
    std::string linkPath; // kept pointing at the current terminal
    bool backOff = false; // comes back with its output off, as after a power loss
    std::string backIdentity; // empty: comes back as itself
    pslink::SupplyResponder::Quirks quirks;
    // What a module (or any unit) does to its link in time.
    int tripAfterMs = -1;   // -1: never; else this long after the first command a protection trips
    unsigned tripBits = 0;  // what trips (ProtectionBit values)
    int corruptEvery = 0;   // 0: never; else every N-th reply has a damaged byte
    // A brand unit of a family (--family, --model) and what its channels hold.
    const pslink::Family* family = nullptr;
    std::string model; // --model as written: a module's id, or a family's model
    std::vector<pslink::ChannelRating> ratings;
};

/// What one of the module options made of its argument.
enum class Taken { No, Bad, Yes };
/// The options of a Modbus module and of its quirks in time (--model, --layout, --decimals,
/// --address, --firmware, --trip-after, --corrupt-every), and --family: Taken::Yes when `a` is
/// one of them and `value` fits it, Taken::No when `a` is none of them.
Taken parseModuleArg(const std::string& a, const char* value, Options& o);
/// Their lines of the usage text.
const char* moduleUsage();

/// --family NAME: Taken::Yes when `a` is it and `value` names a family.
Taken parseFamilyArg(const std::string& a, const char* value, Options& o);
/// Once every option is read: the family's dialect, model, identity, channels and pacing where
/// the options leave them; false for a model of no family's, or a family's model that is not.
bool finishFamily(Options& o);
/// The family options' lines of the usage text.
std::string familyUsage();

/// Prints the usage text on standard error.
void usage();
/// A number in the C locale, the whole text.
bool parseNumber(const char* text, double& out);
/// The arguments after the program name; false on anything it does not take.
bool parseArgs(int argc, char** argv, Options& o);

} // namespace sim
