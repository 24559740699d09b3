#pragma once

// A sysfs tree made for a test: one USB-TMC node with a USB serial number, its node a link to a
// stand-in (a pseudo-terminal). The link and the programs the test starts find it there.

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

class UsbTmcTree
{
public:
    UsbTmcTree(const QString& serial, const QString& target)
    {
        QDir root(m_dir.path());
        QFile file(root.filePath("devices/usb1/1-1/serial"));
        m_ok = root.mkpath("devices/usb1/1-1/1-1:1.0") && root.mkpath("class/usbtmc3") && root.mkpath("dev")
               && file.open(QIODevice::WriteOnly) && file.write(serial.toLatin1() + "\n") > 0
               && QFile::link(root.filePath("devices/usb1/1-1/1-1:1.0"), root.filePath("class/usbtmc3/device"))
               && QFile::link(target, root.filePath("dev/usbtmc3"));
        qputenv("TARNWELL_USBTMC_SYSFS", root.filePath("class").toLocal8Bit());
        qputenv("TARNWELL_USBTMC_DEV", root.filePath("dev").toLocal8Bit());
    }
    ~UsbTmcTree()
    {
        qunsetenv("TARNWELL_USBTMC_SYSFS");
        qunsetenv("TARNWELL_USBTMC_DEV");
    }

    bool ok() const { return m_ok; }
    /// Where the node is, as the driver would have made it.
    QString node() const { return QDir(m_dir.path()).filePath("dev/usbtmc3"); }

private:
    QTemporaryDir m_dir;
    bool m_ok = false;
};
