#include "device/RecordFormat.h"

#include "device/NumberText.h"
#include "device/SupplyLimits.h"

namespace recordfile {

RowTexts SplitRow(std::string_view line)
{
    RowTexts texts;
    std::string_view rest = line;
    if (const size_t first = line.find(','); first != std::string_view::npos) {
        texts.time = line.substr(0, first);
        rest = line.substr(first + 1);
    }
    texts.current = rest;
    if (const size_t second = rest.find(','); second != std::string_view::npos) {
        texts.voltage = rest.substr(0, second);
        texts.current = rest.substr(second + 1);
    }
    return texts;
}

void AppendSampleRow(std::string& out, long long sample, double volts, double amps)
{
    numtext::AppendInt(out, sample);
    out += ',';
    numtext::AppendFixed(out, volts, supply::kVoltsDecimals);
    out += ',';
    numtext::AppendFixed(out, amps, supply::kAmpsDecimals);
}

void AppendGapRow(std::string& out, long long sample)
{
    numtext::AppendInt(out, sample);
    out += ",,";
}

void AppendRow(std::string& out, std::string_view time, std::string_view voltage, std::string_view current)
{
    out.append(time);
    out += ',';
    out.append(voltage);
    out += ',';
    out.append(current);
}

void AppendRow(std::string& out, long long time, std::string_view voltage, std::string_view current)
{
    numtext::AppendInt(out, time);
    out += ',';
    out.append(voltage);
    out += ',';
    out.append(current);
}

void AppendLine(std::string& out, std::string_view line)
{
    out.append(line);
    out.append(kLineEnd);
}

} // namespace recordfile
