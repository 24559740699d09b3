#pragma once

#include "device/link/Dialect.h"

namespace pslink::scpi {

/// The SCPI dialect in the registry.
extern const DialectInfo kDialect;

/// The link side of the SCPI dialect. Keeps what the C.V/C.C inference needs for units that
/// cannot tell their mode.
class ScpiDialect : public Dialect
{
public:
    std::string identify(Probe& probe) override;
    bool setVoltage(Channel& channel, int centivolts) override;
    bool setCurrent(Channel& channel, int milliamps) override;
    bool setOutput(Channel& channel, bool on) override;
    std::optional<int> queryVoltage(Channel& channel) override;
    std::optional<int> queryCurrent(Channel& channel) override;
    /// The output, and the mode: asked, or inferred from readings taken now and the setpoints.
    std::optional<SupplyState> queryState(Channel& channel) override;
    std::optional<int> querySetVoltage(Channel& channel) override;
    std::optional<int> querySetCurrent(Channel& channel) override;
    std::optional<bool> queryOutput(Channel& channel) override;
    /// The readings first, so that a mode inferred from them is as fresh as they are; the
    /// setpoints where the inference needs them read back, which confirms changes with the poll.
    std::optional<Sample> readAll(Channel& channel) override;
    /// `VOLT? MAX`, believed only when above zero and not simply the setpoint read back: some
    /// firmware reads only the header and answers the setpoint.
    std::optional<int> queryMaximumVoltage(Channel& channel) override;
    std::optional<int> queryMaximumCurrent(Channel& channel) override;
    /// The error queue, read until empty: its first entry that refused a value.
    std::optional<std::string> queryRefusal(Channel& channel) override;

private:
    struct Setpoint
    {
        int counts = -1;       // -1: unknown
        bool sentSince = true; // sent since it was last read back: the unit may hold another
    };

    std::optional<std::string> query(Channel& channel, const char* command);
    std::optional<int> querySetpoint(Channel& channel, const char* command, int decimals, Setpoint& setpoint);
    std::optional<int> toldMaximum(Channel& channel, const char* maximum, const char* present, int decimals,
                                   Setpoint& setpoint);
    std::optional<SupplyState> state(Channel& channel, Sample* readings);
    bool readReadings(Channel& channel, Sample& sample);
    bool inferSetpoints(Channel& channel, Sample& sample);

    std::optional<bool> m_modeQueryWorks;
    std::optional<bool> m_errorQueryWorks;
    Setpoint m_setVoltage;
    Setpoint m_setCurrent;
};

} // namespace pslink::scpi
