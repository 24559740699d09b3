#include "engine/SupplyCommands.h"

#include "device/PowerSupply.h"
#include "device/pslink.h"
#include "engine/EngineText.h"
#include "engine/PortsView.h"
#include "engine/SupplyThread.h"
#include "engine/SupplyWatch.h"

#include <chrono>

CSupplyCommands::CSupplyCommands(CPowerSupply& supply, CSupplyThread& thread, CSupplyWatch& watch)
    : m_supply(supply), m_thread(thread), m_watch(watch)
{
}

void CSupplyCommands::SetSetpoint(float fVolts, float fAmps, int which)
{
    m_thread.Post([this, fVolts, fAmps, which] { m_supply.SetSetpoint(fVolts, fAmps, which); });
}

void CSupplyCommands::SwitchOutput(bool bOn)
{
    const int nDevice = m_supply.m_nDevice;
    m_thread.Post([nDevice, bOn] {
        if (bOn)
            dsoOpenOutput(nDevice);
        else
            dsoCloseOutput(nDevice);
    });
}

CResult CSupplyCommands::WaitForSupply(int nTimeoutMs)
{
    return m_thread.WaitForReply<CResult>([this, nTimeoutMs](std::function<void(CResult)> reply) {
        const int nDevice = m_supply.m_nDevice;
        m_thread.AwaitFresh(nDevice, std::chrono::milliseconds(nTimeoutMs), [this, nDevice, reply](bool bFresh) {
            // Told before the answer, so a caller hears of the maximum before it goes on.
            m_thread.ToHome(Learned(nDevice));
            const QString strPort = CPortsView::Name(m_supply.m_nPort.load());
            if (bFresh)
                reply(CResult::Done(strPort));
            else // a module's link knows what became of the last reply ("a reply with a bad CRC")
                reply(CResult::Failure(CResult::kLinkLost, strPort,
                                       enginetext::StoppedAnswering(pslink::LastLinkFault(nDevice))));
        });
    });
}

void CSupplyCommands::AfterConfirmed(std::function<void(bool)> done)
{
    const int nDevice = m_supply.m_nDevice;
    m_thread.Post([this, nDevice, home = m_thread.HomePoster(), done = std::move(done)] {
        pslink::AfterCommandsConfirmed(nDevice, [this, nDevice, home, done](bool bConfirmed) {
            // Told before the answer: a refused value reaches whoever asked before the one that
            // waited goes on (an error queue read right after *OPC?).
            home([learned = Learned(nDevice), done, bConfirmed] {
                learned();
                done(bConfirmed);
            });
        });
    });
}

std::function<void()> CSupplyCommands::Learned(int nDevice)
{
    const pslink::UnitMaximum held = pslink::LearnedMaximum(nDevice);
    const pslink::Refusal refused = pslink::LastRefusal(nDevice);
    return [this, held, refused] {
        m_watch.NoteMaximum(held);
        m_watch.NoteRefusal(refused);
    };
}

void CSupplyCommands::AskSetpoints()
{
    const int nDevice = m_supply.m_nDevice;
    m_thread.Post([nDevice] { pslink::AskSetpoints(nDevice); });
}

pslink::HeldSetpoints CSupplyCommands::Held() const
{
    return pslink::SetpointsHeld(m_supply.m_nDevice);
}

CRunSample CSupplyCommands::ReadSample()
{
    return m_thread.Wait<CRunSample>([this] {
        // A user-mode sample without its switch-on: the lamps, the volts and the amperes.
        m_supply.m_bOpenOutput = 0;
        m_supply.ReadRecordSample();
        CRunSample sample = LampsAndCount(m_supply, 0);
        sample.fVoltage = m_supply.m_fVoltage;
        sample.fCurrent = m_supply.m_fCurrent;
        return sample;
    });
}
