#pragma once

#include "device/link/Dialect.h"
#include "device/link/LinkTypes.h"
#include "device/link/PortSetting.h"
#include "device/link/Transport.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pslink {

/// Silence after which a supply counts as lost.
constexpr std::chrono::milliseconds kAnswerLost{3000};

/// One supply on an open transport, spoken to synchronously in its dialect: each call sends
/// and, for queries, waits for the reply within the dialect's timing rules. Used by the link
/// thread (and by the benchmark to measure what a synchronous call costs).
class Session : private Channel
{
public:
    using State = SupplyState;

    struct Change
    {
        enum Kind { Voltage, Current, Output } kind;
        int value; ///< counts, or 1/0 for the output
    };

    enum class Applied
    {
        Held,       ///< the supply reads back what was sent
        NotHeld,    ///< it reads back something else: lost on the way, beyond the unit, refused
        Unanswered, ///< no read-back answer for kAnswerLost, or the port failed
        Stopped,    ///< the link is closing
        Sent,       ///< gone out, not read back yet
    };

    /// `dialect` nullptr: found by identify(). `setting` gives the dialects what they need of
    /// the port (a module's address, the baud rate the transport was opened at).
    Session(Transport& transport, const DialectInfo* dialect, PortSetting setting = {});
    ~Session() override;

    /// nullptr until identify() has found one.
    const DialectInfo* dialect() const { return m_info; }
    /// Asks for the identity; without a dialect, tries the registered ones in turn and keeps the
    /// first that answers. Empty when the supply did not answer.
    std::string identify();
    /// Why the latest identify() turned down a unit that did answer (or that closed the
    /// connection at once); empty otherwise.
    const std::string& refusal() const { return m_refusal; }
    /// Why the latest request came to nothing, where the dialect can tell.
    std::string reason() const { return m_dialect ? m_dialect->reason() : std::string(); }
    /// As Dialect::unitSummary and Dialect::notice of the unit identify() found.
    std::string unitSummary() const { return m_dialect ? m_dialect->unitSummary() : std::string(); }
    std::string notice() const { return m_dialect ? m_dialect->notice() : std::string(); }
    /// Why the latest query or read-back that came to nothing did so; kept after whole replies.
    const std::string& lastFault() const { return m_lastFault; }
    // Sent once, unconfirmed.
    bool setVoltage(int centivolts);
    bool setCurrent(int milliamps);
    bool setOutput(bool on);

    /// Sends `change` once, unconfirmed: Sent, or why nothing went out.
    Applied sendChange(const Change& change);
    /// Judges a change sent: by `shown`, what a poll taken after it read of its kind, else by
    /// reading it back (asking again until the supply counts as lost). `held` (when given)
    /// receives what the unit holds, for Held and NotHeld.
    Applied confirm(const Change& change, std::optional<int> shown, int* held = nullptr);
    /// sendChange() then confirm() by a read-back.
    Applied apply(const Change& change, int* held = nullptr);
    /// After a change that did not hold: the unit's words when it refused the value, where the
    /// dialect can ask.
    std::optional<std::string> queryRefusal();
    /// The unit has shown itself slow: the spacing after busy commands grew on this connection.
    bool provedSlow() const { return m_grown; }
    /// A command after a busy one went unheard or a change did not hold: most likely the unit
    /// was still busy, so the spacing after busy commands goes to the dialect's slowest.
    void growBusyGap();
    /// A change held: the spacing after busy commands comes down a step, never to one that
    /// failed before.
    void easeBusyGap();
    /// Waits until the slowest spacing of the dialect has passed since the latest command.
    void waitSlowest();

    std::optional<int> queryVoltage();
    std::optional<int> queryCurrent();
    /// The setpoint of `kind` as the unit holds it.
    std::optional<int> readBack(Change::Kind kind);
    std::optional<State> queryState();
    /// The dialect reads readings and lamps in one request: poll with readAll() alone.
    bool readsWhole() const { return m_dialect && m_dialect->readsWhole(); }
    std::optional<Sample> readAll();
    /// What the unit says it holds at most, where its dialect can ask (0 = not told).
    UnitMaximum queryMaximum();

    /// When the supply last gave a well-formed reply (construction time before that).
    std::chrono::steady_clock::time_point lastAnswer() const { return m_lastAnswer; }
    /// When the latest command went out (construction time before the first).
    std::chrono::steady_clock::time_point lastCommand() const { return m_lastCommand; }
    /// Called on the session's thread at every well-formed reply.
    void setAnswerListener(std::function<void()> listener) { m_onAnswer = std::move(listener); }
    /// The spacing kept after a change or a status query, as learned so far.
    std::chrono::milliseconds busyGap() const { return m_busyGap; }

private:
    class DetectionProbe;

    // Channel
    bool send(const std::string& bytes, Pace pace) override;
    bool append(const std::string& bytes) override;
    std::optional<std::string> receive(Framer& framer, ReplyTiming timing) override;
    void settle(std::chrono::milliseconds quiet) override;
    bool stopping() const override { return m_transport.stopping(); }

    bool write(const std::string& bytes, Pace pace);
    void keepGap();
    void answered();
    template <typename T>
    T answeredIf(T value);
    static int wantedOf(const Change& change);
    std::string identifyHere();
    std::vector<int> baudsFor(const DialectInfo& info) const;
    std::unique_ptr<Dialect> tryDialect(const DialectInfo& info, Probe& shared, std::string& identity);

    Transport& m_transport;
    const DialectInfo* m_info;
    std::unique_ptr<Dialect> m_dialect;
    // The spacing of the dialect being spoken or tried, and the one learned for slow firmware.
    std::chrono::milliseconds m_gap;
    std::chrono::milliseconds m_busyGap;
    std::chrono::milliseconds m_tooShort{0}; // the longest busy spacing seen to be too short
    bool m_grown = false;                    // the busy spacing grew at least once
    std::chrono::steady_clock::time_point m_lastCommand{};
    Pace m_lastPace = Pace::Quick;
    bool m_sentAfterBusy = false; // the latest command followed a Busy one
    unsigned m_writes = 0;
    std::chrono::steady_clock::time_point m_lastAnswer;
    std::function<void()> m_onAnswer;
    const PortSetting m_setting;
    int m_baud;          // the transport's rate now
    int m_foundBaud = 0; // the rate the unit answered at; 0 before it did
    std::string m_refusal;
    std::string m_lastFault;
};

} // namespace pslink
