#include "device/link/Families.h"

#include <algorithm>
#include <cctype>

namespace pslink {

namespace {

using std::chrono::milliseconds;
constexpr Output kNegative = Output::Negative;
constexpr Output kFixed = Output::Fixed;

// The rows as the makers' programming manuals spell the commands. A family whose maker or model
// patterns overlap another's comes after the more particular one. Read at run time only, never
// while other files' statics are built.
const std::vector<Family> kFamilies = {
    {.name = "rigol-dp", .title = "Rigol DP800/DP700", .makers = "RIGOL TECHNOLOGIES|RIGOL", .models = "DP8*|DP7*",
     .maxChannels = 3,
     .ratings = {{.model = "DP832*", .channels = {{30, 3}, {30, 3}, {5, 3}}},
                 {.model = "DP821*", .channels = {{60, 1}, {8, 10}}}},
     .setVoltage = ":SOUR{n}:VOLT {v}", .setCurrent = ":SOUR{n}:CURR {v}",
     .setVoltageQuery = {":SOUR{n}:VOLT?"}, .setCurrentQuery = {":SOUR{n}:CURR?"},
     .voltageReading = {":MEAS:VOLT? CH{n}"}, .currentReading = {":MEAS:CURR? CH{n}"},
     .outputOn = ":OUTP CH{n},ON", .outputOff = ":OUTP CH{n},OFF", .outputQuery = ":OUTP? CH{n}",
     .onWord = "ON", .offWord = "OFF", .modeQuery = ":OUTP:MODE? CH{n}", .modeReply = ModeReply::Words,
     .identity = "RIGOL TECHNOLOGIES,{model},DP8C170300001,00.01.16"},
    // No *OPC?, and the state only as one status word.
    {.name = "siglent-spd", .title = "Siglent SPD3303/SPD1000", .makers = "Siglent Technologies|SIGLENT",
     .models = "SPD*", .maxChannels = 3,
     .ratings = {{.model = "SPD3303*", .channels = {{32, 3.2}, {32, 3.2}, {0, 0, kFixed}}},
                 {.model = "SPD1305X*", .channels = {{30, 5}}},
                 {.model = "SPD1168X*", .channels = {{16, 8}}}},
     .setVoltage = "CH{n}:VOLT {v}", .setCurrent = "CH{n}:CURR {v}",
     .setVoltageQuery = {"CH{n}:VOLT?"}, .setCurrentQuery = {"CH{n}:CURR?"},
     .voltageReading = {"MEAS:VOLT? CH{n}"}, .currentReading = {"MEAS:CURR? CH{n}"},
     .outputOn = "OUTP CH{n},ON", .outputOff = "OUTP CH{n},OFF", .modeQuery = "SYST:STAT?",
     .modeReply = ModeReply::StatusWord, .answersOpc = false, .gap = milliseconds(100), .oneLineEnd = true,
     .identity = "Siglent Technologies,{model},SPD3XIDD4R0001,1.01.01.02.05,V3.0"},
    {.name = "keysight-e36", .title = "Keysight E36300", .makers = "Keysight Technologies|Agilent Technologies",
     .models = "E363??A", .maxChannels = 3,
     .ratings = {{.model = "E36312A", .channels = {{6, 5}, {25, 1}, {25, 1}}}},
     .setVoltage = "VOLT {v},(@{n})", .setCurrent = "CURR {v},(@{n})",
     .setVoltageQuery = {"VOLT? (@{n})", "{e}"}, .setCurrentQuery = {"CURR? (@{n})", "{e}"},
     .voltageReading = {"MEAS:VOLT? (@{n})", "{e}"}, .currentReading = {"MEAS:CURR? (@{n})", "{e}"},
     .outputOn = "OUTP ON,(@{n})", .outputOff = "OUTP OFF,(@{n})", .outputQuery = "OUTP? (@{n})",
     .modeQuery = "STAT:QUES:INST:ISUM{n}:COND?", .modeReply = ModeReply::Condition,
     .identity = "Keysight Technologies,{model},MY56000001,1.0.4-1.0.3-1.00"},
    {.name = "keysight-e3631", .title = "Keysight E3631A/E364xA",
     .makers = "HEWLETT-PACKARD|Agilent Technologies|Keysight Technologies", .models = "E3631A|E364?A",
     .maxChannels = 3, .ratings = {{.model = "E3631A", .channels = {{6, 5}, {25, 1}, {25, 1, kNegative}}}},
     .select = "INST:NSEL {n}", .setVoltage = "VOLT {v}", .setCurrent = "CURR {v}",
     .setVoltageQuery = {"VOLT?", "{e}"}, .setCurrentQuery = {"CURR?", "{e}"},
     .voltageReading = {"MEAS:VOLT?", "{e}"}, .currentReading = {"MEAS:CURR?", "{e}"},
     .outputOn = "OUTP ON", .outputOff = "OUTP OFF", .outputAll = true, .outputQuery = "OUTP?",
     .identity = "HEWLETT-PACKARD,{model},0,2.1-5.0-1.0"},
    // The channels' outputs only reach the terminals with the master switch on.
    {.name = "rs-hmc", .title = "Rohde & Schwarz HMC804x", .makers = "Rohde&Schwarz|Rohde & Schwarz|HAMEG*",
     .models = "HMC804*", .maxChannels = 3,
     .ratings = {{.model = "HMC8043*", .channels = {{32, 3}, {32, 3}, {32, 3}}}},
     .select = "INST:NSEL {n}", .setVoltage = "VOLT {v}", .setCurrent = "CURR {v}",
     .setVoltageQuery = {"VOLT?"}, .setCurrentQuery = {"CURR?"},
     .voltageReading = {"MEAS:VOLT?"}, .currentReading = {"MEAS:CURR?"},
     .outputOn = "OUTP ON", .outputOff = "OUTP OFF", .masterOn = "OUTP:MAST ON", .outputQuery = "OUTP?",
     .identity = "Rohde&Schwarz,{model},101234,HW50020001,SW02.510"},
    {.name = "rs-nge", .title = "Rohde & Schwarz NGE100", .makers = "Rohde&Schwarz|Rohde & Schwarz",
     .models = "NGE1*", .maxChannels = 3,
     .ratings = {{.model = "NGE103*", .channels = {{32, 3}, {32, 3}, {32, 3}}},
                 {.model = "NGE102*", .channels = {{32, 3}, {32, 3}}}},
     .select = "INST:NSEL {n}", .setVoltage = "VOLT {v}", .setCurrent = "CURR {v}",
     .setVoltageQuery = {"VOLT?"}, .setCurrentQuery = {"CURR?"},
     .voltageReading = {"MEAS:VOLT?"}, .currentReading = {"MEAS:CURR?"},
     .outputOn = "OUTP ON", .outputOff = "OUTP OFF", .outputQuery = "OUTP?",
     .identity = "Rohde&Schwarz,{model},5601.3800k03/100001,1.54"},
    // Not SCPI, but one command a line; slow, and slower still to tell its status.
    {.name = "gw-gpd", .title = "GW Instek GPD-x303S", .makers = "GW INSTEK|GW-INSTEK|GWINSTEK",
     .models = "GPD-*", .maxChannels = 4,
     .ratings = {{.model = "GPD-3303S", .channels = {{32, 3.2}, {32, 3.2}}}},
     .setVoltage = "VSET{n}:{v}", .setCurrent = "ISET{n}:{v}",
     .setVoltageQuery = {"VSET{n}?", "{v}V"}, .setCurrentQuery = {"ISET{n}?", "{v}A"},
     .voltageReading = {"VOUT{n}?", "{v}V"}, .currentReading = {"IOUT{n}?", "{v}A"},
     .outputOn = "OUT1", .outputOff = "OUT0", .outputAll = true, .modeQuery = "STATUS?",
     .modeReply = ModeReply::StatusText, .errorQuery = "", .voltDecimals = 3, .gap = milliseconds(80),
     .modeGap = milliseconds(400), .identity = "GW INSTEK,{model},SN:EM8000001,V2.00"},
    {.name = "gw-gpp", .title = "GW Instek GPP", .makers = "GW INSTEK|GW-INSTEK|GWINSTEK", .models = "GPP-*",
     .maxChannels = 4, .setVoltage = ":SOUR{n}:VOLT {v}", .setCurrent = ":SOUR{n}:CURR {v}",
     .setVoltageQuery = {":SOUR{n}:VOLT?"}, .setCurrentQuery = {":SOUR{n}:CURR?"},
     .voltageReading = {":MEAS{n}:VOLT?"}, .currentReading = {":MEAS{n}:CURR?"},
     .outputOn = ":OUTP{n}:STAT ON", .outputOff = ":OUTP{n}:STAT OFF", .outputQuery = ":OUTP{n}:STAT?",
     .onWord = "ON", .offWord = "OFF", .identity = "GW INSTEK,{model},SN:GEP800001,V1.00"},
    // Readings carry their unit, setpoints their header; no SYST:ERR?.
    {.name = "tti", .title = "Aim-TTi CPX/PL/MX/QL",
     .makers = "THURLBY THANDAR|THURLBY-THANDAR|AIM-TTI|AIM TTI|AIM&THURLBY THANDAR|TTI",
     .models = "CPX*|PL*|MX*|QL*", .maxChannels = 3,
     .ratings = {{.model = "PL303QMD*", .channels = {{30, 3}, {30, 3}}}},
     .setVoltage = "V{n} {v}", .setCurrent = "I{n} {v}",
     .setVoltageQuery = {"V{n}?", "V{n} {v}"}, .setCurrentQuery = {"I{n}?", "I{n} {v}"},
     .voltageReading = {"V{n}O?", "{v}V"}, .currentReading = {"I{n}O?", "{v}A"},
     .outputOn = "OP{n} 1", .outputOff = "OP{n} 0", .outputQuery = "OP{n}?", .modeQuery = "LSR{n}?",
     .modeReply = ModeReply::LimitStatus, .errorQuery = "EER?", .replyEnd = "\r\n",
     .identity = "THURLBY THANDAR, {model}, 514321, 3.02-4.06"},
    // Our plain-text dialect with the channel's digit in every command.
    {.name = "text2", .title = "plain text, two channels", .makers = "*", .models = "", .wire = Wire::PlainText,
     .maxChannels = 2, .ratings = {{.model = "*3305*", .channels = {{30, 5}, {30, 5}}}}, .outputAll = true,
     .identity = "ACME PSU3305 V2.0"},
};

} // namespace

const std::vector<Family>& Families()
{
    return kFamilies;
}

const Family* FindFamily(std::string_view name)
{
    const auto& all = Families();
    const auto found = std::find_if(all.begin(), all.end(), [&](const Family& f) {
        const std::string_view own = f.name;
        return own.size() == name.size() && std::equal(own.begin(), own.end(), name.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
               });
    });
    return found == all.end() ? nullptr : &*found;
}

std::string FamilyNames()
{
    std::string names;
    for (const Family& f : Families()) {
        if (!names.empty())
            names += '|';
        names += f.name;
    }
    return names;
}

const std::vector<std::string>& KnownMakers()
{
    static const std::vector<std::string> makers = [] {
        std::vector<std::string> out;
        for (const Family& f : Families()) {
            std::string_view patterns = f.makers;
            for (size_t bar = 0; bar != std::string_view::npos; patterns.remove_prefix(bar + 1)) {
                bar = patterns.find('|');
                const std::string_view one = patterns.substr(0, bar);
                if (!one.empty() && one.find_first_of("*?") == std::string_view::npos)
                    out.emplace_back(one);
                if (bar == std::string_view::npos)
                    break;
            }
        }
        return out;
    }();
    return makers;
}

std::string DefaultModel(const Family& family)
{
    std::string model = family.ratings.empty() ? family.models : family.ratings.front().model;
    model = model.substr(0, model.find('|'));
    model.erase(std::remove_if(model.begin(), model.end(), [](char c) { return c == '*' || c == '?'; }), model.end());
    return model;
}

std::string FamilyIdentity(const Family& family, const std::string& model)
{
    std::string identity = family.identity;
    if (const size_t at = identity.find("{model}"); at != std::string::npos)
        identity.replace(at, 7, model);
    return identity;
}

} // namespace pslink
