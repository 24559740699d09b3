#pragma once

#include "device/link/LinkTypes.h"

#include <QString>

#include <functional>
#include <memory>
#include <string>

namespace pslink {

struct DialectInfo;
class SimulatedSupply;

/// One open connection to a supply. Values are in the supply's own counts: hundredths of a volt
/// and thousandths of an ampere. Every link may be called from several threads at once: the
/// library holds no lock around its calls.
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
    /// ProtectionBit values of what has tripped, as last read; 0 where the dialect cannot tell.
    virtual unsigned readProtection() { return 0; }
    virtual bool alive() = 0;
    /// The unit's maximum as learned on this connection (0 where not known).
    virtual UnitMaximum learnedMaximum() = 0;
    /// Why the unit that answered the identity request was turned down (an unknown model);
    /// empty otherwise.
    virtual QString refusal() { return {}; }
    /// Why the latest reply that came to nothing did so ("a reply with a bad CRC"), where the
    /// dialect can tell; empty otherwise.
    virtual QString lastFault() { return {}; }
    /// The unit the identity request found, as its family and model place it ("Rigol DP800/DP700
    /// (rigol-dp), model DP832, channels 1, 2 and 3"); empty where nothing more than the identity
    /// is known.
    virtual QString unitSummary() { return {}; }
    /// What the user should know about how the channel is driven (an output switch shared by
    /// every channel, a negative output set by its magnitude); empty when nothing.
    virtual QString notice() { return {}; }
    /// Runs `done(true)` once the commands given before are as far as `what` asks (confirmed,
    /// or replaced by a newer one; a whole poll started after they were sent is in; or both);
    /// `done(false)` when the link fails, is lost or closes first. Exactly once; never after
    /// close() returned.
    virtual void afterCommands(Awaited what, std::function<void(bool ok)> done) = 0;
    /// The latest setpoint the unit refused on this connection (count 0: none).
    virtual Refusal lastRefusal() { return {}; }
    /// Has the setpoints the unit holds read back once, where not known from a change; the
    /// link asks nothing of them otherwise.
    virtual void askSetpoints() {}
    /// The setpoints the unit holds, as last confirmed or read back on this connection.
    virtual HeldSetpoints heldSetpoints() { return {}; }
    /// Ends the connection; must return promptly whatever the supply does. Calls made after it
    /// reach nothing.
    virtual void close() = 0;
    /// From now on, a wait of this link for the supply (an identity request) gives up at once.
    /// Returns without waiting, from any thread; the link stays open until close().
    virtual void cancelWaits() {}

    /// Every library call made on this link, for links that keep a log. Quick: the library
    /// makes it under its device lock, so that the log's order is the order of the calls.
    virtual void noteCall(const std::string& /*call*/) {}
    /// The driver speaking to the unit: the setting's, or the one detection found (nullptr
    /// until then).
    virtual const DialectInfo* dialect() const { return nullptr; }
    /// The simulated supply behind this link, for links that have one.
    virtual std::shared_ptr<SimulatedSupply> simulatedSupply() const { return nullptr; }
};

} // namespace pslink
