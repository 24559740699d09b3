#pragma once

#include "device/link/Session.h"

namespace pslink {

/// Sees each change through on one session: sent until the unit reads it back, up to kTries
/// times. Used by the link thread only.
class ChangeConfirmer
{
  public:
    /// A change still not held after this many tries counts as a lost link.
    static constexpr int kTries = 3;

    enum class Outcome {
        Held,    ///< the unit holds the change
        Lost,    ///< it never held, or the unit stopped answering
        Stopped, ///< the link is closing
    };

    explicit ChangeConfirmer(Session& session) : m_session(session) {}

    Outcome apply(const Session::Change& change);

  private:
    Session& m_session;
};

} // namespace pslink
