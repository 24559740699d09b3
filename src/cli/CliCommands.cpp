// The short commands: each connects through the engine with the identity alone (never the window's
// connect sequence, which would switch the output off) and then asks only what it was asked.
#include "cli/CliCommands.h"

#include "cli/CliConsole.h"
#include "cli/SampleText.h"
#include "device/PowerSupply.h"
#include "device/SupplyLimits.h"
#include "engine/RunEngine.h"

namespace {

// Bound on waiting for readings that reflect what was sent.
constexpr int kFreshTimeoutMs = 10000;

// A supply object and its engine on the port, connected with the identity alone.
class CShortCommand
{
public:
    explicit CShortCommand(const CCliPort& port) : m_port(port)
    {
        port.Choose(m_supply);
        QObject::connect(&m_engine.Watch(), &CSupplyWatch::MaximumLearned, [this](float fVolts, float fAmps) {
            ReportMaximum(m_port, fVolts, fAmps);
        });
        QObject::connect(&m_engine.Watch(), &CSupplyWatch::ValueRefused, [this](const QString& strWhat) {
            ReportRefusal(m_port, strWhat);
            m_bRefused = true;
        });
    }
    ~CShortCommand()
    {
        m_engine.Connector().Disconnect();
        m_engine.Settle();
    }

    /// -1 when the supply answered, else the exit status (the reason printed).
    int Connect()
    {
        const CResult connected = m_engine.Connector().Connect(CConnector::kIdentifyOnly);
        if (connected.Ok()) {
            ReportNotice(m_port, m_engine.Connector().Notice());
            return -1;
        }
        CCliConsole::Instance().Error(
            QStringLiteral("no supply answered on %1: %2").arg(m_port.Describe(), connected.strReason));
        return kExitNoSupply;
    }

    /// Waits until what was sent has reached the supply; the exit status.
    int Settle()
    {
        if (m_engine.Commands().WaitForSupply(kFreshTimeoutMs).Ok())
            return m_bRefused ? kExitRefused : kExitDone;
        CCliConsole::Instance().Error(QStringLiteral("the supply on %1 stopped answering").arg(m_port.Describe()));
        return kExitLinkLost;
    }

    CRunEngine& Engine() { return m_engine; }

private:
    const CCliPort& m_port;
    bool m_bRefused = false; // the supply said it refused a setpoint
    CPowerSupply m_supply;
    CRunEngine m_engine{m_supply};
};

} // namespace

int RunPorts(const CCliOptions& options)
{
    for (const CPortProbe& port : CPortsView::Probe(options.bProbe)) {
        QString strLine = port.strName + QLatin1Char('\t') + port.strDescription;
        if (options.bProbe)
            strLine += QLatin1Char('\t') + port.strAnswer;
        CCliConsole::Instance().PrintLine(strLine);
    }
    return kExitDone;
}

int RunIdentify(const CCliPort& port)
{
    CShortCommand command(port);
    if (const int nExit = command.Connect(); nExit >= 0)
        return nExit;
    CCliConsole::Instance().PrintLine(command.Engine().Connector().Identity());
    return kExitDone;
}

int RunSet(const CCliOptions& options, const CCliPort& port)
{
    CShortCommand command(port);
    if (const int nExit = command.Connect(); nExit >= 0)
        return nExit;
    CSupplyCommands& engine = command.Engine().Commands();
    // Off before new setpoints, on after them: the load never sees a value between the two.
    if (options.nOutput == 0)
        engine.SwitchOutput(false);
    if (options.bVolts)
        engine.SetSetpoint(supply::ClampAbove(options.fVolts, true), 0.0f, 1);
    if (options.bAmps)
        engine.SetSetpoint(0.0f, supply::ClampAbove(options.fAmps, false), 0);
    if (options.nOutput == 1)
        engine.SwitchOutput(true);
    return command.Settle();
}

int RunRead(const CCliOptions& options, const CCliPort& port)
{
    CShortCommand command(port);
    if (const int nExit = command.Connect(); nExit >= 0)
        return nExit;
    // A link that has not polled yet holds zeros, which are no reading.
    if (const int nExit = command.Settle(); nExit != kExitDone)
        return nExit;
    const CRunSample sample = command.Engine().Commands().ReadSample();
    CCliConsole::Instance().PrintLine(SampleLine(-1, sample.fVoltage, sample.fCurrent, sample.nCvState,
                                                 sample.nCcState, sample.nOutState, options.bJson,
                                                 enginetext::ProtectionText(sample.nProtection)));
    return kExitDone;
}
