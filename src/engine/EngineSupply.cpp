// The engine's side of the supply between runs: the one connect sequence, setpoints, waiting for
// the supply to take them, single readings, and the ports.
#include "engine/RunEngine.h"

#include "device/PowerSupply.h"
#include "device/pslink.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>

#include <array>
#include <chrono>
#include <thread>

namespace {

// How long a closing window keeps closing the link under a connect that has not given up yet.
constexpr int kAbortTries = 200;
constexpr auto kAbortPause = std::chrono::milliseconds(10);

// The identity as one printable line: a supply may add line ends or junk bytes to it.
QString PrintableIdentity(const std::string& identity)
{
    QString line;
    for (const char c : identity) {
        if (c >= 0x20 && c < 0x7f)
            line += QLatin1Char(c);
    }
    line = line.trimmed();
    if (line.isEmpty() && !identity.empty())
        return QStringLiteral("(an identity without printable characters)");
    return line;
}

QString PortName(int nPort)
{
    return QStringLiteral("COM%1").arg(nPort + 1);
}

} // namespace

CResult CRunEngine::Connect(ConnectMode nMode, const std::atomic<int>* pCancel)
{
    CPowerSupply& supply = *m_pSupply;
    const int nDevice = supply.m_nDevice;
    const QString strPort = PortName(supply.m_nPort.load());
    std::string identity;
    int nConnected = 0;
    {
        std::lock_guard<std::mutex> guard(m_hSupplyLock);
        // Announced before the link opens, so a front end closing from here on finds the
        // connect to cut short: never waited out.
        m_bConnecting = 1;
        if (pCancel && pCancel->load() != 0) {
            m_bConnecting = 0;
            return CResult::Failure(CResult::kAborted, strPort);
        }
        m_fMaxVolts = 0.0f; // a new connection learns the unit's maximum afresh
        m_fMaxAmps = 0.0f;
        nConnected = nMode == kConnectFull ? supply.Connect(&identity) : supply.Open(&identity);
        m_strIdentity = nConnected != 0 ? PrintableIdentity(identity) : QString();
        m_rawIdentity = nConnected != 0 ? identity : std::string();
        m_bConnecting = 0;
    }
    if (nConnected != 0) {
        WatchProtection();
        return CResult::Done(strPort);
    }
    // A port that could not be opened is said, with what to do about it; a supply that is there
    // but silent is only that.
    const QString strWhy = pslink::LastOpenError(nDevice);
    CloseCOM(nDevice);
    if (!strWhy.isEmpty())
        return CResult::Failure(CResult::kNoPort, strPort, strWhy);
    return CResult::Failure(CResult::kNoAnswer, strPort, QStringLiteral("the supply did not answer"));
}

void CRunEngine::Disconnect()
{
    CloseCOM(m_pSupply->m_nDevice);
}

void CRunEngine::AbortConnect()
{
    // A connect waiting on a silent supply ends at once when its link closes. It may be between
    // opening the port and asking for the identity: keep closing until it has given up.
    for (int nTry = 0; nTry < kAbortTries && m_bConnecting.load(); ++nTry) {
        CloseCOM(m_pSupply->m_nDevice);
        std::this_thread::sleep_for(kAbortPause);
    }
}

QString CRunEngine::Identity() const
{
    std::lock_guard<std::mutex> guard(m_hSupplyLock);
    return m_strIdentity;
}

void CRunEngine::SimulateAll(bool bOn)
{
    pslink::SetSimulateAll(bOn);
}

int CRunEngine::PortCount()
{
    return pslink::kPortCount;
}

QString CRunEngine::DescribePort(int nPort)
{
    return pslink::DescribePort(nPort);
}

std::optional<pslink::PortSetting> CRunEngine::ReadPort(const QString& strText, QString* pError)
{
    return pslink::ParsePortSetting(strText, pError);
}

std::vector<QString> CRunEngine::SettingsIssues()
{
    return pslink::SettingsIssues();
}

QString CRunEngine::SettingsMessage()
{
    const std::vector<QString> issues = SettingsIssues();
    if (issues.empty())
        return {};
    QStringList lines{QStringLiteral("Some lines of your settings could not be used:")};
    for (const QString& issue : issues)
        lines << issue;
    return lines.join(QLatin1Char('\n'));
}

QString CRunEngine::DescribePort(const pslink::PortSetting& setting)
{
    return pslink::DescribePortSetting(setting);
}

std::vector<CPortProbe> CRunEngine::ProbePorts(bool bAsk)
{
    std::vector<CPortProbe> ports(pslink::kPortCount);
    std::array<std::unique_ptr<QThread>, pslink::kPortCount> probes;
    for (int i = 0; i < pslink::kPortCount; ++i) {
        CPortProbe& port = ports[static_cast<size_t>(i)];
        port.strName = PortName(i);
        port.strDescription = DescribePort(i);
        if (!bAsk)
            continue;
        // Each port on its own device index, all at once.
        probes[static_cast<size_t>(i)].reset(QThread::create([i, &port] {
            const pslink::LinkProbe probe = pslink::ProbeLink(pslink::PortSettingFor(i));
            if (!probe.identity.empty())
                port.strAnswer = QStringLiteral("%1 \u2014 %2").arg(probe.dialect, PrintableIdentity(probe.identity));
            else if (!probe.error.isEmpty())
                port.strAnswer = QStringLiteral("cannot be opened: %1").arg(probe.error);
            else
                port.strAnswer = QStringLiteral("no answer");
        }));
        probes[static_cast<size_t>(i)]->start();
    }
    for (auto& probe : probes) {
        if (probe)
            probe->wait();
    }
    return ports;
}

int CRunEngine::SetSetpoint(float fVolts, float fAmps, int which)
{
    std::lock_guard<std::mutex> guard(m_hSupplyLock);
    return m_pSupply->SetSetpoint(fVolts, fAmps, which);
}

void CRunEngine::SwitchOutput(bool bOn)
{
    std::lock_guard<std::mutex> guard(m_hSupplyLock);
    if (bOn)
        dsoOpenOutput(m_pSupply->m_nDevice);
    else
        dsoCloseOutput(m_pSupply->m_nDevice);
}

CResult CRunEngine::WaitForSupply(int nTimeoutMs)
{
    const int nDevice = m_pSupply->m_nDevice;
    // The answer may come from another thread, and after the wait has given up.
    auto result = std::make_shared<std::atomic<int>>(-1);
    pslink::AfterFreshReadings(nDevice, [result](bool bFresh) { result->store(bFresh ? 1 : 0); });
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (result->load() >= 0 || clock.elapsed() >= nTimeoutMs)
            loop.quit();
    });
    poll.start(10);
    if (result->load() < 0)
        loop.exec();
    NoteMaximum();
    if (result->load() == 1)
        return CResult::Done(PortName(m_pSupply->m_nPort.load()));
    // A module's link knows what became of the last reply ("a reply with a bad CRC").
    const QString strFault = pslink::LastLinkFault(nDevice);
    return CResult::Failure(CResult::kLinkLost, PortName(m_pSupply->m_nPort.load()),
                            strFault.isEmpty() ? QStringLiteral("the supply stopped answering")
                                               : QStringLiteral("the supply stopped answering (%1)").arg(strFault));
}

CRunSample CRunEngine::ReadSample()
{
    CPowerSupply& supply = *m_pSupply;
    std::lock_guard<std::mutex> guard(m_hSupplyLock);
    // A user-mode sample without its switch-on: the lamps, the volts and the amperes.
    supply.m_bOpenOutput = 0;
    supply.ReadRecordSample();
    CRunSample sample = LampsAndCount(0);
    sample.fVoltage = supply.m_fVoltage;
    sample.fCurrent = supply.m_fCurrent;
    return sample;
}

float CRunEngine::MaxVolts() const
{
    std::lock_guard<std::mutex> guard(m_hSupplyLock);
    return m_fMaxVolts;
}

float CRunEngine::MaxAmps() const
{
    std::lock_guard<std::mutex> guard(m_hSupplyLock);
    return m_fMaxAmps;
}

void CRunEngine::NoteMaximum()
{
    const pslink::UnitMaximum held = pslink::LearnedMaximum(m_pSupply->m_nDevice);
    const float fVolts = held.centivolts / 100.0f;
    const float fAmps = held.milliamps / 1000.0f;
    {
        std::lock_guard<std::mutex> guard(m_hSupplyLock);
        if (fVolts == m_fMaxVolts && fAmps == m_fMaxAmps)
            return;
        m_fMaxVolts = fVolts;
        m_fMaxAmps = fAmps;
    }
    // Told once per maximum learned; a fresh connection forgets it.
    if (fVolts > 0.0f || fAmps > 0.0f)
        Q_EMIT MaximumLearned(fVolts, fAmps);
}

void CRunEngine::WatchProtection()
{
    const int nDevice = m_pSupply->m_nDevice;
    const std::shared_ptr<Presence> presence = m_pPresence;
    pslink::AfterFreshReadings(nDevice, [this, presence, nDevice](bool bFresh) {
        if (!bFresh)
            return;
        const unsigned nProtection = pslink::ReadProtection(nDevice);
        std::lock_guard<std::mutex> guard(presence->lock);
        if (presence->bAlive)
            QMetaObject::invokeMethod(this, [this, nProtection] { NoteProtection(nProtection); }, Qt::QueuedConnection);
    });
}

void CRunEngine::NoteProtection(unsigned nProtection)
{
    if (nProtection == m_nProtection)
        return;
    m_nProtection = nProtection;
    if (m_nJournal != 0 && nProtection != 0)
        m_journal.Note(QDateTime::currentDateTime(),
                       QStringLiteral("sample %1: %2 tripped; the output is off")
                           .arg(m_pSupply->m_nSample.load())
                           .arg(ProtectionText(nProtection)));
    Q_EMIT ProtectionChanged(nProtection);
}

QString CRunEngine::ProtectionText(unsigned nProtection)
{
    static const struct
    {
        unsigned bit;
        const char* word;
    } kWords[] = {{pslink::kOverVoltage, "OVP"}, {pslink::kOverCurrent, "OCP"}, {pslink::kOverPower, "OPP"},
                  {pslink::kOverTemperature, "OTP"}, {pslink::kShortCircuit, "SCP"}};
    QStringList words;
    for (const auto& w : kWords) {
        if (nProtection & w.bit)
            words << QLatin1String(w.word);
    }
    return words.join(QLatin1Char('+'));
}
