#include "device/LinkSettings.h"

// What a port reaches and what the user's settings files say, apart from the devices' links.

#include "device/link/Dialect.h"
#include "device/link/Dialects.h"
#include "device/link/Link.h"
#include "device/link/PortsConf.h"
#include "device/link/UnitModels.h"
#include "device/link/modbus/ModbusModels.h"

#include <memory>

namespace pslink {

QString DescribePort(int port)
{
    return DescribePortSetting(PortSettingFor(port));
}

std::vector<QString> PortsConfIssues()
{
    return ReadPortsConf().issues;
}

std::vector<QString> ModuleTableIssues()
{
    std::vector<QString> issues;
    const modbus::ModelTable table = modbus::ModelTable::installed(); // issues() refers into it
    for (const std::string& issue : table.issues())
        issues.push_back(QString::fromStdString(issue));
    return issues;
}

std::vector<QString> UnitTableIssues()
{
    std::vector<QString> issues;
    const UnitTable table = UnitTable::installed();
    for (const std::string& issue : table.issues())
        issues.push_back(QString::fromStdString(issue));
    return issues;
}

std::vector<QString> SettingsIssues()
{
    std::vector<QString> issues = PortsConfIssues();
    for (QString& issue : ModuleTableIssues())
        issues.push_back(std::move(issue));
    for (QString& issue : UnitTableIssues())
        issues.push_back(std::move(issue));
    return issues;
}

LinkProbe ProbeLink(const PortSetting& setting)
{
    LinkProbe probe;
    const std::unique_ptr<Link> link = OpenLink(setting, &probe.error);
    if (!link)
        return probe;
    probe.error.clear();
    probe.identity = link->readVersion();
    const DialectInfo* dialect = link->dialect();
    if (!probe.identity.empty() && dialect)
        probe.dialect = QString::fromLatin1(dialect->description);
    probe.unit = link->unitSummary();
    link->close();
    return probe;
}

} // namespace pslink
