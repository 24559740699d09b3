#include "device/link/SimulatedSupply.h"

#include "device/NumberText.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace pslink {

SimulatedSupply::SimulatedSupply()
{
    if (const char* env = std::getenv("TARNWELL_SIM_LOAD_OHMS")) {
        char* end = nullptr;
        const double ohms = std::strtod(env, &end);
        if (end != env && std::isfinite(ohms) && ohms > 0.0)
            m_loadOhms = ohms;
    }
}

void SimulatedSupply::setVoltage(int centivolts)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_setCentivolts = std::clamp(centivolts, 0, m_maxCentivolts);
}

void SimulatedSupply::setCurrent(int milliamps)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_setMilliamps = std::clamp(milliamps, 0, m_maxMilliamps);
}

void SimulatedSupply::setMaximum(int centivolts, int milliamps)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_maxCentivolts = std::clamp(centivolts, 0, numtext::kMaxCount);
    m_maxMilliamps = std::clamp(milliamps, 0, numtext::kMaxCount);
    m_setCentivolts = std::min(m_setCentivolts, m_maxCentivolts);
    m_setMilliamps = std::min(m_setMilliamps, m_maxMilliamps);
}

int SimulatedSupply::maxCentivolts() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_maxCentivolts;
}

int SimulatedSupply::maxMilliamps() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_maxMilliamps;
}

void SimulatedSupply::setOutput(bool on)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_outputOn = on;
    if (on)
        m_protection = 0;
}

void SimulatedSupply::trip(unsigned protection)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_protection = protection;
    if (protection != 0)
        m_outputOn = false;
}

unsigned SimulatedSupply::protection() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_protection;
}

std::string SimulatedSupply::version() const
{
    return "TARNWELL-SIM V1.0";
}

SimulatedSupply::Reading SimulatedSupply::readingLocked() const
{
    Reading r;
    if (!m_outputOn)
        return r;
    const double vSet = m_setCentivolts / 100.0;
    const double iSet = m_setMilliamps / 1000.0;
    // Compare in counts to keep the CV/CC boundary exact: V/R <= I  <=>  V <= I*R.
    if (vSet <= iSet * m_loadOhms + 1e-9) {
        r.cv = true;
        r.centivolts = m_setCentivolts;
        r.milliamps = static_cast<int>(std::lround(vSet / m_loadOhms * 1000.0));
    } else {
        r.cc = true;
        r.milliamps = m_setMilliamps;
        r.centivolts = static_cast<int>(std::lround(iSet * m_loadOhms * 100.0));
    }
    r.centivolts = std::clamp(r.centivolts, 0, numtext::kMaxCount);
    r.milliamps = std::clamp(r.milliamps, 0, numtext::kMaxCount);
    return r;
}

int SimulatedSupply::noiseLocked() const
{
    if (!m_noise)
        return 0;
    m_noiseState = m_noiseState * 1103515245u + 12345u;
    return static_cast<int>((m_noiseState >> 16) % 3u) - 1;
}

int SimulatedSupply::measuredCentivolts() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    const Reading r = readingLocked();
    return r.centivolts > 0 ? std::clamp(r.centivolts + noiseLocked(), 0, numtext::kMaxCount) : 0;
}

int SimulatedSupply::measuredMilliamps() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    const Reading r = readingLocked();
    return r.milliamps > 0 ? std::clamp(r.milliamps + noiseLocked(), 0, numtext::kMaxCount) : 0;
}

bool SimulatedSupply::constantVoltage() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return readingLocked().cv;
}

bool SimulatedSupply::constantCurrent() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return readingLocked().cc;
}

int SimulatedSupply::setCentivolts() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_setCentivolts;
}

int SimulatedSupply::setMilliamps() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_setMilliamps;
}

bool SimulatedSupply::outputOn() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_outputOn;
}

double SimulatedSupply::loadOhms() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_loadOhms;
}

void SimulatedSupply::setLoadOhms(double ohms)
{
    if (!std::isfinite(ohms) || ohms <= 0.0)
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    m_loadOhms = ohms;
}

void SimulatedSupply::setAnswering(bool answering)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_answering = answering;
}

bool SimulatedSupply::answering() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_answering;
}

void SimulatedSupply::setNoise(bool on)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_noise = on;
}

std::vector<std::string> SimulatedSupply::Log() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return std::vector<std::string>(m_log.begin(), m_log.end());
}

void SimulatedSupply::appendLog(const std::string& entry)
{
    std::lock_guard<std::mutex> guard(m_lock);
    // A long run on the simulator makes several calls a second: keep the newest only.
    if (m_log.size() >= kMaxLogEntries)
        m_log.pop_front();
    m_log.push_back(entry);
}

void SimulatedSupply::clearLog()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_log.clear();
}

} // namespace pslink
