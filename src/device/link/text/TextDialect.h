#pragma once

#include "device/link/Dialect.h"

namespace pslink::text {

/// The plain-text dialect in the registry, and its variant for firmware that needs a line
/// feed after each command.
extern const DialectInfo kDialect;
extern const DialectInfo kDialectLf;

/// The link side of the plain-text dialect: one query, one fixed-length reply.
class TextDialect : public Dialect
{
public:
    /// `lineEnd` follows every command ("" or "\n").
    explicit TextDialect(std::string lineEnd);

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

private:
    bool command(Channel& channel, const std::string& text);
    std::optional<std::string> query(Channel& channel, const char* command, int replyLength, Pace pace,
                                     ReplyTiming timing);
    std::optional<SupplyState> state(Channel& channel, ReplyTiming timing);

    std::string m_lineEnd;
};

} // namespace pslink::text
