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
    bool maxAsSetpoint = false; ///< SCPI: answers VOLT? MAX and CURR? MAX with the setpoint, reading only the header
    bool refuseOutOfRange = false; ///< SCPI: refuses a setpoint above its maximum (error -222), keeping the one before
    std::string lineEnd = "\n"; ///< SCPI reply ending
    std::string identity;       ///< the identity reply as sent; empty: the supply's own
    bool isetStray = false;     ///< plain text: the identity's sixth character follows the reply to ISET1?
    bool statusNoise = false;   ///< plain text: the STATUS? bits other than 0 and 6 vary at random

    // A Modbus module: which one, and where on its bus.
    int modelId = 60062;
    char layout = 0;               ///< 'A', 'B' or 'C'; 0: the built-in table's for the id, else C
    int decimals = 0x0233;         ///< layout C's decimals word
    int address = 1;
    int firmware = 128;            ///< the version times 100
};

/// The supply's side of the wire for tarnwell-sim: splits received bytes into commands of one
/// dialect and answers them from a SimulatedSupply. Pure: no port, no clock.
/// The input buffer of a unit whose commands end in a line feed. A line that grows past the
/// buffer is dropped whole, as a real unit's buffer overflows, instead of growing without bound;
/// how the wire splits the bytes makes no difference.
class LineBuffer
{
public:
    static constexpr size_t kMaxLine = 1024;

    /// The lines `bytes` complete, without their line feed.
    std::vector<std::string> feed(const std::string& bytes)
    {
        std::vector<std::string> lines;
        for (const char c : bytes) {
            if (c == '\n') {
                if (!m_bOverflow)
                    lines.push_back(std::move(m_line));
                m_line.clear();
                m_bOverflow = false;
            } else if (!m_bOverflow) {
                m_line += c;
                if (m_line.size() > kMaxLine) {
                    m_line.clear();
                    m_bOverflow = true;
                }
            }
        }
        return lines;
    }
    bool hasPartial() const { return !m_line.empty() || m_bOverflow; }
    void clear()
    {
        m_line.clear();
        m_bOverflow = false;
    }

private:
    std::string m_line;
    bool m_bOverflow = false;
};

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
