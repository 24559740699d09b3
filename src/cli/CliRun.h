#pragma once

#include "cli/CliOptions.h"
#include "cli/CliPort.h"
#include "cli/SignalPipe.h"
#include "device/PowerSupply.h"
#include "engine/RunEngine.h"

#include <QDateTime>
#include <QObject>

#include <deque>
#include <string>

/// `log` and `play`: a run of the run engine on the command line. Connects as the window does,
/// prints each sample as it is taken, ends as the window's run ends (the last point played, OFF
/// for Ctrl-C, SIGTERM or the end of the duration, a lost link), then writes the files.
class CCliRun : public QObject
{
    Q_OBJECT
public:
    CCliRun(const CCliOptions& options, const CCliPort& port, QObject* parent = nullptr);
    ~CCliRun() override;

    /// Checks the files, connects and starts the run. The exit status when the run could not
    /// start (the link is closed again then); -1 when it runs and Finished will follow.
    int Start();

Q_SIGNALS:
    void Finished(int nExit);

private:
    bool IsProgram() const { return m_options.nCommand == CCliOptions::kPlay; }
    void OnSampled(const CRunSample& sample);
    void OnRunEnded(int nReason);
    /// The link went, came back, met another supply, or trying ended: a line on standard error,
    /// and an event object among the samples with --json.
    void OnLinkEvent(int nEvent, const QDateTime& at, int nSample, const QString& strIdentity);
    void OnSignal();
    /// Ends the run with `nReason` once the tick under way is done.
    void EndSoon(int nReason);
    void Finish(int nReason);
    bool WriteFiles();
    void ShowProgress(long long nElapsed);

    const CCliOptions m_options;
    const CCliPort m_port;
    CSignalPipe m_signals; ///< first, so a Ctrl-C during the connect is not lost
    CPowerSupply m_supply;
    CRunEngine m_engine{m_supply};
    std::deque<std::string> m_measured; ///< rows of the --measured file
    long long m_nTotal = 0;             ///< seconds the run lasts, for the progress line
    bool m_bFinishing = false;
    int m_nGoneAt = 0; ///< the sample count when the link went
};
