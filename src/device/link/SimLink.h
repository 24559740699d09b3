#pragma once

#include "device/link/Dialect.h"
#include "device/link/Link.h"
#include "device/link/SimulatedSupply.h"

#include <memory>
#include <mutex>

namespace pslink {

/// The built-in simulator in the registry: a driver that needs no wire ("sim").
extern const DialectInfo kSimulator;

/// Simulated supply `index` (0..kPortCount-1), made on first use and kept, state and log, until
/// ForgetSimulatedSupplies: the supply on the desk does not change when the link is reopened.
/// nullptr for an index out of range.
std::shared_ptr<SimulatedSupply> SimulatedSupplyAt(int index);
void ForgetSimulatedSupplies();

/// The built-in link: library calls go straight to an in-process simulated supply and are logged.
/// Safe from several threads; once close() returned no call reaches the supply any more.
class SimLink : public Link
{
  public:
    /// Logs the open as "OpenCOM <index>".
    SimLink(std::shared_ptr<SimulatedSupply> supply, int index);

    std::string readVersion() override;
    void setOutput(bool on) override;
    void openPower() override;
    bool setVoltage(int centivolts) override;
    bool setCurrent(int milliamps) override;
    int readVoltage() override;
    int readCurrent() override;
    void readState(int& out, int& cv, int& cc) override;
    unsigned readProtection() override;
    bool alive() override;
    UnitMaximum learnedMaximum() override;
    HeldSetpoints heldSetpoints() override;
    void afterCommands(Awaited what, std::function<void(bool ok)> done) override;
    void close() override;
    void noteCall(const std::string& call) override;
    std::shared_ptr<SimulatedSupply> simulatedSupply() const override { return m_supply; }
    const DialectInfo* dialect() const override { return &kSimulator; }

  private:
    bool reachable() const { return !m_closed && m_supply->answering(); }

    const std::shared_ptr<SimulatedSupply> m_supply;
    std::mutex m_lock; // the members below, and one call at a time on the supply
    bool m_closed = false;
    // What a supply that stopped answering leaves in the buffers: the last good readings.
    int m_lastCentivolts = 0;
    int m_lastMilliamps = 0;
    int m_lastOut = 0;
    int m_lastCv = 0;
    int m_lastCc = 0;
    unsigned m_lastProtection = 0;
    UnitMaximum m_maximum;
};

} // namespace pslink
