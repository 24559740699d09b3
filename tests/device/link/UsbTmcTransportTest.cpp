// The USB-TMC road against a stand-in: a pseudo-terminal in place of the driver's node, found by
// its serial number in a sysfs tree made for the test. No instrument is on the build machines.

#include "device/link/PortSetting.h"
#include "device/link/UsbTmcTransport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

using namespace pslink;
using std::chrono::milliseconds;

namespace {

// A sysfs class folder with one usbtmc node of USB serial number `serial`, its node a link to `target`.
void MakeUsbTmcTree(const QTemporaryDir& dir, const QString& serial, const QString& target)
{
    QDir root(dir.path());
    ASSERT_TRUE(root.mkpath("devices/usb1/1-1/1-1:1.0") && root.mkpath("class") && root.mkpath("dev"));
    QFile file(root.filePath("devices/usb1/1-1/serial"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(serial.toLatin1() + "\n");
    file.close();
    ASSERT_TRUE(root.mkpath("class/usbtmc3"));
    ASSERT_TRUE(QFile::link(root.filePath("devices/usb1/1-1/1-1:1.0"), root.filePath("class/usbtmc3/device")));
    ASSERT_TRUE(QFile::link(target, root.filePath("dev/usbtmc3")));
    qputenv("TARNWELL_USBTMC_SYSFS", root.filePath("class").toLocal8Bit());
    qputenv("TARNWELL_USBTMC_DEV", root.filePath("dev").toLocal8Bit());
}

} // namespace

TEST(UsbTmcTransport, AStandInCarriesEachMessageAndReplyAndIsFoundByItsSerialNumber)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const QString slave = QString::fromLocal8Bit(::ptsname(master));
    QTemporaryDir dir;
    MakeUsbTmcTree(dir, QStringLiteral("DP8C1234"), slave);

    std::atomic<bool> stop{false};
    UsbTmcTransport transport(stop);
    QString error;
    EXPECT_FALSE(transport.open(*ParsePortSetting("usbtmc:NOSUCH"), &error));
    EXPECT_TRUE(error.contains("it is not plugged in (plugged in: DP8C1234 on " + dir.path() + "/dev/usbtmc3)"))
        << error.toStdString();
    EXPECT_FALSE(transport.open(*ParsePortSetting("usbtmc:/nonexistent/usbtmc9"), &error));
    EXPECT_TRUE(error.contains("no such device")) << error.toStdString();

    ASSERT_TRUE(transport.open(*ParsePortSetting("usbtmc:dp8c1234#ch2"), &error)) << error.toStdString();
    EXPECT_FALSE(transport.onDriver()) << "a terminal refuses the driver's calls: carried on without them";
    ASSERT_TRUE(transport.write("*IDN?\n"));
    char buffer[64];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0))), "*IDN?\n");
    ASSERT_EQ(::write(master, "RIGOL TECHNOLOGIES,DP832,1,1\n", 29), 29);
    EXPECT_EQ(transport.readSome(milliseconds(2000)), "RIGOL TECHNOLOGIES,DP832,1,1\n");
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(transport.readSome(milliseconds(60)), "") << "nothing more: the wait is bounded";
    EXPECT_LT(std::chrono::steady_clock::now() - before, milliseconds(1000));

    ::close(master); // the instrument is unplugged
    EXPECT_TRUE(QTest::qWaitFor([&] { transport.readSome(milliseconds(20)); return transport.failed(); }, 2000));
    qunsetenv("TARNWELL_USBTMC_SYSFS");
    qunsetenv("TARNWELL_USBTMC_DEV");
}
