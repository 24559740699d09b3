// Port names of the command line.
#include "cli/CliPort.h"

#include "cli/CliConsole.h"
#include "device/NumberText.h"
#include "device/PowerSupply.h"
#include "device/SupplyLimits.h"
#include "engine/RunEngine.h"

#include <QRegularExpression>
#include <QStringList>


QString CCliPort::Resolve(const QString& text)
{
    strName = text;
    static const QRegularExpression comPattern(QStringLiteral("^[Cc][Oo][Mm]([0-9]+)$"));
    const QRegularExpressionMatch com = comPattern.match(text);
    if (com.hasMatch()) {
        bool ok = false;
        const int n = com.captured(1).toInt(&ok);
        if (!ok || n < 1 || n > CPortsView::Count())
            return QStringLiteral("no port %1: the ports are COM1..COM7").arg(text);
        nPort = n - 1;
        strName = CPortsView::Name(nPort);
        return {};
    }
    if (text.trimmed().isEmpty())
        return QStringLiteral("--port needs a value");
    // A setting of its own ("sim", a device path), handed to the link as a value.
    QString strError;
    setting = CPortsView::Read(text, &strError);
    if (!setting)
        return strError;
    return {};
}

QString CCliPort::UseChannel(int nChannel)
{
    if (nChannel <= 0)
        return {};
    pslink::PortSetting chosen = setting ? *setting : pslink::PortSettingFor(nPort);
    if (chosen.channel > 0 && chosen.channel != nChannel)
        return QStringLiteral("--channel %1 and the port's #ch%2 name different channels").arg(nChannel).arg(chosen.channel);
    const bool bWithoutWire = chosen.dialect && chosen.path.isEmpty() && !chosen.onNetwork(); // the built-in simulator
    if (bWithoutWire && nChannel > 1)
        return QStringLiteral("--channel %1: %2 has one channel").arg(nChannel).arg(strName);
    chosen.channel = nChannel;
    setting = chosen;
    return {};
}

void CCliPort::Choose(CPowerSupply& supply) const
{
    supply.m_nPort = static_cast<std::int16_t>(nPort);
    supply.m_portSetting = setting;
}

QString CCliPort::Describe() const
{
    return QStringLiteral("%1 (%2)").arg(strName, setting ? CPortsView::Describe(*setting)
                                                          : CPortsView::Describe(nPort));
}

void ReportNotice(const CCliPort& port, const QString& strNotice)
{
    if (!strNotice.isEmpty())
        CCliConsole::Instance().Error(QStringLiteral("the supply on %1: %2").arg(port.Describe(), strNotice));
}

void ReportRefusal(const CCliPort& port, const QString& strWhat)
{
    CCliConsole::Instance().Error(QStringLiteral("the supply on %1 refused %2").arg(port.Describe(), strWhat));
}

void ReportMaximum(const CCliPort& port, float fVolts, float fAmps)
{
    QStringList held;
    if (fVolts > 0.0f)
        held << numtext::FixedText(fVolts, supply::kVoltsDecimals) + QStringLiteral(" V");
    if (fAmps > 0.0f)
        held << numtext::FixedText(fAmps, supply::kAmpsDecimals) + QStringLiteral(" A");
    if (!held.isEmpty())
        CCliConsole::Instance().Error(
            QStringLiteral("the supply on %1 holds at most %2").arg(port.Describe(), held.join(QStringLiteral(", "))));
}
