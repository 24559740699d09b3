#pragma once

#include "device/link/SupplyResponder.h"

namespace pslink {
class SimulatedSupply;
}

namespace pslink::scpi {

/// A SCPI unit for tarnwell-sim: one command per LF-terminated line, any case.
class ScpiResponder : public SupplyResponder
{
public:
    ScpiResponder(SimulatedSupply& supply, Quirks quirks);

    std::vector<std::string> feed(const std::string& bytes) override;
    void discardPartial() override {} // a line waits for its end however long it takes
    bool hasPartial() const override { return m_lines.hasPartial(); }
    std::string execute(const std::string& command) override;
    bool changesSupply(const std::string& command) const override;
    bool leavesBusy(const std::string& command) const override;

private:
    SimulatedSupply& m_supply;
    Quirks m_quirks;
    LineBuffer m_lines;
};

} // namespace pslink::scpi
