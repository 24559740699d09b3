// Which system port each COMn reaches, and what a port that cannot be opened tells the user.

#include "device/link/SerialPorts.h"
#include "device/pslink.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using namespace pslink;

TEST(SerialPorts, UsbAdaptersComeFirstInNaturalOrder)
{
    std::vector<SerialPortEntry> ports;
    for (const char* path : {"/dev/ttyS0", "/dev/ttyUSB10", "/dev/ttyS1", "/dev/ttyUSB2", "/dev/ttyACM0", "/dev/ttyAMA0",
                             "/dev/ttyUSB0", "/dev/rfcomm0"})
        ports.push_back({QString::fromLatin1(path), {}, {}, std::nullopt, std::nullopt});
    // A USB adapter under another name still counts as one.
    ports.push_back({QStringLiteral("/dev/ttyCH343USB0"), QStringLiteral("USB Serial"), {}, 0x1a86u, 0x55d3u});
    OrderSerialPorts(ports);
    QStringList order;
    for (const auto& p : ports)
        order << p.path;
    EXPECT_EQ(order, (QStringList{"/dev/ttyACM0", "/dev/ttyCH343USB0", "/dev/ttyUSB0", "/dev/ttyUSB2", "/dev/ttyUSB10",
                                  "/dev/rfcomm0", "/dev/ttyAMA0", "/dev/ttyS0", "/dev/ttyS1"}));

    EXPECT_EQ(DescribeAdapter({"/dev/ttyUSB0", "FT232R USB UART", "FTDI", 0x0403u, 0x6001u}),
              QStringLiteral("FT232R USB UART, FTDI, USB 0403:6001"));
    EXPECT_EQ(DescribeAdapter({"/dev/ttyS0", {}, {}, std::nullopt, std::nullopt}), QString());
}

namespace {

// COM1 reaches `target` for one OpenCOM; what that OpenCOM left to tell the user.
QString openError(const QByteArray& target)
{
    qputenv("TARNWELL_COM1", target);
    const int opened = OpenCOM(0, 0);
    const QString error = LastOpenError(0);
    CloseCOM(0);
    qunsetenv("TARNWELL_COM1");
    return opened ? QStringLiteral("(opened)") : error;
}

// Runs `open` as an ordinary user: root may open anything, so permission cannot fail for it.
QString asOrdinaryUser(const std::function<QString()>& open)
{
    if (::geteuid() != 0)
        return open();
    if (::seteuid(65534) != 0)
        return {};
    const QString result = open();
    EXPECT_EQ(::seteuid(0), 0);
    return result;
}

} // namespace

TEST(SerialPorts, FailedOpensSayWhyAndWhatToDo)
{
    const QString missing = openError("text:/dev/ttyUSB-none-such");
    EXPECT_TRUE(missing.contains("/dev/ttyUSB-none-such: no such device")) << missing.toStdString();

    // A pseudo-terminal that another program has open: the serial port library locks it.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const QString pty = QString::fromLocal8Bit(::ptsname(master));
    {
        QSerialPort holder(pty);
        ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
        const QString busy = openError(QFile::encodeName(pty));
        EXPECT_TRUE(busy.contains("busy")) << busy.toStdString();
        EXPECT_TRUE(busy.contains("Another program holds it")) << busy.toStdString();
    }
    EXPECT_EQ(openError(QFile::encodeName(pty)), "(opened)"); // and free again once it lets go
    EXPECT_EQ(LastOpenError(0), QString());
    ::close(master);

    // The simulated supply: nothing to explain.
    EXPECT_EQ(openError("sim"), "(opened)");
    EXPECT_EQ(LastOpenError(0), QString());

    QTemporaryDir dir;
    const QString locked = dir.filePath("ttyUSB0");
    QFile file(locked);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_TRUE(file.setPermissions({}));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString denied = asOrdinaryUser([&] { return openError("text:" + QFile::encodeName(locked)); });
    if (denied.isEmpty())
        GTEST_SKIP() << "cannot drop root's privileges here";
    EXPECT_TRUE(denied.contains("permission denied")) << denied.toStdString();
    EXPECT_TRUE(denied.contains("add your user to the dialout group, then log in again")) << denied.toStdString();
}
