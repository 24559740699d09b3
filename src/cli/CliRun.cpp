// `log` and `play`. The run is the run engine's, the device work the supply object's and the
// record writer the window's: this file only decides when to start and stop, and prints.
#include "cli/CliRun.h"

#include "cli/CliConsole.h"
#include "cli/SampleText.h"
#include "device/pslink.h"

#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
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
    if (m_engine.IsRunning())
        m_engine.EndRun();
}

int CCliRun::Start()
{
    CCliConsole& console = CCliConsole::Instance();
    if (IsProgram()) {
        // The load reports a refused name or an unreadable file in the window's words.
        CPowerSupply probe;
        if (probe.LoadFile(m_options.strProgram, 1) == 0) {
            console.Error(QStringLiteral("%1 was not read").arg(m_options.strProgram));
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

    const int nDevice = m_supply.m_nDevice;
    m_supply.m_nPort = static_cast<std::int16_t>(m_port.nPort);
    int nConnected = 0;
    {
        std::lock_guard<std::mutex> guard(m_engine.m_hSupplyLock);
        nConnected = m_supply.Connect();
    }
    if (nConnected == 0) {
        const QString strReason = pslink::LastOpenError(nDevice);
        CloseCOM(nDevice);
        console.Error(QStringLiteral("no supply answered on %1: %2")
                          .arg(m_port.Describe(), strReason.isEmpty()
                                                      ? QStringLiteral("the supply did not answer")
                                                      : strReason));
        return kExitNoSupply;
    }
    if (CSignalPipe::Arrived()) {
        CloseCOM(nDevice);
        return kExitInterrupted;
    }

    connect(&m_engine, &CRunEngine::Sampled, this, &CCliRun::OnSampled);
    // No worker here: the tick that finds the program played ends the run itself.
    m_engine.m_bEndsFinishedRun = 1;
    m_supply.m_bProgramMode = IsProgram() ? 1 : 0;
    const int nMessages = console.m_nMessages.load();
    m_engine.StartRun(IsProgram(), m_options.strProgram, m_options.nCycles);
    if (console.m_nMessages.load() != nMessages) {
        // The program file was checked above, but changed or vanished before the run read it.
        m_engine.EndRun();
        CloseCOM(nDevice);
        return kExitFile;
    }
    connect(&m_engine, &CRunEngine::RunEnded, this, &CCliRun::OnRunEnded);

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
    if (IsProgram())
        m_measured.push_back(MeasuredRow(sample.nSample, sample.fVoltage, sample.fCurrent));
    const QString strLine = SampleLine(sample.nSample, sample.fVoltage, sample.fCurrent, sample.nCvState,
                                       sample.nCcState, sample.nOutState, m_options.bJson);
    if (!console.PrintLine(strLine)) {
        // Whoever read the samples has gone: end as OFF would, and keep what was recorded.
        m_bInterrupted = true;
        EndSoon();
        return;
    }
    ShowProgress(sample.nSample);

    if (!IsProgram()) {
        if (sample.nSample >= m_options.nSeconds)
            EndSoon();
    } else if (m_supply.m_nPlayIndex.load() >= m_supply.m_nPlayTotal.load()) {
        // The last point is played and sampled: the tick that finds nothing left to play ends
        // the run now rather than a second later. Not from inside this tick: it holds the engine.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_engine.IsRunning() && m_engine.IsTimerActive(CRunEngine::kProgramTimer))
                    m_engine.OnTimer(CRunEngine::kProgramTimer);
            },
            Qt::QueuedConnection);
    }
}

void CCliRun::EndSoon()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_engine.IsRunning())
                m_engine.EndRun(CRunEngine::kEndOff);
        },
        Qt::QueuedConnection);
}

void CCliRun::OnSignal()
{
    if (m_bFinishing)
        return;
    m_bInterrupted = true;
    // As OFF: no further sample; the output stays as it is.
    if (m_engine.IsRunning())
        m_engine.EndRun(CRunEngine::kEndOff);
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
    const int nDevice = m_supply.m_nDevice;
    int nExit = m_bInterrupted ? kExitInterrupted : kExitDone;
    if (nReason == CRunEngine::kEndLinkLost) {
        nExit = kExitLinkLost;
        console.Error(QStringLiteral("the supply on %1 stopped answering after %2 s%3")
                          .arg(m_port.Describe(), QString::number(m_supply.m_nSample.load()),
                               m_options.bOffAtEnd ? QStringLiteral("; the output could not be switched off")
                                                   : QString()));
    } else {
        if (m_options.bOffAtEnd)
            dsoCloseOutput(nDevice);
        // What went out last (the last point, the switch-off) reaches the supply before the
        // link closes.
        if (!WaitForFreshReadings(nDevice, kSettleTimeoutMs) && dsoLinkAlive(nDevice) == 0) {
            nExit = kExitLinkLost;
            console.Error(
                QStringLiteral("the supply on %1 stopped answering at the end of the run%2")
                    .arg(m_port.Describe(), m_options.bOffAtEnd
                                                ? QStringLiteral("; the output may not be switched off")
                                                : QString()));
        }
    }
    CloseCOM(nDevice);
    if (!WriteFiles())
        nExit = kExitFile;
    Q_EMIT Finished(nExit);
}

bool CCliRun::WriteFiles()
{
    CCliConsole& console = CCliConsole::Instance();
    bool bWritten = true;
    // The window's Save Data: the record rows of the run (a program run's are its points).
    if (!m_options.strOut.isEmpty()) {
        if (m_supply.SaveRecord(m_options.strOut) == 0) {
            console.Error(QStringLiteral("%1 was not written").arg(m_options.strOut));
            bWritten = false;
        } else {
            m_engine.OnRecordSaved(); // a log's journal holds nothing the record does not
        }
    }
    if (!m_options.strMeasured.isEmpty()) {
        // The same writer over the measured rows.
        CPowerSupply measured;
        measured.m_rows.swap(m_measured);
        if (measured.SaveRecord(m_options.strMeasured) == 0) {
            console.Error(QStringLiteral("%1 was not written").arg(m_options.strMeasured));
            bWritten = false;
        }
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
