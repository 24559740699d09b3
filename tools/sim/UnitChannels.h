#pragma once

// The channels of the simulated unit: the first is the simulator's own supply, a brand unit of a
// family has more. They outlive every connection, as a unit's state does between clients.

#include "SimOptions.h"

#include "device/link/SimulatedSupply.h"
#include "device/link/SupplyResponder.h"

#include <functional>
#include <memory>
#include <vector>

namespace sim {

class UnitChannels
{
public:
    /// `first` is the unit's first channel; the options' family says what the others hold.
    UnitChannels(const Options& o, pslink::SimulatedSupply& first);

    /// The unit's side of a new connection: the family's responder over every channel, else the
    /// dialect's over the first.
    std::unique_ptr<pslink::SupplyResponder> respond(const pslink::ResponderQuirks& quirks);
    /// Runs `change` on every channel (a control line: the load, a hang).
    void forEach(const std::function<void(pslink::SimulatedSupply&)>& change);

private:
    const Options& m_options;
    pslink::SimulatedSupply& m_first;
    std::vector<std::unique_ptr<pslink::SimulatedSupply>> m_more;
};

} // namespace sim
