#pragma once

#include "device/link/LinkTypes.h"
#include "device/link/Session.h"

#include <optional>

namespace pslink {

/// Sees each change through on one session: sent until the unit reads it back, up to kTries
/// times. A unit asked for more than it can give holds its own maximum instead (a 30 V unit
/// asked for 32 V reads back 30.00): that counts as held, and setpoints above it go out as it
/// from then on. Used by the link thread only.
class ChangeConfirmer
{
  public:
    /// A change still not held after this many tries counts as a lost link.
    static constexpr int kTries = 3;

    enum class Outcome {
        Held,    ///< the unit holds the change, or its own maximum instead
        Lost,    ///< it never held, or the unit stopped answering
        Stopped, ///< the link is closing
    };

    explicit ChangeConfirmer(Session& session) : m_session(session) {}

    Outcome apply(const Session::Change& change);
    /// What was learned of the unit's maximum so far (0 = not known).
    UnitMaximum maximum() const { return m_maximum; }
    /// The unit told its maximum itself: setpoints above it go out as it from the start, and
    /// the first one held back makes it learned (as a read-back below what was asked does).
    void knowMaximum(const UnitMaximum& told) { m_told = told; }

  private:
    using Change = Session::Change;

    Change withinMaximum(Change change) const;
    std::optional<Outcome> tryAgainSlowly(const Change& change, int held);
    std::optional<int>& heldOf(Change::Kind kind);
    int& maximumOf(Change::Kind kind);

    Session& m_session;
    // What the unit holds of each setpoint, as last confirmed.
    std::optional<int> m_heldCentivolts;
    std::optional<int> m_heldMilliamps;
    UnitMaximum m_maximum;
    UnitMaximum m_told;
};

} // namespace pslink
