#include "device/link/UsbTmcNodes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace pslink {

namespace {

QString folderFrom(const char* variable, const char* fallback)
{
    const QByteArray set = qgetenv(variable);
    return set.isEmpty() ? QString::fromLatin1(fallback) : QString::fromLocal8Bit(set);
}

QString firstLine(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readLine()).trimmed();
}

} // namespace

QString UsbTmcSysfsDir()
{
    return folderFrom("TARNWELL_USBTMC_SYSFS", "/sys/class/usbmisc");
}

QString UsbTmcDevDir()
{
    return folderFrom("TARNWELL_USBTMC_DEV", "/dev");
}

std::vector<UsbTmcNode> SystemUsbTmcNodes()
{
    std::vector<UsbTmcNode> nodes;
    const QDir sysfs(UsbTmcSysfsDir());
    const QStringList names = sysfs.entryList({QStringLiteral("usbtmc*")}, QDir::Dirs | QDir::NoDotAndDotDot,
                                              QDir::Name);
    for (const QString& name : names) {
        // "device" is the instrument's interface; the USB device with its serial number holds it.
        const QString interface = QFileInfo(sysfs.filePath(name + QStringLiteral("/device"))).canonicalFilePath();
        const QString device = interface.isEmpty() ? QString() : QFileInfo(interface).path();
        UsbTmcNode node;
        node.path = QDir(UsbTmcDevDir()).filePath(name);
        node.serial = device.isEmpty() ? QString() : firstLine(device + QStringLiteral("/serial"));
        node.product = device.isEmpty() ? QString() : firstLine(device + QStringLiteral("/product"));
        nodes.push_back(std::move(node));
    }
    return nodes;
}

std::optional<UsbTmcNode> FindUsbTmcNode(const QString& serial)
{
    for (UsbTmcNode& node : SystemUsbTmcNodes())
        if (!node.serial.isEmpty() && node.serial.compare(serial, Qt::CaseInsensitive) == 0)
            return std::move(node);
    return std::nullopt;
}

} // namespace pslink
