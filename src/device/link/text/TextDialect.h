#pragma once

#include "device/link/Dialect.h"
#include "device/link/UnitModels.h"

namespace pslink::text {

/// The plain-text dialect in the registry, and its variant for firmware that needs a line
/// feed after each command.
extern const DialectInfo kDialect;
extern const DialectInfo kDialectLf;

/// The link side of the plain-text dialect: one query, one fixed-length reply.
class TextDialect : public Dialect
{
public:
    /// `lineEnd` follows every command ("" or "\n"); `channel` (0 or 1: the first) is driven of a
    /// unit with several, as `units` knows them.
    explicit TextDialect(std::string lineEnd, UnitTable units = UnitTable(), int channel = 1);

    std::string identify(Probe& probe) override;
    bool setVoltage(Channel& channel, int centivolts) override;
    bool setCurrent(Channel& channel, int milliamps) override;
    bool setOutput(Channel& channel, bool on) override;
    std::optional<int> queryVoltage(Channel& channel) override;
    std::optional<int> queryCurrent(Channel& channel) override;
    std::optional<SupplyState> queryState(Channel& channel) override;
    std::optional<int> querySetVoltage(Channel& channel) override;
    std::optional<int> querySetCurrent(Channel& channel) override;
    std::optional<bool> queryOutput(Channel& channel) override;
    /// The model's maxima from the table, where it knows the unit.
    std::optional<int> queryMaximumVoltage(Channel& channel) override;
    std::optional<int> queryMaximumCurrent(Channel& channel) override;
    std::string refusal() const override { return m_refusal; }
    std::string unitSummary() const override { return describeUnit(m_unit); }
    std::string notice() const override { return unitNotice(m_unit, m_channel); }

private:
    bool command(Channel& channel, const std::string& text);
    std::optional<std::string> query(Channel& channel, const char* command, int replyLength, Pace pace,
                                     ReplyTiming timing);
    std::optional<SupplyState> state(Channel& channel, ReplyTiming timing);
    bool readsAsText(Probe& probe, const std::string& identity);

    std::string m_lineEnd;
    UnitTable m_units;
    int m_channel;
    UnitMatch m_unit;
    std::string m_refusal;
};

} // namespace pslink::text
