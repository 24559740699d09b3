#pragma once

// The plain-text dialect of many 30 V / 5 A USB-serial supplies: no terminators, no
// acknowledgements, fixed-length replies. Everything here is pure: text in, values out.

#include "device/link/Dialect.h"

#include <chrono>
#include <optional>
#include <string>

namespace pslink::text {

/// Start-to-start gap some units need; a command sent sooner is silently dropped.
constexpr std::chrono::milliseconds kMinCommandGap{80};
/// A reply is complete after this much silence even when shorter than expected.
constexpr std::chrono::milliseconds kReplySilence{15};
/// How long a unit may take to send the first byte of a reply.
constexpr std::chrono::milliseconds kFirstByteTimeout{1500};
constexpr ReplyTiming kReplyTiming{kFirstByteTimeout, kReplySilence};

constexpr const char* kQueryVoltage = "VOUT1?";
constexpr const char* kQueryCurrent = "IOUT1?";
constexpr const char* kQuerySetVoltage = "VSET1?";
constexpr const char* kQuerySetCurrent = "ISET1?";
constexpr const char* kQueryStatus = "STATUS?";
constexpr const char* kQueryIdentity = "*IDN?";

/// The setpoint commands: a head and a value of kSetValueLength characters ("VSET1:05.00").
constexpr const char* kSetVoltage = "VSET1:";
constexpr const char* kSetCurrent = "ISET1:";
constexpr int kSetValueLength = 5;
constexpr const char* kOutputOn = "OUT1";
constexpr const char* kOutputOff = "OUT0";

/// Reply lengths of the fixed-length queries; 0 means "until silence" (the identity).
constexpr int kReadingLength = 5;
constexpr int kStatusLength = 1;

/// A command of channel 1 ("VSET1:", "VOUT1?") for channel `channel`: two-channel units take the
/// channel's digit in place of the 1.
std::string onChannel(const char* command, int channel);
/// "VSET1:05.00" for 500 centivolts (two decimals, zero-padded to five characters); "VSET2:" for
/// channel 2.
std::string setVoltageCommand(int centivolts, int channel = 1);
/// "ISET1:1.000" for 1000 milliamps.
std::string setCurrentCommand(int milliamps, int channel = 1);
/// "OUT1" / "OUT0".
std::string outputCommand(bool on);

/// A voltage reply ("12.34") in centivolts; nullopt for a short, cut or garbled reply.
std::optional<int> parseVoltage(const std::string& reply);
/// A current reply ("0.125") in milliamps; nullopt for a short, cut or garbled reply.
std::optional<int> parseCurrent(const std::string& reply);

struct Status
{
    bool outputOn = false;
    bool constantVoltage = false; ///< only meaningful while the output is on
};
/// The bits of the one raw STATUS? byte that are ours to read: constant voltage (else constant
/// current) and output on. A model may set the others.
constexpr unsigned char kStatusConstantVoltage = 0x01;
constexpr unsigned char kStatusOutputOn = 0x40;
/// The one raw STATUS? byte, for `channel`: a two-channel unit has CH2's constant voltage in the
/// bit after CH1's.
std::optional<Status> parseStatus(const std::string& reply, int channel = 1);

/// Collects the bytes of one reply. Complete at the expected length; with expected length 0
/// (or a short reply) the caller ends it on silence. Bytes past the expected length are
/// stray and kept apart, never handed to the next request.
class ReplyFramer : public Framer
{
public:
    explicit ReplyFramer(int expectedLength = 0);
    void feed(const std::string& bytes) override;
    bool complete() const override;
    /// The reply; nullopt when nothing came or a fixed-length reply was cut short.
    std::optional<std::string> take() override;
    void reset() override;
    bool empty() const { return m_reply.empty(); }
    const std::string& reply() const { return m_reply; }
    const std::string& stray() const { return m_stray; }

private:
    int m_expected;
    std::string m_reply;
    std::string m_stray;
};

} // namespace pslink::text
