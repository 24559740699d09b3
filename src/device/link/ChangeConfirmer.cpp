#include "device/link/ChangeConfirmer.h"

namespace pslink {

// A newer value of the same kind waiting meanwhile does not cut this short: what went out is
// seen through, so the supply never silently skips a value it was sent.
ChangeConfirmer::Outcome ChangeConfirmer::apply(const Session::Change& change)
{
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        switch (m_session.apply(change)) {
        case Session::Applied::Held:
            return Outcome::Held;
        case Session::Applied::Stopped:
            return Outcome::Stopped;
        case Session::Applied::Unanswered:
            return Outcome::Lost;
        case Session::Applied::NotHeld:
            break;
        }
    }
    return Outcome::Lost;
}

} // namespace pslink
