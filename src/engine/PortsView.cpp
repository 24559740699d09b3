#include "engine/PortsView.h"

#include "device/pslink.h"
#include "engine/EngineText.h"

#include <QThread>

#include <array>
#include <memory>

QString CPortsView::Name(int nPort)
{
    return QStringLiteral("COM%1").arg(nPort + 1);
}

void CPortsView::SimulateAll(bool bOn)
{
    pslink::SetSimulateAll(bOn);
}

int CPortsView::Count()
{
    return pslink::kPortCount;
}

QString CPortsView::Describe(int nPort)
{
    return pslink::DescribePort(nPort);
}

QString CPortsView::Describe(const pslink::PortSetting& setting)
{
    return pslink::DescribePortSetting(setting);
}

std::optional<pslink::PortSetting> CPortsView::Read(const QString& strText, QString* pError)
{
    return pslink::ParsePortSetting(strText, pError);
}

std::vector<QString> CPortsView::SettingsIssues()
{
    return pslink::SettingsIssues();
}

QString CPortsView::SettingsMessage()
{
    return enginetext::SettingsMessage(SettingsIssues());
}

std::vector<CPortProbe> CPortsView::Probe(bool bAsk)
{
    std::vector<CPortProbe> ports(pslink::kPortCount);
    std::array<std::unique_ptr<QThread>, pslink::kPortCount> probes;
    for (int i = 0; i < pslink::kPortCount; ++i) {
        CPortProbe& port = ports[static_cast<size_t>(i)];
        port.strName = Name(i);
        port.strDescription = Describe(i);
        if (!bAsk)
            continue;
        // Each port on a link of its own, all at once.
        probes[static_cast<size_t>(i)].reset(QThread::create([i, &port] {
            const pslink::LinkProbe probe = pslink::ProbeLink(pslink::PortSettingFor(i));
            if (!probe.identity.empty())
                port.strAnswer = enginetext::ProbeAnswer(probe.dialect, probe.identity, probe.unit);
            else if (!probe.error.isEmpty())
                port.strAnswer = enginetext::ProbeCannotOpen(probe.error);
            else
                port.strAnswer = enginetext::ProbeNoAnswer();
        }));
        probes[static_cast<size_t>(i)]->start();
    }
    for (auto& probe : probes) {
        if (probe)
            probe->wait();
    }
    return ports;
}
