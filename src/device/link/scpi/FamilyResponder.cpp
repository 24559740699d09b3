#include "device/link/scpi/FamilyResponder.h"

#include "device/NumberText.h"

#include "device/link/Decimal.h"
#include "device/link/SimulatedSupply.h"
#include "device/link/scpi/FamilyCommands.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace pslink::scpi {

FamilyResponder::FamilyResponder(const Family& family, std::string model, std::vector<SimulatedSupply*> channels,
                                 std::vector<ChannelRating> ratings, Quirks quirks)
    : m_family(family), m_model(std::move(model)), m_channels(std::move(channels)), m_ratings(std::move(ratings)),
      m_quirks(std::move(quirks)), m_armed(m_channels.size(), false), m_told(m_channels.size(), 0)
{
    m_ratings.resize(m_channels.size());
    for (size_t i = 0; i < m_channels.size(); ++i)
        m_armed[i] = m_channels[i]->outputOn(); // a unit between clients keeps its outputs
    m_master = std::any_of(m_armed.begin(), m_armed.end(), [](bool on) { return on; });
}

std::vector<std::string> FamilyResponder::feed(const std::string& bytes)
{
    std::vector<std::string> commands;
    for (std::string& line : m_lines.feed(bytes)) {
        const bool crBefore = !line.empty() && line.back() == '\r';
        if (crBefore)
            line.pop_back();
        if (!line.empty())
            commands.push_back(line);
        if (m_family.oneLineEnd && (crBefore || line.empty()))
            commands.emplace_back(kBeep);
    }
    return commands;
}

std::optional<FamilyResponder::Heard> FamilyResponder::recognise(const std::string& command) const
{
    const Family& f = m_family;
    const std::pair<const char*, Verb> forms[] = {
        {"*IDN?", Verb::Identity},
        {"*OPC?", Verb::Opc},
        {f.errorQuery, Verb::Error},
        {f.select, Verb::Select},
        {f.setVoltage, Verb::SetVoltage},
        {f.setCurrent, Verb::SetCurrent},
        {f.setVoltageQuery.ask, Verb::SetVoltageQuery},
        {f.setCurrentQuery.ask, Verb::SetCurrentQuery},
        {f.voltageReading.ask, Verb::VoltageReading},
        {f.currentReading.ask, Verb::CurrentReading},
        {f.outputOn, Verb::OutputOn},
        {f.outputOff, Verb::OutputOff},
        {f.masterOn, Verb::MasterOn},
        {f.outputQuery, Verb::OutputQuery},
        {f.modeQuery, Verb::ModeQuery},
    };
    for (const auto& [pattern, verb] : forms) {
        Heard heard{verb, m_selected, {}};
        if (*pattern && matchCommand(pattern, command, heard.channel, heard.value))
            return heard;
    }
    return std::nullopt;
}

std::string FamilyResponder::refuse(int code, const char* text)
{
    // A unit without an error queue answers the error as a line of its own.
    if (!*m_family.errorQuery)
        return text;
    m_errors.emplace_back(code, text);
    return {};
}

std::string FamilyResponder::execute(const std::string& command)
{
    if (m_channels.empty() || !m_channels.front()->answering())
        return {}; // powered off / cable pulled: nothing is carried out, nothing comes back
    if (command == kBeep)
        return {};
    const auto heard = recognise(command);
    std::string reply;
    if (!heard) {
        reply = refuse(-113, "Undefined header");
    } else if (heard->verb <= Verb::Error) {
        reply = answer(*heard);
    } else if (heard->channel < 1 || heard->channel > static_cast<int>(m_channels.size())
               || m_ratings[static_cast<size_t>(heard->channel) - 1].kind == Output::Fixed) {
        reply = refuse(-221, "Settings conflict"); // no such channel, or one that is not programmable
    } else if (heard->verb == Verb::Select) {
        m_selected = heard->channel;
    } else if (heard->verb <= Verb::SetCurrent) {
        reply = set(*heard);
    } else if (heard->verb == Verb::MasterOn) {
        m_master = true;
        switchOutput(0, false); // no channel's own switch changes: the armed ones go live
    } else if (heard->verb == Verb::OutputOn || heard->verb == Verb::OutputOff) {
        switchOutput(heard->channel, heard->verb == Verb::OutputOn);
    } else {
        reply = answer(*heard);
    }
    return reply.empty() ? reply : reply + m_family.replyEnd;
}

std::string FamilyResponder::set(const Heard& heard)
{
    const ChannelRating& rating = m_ratings[static_cast<size_t>(heard.channel) - 1];
    SimulatedSupply& supply = *m_channels[static_cast<size_t>(heard.channel) - 1];
    const bool voltage = heard.verb == Verb::SetVoltage;
    double value = 0;
    if (!numtext::ParseWhole(std::string_view(heard.value), value))
        return refuse(-104, "Data type error");
    // A negative output takes negative voltages only; every other value is positive.
    const bool negative = voltage && rating.kind == Output::Negative;
    const double magnitude = negative ? -value : value;
    const double most = voltage ? rating.volts : rating.amps;
    if (magnitude < 0 || (most > 0 && magnitude > most + 1e-9))
        return refuse(-222, "Data out of range");
    const long long counts = std::llround(magnitude * (voltage ? 100.0 : 1000.0));
    const int held = static_cast<int>(std::min<long long>(counts, numtext::kMaxCount));
    if (voltage)
        supply.setVoltage(held);
    else
        supply.setCurrent(held);
    return {};
}

void FamilyResponder::switchOutput(int channel, bool on)
{
    for (size_t i = 0; i < m_channels.size(); ++i) {
        const bool touched = m_family.outputAll || static_cast<int>(i) + 1 == channel;
        if (touched && m_ratings[i].kind != Output::Fixed)
            m_armed[i] = on;
        // Without a master switch a channel's own switch is its output.
        const bool live = m_armed[i] && (!*m_family.masterOn || m_master);
        if (m_channels[i]->outputOn() != live && (touched || live))
            m_channels[i]->setOutput(live);
    }
}

std::string FamilyResponder::modeReply(int channel)
{
    std::vector<ChannelShown> shown;
    for (size_t i = 0; i < m_channels.size(); ++i) {
        const unsigned tripped = m_channels[i]->protection();
        // A status that clears on reading tells each trip once.
        if (tripped == 0)
            m_told[i] = 0;
        shown.push_back({m_channels[i]->outputOn(), m_channels[i]->constantCurrent(), tripped & ~m_told[i]});
        if (static_cast<int>(i) + 1 == channel && m_family.modeReply == ModeReply::LimitStatus)
            m_told[i] = tripped;
    }
    return modeText(m_family.modeReply, shown, channel);
}

std::string FamilyResponder::answer(const Heard& heard)
{
    const size_t index = static_cast<size_t>(std::max(heard.channel, 1)) - 1;
    SimulatedSupply& supply = *m_channels[std::min(index, m_channels.size() - 1)];
    const bool negative = index < m_ratings.size() && m_ratings[index].kind == Output::Negative;
    const auto value = [&](const Query& query, int counts, int decimals) {
        return answerText(query.answer, heard.channel, counts, decimals, negative && decimals == kVoltDecimals);
    };
    switch (heard.verb) {
    case Verb::Identity:
        return m_quirks.identity.empty() ? FamilyIdentity(m_family, m_model) : m_quirks.identity;
    case Verb::Opc:
        return m_family.answersOpc ? "1" : "";
    case Verb::Error: {
        const auto [code, text] = m_errors.empty() ? std::pair<int, std::string>{0, "No error"} : m_errors.front();
        if (!m_errors.empty())
            m_errors.pop_front();
        return std::string(m_family.errorQuery) == "SYST:ERR?" ? std::to_string(code) + ",\"" + text + "\""
                                                               : std::to_string(code);
    }
    case Verb::SetVoltageQuery:
        return value(m_family.setVoltageQuery, supply.setCentivolts(), kVoltDecimals);
    case Verb::SetCurrentQuery:
        return value(m_family.setCurrentQuery, supply.setMilliamps(), kAmpDecimals);
    case Verb::VoltageReading:
        return value(m_family.voltageReading, supply.measuredCentivolts(), kVoltDecimals);
    case Verb::CurrentReading:
        return value(m_family.currentReading, supply.measuredMilliamps(), kAmpDecimals);
    case Verb::OutputQuery:
        return m_armed[index] ? m_family.onWord : m_family.offWord;
    case Verb::ModeQuery:
        return modeReply(heard.channel);
    default:
        break;
    }
    return {};
}

bool FamilyResponder::changesSupply(const std::string& command) const
{
    const auto heard = recognise(command);
    const Verb changes[] = {Verb::SetVoltage, Verb::SetCurrent, Verb::OutputOn, Verb::OutputOff, Verb::MasterOn};
    return heard && std::find(std::begin(changes), std::end(changes), heard->verb) != std::end(changes);
}

// A family slow to tell its status is busy after that query alone; any other after a change.
bool FamilyResponder::leavesBusy(const std::string& command) const
{
    const auto heard = recognise(command);
    if (heard && heard->verb == Verb::ModeQuery)
        return true;
    return m_family.modeGap.count() == 0 && changesSupply(command);
}

} // namespace pslink::scpi
