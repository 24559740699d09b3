#pragma once

#include "device/NumberText.h"
#include "device/SupplyLimits.h"

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace pslink {

/// A believable bench supply with a resistive load, used by the built-in "sim" link and by
/// tarnwell-sim. Output off reads 0 V / 0 A. Output on regulates the voltage while V_set / R
/// stays within I_set (constant voltage), else limits the current (constant current).
/// Thread-safe: the library and tests may touch it from different threads.
class SimulatedSupply
{
public:
    static constexpr double kDefaultLoadOhms = 10.0;
    /// Calls the log keeps, the newest (a 100-hour run makes about two million).
    static constexpr size_t kMaxLogEntries = 20000;

    /// Load from TARNWELL_SIM_LOAD_OHMS when set and valid, else 10 ohms.
    SimulatedSupply();

    // Commands as the supply receives them (counts: 0.01 V, 0.001 A).
    void setVoltage(int centivolts);
    void setCurrent(int milliamps);
    void setOutput(bool on);
    std::string version() const;

    // Readings as the supply reports them.
    int measuredCentivolts() const;
    int measuredMilliamps() const;
    bool constantVoltage() const; ///< C.V lamp (false while the output is off)
    bool constantCurrent() const; ///< C.C lamp (false while the output is off)

    /// The most this unit holds (a 30 V unit asked for 32 V holds 30 V); counts, at most
    /// numtext::kMaxCount, which is also where it starts.
    void setMaximum(int centivolts, int milliamps);
    int maxCentivolts() const;
    int maxMilliamps() const;

    // State for tests and for tarnwell-sim's control lines.
    int setCentivolts() const;
    int setMilliamps() const;
    bool outputOn() const;
    double loadOhms() const;
    void setLoadOhms(double ohms);
    /// A supply that stops answering (cable pulled, powered off).
    void setAnswering(bool answering);
    /// A protection trips (ProtectionBit values): the output goes off, as on a real unit, and the
    /// trip stays reported until the output is switched on again.
    void trip(unsigned protection);
    unsigned protection() const;
    bool answering() const;
    /// ±1 digit of noise on readings; off by default so readings are exact.
    void setNoise(bool on);

    /// One entry per library call received, in order, e.g. "dsoSetVoltage 0,5,0,0"; the newest
    /// kMaxLogEntries of them.
    std::vector<std::string> Log() const;
    void appendLog(const std::string& entry);
    void clearLog();

private:
    struct Reading
    {
        int centivolts = 0;
        int milliamps = 0;
        bool cv = false;
        bool cc = false;
    };
    Reading readingLocked() const;
    int noiseLocked() const;

    mutable std::mutex m_lock;
    int m_setCentivolts = supply::kInitialCentivolts; // a unit powers up where the program's presets start
    int m_setMilliamps = supply::kInitialMilliamps;
    int m_maxCentivolts = numtext::kMaxCount;
    int m_maxMilliamps = numtext::kMaxCount;
    bool m_outputOn = false;
    unsigned m_protection = 0;
    double m_loadOhms = kDefaultLoadOhms;
    bool m_answering = true;
    bool m_noise = false;
    mutable unsigned m_noiseState = 12345u;
    std::deque<std::string> m_log;
};

} // namespace pslink
