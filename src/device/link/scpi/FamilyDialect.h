#pragma once

#include "device/link/UnitModels.h"
#include "device/link/scpi/ScpiDialect.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace pslink {
struct PortSetting;
}

namespace pslink::scpi {

/// The link side of the SCPI dialect for every unit: one of a known family in its own commands,
/// on the channel the port setting names; any other in the generic SCPI of ScpiDialect.
class FamilyDialect : public ScpiDialect
{
public:
    /// `channel` 0 or 1: the first.
    FamilyDialect(UnitTable units, int channel);

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
    /// A family's unit is polled whole, its readings first: a mode inferred from them, and the
    /// lamps, are then as fresh as they are.
    bool readsWhole() const override { return m_family != nullptr || ScpiDialect::readsWhole(); }
    std::optional<Sample> readAll(Channel& channel) override;
    /// The model's maxima from the table: nothing is asked on the wire of a family's unit.
    std::optional<int> queryMaximumVoltage(Channel& channel) override;
    std::optional<int> queryMaximumCurrent(Channel& channel) override;
    std::string refusal() const override { return m_refusal; }
    /// A text line the unit answered instead of a value ("Data out of range").
    std::string reason() const override { return m_reason; }
    std::chrono::milliseconds spacing() const override { return m_spacing; }
    std::string unitSummary() const override { return describeUnit(m_unit); }
    std::string notice() const override { return unitNotice(m_unit, m_channel); }

private:
    bool command(Channel& channel, const char* pattern, const std::string& value = {});
    std::optional<std::string> ask(Channel& channel, const char* pattern, Pace pace = Pace::Quick);
    bool selectChannel(Channel& channel, const char* pattern);
    /// What `query` tells, kept in `kept` too (the readings and setpoints a mode is inferred from).
    std::optional<int> value(Channel& channel, const Query& query, int decimals, int& kept);
    std::optional<SupplyState> inferred(Channel& channel, SupplyState state);

    UnitTable m_units;
    int m_channel;
    UnitMatch m_unit;
    const Family* m_family = nullptr; // nullptr: the generic dialect speaks
    bool m_negative = false;
    int m_selected = 0; // the channel the unit has selected; 0: not known
    std::string m_refusal;
    std::string m_reason;
    std::chrono::milliseconds m_spacing{0};
    unsigned m_trips = 0; // latched: a unit that clears them on reading tells each once
    // The latest readings and the setpoints (-1 = unknown), for units that cannot tell their mode.
    int m_lastCentivolts = 0;
    int m_lastMilliamps = 0;
    int m_setCentivolts = -1;
    int m_setMilliamps = -1;
};

/// The SCPI dialect's link side for one connection to what `setting` names.
std::unique_ptr<Dialect> openFamilyDialect(const PortSetting& setting);

} // namespace pslink::scpi
