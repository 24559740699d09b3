#pragma once

#include "device/link/Link.h"
#include "device/link/SimulatedSupply.h"

#include <memory>

namespace pslink {

/// The built-in link: library calls go straight to an in-process simulated supply and are logged.
class SimLink : public Link
{
public:
    explicit SimLink(std::shared_ptr<SimulatedSupply> supply);

    std::string readVersion() override;
    void setOutput(bool on) override;
    void openPower() override;
    bool setVoltage(int centivolts) override;
    bool setCurrent(int milliamps) override;
    int readVoltage() override;
    int readCurrent() override;
    void readState(int& out, int& cv, int& cc) override;
    bool alive() override;
    void afterCommands(bool freshReadings, std::function<void(bool ok)> done) override;
    void close() override;
    void noteCall(const std::string& call) override;

private:
    std::shared_ptr<SimulatedSupply> m_supply;
    // What a supply that stopped answering leaves in the buffers: the last good readings.
    int m_lastCentivolts = 0;
    int m_lastMilliamps = 0;
    int m_lastOut = 0;
    int m_lastCv = 0;
    int m_lastCc = 0;
};

} // namespace pslink
