#pragma once

#include "device/link/Dialect.h"

namespace pslink::text {

/// The plain-text dialect in the registry.
extern const DialectInfo kDialect;

/// The link side of the plain-text dialect: one query, one fixed-length reply.
class TextDialect : public Dialect
{
public:
    std::string identify(Probe& probe) override;
    bool setVoltage(Channel& channel, int centivolts) override;
    bool setCurrent(Channel& channel, int milliamps) override;
    bool setOutput(Channel& channel, bool on) override;
    std::optional<int> queryVoltage(Channel& channel) override;
    std::optional<int> queryCurrent(Channel& channel) override;
    std::optional<SupplyState> queryState(Channel& channel) override;

private:
    std::optional<std::string> query(Channel& channel, const char* command, int replyLength);
};

} // namespace pslink::text
