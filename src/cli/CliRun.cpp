// `log` and `play`. The run is the run engine's, the device work the supply object's and the
// record writer the window's: this file only decides when to start and stop, and prints.
#include "cli/CliRun.h"

#include "cli/CliConsole.h"
#include "cli/SampleText.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <climits>
#include <cstring>

namespace {

// Bound on waiting for the last commands of a run (the last point, the switch-off) to reach the
// supply before the link closes.
constexpr int kSettleTimeoutMs = 10000;

// Why nothing can be written at `strPath`, found before the run rather than after a weekend of
// it; empty when a file can be written there.
QString WriteProblem(const QString& strPath)
{
    const QFileInfo info(strPath);
    if (info.isDir())
        return QString::fromLocal8Bit(std::strerror(EISDIR));
    QTemporaryFile probe(info.absolutePath() + QStringLiteral("/.tarnwell-cli-XXXXXX"));
    if (!probe.open())
        return probe.errorString();
    return {};
}

} // namespace

CCliRun::CCliRun(const CCliOptions& options, const CCliPort& port, QObject* parent)
    : QObject(parent), m_options(options), m_port(port)
{
    connect(&m_signals, &CSignalPipe::Raised, this, &CCliRun::OnSignal);
}

CCliRun::~CCliRun()
{
    if (m_engine.Run().IsRunning())
        m_engine.Run().EndRun();
}

int CCliRun::Start()
{
    CCliConsole& console = CCliConsole::Instance();
    if (IsProgram()) {
        // Refused before anything is connected, in the window's words.
        CPowerSupply probe;
        const CResult counted = probe.Load(m_options.strProgram, true);
        if (!counted.Ok()) {
            console.Error(QStringLiteral("%1: %2").arg(m_options.strProgram, counted.Message()));
            return kExitFile;
        }
    }
    for (const QString& strPath : {m_options.strOut, m_options.strMeasured}) {
        if (strPath.isEmpty())
            continue;
        const QString strProblem = WriteProblem(strPath);
        if (!strProblem.isEmpty()) {
            console.Error(QStringLiteral("cannot write %1: %2").arg(strPath, strProblem));
            return kExitFile;
        }
    }

    m_port.Choose(m_supply);
    const CResult connected = m_engine.Connector().Connect();
    if (!connected.Ok() && CSignalPipe::Arrived())
        return kExitInterrupted; // Ctrl-C cut the connect short
    if (!connected.Ok()) {
        console.Error(QStringLiteral("no supply answered on %1: %2").arg(m_port.Describe(), connected.strReason));
        return kExitNoSupply;
    }
    if (CSignalPipe::Arrived()) {
        m_engine.Connector().Disconnect();
        return kExitInterrupted;
    }
    ReportNotice(m_port, m_engine.Connector().Notice());

    connect(&m_engine.Run(), &CRun::Sampled, this, &CCliRun::OnSampled);
    connect(&m_engine.Run(), &CRun::JournalFailed, this, [](const QString& strFolder, const QString& strReason) {
        CCliConsole::Instance().Error(enginetext::JournalFailureMessage(strFolder, strReason));
    });
    connect(&m_engine.Watch(), &CSupplyWatch::MaximumLearned, this, [this](float fVolts, float fAmps) {
        ReportMaximum(m_port, fVolts, fAmps);
    });
    connect(&m_engine.Watch(), &CSupplyWatch::ValueRefused, this,
            [this](const QString& strWhat) { ReportRefusal(m_port, strWhat); });
    connect(&m_engine.Run(), &CRun::LinkEvent, this, &CCliRun::OnLinkEvent);
    m_engine.Run().SetReconnectTime(std::chrono::seconds(m_options.nReconnectSeconds));
    m_supply.m_bProgramMode = IsProgram() ? 1 : 0;
    const CResult started = m_engine.Run().StartRun(IsProgram(), m_options.strProgram, m_options.nCycles);
    if (!started.Ok()) {
        // The program file was checked above, but changed or vanished before the run read it.
        console.Error(QStringLiteral("%1: %2").arg(m_options.strProgram, started.Message()));
        m_engine.Connector().Disconnect();
        return kExitFile;
    }
    connect(&m_engine.Run(), &CRun::RunEnded, this, &CCliRun::OnRunEnded);

    m_nTotal = IsProgram() ? std::min<long long>(static_cast<long long>(m_supply.m_nPointsPerCycle.load()) *
                                                     m_options.nCycles,
                                                 INT_MAX)
                           : m_options.nSeconds;
    ShowProgress(0);
    return -1;
}

void CCliRun::OnSampled(const CRunSample& sample)
{
    if (m_bFinishing)
        return;
    CCliConsole& console = CCliConsole::Instance();
    if (sample.bGap) {
        // A second without a reading: recorded as such, told by the link's events, not printed.
        if (IsProgram())
            m_measured.push_back(GapRow(sample.nSample));
        ShowProgress(sample.nSample);
        if (!IsProgram() && sample.nSample >= m_options.nSeconds)
            EndSoon(CRun::kEndStopped);
        return;
    }
    if (IsProgram())
        m_measured.push_back(MeasuredRow(sample.nSample, sample.fVoltage, sample.fCurrent));
    const QString strLine = SampleLine(sample.nSample, sample.fVoltage, sample.fCurrent, sample.nCvState,
                                       sample.nCcState, sample.nOutState, m_options.bJson,
                                       enginetext::ProtectionText(sample.nProtection));
    if (!console.PrintLine(strLine)) {
        // Whoever read the samples has gone: end as a signal would, and keep what was recorded.
        EndSoon(CRun::kEndInterrupted);
        return;
    }
    ShowProgress(sample.nSample);
    if (!IsProgram() && sample.nSample >= m_options.nSeconds)
        EndSoon(CRun::kEndStopped);
}

void CCliRun::OnLinkEvent(int nEvent, const QDateTime& at, int nSample, const QString& strIdentity)
{
    if (m_bFinishing)
        return;
    CCliConsole& console = CCliConsole::Instance();
    QString strText;
    switch (nEvent) {
    case CRun::kLinkGone:
        m_nGoneAt = nSample;
        strText = QStringLiteral("the supply on %1 stopped answering at %2 s; trying it again for up to %3")
                      .arg(m_port.Describe(), QString::number(nSample), ClockText(m_options.nReconnectSeconds));
        break;
    case CRun::kLinkBack:
        strText = QStringLiteral("the supply on %1 answers again at %2 s, after %3 s without readings")
                      .arg(m_port.Describe(), QString::number(nSample), QString::number(nSample - m_nGoneAt));
        break;
    case CRun::kLinkOther:
        strText = QStringLiteral("another supply answers on %1 (%2): it is not taken for the one of this run")
                      .arg(m_port.Describe(), strIdentity);
        break;
    case CRun::kLinkGaveUp:
        strText = QStringLiteral("the supply on %1 did not come back within %2")
                      .arg(m_port.Describe(), ClockText(m_options.nReconnectSeconds));
        break;
    default:
        return; // the run's own end says the rest
    }
    console.EndProgress();
    console.Error(strText);
    if (m_options.bJson)
        console.PrintLine(EventLine(nEvent, at, nSample, strIdentity));
}

void CCliRun::EndSoon(int nReason)
{
    // Not from inside the tick that took the sample: the engine is still in it.
    QMetaObject::invokeMethod(
        this,
        [this, nReason] {
            if (m_engine.Run().IsRunning())
                m_engine.Run().EndRun(static_cast<CRun::EndReason>(nReason));
        },
        Qt::QueuedConnection);
}

void CCliRun::OnSignal()
{
    if (m_bFinishing)
        return;
    // A connect still waiting on a silent supply gives up at once.
    m_engine.Connector().Abort();
    // As OFF: no further sample; the output stays as it is.
    if (m_engine.Run().IsRunning())
        m_engine.Run().EndRun(CRun::kEndInterrupted);
}

void CCliRun::OnRunEnded(int nReason)
{
    if (m_bFinishing)
        return;
    m_bFinishing = true;
    // Finished after the engine is done emitting: the end waits on the link and writes files.
    QMetaObject::invokeMethod(this, [this, nReason] { Finish(nReason); }, Qt::QueuedConnection);
}

void CCliRun::Finish(int nReason)
{
    CCliConsole& console = CCliConsole::Instance();
    console.EndProgress();
    int nExit = nReason == CRun::kEndInterrupted ? kExitInterrupted : kExitDone;
    if (nReason == CRun::kEndOutputOff) {
        nExit = kExitLinkLost;
        console.Error(enginetext::EndMessage(nReason));
    } else if (nReason == CRun::kEndLinkLost) {
        nExit = kExitLinkLost;
        console.Error(QStringLiteral("the supply on %1 stopped answering after %2 s%3")
                          .arg(m_port.Describe(), QString::number(m_engine.Run().SampleCount()),
                               m_options.bOffAtEnd ? QStringLiteral("; the output could not be switched off")
                                                   : QString()));
    } else {
        if (m_options.bOffAtEnd)
            m_engine.Commands().SwitchOutput(false);
        // What went out last (the last point, the switch-off) reaches the supply before the
        // link closes.
        if (!m_engine.Commands().WaitForSupply(kSettleTimeoutMs).Ok()) {
            nExit = kExitLinkLost;
            console.Error(
                QStringLiteral("the supply on %1 stopped answering at the end of the run%2")
                    .arg(m_port.Describe(), m_options.bOffAtEnd
                                                ? QStringLiteral("; the output may not be switched off")
                                                : QString()));
        }
    }
    m_engine.Connector().Disconnect();
    // The supply's thread is done with the supply object's rows before they are written.
    m_engine.Settle();
    if (!WriteFiles())
        nExit = kExitFile;
    Q_EMIT Finished(nExit);
}

bool CCliRun::WriteFiles()
{
    CCliConsole& console = CCliConsole::Instance();
    bool bWritten = true;
    auto save = [&](CPowerSupply& supply, const QString& strPath) {
        const CResult saved = supply.Save(strPath);
        if (!saved.Ok()) {
            console.Error(QStringLiteral("%1 was not written: %2").arg(strPath, saved.Message()));
            bWritten = false;
        }
        return saved.Ok();
    };
    // The window's Save Data: the record rows of the run (a program run's are its points).
    if (!m_options.strOut.isEmpty() && save(m_supply, m_options.strOut))
        m_engine.Run().OnRecordSaved(); // a log's journal holds nothing the record does not
    if (!m_options.strMeasured.isEmpty()) {
        // The same writer over the measured rows.
        CPowerSupply measured;
        measured.m_rows.swap(m_measured);
        save(measured, m_options.strMeasured);
    }
    return bWritten;
}

void CCliRun::ShowProgress(long long nElapsed)
{
    if (m_nTotal <= 0)
        return;
    CCliConsole::Instance().Progress(QStringLiteral("%1 %2 / %3, %4 left")
                                         .arg(IsProgram() ? QStringLiteral("play") : QStringLiteral("log"),
                                              ClockText(nElapsed), ClockText(m_nTotal),
                                              ClockText(m_nTotal - nElapsed)));
}
