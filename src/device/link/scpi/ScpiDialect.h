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
    std::optional<SupplyState> queryState(Channel& channel) override;
    std::optional<int> querySetVoltage(Channel& channel) override;
    std::optional<int> querySetCurrent(Channel& channel) override;
    std::optional<bool> queryOutput(Channel& channel) override;
    std::optional<int> queryMaximumVoltage(Channel& channel) override;
    std::optional<int> queryMaximumCurrent(Channel& channel) override;

private:
    std::optional<std::string> query(Channel& channel, const char* command);

    std::optional<bool> m_modeQueryWorks;
    // The latest readings and the setpoints (-1 = unknown).
    int m_lastCentivolts = 0;
    int m_lastMilliamps = 0;
    int m_setCentivolts = -1;
    int m_setMilliamps = -1;
};

} // namespace pslink::scpi
