#pragma once

#include <string>
#include <vector>

namespace pslink {

/// How a simulated unit departs from the plain behaviour, as tarnwell-sim's options choose.
/// Each dialect's responder uses the ones that apply to it.
struct ResponderQuirks
{
    bool noisyReplies = false;  ///< identity with trailing non-printable bytes, a stray byte after readings
    bool modeQuery = true;      ///< SCPI: answers OUTP:MODE?
    std::string lineEnd = "\n"; ///< SCPI reply ending
    std::string identity;       ///< the identity reply as sent; empty: the supply's own
    bool isetStray = false;     ///< plain text: the identity's sixth character follows the reply to ISET1?
    bool statusNoise = false;   ///< plain text: the STATUS? bits other than 0 and 6 vary at random
};

/// The supply's side of the wire for tarnwell-sim: splits received bytes into commands of one
/// dialect and answers them from a SimulatedSupply. Pure: no port, no clock.
class SupplyResponder
{
public:
    using Quirks = ResponderQuirks;

    virtual ~SupplyResponder() = default;

    /// Bytes from the wire; the commands they complete, each exactly as received (without a
    /// line end). Unrecognised bytes of a dialect without terminators come out as one entry so
    /// they are logged.
    virtual std::vector<std::string> feed(const std::string& bytes) = 0;
    /// A gap on the wire: a unit without terminators forgets a half-received command.
    virtual void discardPartial() = 0;
    virtual bool hasPartial() const = 0;

    /// Carries out one command; the reply to send, empty when there is none (set commands,
    /// unknown commands, or a supply that stopped answering).
    virtual std::string execute(const std::string& command) = 0;

    /// The command changes a setting (setpoint, output).
    virtual bool changesSupply(const std::string& command) const = 0;
    /// After this command a slow unit ignores what arrives for a while (tarnwell-sim --slow).
    virtual bool leavesBusy(const std::string& command) const = 0;
};

} // namespace pslink
