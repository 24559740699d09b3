// Numbers are written with to_chars: C-locale notation whatever the user's locale, rounded as
// printf rounds, so a line shows what the record file holds.
#include "cli/SampleText.h"

#include <charconv>

namespace {

// Stand-in for the shared number text ("%.Nf" in the C locale) once the device library has it.
std::string FixedText(double fValue, int nDecimals)
{
    char buffer[64];
    const auto res =
        std::to_chars(buffer, buffer + sizeof buffer, fValue, std::chars_format::fixed, nDecimals);
    return res.ec == std::errc() ? std::string(buffer, res.ptr) : std::string("0");
}

} // namespace

QString SampleLine(int nSeconds, float fVolts, float fAmps, int bCv, int bCc, int bOut, bool bJson)
{
    const std::string volts = FixedText(static_cast<double>(fVolts), 2);
    const std::string amps = FixedText(static_cast<double>(fAmps), 3);
    const char* mode = bCc ? "CC" : bCv ? "CV" : nullptr;
    std::string line;
    if (bJson) {
        line = "{";
        if (nSeconds >= 0)
            line += "\"t\":" + std::to_string(nSeconds) + ",";
        line += "\"v\":" + volts + ",\"i\":" + amps + ",\"mode\":";
        line += mode ? "\"" + std::string(mode) + "\"" : std::string("null");
        line += bOut ? ",\"out\":true}" : ",\"out\":false}";
    } else {
        if (nSeconds >= 0)
            line = std::to_string(nSeconds) + " ";
        line += volts + " " + amps + " " + (mode ? mode : "--") + (bOut ? " OUT" : " off");
    }
    return QString::fromStdString(line);
}

std::string MeasuredRow(int nSeconds, float fVolts, float fAmps)
{
    return std::to_string(nSeconds) + "," + FixedText(static_cast<double>(fVolts), 2) + "," +
           FixedText(static_cast<double>(fAmps), 3) + "\n";
}

QString ClockText(long long nSeconds)
{
    if (nSeconds < 0)
        nSeconds = 0;
    return QStringLiteral("%1:%2:%3")
        .arg(nSeconds / 3600)
        .arg(nSeconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(nSeconds % 60, 2, 10, QLatin1Char('0'));
}
