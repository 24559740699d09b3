#pragma once

#include "device/PowerSupply.h"
#include "device/link/PortSetting.h"
#include "engine/RunEngine.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

/// What the service last knew of the supply.
struct CServiceState
{
    bool bLinked = false;   ///< the link answers (false while it is tried again)
    int nSample = 0;        ///< seconds of sampling so far, those without readings included
    QDateTime at;           ///< when the last sample was taken
    bool bReading = false;  ///< the last second brought readings
    float fVolts = 0.0f;    ///< measured
    float fAmps = 0.0f;
    bool bSetKnown = false; ///< the setpoints below are known: read from the unit, or set since
    float fSetVolts = 0.0f;
    float fSetAmps = 0.0f;
    bool bOutput = false;
    bool bCv = false;
    bool bCc = false;
    unsigned nProtection = 0; ///< pslink::ProtectionBit values
    unsigned nReconnects = 0; ///< times the link came back
    unsigned nSamples = 0;    ///< samples with readings taken
};

/// The supply as the service serves it to every client at once: one connection (the identity
/// only: nothing is switched), a watch run that samples once a second and takes a lost link back,
/// the state last read, and the one road of every client's change: within the program's limits
/// and the unit's maximum, handed to the engine in arrival order, confirmed by the link as the
/// window's are. Lives on the thread of the application object.
class CSupplyService : public QObject
{
    Q_OBJECT
public:
    /// `setting` (tarnwell-cli --port's own setting) or else port index `nPort`.
    CSupplyService(std::optional<pslink::PortSetting> setting, int nPort, QObject* parent = nullptr);
    ~CSupplyService() override;

    /// Connects and begins sampling; the failure, if any, in the words of the other commands.
    /// `reconnectFor`: how long a lost link is tried again before the service gives up.
    CResult Start(std::chrono::milliseconds reconnectFor);
    /// Ends sampling and closes the link; the output stays as it is.
    void Stop();

    /// The setpoints in it are the unit's as the link last knew them, asked at once.
    const CServiceState& State() const;
    /// The identity as the unit gave it, as one printable line; its model and serial number where
    /// it tells them (the four-field form), else the whole line and "0".
    QString Identity() const;
    QString Model() const;
    QString Serial() const;
    /// The largest setpoints a client may ask: the program's limits, or the unit's maximum where
    /// it is lower.
    double MaxVolts() const;
    double MaxAmps() const;

    /// A client's change: refused (false) outside 0..Max, else handed on.
    bool SetVoltage(double fVolts);
    bool SetCurrent(double fAmps);
    void SetOutput(bool bOn);
    /// Output off and the window's starting presets.
    void Reset();
    /// `done(true)` once every change handed on before has been confirmed by the supply.
    void AfterConfirmed(std::function<void(bool)> done);

Q_SIGNALS:
    /// A second of sampling: readings, or a second without any while the link is down.
    void Sampled(const CServiceState& state);
    /// The link went or came back.
    void LinkChanged(bool bUp);
    /// Trying to reach the supply again ran out of time: the service cannot go on.
    void GaveUp();
    /// The unit refused a setpoint and kept the one before ("30.00 V"; the unit's own words).
    void Refused(const QString& strWhat, bool bVoltage);

private:
    void OnSampled(const CRunSample& sample);
    void OnLinkEvent(int nEvent);
    void TakeHeldSetpoints() const;
    void Pending(float& fSet, float fValue);

    CPowerSupply m_supply;
    CRunEngine m_engine{m_supply};
    mutable CServiceState m_state; // its setpoints are the link's, taken when asked
    // Changes handed on and not yet confirmed: until then the state shows what was asked, not
    // what the unit held before. Shared with the confirmations, which may come after this ends.
    std::shared_ptr<int> m_pPending = std::make_shared<int>(0);
};
