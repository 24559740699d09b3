// The USB-TMC road against a stand-in: a pseudo-terminal in place of the driver's node, found by
// its serial number in a sysfs tree made for the test. No instrument is on the build machines.

#include "support/UsbTmcTree.h"

#include "device/link/PortSetting.h"
#include "device/link/UsbTmcTransport.h"

#include <gtest/gtest.h>

#include <QtTest/QTest>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

using namespace pslink;
using std::chrono::milliseconds;

TEST(UsbTmcTransport, AStandInCarriesEachMessageAndReplyAndIsFoundByItsSerialNumber)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const QString slave = QString::fromLocal8Bit(::ptsname(master));
    const UsbTmcTree tree(QStringLiteral("DP8C1234"), slave);
    ASSERT_TRUE(tree.ok());

    std::atomic<bool> stop{false};
    UsbTmcTransport transport(stop);
    QString error;
    EXPECT_FALSE(transport.open(*ParsePortSetting("usbtmc:NOSUCH"), &error));
    EXPECT_TRUE(error.contains("it is not plugged in (plugged in: DP8C1234 on " + tree.node() + ")"))
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
}
