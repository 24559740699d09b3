#pragma once

// The simulated unit behind whichever road reaches it (a pseudo-terminal, a TCP socket): the
// supply and its responder, its timing, its faults, its replies on their way, its drops and the
// control lines of standard input. The roads are TerminalServer and TcpServer.

#include "CommandLog.h"
#include "DropSchedule.h"
#include "SimOptions.h"
#include "UnitChannels.h"
#include "UnitFaults.h"
#include "UnitTiming.h"

#include "device/link/SimulatedSupply.h"

#include <csignal>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace sim {

/// Set by SIGINT and SIGTERM: the simulator ends.
inline volatile std::sig_atomic_t g_quit = 0;

/// The simulated unit: reads commands, answers them with the unit's timing.
class Simulator
{
public:
    /// Whether the unit makes out what comes now (a port set to its line rate).
    using LineCheck = std::function<bool()>;

    explicit Simulator(const Options& o);
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    const Options& options() const { return m_options; }

    /// Opens the command log, when one was asked for.
    bool openLog();
    /// Asked of every read from now on; without one every read is made out.
    void setLineCheck(LineCheck check) { m_lineCheck = std::move(check); }

    /// For a server of another wire: false while the link is away (--drop-after), having lost
    /// what was in flight when it went and come back as the unit --back-off/--back-identity say.
    bool linkUp();
    /// What the drop schedule says by now, with the unit's side of it carried out; the road's
    /// own side (a terminal, a socket) is the caller's.
    DropSchedule::Change dropTurn();
    /// While the link is away, nothing is read.
    bool linkDown() const { return m_drop.down(); }

    /// One turn on the wire `fd` after a poll that began at `beforePoll`: what came in when
    /// `readable` (else, when `polled`, the wire was quiet), half a command forgotten after a
    /// pause, the replies due sent. False when the wire closed (a client hung up).
    bool serveWire(int fd, bool readable, bool polled, Clock::time_point beforePoll);
    /// Reads standard input's control lines; false once it closed.
    bool readControl();
    /// A new connection: nothing of the previous one (replies due, half a line) reaches it.
    /// The supply keeps its state, as a unit does between clients.
    void startConnection();

    /// How long the next poll may wait, ms: until the next reply is due, 20 at most.
    int timeoutMs() const;
    /// The same, and no longer than until the drop schedule has something to say.
    int waitMs(Clock::time_point now) const { return m_drop.waitMs(now, timeoutMs()); }

private:
    struct PendingReply
    {
        Clock::time_point due;
        std::string bytes;
    };

    bool receive(int fd, Clock::time_point now);
    void takeCommand(const std::string& command, Clock::time_point now);
    void tripWhenDue(Clock::time_point now);
    void sendDue(int fd, Clock::time_point now);
    void handleControl(std::string line);
    void linkGone();
    void linkReturned();

    Options m_options;
    pslink::SimulatedSupply m_supply;
    UnitChannels m_channels; // m_supply first
    std::unique_ptr<pslink::SupplyResponder> m_responder;
    UnitTiming m_timing;
    UnitFaults m_faults;
    CommandLog m_log;
    LineCheck m_lineCheck;
    std::deque<PendingReply> m_replies;
    bool m_refusing = false;
    std::string m_control; // a control line still being typed
    DropSchedule m_drop;
};

} // namespace sim
