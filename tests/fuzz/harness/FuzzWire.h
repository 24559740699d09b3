#pragma once

// Wires for the dialect targets: one straight into a supply's responder (to capture real traffic
// and to read a supply back), one that answers with the bursts of a fuzz input.

#include "device/link/Dialect.h"
#include "device/link/SupplyResponder.h"

#include "fuzz/harness/FuzzHarness.h"

#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

/// What the link sends is carried out by `responder` at once; the replies wait to be received.
/// Time passes between two sends, so a unit without terminators forgets half a command.
class Loopback : public pslink::Channel, public pslink::Probe
{
public:
    explicit Loopback(pslink::SupplyResponder& responder) : m_responder(responder) {}

    bool send(const std::string& bytes, pslink::Pace pace) override;
    bool append(const std::string& bytes) override;
    std::optional<std::string> receive(pslink::Framer& framer, pslink::ReplyTiming timing) override;
    void settle(std::chrono::milliseconds) override { m_pending.clear(); }
    bool stopping() const override { return false; }

    std::optional<std::string> ask(const std::string& request, pslink::Framer& framer,
                                   pslink::ReplyTiming timing) override;
    pslink::Channel& channel() override { return *this; }

    std::vector<std::string> sent;   ///< the bytes of each send
    std::vector<std::string> bursts; ///< each reply as it came

private:
    pslink::SupplyResponder& m_responder;
    std::string m_pending;
};

/// Each receive takes the next burst of the input (an empty one is a reply that never came) and
/// feeds it to the framer in chunks until the framer has a whole reply. `chunkSeed` picks the
/// chunk sizes; 0 feeds a burst at once.
class ScriptedWire : public pslink::Channel, public pslink::Probe
{
public:
    ScriptedWire(std::string_view input, std::uint64_t chunkSeed);

    bool send(const std::string&, pslink::Pace) override { return true; }
    bool append(const std::string&) override { return true; }
    std::optional<std::string> receive(pslink::Framer& framer, pslink::ReplyTiming timing) override;
    void settle(std::chrono::milliseconds) override {}
    bool stopping() const override { return false; }

    std::optional<std::string> ask(const std::string& request, pslink::Framer& framer,
                                   pslink::ReplyTiming timing) override;
    pslink::Channel& channel() override { return *this; }

    bool exhausted() const { return m_next >= m_bursts.size(); }

private:
    std::vector<std::string_view> m_bursts;
    std::size_t m_next = 0;
    std::uint64_t m_chunkSeed;
    Rng m_rng;
};

/// The link's side of a session in a fixed order: the identity, then queries and changes in
/// turn, `calls` of them or until `wire` runs dry. Checks each answer against what any supply
/// may answer and returns them, one line a call.
std::string RunSession(pslink::Dialect& dialect, pslink::Channel& channel, pslink::Probe& probe, std::size_t calls,
                       const ScriptedWire* wire = nullptr);

/// Real traffic of a dialect: sessions of the link with tarnwell-sim's units of every quirk.
struct Traffic
{
    std::vector<std::string> replies;  ///< each session's replies, as bursts (see Bursts)
    std::vector<std::string> commands; ///< each session's commands, as sent
    std::vector<std::string> bursts;   ///< every distinct reply
    std::vector<std::string> words;    ///< every distinct command
};
Traffic Capture(const pslink::DialectInfo& info);

/// The quirks a unit of tarnwell-sim may have, chosen by `bits`.
pslink::ResponderQuirks QuirksOf(std::uint64_t bits);

} // namespace fuzz
