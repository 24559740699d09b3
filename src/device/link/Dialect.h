#pragma once

// What every wire dialect provides, and what the session offers it in return. A dialect lives
// in its own folder (framing, commands, timing, identity probe, state query and the simulator's
// supply side); the session keeps the transport, the spacing between commands and the
// detection, and never asks which dialect it is talking. The registry lists the dialects beside
// the drivers that need no wire (the built-in simulator), all as DialectInfo.

#include "device/link/LinkTypes.h"
#include "device/link/Protection.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

class QString;

namespace pslink {

class Link;
struct PortSetting;
class SimulatedSupply;
class SupplyResponder;
struct ResponderQuirks;

/// Collects the bytes of one reply. Pure: the session feeds it what the port delivers.
class Framer
{
public:
    virtual ~Framer() = default;
    virtual void feed(const std::string& bytes) = 0;
    /// A whole reply is in; reading stops here.
    virtual bool complete() const = 0;
    /// The reply once reading stopped (complete, or the bytes stopped coming): nullopt when what
    /// came is no whole reply, e.g. one cut short.
    virtual std::optional<std::string> take() = 0;
    /// Forgets what was fed, ready for another reply.
    virtual void reset() = 0;
};

/// How long a reply may take: to its first byte, and between two of its bytes.
struct ReplyTiming
{
    std::chrono::milliseconds firstByte;
    std::chrono::milliseconds between;
};

/// What a command leaves the unit doing. Some firmware ignores whatever arrives within a few
/// hundred milliseconds after a change or a status query; the session learns how long to wait
/// after those.
enum class Pace
{
    Quick, ///< a plain reading: the unit is ready again at once
    Busy,  ///< a change or a status query: slow firmware needs time after it
};

/// What the session offers a dialect: commands out with the spacing kept, replies in.
class Channel
{
public:
    virtual ~Channel() = default;
    /// Waits out the spacing after the previous command, throws away stray bytes still waiting
    /// (a byte some units add after a reply must not be taken for the next one) and writes
    /// `bytes`. False when the port failed or the link is stopping.
    virtual bool send(const std::string& bytes, Pace pace) = 0;
    /// As send(), but keeps what is waiting: for bytes that complete a request the unit may
    /// have buffered.
    virtual bool append(const std::string& bytes) = 0;
    /// Collects one reply with `framer`; nullopt when nothing came or no whole reply.
    virtual std::optional<std::string> receive(Framer& framer, ReplyTiming timing) = 0;
    /// Waits until the line has been quiet for `quiet`, then throws away what came.
    virtual void settle(std::chrono::milliseconds quiet) = 0;
    virtual bool stopping() const = 0;

    /// send() then receive().
    std::optional<std::string> exchange(const std::string& bytes, Framer& framer, ReplyTiming timing,
                                        Pace pace = Pace::Quick)
    {
        if (!send(bytes, pace))
            return std::nullopt;
        return receive(framer, timing);
    }
};

/// The identity requests of one detection pass, shared by the dialects tried in turn.
class Probe
{
public:
    virtual ~Probe() = default;
    /// Sends `request` and collects the reply. When the previous request of this pass was the
    /// start of `request`, a unit may still hold it unanswered: the rest is sent alone first
    /// (sending all of it would earn two answers), and the whole request only if that brings
    /// nothing.
    virtual std::optional<std::string> ask(const std::string& request, Framer& framer, ReplyTiming timing) = 0;
    virtual Channel& channel() = 0;
};

/// The OUT, C.V and C.C lamps.
struct SupplyState
{
    bool outputOn = false;
    bool constantVoltage = false;
    bool constantCurrent = false;
    unsigned protection = 0; ///< ProtectionBit values of what has tripped; 0 where the dialect cannot tell
};

/// What one poll reads: the readings and the lamps, and the setpoints where the dialect's poll
/// reads them too (a change's read-back then shares the poll).
struct Sample
{
    int centivolts = 0;
    int milliamps = 0;
    SupplyState state;
    std::optional<int> setCentivolts;
    std::optional<int> setMilliamps;
};

/// One supply spoken to in one dialect. Values are counts: hundredths of a volt, thousandths of
/// an ampere. A query returns nullopt unless the reply was whole and well-formed.
class Dialect
{
public:
    virtual ~Dialect() = default;
    /// The identity text as this dialect asks for it; empty when nothing fitting answered.
    virtual std::string identify(Probe& probe) = 0;
    virtual bool setVoltage(Channel& channel, int centivolts) = 0;
    virtual bool setCurrent(Channel& channel, int milliamps) = 0;
    virtual bool setOutput(Channel& channel, bool on) = 0;
    virtual std::optional<int> queryVoltage(Channel& channel) = 0;
    virtual std::optional<int> queryCurrent(Channel& channel) = 0;
    virtual std::optional<SupplyState> queryState(Channel& channel) = 0;

    // What the supply holds, read back to confirm a change.
    virtual std::optional<int> querySetVoltage(Channel& channel) = 0;
    virtual std::optional<int> querySetCurrent(Channel& channel) = 0;
    virtual std::optional<bool> queryOutput(Channel& channel) = 0;

    /// One request holds readings, lamps and setpoints alike: a poll costs no more than a
    /// read-back, so the link confirms changes with it.
    virtual bool readsWhole() const { return false; }
    /// Readings and lamps together, the poll; nullopt unless every part came whole.
    virtual std::optional<Sample> readAll(Channel& channel)
    {
        const auto state = queryState(channel);
        const auto centivolts = state ? queryVoltage(channel) : std::nullopt;
        const auto milliamps = centivolts ? queryCurrent(channel) : std::nullopt;
        if (!milliamps)
            return std::nullopt;
        return Sample{*centivolts, *milliamps, *state, std::nullopt, std::nullopt};
    }
    /// Why the latest request came to nothing ("a reply with a bad CRC"); empty after a whole
    /// reply, and where the dialect cannot tell.
    virtual std::string reason() const { return {}; }
    /// Why identify() turned down a unit that did answer (an unknown model); empty when nothing
    /// fitting answered or the unit was taken.
    virtual std::string refusal() const { return {}; }
    /// The largest setpoints the unit identify() found takes, asked once per connection: from
    /// the unit itself or from its model's data; nullopt where neither tells.
    virtual std::optional<int> queryMaximumVoltage(Channel& /*channel*/) { return std::nullopt; }
    virtual std::optional<int> queryMaximumCurrent(Channel& /*channel*/) { return std::nullopt; }
    /// The least time from the latest command this dialect sent to the next one, where the unit
    /// found needs more than the registry's spacing (a slow family, a slow status query); zero
    /// otherwise.
    virtual std::chrono::milliseconds spacing() const { return {}; }
    /// The unit identify() found as its family and model place it ("Rigol DP800/DP700 (rigol-dp),
    /// model DP832, channels 1, 2 and 3"); empty where the dialect knows no more than the identity.
    virtual std::string unitSummary() const { return {}; }
    /// What the user should know about how the channel is driven (an output switch shared by
    /// every channel, a negative output set by its magnitude); empty when nothing.
    virtual std::string notice() const { return {}; }
    /// Asked after a setpoint did not hold: the unit's own words when it refused the value (an
    /// error of the value itself, such as SCPI's -222 "data out of range"); nullopt when it
    /// refused nothing or the dialect cannot ask.
    virtual std::optional<std::string> queryRefusal(Channel& /*channel*/) { return std::nullopt; }
};

/// A driver as the registry lists it: a dialect spoken over a wire, or a driver that needs none.
struct DialectInfo
{
    const char* name;        ///< "text": the port setting's prefix and tarnwell-sim's --dialect
    const char* description; ///< "plain text": for the port list's tooltip
    /// Start-to-start spacing that strict units need; a command sent sooner is lost. tarnwell-sim
    /// enforces it by default.
    std::chrono::milliseconds unitGap;
    /// Start-to-start spacing the link keeps.
    std::chrono::milliseconds commandGap;
    /// The longest spacing the link grows to after a Busy command when changes do not hold.
    std::chrono::milliseconds slowestGap;
    /// A fresh link side for one connection to what `setting` names (its address, its baud rate);
    /// nullptr for a driver without a wire.
    std::unique_ptr<Dialect> (*open)(const PortSetting& setting);
    /// The supply's side of the wire, for tarnwell-sim; nullptr for a driver without a wire.
    std::unique_ptr<SupplyResponder> (*respond)(SimulatedSupply& supply, const ResponderQuirks& quirks);
    /// A driver without a wire opens its own link; nullptr for a wire dialect, which the wire
    /// link speaks over the transport the port setting chooses.
    std::unique_ptr<Link> (*openLink)(const PortSetting& setting, QString* error);
    /// A rate tried before the setting's own when the setting names none (a module's factory
    /// rate); 0: only the setting's.
    int firstBaud;

    /// Spoken over a transport: detection tries it and tarnwell-sim serves it.
    bool onWire() const { return open != nullptr; }
};

} // namespace pslink
