#pragma once

#include "device/link/SupplyResponder.h"

#include <deque>
#include <string>

namespace pslink {
class SimulatedSupply;
}

namespace pslink::scpi {

/// A SCPI unit for tarnwell-sim: one command per LF-terminated line, any case, with an error
/// queue that SYST:ERR? empties.
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

    /// Entries the error queue keeps; a further error replaces the last with a queue overflow.
    static constexpr size_t kErrorQueue = 10;

private:
    bool setpoint(const std::string& argument, int decimals, int maximum, void (SimulatedSupply::*set)(int));
    std::string query(const std::string& header, const std::string& argument);
    void error(const char* entry);

    SimulatedSupply& m_supply;
    Quirks m_quirks;
    LineBuffer m_lines;
    std::deque<std::string> m_errors;
};

} // namespace pslink::scpi
