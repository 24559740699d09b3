#include "device/link/SimLink.h"

#include "device/NumberText.h"
#include "device/link/PortSetting.h"

#include <algorithm>
#include <array>

namespace pslink {

namespace {

std::mutex g_suppliesLock;
std::array<std::shared_ptr<SimulatedSupply>, kPortCount> g_supplies;

std::unique_ptr<Link> openSimLink(const PortSetting& setting, QString* error)
{
    auto supply = SimulatedSupplyAt(setting.simulator);
    if (!supply) {
        if (error)
            *error = QStringLiteral("There is no simulated supply %1.").arg(setting.simulator + 1);
        return nullptr;
    }
    return std::make_unique<SimLink>(std::move(supply), setting.simulator);
}

} // namespace

// No wire, so no spacing to keep and nothing for tarnwell-sim to serve.
constinit const DialectInfo kSimulator{
    "sim", "Simulated supply (built in)", {}, {}, {}, nullptr, nullptr, &openSimLink, 0};

std::shared_ptr<SimulatedSupply> SimulatedSupplyAt(int index)
{
    if (index < 0 || index >= kPortCount)
        return nullptr;
    std::lock_guard<std::mutex> guard(g_suppliesLock);
    auto& supply = g_supplies[static_cast<size_t>(index)];
    if (!supply)
        supply = std::make_shared<SimulatedSupply>();
    return supply;
}

void ForgetSimulatedSupplies()
{
    std::lock_guard<std::mutex> guard(g_suppliesLock);
    for (auto& supply : g_supplies)
        supply.reset();
}

SimLink::SimLink(std::shared_ptr<SimulatedSupply> supply, int index) : m_supply(std::move(supply))
{
    m_supply->appendLog("OpenCOM " + std::to_string(index));
}

std::string SimLink::readVersion()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return reachable() ? m_supply->version() : std::string();
}

void SimLink::setOutput(bool on)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (reachable())
        m_supply->setOutput(on);
}

void SimLink::openPower() {}

bool SimLink::setVoltage(int centivolts)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!reachable())
        return false;
    m_supply->setVoltage(centivolts);
    // A unit that holds less than it was sent holds its own maximum.
    if (const int held = m_supply->setCentivolts();
        held > 0 && held < std::min(centivolts, numtext::kMaxCount))
        m_maximum.centivolts = held;
    return true;
}

bool SimLink::setCurrent(int milliamps)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!reachable())
        return false;
    m_supply->setCurrent(milliamps);
    if (const int held = m_supply->setMilliamps(); held > 0 && held < std::min(milliamps, numtext::kMaxCount))
        m_maximum.milliamps = held;
    return true;
}

int SimLink::readVoltage()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (reachable())
        m_lastCentivolts = m_supply->measuredCentivolts();
    return m_lastCentivolts;
}

int SimLink::readCurrent()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (reachable())
        m_lastMilliamps = m_supply->measuredMilliamps();
    return m_lastMilliamps;
}

void SimLink::readState(int& out, int& cv, int& cc)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (reachable()) {
        m_lastOut = m_supply->outputOn() ? 1 : 0;
        m_lastCv = m_supply->constantVoltage() ? 1 : 0;
        m_lastCc = m_supply->constantCurrent() ? 1 : 0;
    }
    out = m_lastOut;
    cv = m_lastCv;
    cc = m_lastCc;
}

unsigned SimLink::readProtection()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (reachable())
        m_lastProtection = m_supply->protection();
    return m_lastProtection;
}

bool SimLink::alive()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return reachable();
}

UnitMaximum SimLink::learnedMaximum()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_maximum;
}

HeldSetpoints SimLink::heldSetpoints()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!reachable())
        return {};
    return {m_supply->setCentivolts(), m_supply->setMilliamps(), m_maximum};
}

void SimLink::afterCommands(Awaited, std::function<void(bool ok)> done)
{
    // Every call reached the supply before it returned. `done` runs outside the lock: it may
    // call back into the library.
    done(alive());
}

void SimLink::close()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_closed = true;
}

void SimLink::noteCall(const std::string& call)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_closed)
        m_supply->appendLog(call);
}

} // namespace pslink
