#include "device/link/UnitModels.h"

#include "device/NumberText.h"

#include "device/link/CsvLines.h"

#include <algorithm>
#include <cmath>

namespace pslink {

namespace {

constexpr int kMostChannels = 8;

bool fits(const IdentityFields& fields, const Family& family, const ModelRating& rating)
{
    const std::string_view maker = rating.maker.empty() ? std::string_view(family.makers) : rating.maker;
    return matchesPattern(fields.maker, maker) && matchesPattern(fields.model, rating.model);
}

UnitMatch rated(const Family& family, const ModelRating& rating, IdentityFields fields)
{
    return UnitMatch{&family, std::move(fields), rating.channels, true};
}

// "30/3", "-25/1", "30V/3A" or "fixed" as a channel; false when it is none.
bool readChannel(std::string_view text, ChannelRating& out)
{
    if (text == "fixed") {
        out = {0, 0, Output::Fixed};
        return true;
    }
    const size_t slash = text.find('/');
    if (slash == std::string_view::npos)
        return false;
    std::string_view volts = text.substr(0, slash);
    std::string_view amps = text.substr(slash + 1);
    const bool negative = !volts.empty() && volts.front() == '-';
    if (negative)
        volts.remove_prefix(1);
    if (!volts.empty() && (volts.back() == 'V' || volts.back() == 'v'))
        volts.remove_suffix(1);
    if (!amps.empty() && (amps.back() == 'A' || amps.back() == 'a'))
        amps.remove_suffix(1);
    if (!numtext::ParseWhole(volts, out.volts) || !numtext::ParseWhole(amps, out.amps) || !(out.volts > 0)
        || !(out.amps > 0) || !std::isfinite(out.volts) || !std::isfinite(out.amps))
        return false;
    out.kind = negative ? Output::Negative : Output::Programmable;
    return true;
}

// "channel 1", "channels 1 and 2", "channels 1, 2 and 3": the channels that are driven.
std::string channelList(const UnitMatch& unit)
{
    std::vector<int> driven;
    for (size_t i = 0; i < unit.channels.size(); ++i)
        if (unit.channels[i].kind != Output::Fixed)
            driven.push_back(static_cast<int>(i) + 1);
    if (driven.size() <= 1)
        return "channel " + std::to_string(driven.empty() ? 1 : driven.front()) + " only";
    std::string text = "channels ";
    for (size_t i = 0; i < driven.size(); ++i)
        text += (i == 0 ? "" : i + 1 == driven.size() ? " and " : ", ") + std::to_string(driven[i]);
    return text;
}

int counts(double value, int scale)
{
    return static_cast<int>(std::min<double>(std::llround(value * scale), numtext::kMaxCount));
}

} // namespace

std::string userUnitModelsPath()
{
    return configFilePath("scpi-models.csv");
}

UnitTable UnitTable::installed()
{
    UnitTable table;
    table.readFile(userUnitModelsPath());
    return table;
}

std::string UnitTable::take(const std::vector<std::string_view>& fields)
{
    if (fields.size() < 4)
        return "expected a maker pattern, a model pattern, a family and a channel at least (VOLTS/AMPS), found "
               + std::to_string(fields.size()) + " fields";
    if (fields.size() > 3 + kMostChannels)
        return "more than " + std::to_string(kMostChannels) + " channels";
    const Family* family = FindFamily(fields[2]);
    if (!family)
        return "no family \"" + std::string(fields[2]) + "\" (" + FamilyNames() + ")";
    if (fields[0].empty() || fields[1].empty())
        return "a maker or model pattern is empty (\"*\" matches any)";
    Row row{family, {std::string(fields[0]), std::string(fields[1]), {}}};
    for (size_t i = 3; i < fields.size(); ++i) {
        ChannelRating channel;
        if (!readChannel(fields[i], channel))
            return "channel " + std::to_string(i - 2) + " is not VOLTS/AMPS above 0 (\"-25/1\" negative, \"fixed\")";
        row.rating.channels.push_back(channel);
    }
    m_user.insert(m_user.begin(), std::move(row)); // a later line wins over an earlier one
    return {};
}

std::vector<std::string> UnitTable::read(std::string_view text)
{
    return readCsvText(text, [this](const std::vector<std::string_view>& fields) { return take(fields); });
}

std::vector<std::string> UnitTable::readFile(const std::string& path)
{
    std::vector<std::string> issues =
        readCsvFile(path, [this](const std::vector<std::string_view>& fields) { return take(fields); });
    m_issues.insert(m_issues.end(), issues.begin(), issues.end());
    return issues;
}

UnitMatch UnitTable::match(const std::string& identity, Wire wire) const
{
    IdentityFields fields = splitIdentity(identity, KnownMakers());
    for (const Row& row : m_user)
        if (row.family->wire == wire && fits(fields, *row.family, row.rating))
            return rated(*row.family, row.rating, std::move(fields));
    for (const Family& family : Families())
        for (const ModelRating& rating : family.ratings)
            if (family.wire == wire && fits(fields, family, rating))
                return rated(family, rating, std::move(fields));
    for (const Family& family : Families()) {
        if (family.wire == wire && *family.models && matchesPattern(fields.maker, family.makers)
            && matchesPattern(fields.model, family.models)) {
            const auto unknown = static_cast<size_t>(family.maxChannels);
            return UnitMatch{&family, std::move(fields), std::vector<ChannelRating>(unknown), false};
        }
    }
    return UnitMatch{nullptr, std::move(fields), {}, false};
}

std::string channelRefusal(const UnitMatch& unit, int channel)
{
    const int n = std::max(channel, 1);
    const std::string number = std::to_string(n);
    if (!unit.family)
        return n == 1 ? std::string() : "the unit is of no known family and is driven as one channel: channel 1 only, not " + number;
    const std::string model = unit.fields.model.empty() ? std::string(unit.family->title) : unit.fields.model;
    if (static_cast<size_t>(n) > std::max<size_t>(unit.channels.size(), 1))
        return "the " + model + " has " + channelList(unit) + ", not channel " + number;
    if (!unit.channels.empty() && unit.channels[static_cast<size_t>(n) - 1].kind == Output::Fixed)
        return "channel " + number + " of the " + model + " is a fixed output that can only be switched on its front "
               "panel; it has " + channelList(unit) + " to drive";
    return {};
}

UnitMaximum channelMaximum(const UnitMatch& unit, int channel)
{
    const size_t index = static_cast<size_t>(std::max(channel, 1)) - 1;
    if (index >= unit.channels.size())
        return {};
    const ChannelRating& rating = unit.channels[index];
    return {counts(rating.volts, 100), counts(rating.amps, 1000)};
}

std::string describeUnit(const UnitMatch& unit)
{
    if (!unit.family)
        return {};
    std::string text = std::string(unit.family->title) + " (" + unit.family->name + "), model " + unit.fields.model;
    if (!unit.rated)
        return text + " (not in the table), up to " + std::to_string(unit.channels.size()) + " channels";
    return text + ", " + channelList(unit);
}

bool negativeChannel(const UnitMatch& unit, int channel)
{
    const size_t index = static_cast<size_t>(std::max(channel, 1)) - 1;
    return index < unit.channels.size() && unit.channels[index].kind == Output::Negative;
}

std::string unitNotice(const UnitMatch& unit, int channel)
{
    if (!unit.family)
        return {};
    const int n = std::max(channel, 1);
    const std::string model = unit.fields.model.empty() ? std::string(unit.family->title) : unit.fields.model;
    std::string notice;
    if (unit.family->outputAll && unit.channels.size() > 1)
        notice = "the " + model + " switches the outputs of all its channels together: switching channel "
                 + std::to_string(n) + " on or off switches them all";
    if (negativeChannel(unit, n))
        notice += (notice.empty() ? "" : "; ") + std::string("channel ") + std::to_string(n) + " of the " + model
                  + " is a negative output, set and read by its magnitude (5.00 V stands for -5.00 V)";
    return notice;
}

} // namespace pslink
