#pragma once

#include "device/link/LinkTypes.h"
#include "device/link/Session.h"

#include <array>
#include <chrono>
#include <deque>
#include <optional>
#include <vector>

namespace pslink {

/// Sees each change through on one session: sent until the unit reads it back, up to kTries
/// times. A unit asked for more than it can give holds its own maximum instead (a 30 V unit
/// asked for 32 V reads back 30.00): that counts as held, and setpoints above it go out as it
/// from then on. A unit that says it refused the value (where its dialect can ask) keeps the one
/// before: that is told, and neither a maximum nor a lost link. Used by the link thread only.
class ChangeConfirmer
{
  public:
    /// A change still not held after this many tries counts as a lost link.
    static constexpr int kTries = 3;

    enum class Outcome {
        Held,         ///< the unit holds the change, or its own maximum instead, as first sent
        HeldOnResend, ///< it took the change only when sent again
        Refused,      ///< it refused the value and kept the one before: see refusal()
        Lost,         ///< it never held, or the unit stopped answering
        Stopped,      ///< the link is closing
    };

    explicit ChangeConfirmer(Session& session) : m_session(session) {}

    /// Sends `change` once, within what the unit holds; nullopt once it went out, else Lost or
    /// Stopped. confirm() sees it through.
    std::optional<Outcome> send(const Session::Change& change);
    /// Sees a change send() sent through: `shown` is what a poll taken since read of its kind
    /// (nullopt: it is read back on its own).
    Outcome confirm(const Session::Change& change, std::optional<int> shown);
    /// send() and confirm() by a read-back.
    Outcome apply(const Session::Change& change);
    /// Sends `batch` in order. An output switch is a fence: what went before it is confirmed
    /// before it goes out, and it is confirmed before anything after it, so the load never sees
    /// the output switched with a setpoint the unit did not take. What went out after the last
    /// fence is left in `unconfirmed` for confirmAll(). nullopt, or Lost or Stopped when the
    /// link failed on the way.
    std::optional<Outcome> sendAll(const std::deque<Session::Change>& batch, std::vector<Session::Change>& unconfirmed);
    /// Confirms each of `unconfirmed` by what `shown` read of it, where a poll since read it;
    /// empties it. The batch's outcome: Lost or Stopped at the first such, else HeldOnResend
    /// when one held only when sent again, else Held (a refused value is no failure of the link).
    Outcome confirmAll(std::vector<Session::Change>& unconfirmed, const std::optional<Sample>& shown);
    /// What was learned of the unit's maximum so far (0 = not known).
    UnitMaximum maximum() const { return m_maximum; }
    /// The unit told its maximum itself: setpoints above it go out as it from the start, and
    /// the first one held back makes it learned (as a read-back below what was asked does).
    void knowMaximum(const UnitMaximum& told) { m_told = told; }
    /// The latest setpoint the unit refused.
    const Refusal& refusal() const { return m_refusal; }
    /// What the unit holds of each setpoint, as last confirmed or read.
    HeldSetpoints held() const;
    /// Reads back the setpoints not known yet; false when the unit did not answer.
    bool readHeld();

  private:
    using Change = Session::Change;

    UnitMaximum bound() const;
    Change withinMaximum(Change change) const;
    std::optional<Outcome> tryAgainSlowly(const Change& change, int held);
    std::optional<Outcome> refused(const Change& asked, int held);
    std::optional<int>& heldOf(Change::Kind kind);
    int& maximumOf(Change::Kind kind);

    Session& m_session;
    // What the unit holds of each setpoint, as last confirmed.
    std::optional<int> m_heldCentivolts;
    std::optional<int> m_heldMilliamps;
    UnitMaximum m_maximum;
    UnitMaximum m_told;
    Refusal m_refusal;
    // The spacing after busy commands when each kind of change last went out.
    std::array<std::chrono::milliseconds, 3> m_spacingAtSend{};
};

} // namespace pslink
