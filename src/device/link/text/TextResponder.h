#pragma once

#include "device/link/SupplyResponder.h"

#include <optional>
#include <string>
#include <vector>

namespace pslink {
class SimulatedSupply;
}

namespace pslink::text {

/// A plain-text unit for tarnwell-sim: commands recognised by their heads and lengths, or, on
/// firmware that needs them, by the line feed after each. A two-channel unit takes the channel's
/// digit in its commands and switches both outputs together.
class TextResponder : public SupplyResponder
{
public:
    /// `more`: the channels after the first, `supply`.
    TextResponder(SimulatedSupply& supply, Quirks quirks, bool lineTerminated, std::vector<SimulatedSupply*> more = {});

    std::vector<std::string> feed(const std::string& bytes) override;
    void discardPartial() override;
    bool hasPartial() const override { return m_lineTerminated ? m_lines.hasPartial() : !m_buffer.empty(); }
    std::string execute(const std::string& command) override;
    bool changesSupply(const std::string& command) const override;
    bool leavesBusy(const std::string& command) const override;

private:
    std::vector<std::string> feedUnterminated();
    std::vector<std::string> feedLines(const std::string& bytes);
    std::string identity() const;
    std::optional<std::string> channelCommand(const std::string& command);
    std::string status();

    SimulatedSupply& m_supply;
    std::vector<SimulatedSupply*> m_channels; // all of them, the first first
    Quirks m_quirks;
    bool m_lineTerminated;
    std::string m_buffer; ///< unterminated commands
    LineBuffer m_lines;   ///< line-terminated commands
    unsigned m_noise = 0x2545F491u;
};

} // namespace pslink::text
