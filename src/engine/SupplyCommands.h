#pragma once

#include "device/Result.h"
#include "device/link/LinkTypes.h"
#include "engine/RunSample.h"

#include <functional>

class CPowerSupply;
class CSupplyThread;
class CSupplyWatch;

/// The supply between runs: setpoints and the output, handed to the supply's thread in the order
/// given from any thread (a run's own points go the same road), and the waits of front ends
/// without a window.
class CSupplyCommands
{
public:
    CSupplyCommands(CPowerSupply& supply, CSupplyThread& thread, CSupplyWatch& watch);
    CSupplyCommands(const CSupplyCommands&) = delete;
    CSupplyCommands& operator=(const CSupplyCommands&) = delete;

    /// The supply object's SetSetpoint: a voltage (`which` nonzero) or a current. Does not wait.
    void SetSetpoint(float fVolts, float fAmps, int which);
    void SwitchOutput(bool bOn);
    /// Waits, at most `nTimeoutMs`, until the supply has taken every command handed over before
    /// and readings reflect them. kOk, or kLinkLost when the link is gone or the time ran out.
    /// Not from the window's UI thread.
    CResult WaitForSupply(int nTimeoutMs);
    /// One reading as a user-mode sample takes it, without switching anything (after
    /// WaitForSupply). Waits as WaitForSupply.
    CRunSample ReadSample();
    /// Runs `done(true)` on the engine's home thread once every setpoint and switch handed over
    /// before has been confirmed by the supply, `done(false)` when the link failed first. Does
    /// not wait: for front ends that answer many callers (a service's `*OPC?`).
    void AfterConfirmed(std::function<void(bool)> done);
    /// Has the setpoints the unit holds read back once (after the connect given before) for
    /// front ends that show them without having set them. Does not wait.
    void AskSetpoints();
    /// The setpoints the unit holds, as last confirmed or read on this connection; from any thread.
    pslink::HeldSetpoints Held() const;

private:
    // What the link learned of the unit so far (its maximum, a refused value), read now; the
    // function tells the watch, on the home thread.
    std::function<void()> Learned(int nDevice);

    CPowerSupply& m_supply;
    CSupplyThread& m_thread;
    CSupplyWatch& m_watch;
};
