#pragma once

#include "device/link/SupplyResponder.h"
#include "device/link/modbus/ModbusModels.h"
#include "device/link/modbus/ModbusPoll.h"
#include "device/link/modbus/ModbusProtocol.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pslink {
class SimulatedSupply;
}

namespace pslink::modbus {

/// The module a ModbusResponder plays.
struct ModbusUnit
{
    int modelId = 60062;
    /// nullopt: the built-in table's layout for the id, else layout C.
    std::optional<Layout> layout = std::nullopt;
    int address = kDefaultAddress;
    int firmware = 128;              ///< A and B: the version times 100
    std::uint16_t decimals = 0x0233; ///< C: the decimals word it describes itself with
    /// Exception 2 for the registers between the mapped ones, so each must be read alone (seen
    /// on layout C).
    bool gapsRefused = false;
};

/// A module for tarnwell-sim: one RTU frame per command, answered from a SimulatedSupply at the
/// unit's scales. Frames for another address or with a bad CRC are ignored, as on a real bus;
/// unknown registers and functions get exception replies. Slow firmware is tarnwell-sim's
/// reply latency, not the responder's.
class ModbusResponder : public SupplyResponder
{
public:
    ModbusResponder(SimulatedSupply& supply, ModbusUnit unit);

    std::vector<std::string> feed(const std::string& bytes) override;
    /// Silence ends a frame: what came of one is forgotten.
    void discardPartial() override { m_buffer.clear(); }
    bool hasPartial() const override { return !m_buffer.empty(); }
    std::string execute(const std::string& command) override;
    bool changesSupply(const std::string& command) const override;
    bool leavesBusy(const std::string& command) const override { return changesSupply(command); }

    /// The protection trips: the output goes off and the unit reports it until the output is
    /// switched on again. A and B report the first of OVP, OCP, OPP, OTP; C every bit.
    /// The trip is the supply's, so tarnwell-sim can trip any dialect's unit alike.
    void trip(Protection protection);
    Protection protection() const;
    /// The model whose scales the unit uses.
    const Model& model() const { return m_model; }

private:
    bool frameComplete() const;
    std::optional<std::uint16_t> registerValue(int reg) const;
    /// The exception code of a write it refuses; 0 when carried out.
    int writeRegister(int reg, std::uint16_t value);
    std::string readReply(const std::string& frame) const;
    std::string writeReply(const std::string& frame);

    SimulatedSupply& m_supply;
    ModbusUnit m_unit;
    Model m_model;
    std::string m_buffer;
};

} // namespace pslink::modbus
