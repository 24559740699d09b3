#include "serve/SupplyService.h"

#include "device/SupplyLimits.h"

#include <QStringList>

#include <algorithm>

namespace {

constexpr int kFirstReadingsMs = 10000; // as long as the other commands wait for theirs

} // namespace

CSupplyService::CSupplyService(std::optional<pslink::PortSetting> setting, int nPort, QObject* parent)
    : QObject(parent)
{
    m_supply.m_nPort = static_cast<std::int16_t>(nPort);
    m_supply.m_portSetting = std::move(setting);
    // What is recorded goes to the service's own files; a state-folder journal of a run that
    // lasts months is nobody's.
    m_engine.Run().SetJournal(false);
    connect(&m_engine.Run(), &CRun::Sampled, this, &CSupplyService::OnSampled);
    connect(&m_engine.Run(), &CRun::LinkEvent, this,
            [this](int nEvent, const QDateTime&, int, const QString&) { OnLinkEvent(nEvent); });
    connect(&m_engine.Watch(), &CSupplyWatch::ValueRefused, this, &CSupplyService::Refused);
    connect(&m_engine.Run(), &CRun::RunEnded, this, [this](int nReason) {
        if (nReason == CRun::kEndLinkLost)
            Q_EMIT GaveUp();
    });
}

CSupplyService::~CSupplyService()
{
    Stop();
}

CResult CSupplyService::Start(std::chrono::milliseconds reconnectFor)
{
    const CResult connected = m_engine.Connector().Connect(CConnector::kIdentifyOnly);
    if (!connected.Ok())
        return connected;
    // The first readings come after what the connection learned of the unit (its maximum, the
    // bound of every client's setpoint) is known.
    const CResult ready = m_engine.Commands().WaitForSupply(kFirstReadingsMs);
    if (!ready.Ok())
        return ready;
    m_state.bLinked = true;
    m_engine.Commands().AskSetpoints(); // shown from the first sample, not only once a client set them
    m_engine.Run().SetReconnectTime(reconnectFor);
    m_engine.Run().StartWatch();
    return connected;
}

void CSupplyService::Stop()
{
    if (m_engine.Run().IsRunning())
        m_engine.Run().EndRun(CRun::kEndInterrupted);
    m_engine.Connector().Disconnect();
    m_engine.Settle();
}

QString CSupplyService::Identity() const
{
    return m_engine.Connector().Identity();
}

namespace {

// The fields of an identity in the four-field form ("Maker,Model,Serial,Version"); blanks
// after the commas are common.
QStringList IdentityFields(const QString& strIdentity)
{
    QStringList fields = strIdentity.split(QLatin1Char(','));
    for (QString& field : fields)
        field = field.trimmed();
    return fields;
}

} // namespace

QString CSupplyService::Model() const
{
    const QStringList fields = IdentityFields(Identity());
    // A model cannot hold a comma in an identity of our own.
    return fields.size() >= 4 ? fields[1] : QString(Identity()).replace(QLatin1Char(','), QLatin1Char(' '));
}

QString CSupplyService::Serial() const
{
    const QStringList fields = IdentityFields(Identity());
    return fields.size() >= 4 && !fields[2].isEmpty() ? fields[2] : QStringLiteral("0");
}

namespace {

// The smaller of two maxima, where known (0: not).
double Lower(double fOne, double fOther)
{
    return fOne > 0.0 && fOther > 0.0 ? std::min(fOne, fOther) : std::max(fOne, fOther);
}

} // namespace

double CSupplyService::MaxVolts() const
{
    // As learned by the window's road, or as the unit told it on connecting.
    const double fUnit = Lower(m_engine.Watch().MaxVolts(), m_engine.Commands().Held().limit.centivolts / 100.0);
    return fUnit > 0.0 ? std::min<double>(fUnit, supply::kMaxVolts) : supply::kMaxVolts;
}

double CSupplyService::MaxAmps() const
{
    // The limit as the double 5.1: a client's "5.1" is within it.
    const double fUnit = Lower(m_engine.Watch().MaxAmps(), m_engine.Commands().Held().limit.milliamps / 1000.0);
    return fUnit > 0.0 ? std::min(fUnit, supply::kMaxAmps) : supply::kMaxAmps;
}

bool CSupplyService::SetVoltage(double fVolts)
{
    if (!(fVolts >= 0.0 && fVolts <= MaxVolts()))
        return false;
    Pending(m_state.fSetVolts, static_cast<float>(fVolts));
    m_engine.Commands().SetSetpoint(m_state.fSetVolts, 0.0f, 1);
    return true;
}

bool CSupplyService::SetCurrent(double fAmps)
{
    if (!(fAmps >= 0.0 && fAmps <= MaxAmps()))
        return false;
    Pending(m_state.fSetAmps, static_cast<float>(fAmps));
    m_engine.Commands().SetSetpoint(0.0f, m_state.fSetAmps, 0);
    return true;
}

void CSupplyService::Pending(float& fSet, float fValue)
{
    fSet = fValue;
    ++*m_pPending;
    m_engine.Commands().AfterConfirmed([pPending = m_pPending](bool) { --*pPending; });
}

// What the unit holds, once nothing handed on is still on its way: a refused value shows the
// one the unit kept, a value held at the unit's maximum shows the maximum.
const CServiceState& CSupplyService::State() const
{
    TakeHeldSetpoints();
    return m_state;
}

void CSupplyService::TakeHeldSetpoints() const
{
    if (*m_pPending > 0)
        return;
    const pslink::HeldSetpoints held = m_engine.Commands().Held();
    if (held.centivolts)
        m_state.fSetVolts = *held.centivolts / 100.0f;
    if (held.milliamps)
        m_state.fSetAmps = *held.milliamps / 1000.0f;
    m_state.bSetKnown = held.centivolts && held.milliamps;
}

void CSupplyService::SetOutput(bool bOn)
{
    m_engine.Commands().SwitchOutput(bOn);
}

void CSupplyService::Reset()
{
    // Off first: the load never sees the presets with the output on.
    SetOutput(false);
    SetVoltage(std::min<double>(supply::kInitialVolts, MaxVolts()));
    SetCurrent(std::min<double>(supply::kInitialAmps, MaxAmps()));
}

void CSupplyService::AfterConfirmed(std::function<void(bool)> done)
{
    m_engine.Commands().AfterConfirmed(std::move(done));
}

void CSupplyService::OnSampled(const CRunSample& sample)
{
    m_state.nSample = sample.nSample;
    m_state.at = QDateTime::currentDateTimeUtc();
    m_state.bReading = sample.bGap == 0;
    if (sample.bGap == 0) {
        m_state.fVolts = sample.fVoltage;
        m_state.fAmps = sample.fCurrent;
        m_state.bOutput = sample.nOutState != 0;
        m_state.bCv = sample.nCvState != 0;
        m_state.bCc = sample.nCcState != 0;
        m_state.nProtection = sample.nProtection;
        ++m_state.nSamples;
        TakeHeldSetpoints();
    }
    Q_EMIT Sampled(m_state);
}

void CSupplyService::OnLinkEvent(int nEvent)
{
    if (nEvent == CRun::kLinkGone) {
        m_state.bLinked = false;
        Q_EMIT LinkChanged(false);
    } else if (nEvent == CRun::kLinkBack) {
        m_state.bLinked = true;
        ++m_state.nReconnects;
        m_engine.Commands().AskSetpoints(); // a new connection knows nothing of them yet
        Q_EMIT LinkChanged(true);
    }
}
