#pragma once

#include <functional>
#include <string>

namespace pslink {

/// One open connection to a supply. Values are in the supply's own counts: hundredths of a volt
/// and thousandths of an ampere. Calls are serialised by the library's per-device lock.
class Link
{
public:
    virtual ~Link() = default;

    /// The identity text, or an empty string when the supply did not answer.
    virtual std::string readVersion() = 0;
    virtual void setOutput(bool on) = 0;
    virtual void openPower() = 0;
    virtual bool setVoltage(int centivolts) = 0;
    virtual bool setCurrent(int milliamps) = 0;
    virtual int readVoltage() = 0;
    virtual int readCurrent() = 0;
    virtual void readState(int& out, int& cv, int& cc) = 0;
    virtual bool alive() = 0;
    /// Runs `done(true)` once every command given before has been carried out (sent and
    /// confirmed, or replaced by a newer one) and, with `freshReadings`, a whole poll taken after
    /// them has completed; `done(false)` when the link fails, is lost or closes first. Exactly
    /// once; never after close() returned. Safe to call without the library's device lock.
    virtual void afterCommands(bool freshReadings, std::function<void(bool ok)> done) = 0;
    /// Ends the connection; must return promptly whatever the supply does.
    virtual void close() = 0;

    /// Every library call made on this link, for links that keep a log.
    virtual void noteCall(const std::string& /*call*/) {}
};

} // namespace pslink
