#pragma once

#include "device/link/SerialSession.h"
#include "device/link/SimulatedSupply.h"

#include <string>
#include <vector>

namespace pslink {

/// The supply's side of the wire for tarnwell-sim: splits received bytes into commands of one
/// dialect and answers them from a SimulatedSupply. Pure: no port, no clock.
class SupplyResponder
{
public:
    struct Quirks
    {
        bool noisyReplies = false; ///< identity with trailing non-printable bytes, a stray byte after readings
        bool modeQuery = true;     ///< SCPI: answers OUTP:MODE?
        std::string lineEnd = "\n"; ///< SCPI reply ending
    };

    SupplyResponder(SimulatedSupply& supply, Dialect dialect, Quirks quirks);

    /// Bytes from the wire; the commands they complete, each exactly as received (without the
    /// SCPI line end). Unrecognised plain-text bytes come out as one entry so they are logged.
    std::vector<std::string> feed(const std::string& bytes);
    /// A gap on the wire: a plain-text unit forgets a half-received command.
    void discardPartial();
    bool hasPartial() const { return !m_buffer.empty(); }

    /// Carries out one command; the reply to send, empty when there is none (set commands,
    /// unknown commands, or a supply that stopped answering).
    std::string execute(const std::string& command);

private:
    std::vector<std::string> feedText();
    std::vector<std::string> feedScpi();
    std::string executeText(const std::string& command);
    std::string executeScpi(const std::string& command);

    SimulatedSupply& m_supply;
    Dialect m_dialect;
    Quirks m_quirks;
    std::string m_buffer;
};

} // namespace pslink
