// Numbers in the C locale whatever the user's locale, rounded as printf rounds, so a line shows
// what the record file holds.
#include "engine/SampleLine.h"

#include "device/NumberText.h"
#include "device/SupplyLimits.h"

#include <string>

QString SampleLine(int nSeconds, float fVolts, float fAmps, int bCv, int bCc, int bOut, bool bJson,
                   const QString& strProtection)
{
    const std::string protect = strProtection.toStdString();
    const std::string volts = numtext::Fixed(static_cast<double>(fVolts), supply::kVoltsDecimals);
    const std::string amps = numtext::Fixed(static_cast<double>(fAmps), supply::kAmpsDecimals);
    const char* mode = bCc ? "CC" : bCv ? "CV" : nullptr;
    std::string line;
    if (bJson) {
        line = "{";
        if (nSeconds >= 0)
            line += "\"t\":" + std::to_string(nSeconds) + ",";
        line += "\"v\":" + volts + ",\"i\":" + amps + ",\"mode\":";
        line += mode ? "\"" + std::string(mode) + "\"" : std::string("null");
        line += bOut ? ",\"out\":true" : ",\"out\":false";
        line += protect.empty() ? std::string(",\"protect\":null}") : ",\"protect\":\"" + protect + "\"}";
    } else {
        if (nSeconds >= 0)
            line = std::to_string(nSeconds) + " ";
        line += volts + " " + amps + " " + (mode ? mode : "--") + (bOut ? " OUT" : " off");
        if (!protect.empty())
            line += " " + protect;
    }
    return QString::fromStdString(line);
}
