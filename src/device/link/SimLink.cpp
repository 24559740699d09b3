#include "device/link/SimLink.h"

namespace pslink {

SimLink::SimLink(std::shared_ptr<SimulatedSupply> supply) : m_supply(std::move(supply)) {}

std::string SimLink::readVersion()
{
    return m_supply->answering() ? m_supply->version() : std::string();
}

void SimLink::setOutput(bool on)
{
    if (m_supply->answering())
        m_supply->setOutput(on);
}

void SimLink::openPower() {}

bool SimLink::setVoltage(int centivolts)
{
    if (!m_supply->answering())
        return false;
    m_supply->setVoltage(centivolts);
    return true;
}

bool SimLink::setCurrent(int milliamps)
{
    if (!m_supply->answering())
        return false;
    m_supply->setCurrent(milliamps);
    return true;
}

int SimLink::readVoltage()
{
    if (m_supply->answering())
        m_lastCentivolts = m_supply->measuredCentivolts();
    return m_lastCentivolts;
}

int SimLink::readCurrent()
{
    if (m_supply->answering())
        m_lastMilliamps = m_supply->measuredMilliamps();
    return m_lastMilliamps;
}

void SimLink::readState(int& out, int& cv, int& cc)
{
    if (m_supply->answering()) {
        m_lastOut = m_supply->outputOn() ? 1 : 0;
        m_lastCv = m_supply->constantVoltage() ? 1 : 0;
        m_lastCc = m_supply->constantCurrent() ? 1 : 0;
    }
    out = m_lastOut;
    cv = m_lastCv;
    cc = m_lastCc;
}

bool SimLink::alive()
{
    return m_supply->answering();
}

void SimLink::afterCommands(bool, std::function<void(bool ok)> done)
{
    // Every call reached the supply before it returned.
    done(m_supply->answering());
}

void SimLink::close() {}

void SimLink::noteCall(const std::string& call)
{
    m_supply->appendLog(call);
}

} // namespace pslink
