#pragma once

#include "device/link/Dialect.h"
#include "device/link/modbus/ModbusModels.h"
#include "device/link/modbus/ModbusPoll.h"
#include "device/link/modbus/ModbusProtocol.h"

#include <optional>
#include <string>

namespace pslink::modbus {

/// The Modbus-RTU dialect in the registry.
extern const DialectInfo kDialect;

/// The link side of one module at one slave address. Nothing is written before identify() has
/// found the model: its scales decide what a setpoint means.
class ModbusDialect : public Dialect
{
public:
    /// `baud` only sets how long a pause ends a frame; a module has one channel, and any other
    /// `channel` than 1 (or 0, not named) is refused once it answers.
    explicit ModbusDialect(ModelTable models = ModelTable(), int address = kDefaultAddress, int baud = 9600,
                           int channel = 1);

    std::string identify(Probe& probe) override;
    bool setVoltage(Channel& channel, int centivolts) override;
    bool setCurrent(Channel& channel, int milliamps) override;
    bool setOutput(Channel& channel, bool on) override;
    std::optional<int> queryVoltage(Channel& channel) override;
    std::optional<int> queryCurrent(Channel& channel) override;
    /// The lamps, from a whole poll (layout C infers its mode from readings and setpoints).
    std::optional<SupplyState> queryState(Channel& channel) override;
    std::optional<int> querySetVoltage(Channel& channel) override;
    std::optional<int> querySetCurrent(Channel& channel) override;
    std::optional<bool> queryOutput(Channel& channel) override;
    bool readsWhole() const override { return true; }
    /// poll(), as the link keeps it.
    std::optional<Sample> readAll(Channel& channel) override;
    std::string refusal() const override;
    /// The model's maxima, no more than the digit buffer holds: nothing is asked on the wire.
    std::optional<int> queryMaximumVoltage(Channel& channel) override;
    std::optional<int> queryMaximumCurrent(Channel& channel) override;

    /// Setpoints, readings, output, mode and protection in one request (three on a layout-C unit
    /// that refuses to be read across its gaps). nullopt, with reason(), when that failed.
    std::optional<Poll> poll(Channel& channel);

    int address() const { return m_address; }
    /// The module identify() found.
    const std::optional<Found>& found() const { return m_found; }
    /// Why the latest request, or identify(), came to nothing ("a reply with a bad CRC",
    /// "exception 2 (illegal data address)", the refusal of an unknown model); empty after a
    /// whole reply.
    std::string reason() const override { return m_reason; }
    /// What the model takes, no more than the digit buffer holds; 0 before identify().
    int maxCentivolts() const;
    int maxMilliamps() const;

private:
    Reply read(Channel& channel, int start, int count);
    std::optional<int> readOne(Channel& channel, int LayoutMap::*field);
    bool write(Channel& channel, int reg, std::uint16_t value);
    Reply judged(const std::optional<std::string>& frame, const std::string& request);

    ModelTable m_models;
    int m_address;
    ReplyTiming m_timing;
    std::optional<Found> m_found;
    bool m_readSeparately = false; // the unit refused a read across its gaps
    std::string m_reason;
    bool m_refused = false; // identify() turned down a unit that answered
    int m_channel;
};

} // namespace pslink::modbus
