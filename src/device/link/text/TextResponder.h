#pragma once

#include "device/link/SupplyResponder.h"

namespace pslink {
class SimulatedSupply;
}

namespace pslink::text {

/// A plain-text unit for tarnwell-sim: commands recognised by their heads and lengths.
class TextResponder : public SupplyResponder
{
public:
    TextResponder(SimulatedSupply& supply, Quirks quirks);

    std::vector<std::string> feed(const std::string& bytes) override;
    void discardPartial() override { m_buffer.clear(); }
    bool hasPartial() const override { return !m_buffer.empty(); }
    std::string execute(const std::string& command) override;

private:
    SimulatedSupply& m_supply;
    Quirks m_quirks;
    std::string m_buffer;
};

} // namespace pslink::text
