#include "device/link/StablePort.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace pslink {

namespace {

// Where a path leads once every link is followed; empty when it leads nowhere (a dangling link).
QString resolved(const QString& path)
{
    return QFileInfo(path).canonicalFilePath();
}

const SerialPortEntry* entryAt(const QString& path, const std::vector<SerialPortEntry>& ports)
{
    const QString target = resolved(path);
    for (const SerialPortEntry& port : ports)
        if (port.path == path || (!target.isEmpty() && resolved(port.path) == target))
            return &port;
    return nullptr;
}

bool sameAdapter(const SerialPortEntry& port, const StablePortName& name)
{
    return !name.serialNumber.isEmpty() && port.serialNumber == name.serialNumber
           && port.vendorId == name.vendorId && port.productId == name.productId;
}

} // namespace

QString SerialByIdDir()
{
    const QString overridden = qEnvironmentVariable("TARNWELL_SERIAL_BY_ID");
    return overridden.isEmpty() ? QStringLiteral("/dev/serial/by-id") : overridden;
}

StablePortName StableNameOf(const QString& path, const std::vector<SerialPortEntry>& ports)
{
    StablePortName name;
    const QString target = resolved(path);
    if (target.isEmpty())
        return name;
    const QDir byId(SerialByIdDir());
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (link.isSymLink() && link.canonicalFilePath() == target) {
            name.byIdName = link.fileName();
            break;
        }
    }
    if (const SerialPortEntry* entry = entryAt(path, ports)) {
        name.serialNumber = entry->serialNumber;
        name.vendorId = entry->vendorId;
        name.productId = entry->productId;
    }
    return name;
}

std::vector<QString> ReopenPaths(const QString& path, const StablePortName& name,
                                 const std::vector<SerialPortEntry>& ports)
{
    if (QFileInfo(path).isSymLink() || name.empty())
        return {path};
    std::vector<QString> paths;
    if (!name.byIdName.isEmpty()) {
        const QString target = resolved(QDir(SerialByIdDir()).filePath(name.byIdName));
        if (!target.isEmpty())
            paths.push_back(target);
    }
    for (const SerialPortEntry& port : ports)
        if (sameAdapter(port, name) && std::find(paths.begin(), paths.end(), port.path) == paths.end())
            paths.push_back(port.path);
    return paths;
}

} // namespace pslink
