#include "cli/CliCommands.h"

#include "cli/CliConsole.h"
#include "cli/SampleText.h"
#include "device/PowerSupply.h"
#include "device/SupplyLimits.h"
#include "device/pslink.h"

#include <QThread>

#include <array>
#include <memory>

namespace {

constexpr int kPorts = pslink::kPortCount;

// Bound on waiting for readings that reflect what was sent.
constexpr int kFreshTimeoutMs = 10000;

// Opens the port and asks for the identity, nothing more. -1 when the supply answered (the link
// is then open), else the exit status (the link is closed, the reason printed).
int OpenAndIdentify(const CCliPort& port, int nDevice, QString* pIdentity = nullptr)
{
    QString strReason;
    if (OpenCOM(nDevice, port.nPort) == 0) {
        strReason = pslink::LastOpenError(nDevice);
        if (strReason.isEmpty())
            strReason = QStringLiteral("the port could not be opened");
    } else {
        const QString strIdentity = IdentityLine(nDevice);
        if (!strIdentity.isEmpty()) {
            if (pIdentity)
                *pIdentity = strIdentity;
            return -1;
        }
        strReason = QStringLiteral("the supply did not answer");
    }
    CloseCOM(nDevice);
    CCliConsole::Instance().Error(
        QStringLiteral("no supply answered on %1: %2").arg(port.Describe(), strReason));
    return kExitNoSupply;
}

// Waits until what was sent has reached the supply, then closes the link.
int SettleAndClose(const CCliPort& port, int nDevice)
{
    const bool bFresh = WaitForFreshReadings(nDevice, kFreshTimeoutMs);
    CloseCOM(nDevice);
    if (bFresh)
        return kExitDone;
    CCliConsole::Instance().Error(QStringLiteral("the supply on %1 stopped answering").arg(port.Describe()));
    return kExitLinkLost;
}

} // namespace

int RunPorts(const CCliOptions& options)
{
    std::array<QString, kPorts> lines;
    for (int i = 0; i < kPorts; ++i)
        lines[static_cast<size_t>(i)] = QStringLiteral("COM%1\t%2").arg(i + 1).arg(pslink::DescribePort(i));

    if (options.bProbe) {
        // All at once, each port on its own device index: a silent port takes seconds to give up.
        std::array<QString, kPorts> answers;
        std::array<std::unique_ptr<QThread>, kPorts> probes;
        for (int i = 0; i < kPorts; ++i) {
            QString* pAnswer = &answers[static_cast<size_t>(i)];
            probes[static_cast<size_t>(i)].reset(QThread::create([i, pAnswer] {
                const int nDevice = i + 1;
                if (OpenCOM(nDevice, i) == 0) {
                    const QString strReason = pslink::LastOpenError(nDevice);
                    *pAnswer = strReason.isEmpty() ? QStringLiteral("cannot be opened")
                                                   : QStringLiteral("cannot be opened: %1").arg(strReason);
                } else {
                    const QString strIdentity = IdentityLine(nDevice);
                    *pAnswer = strIdentity.isEmpty() ? QStringLiteral("no answer") : strIdentity;
                }
                CloseCOM(nDevice);
            }));
            probes[static_cast<size_t>(i)]->start();
        }
        for (int i = 0; i < kPorts; ++i) {
            probes[static_cast<size_t>(i)]->wait();
            lines[static_cast<size_t>(i)] += QLatin1Char('\t') + answers[static_cast<size_t>(i)];
        }
    }
    for (const QString& strLine : lines)
        CCliConsole::Instance().PrintLine(strLine);
    return kExitDone;
}

int RunIdentify(const CCliPort& port)
{
    const int nDevice = 0;
    QString strIdentity;
    if (const int nExit = OpenAndIdentify(port, nDevice, &strIdentity); nExit >= 0)
        return nExit;
    CloseCOM(nDevice);
    CCliConsole::Instance().PrintLine(strIdentity);
    return kExitDone;
}

int RunSet(const CCliOptions& options, const CCliPort& port)
{
    CPowerSupply supply;
    supply.m_nPort = static_cast<std::int16_t>(port.nPort);
    const int nDevice = supply.m_nDevice;
    if (const int nExit = OpenAndIdentify(port, nDevice); nExit >= 0)
        return nExit;
    // Off before new setpoints, on after them: the load never sees a value between the two.
    if (options.nOutput == 0)
        dsoCloseOutput(nDevice);
    if (options.bVolts) {
        supply.SetSetpoint(supply::ClampAbove(options.fVolts, true), 0.0f, 1);
    }
    if (options.bAmps) {
        supply.SetSetpoint(0.0f, supply::ClampAbove(options.fAmps, false), 0);
    }
    if (options.nOutput == 1)
        dsoOpenOutput(nDevice);
    return SettleAndClose(port, nDevice);
}

int RunRead(const CCliOptions& options, const CCliPort& port)
{
    CPowerSupply supply;
    supply.m_nPort = static_cast<std::int16_t>(port.nPort);
    const int nDevice = supply.m_nDevice;
    if (const int nExit = OpenAndIdentify(port, nDevice); nExit >= 0)
        return nExit;
    // A link that has not polled yet holds zeros, which are no reading.
    if (!WaitForFreshReadings(nDevice, kFreshTimeoutMs)) {
        CloseCOM(nDevice);
        CCliConsole::Instance().Error(
            QStringLiteral("the supply on %1 stopped answering").arg(port.Describe()));
        return kExitLinkLost;
    }
    // A user-mode sample without its switch-on: the lamps, the volts and the amperes.
    supply.ReadRecordSample();
    CloseCOM(nDevice);
    CCliConsole::Instance().PrintLine(SampleLine(-1, supply.m_fVoltage, supply.m_fCurrent,
                                                 supply.m_nCvState.load(), supply.m_nCcState.load(),
                                                 supply.m_nOutState.load(), options.bJson));
    return kExitDone;
}
