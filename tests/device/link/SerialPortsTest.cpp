// Which system port each COMn reaches, and what a port that cannot be opened tells the user.

#include "device/link/Dialects.h"
#include "device/link/SerialPorts.h"
#include "device/link/SimLink.h"
#include "device/link/StablePort.h"
#include "device/pslink.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using namespace pslink;

TEST(SerialPorts, SettingsReadAsWrittenAndDescribed)
{
    const struct
    {
        const char* text;
        const char* dialect; // nullptr: the text cannot be used
        const char* path;
        int baud;
        const char* description; // its first line; the second names the adapter, when known
    } rows[] = {
        {"/dev/ttyUSB0", "", "/dev/ttyUSB0", 9600, "Serial port /dev/ttyUSB0 (dialect detected on connect, 9600 baud)"},
        {"text:/dev/ttyUSB0", "text", "/dev/ttyUSB0", 9600, "Serial port /dev/ttyUSB0 (plain text, 9600 baud)"},
        {"scpi:/dev/ttyACM0@115200", "scpi", "/dev/ttyACM0", 115200, "Serial port /dev/ttyACM0 (SCPI, 115200 baud)"},
        {"SCPI:/dev/ttyACM0", "scpi", "/dev/ttyACM0", 9600, "Serial port /dev/ttyACM0 (SCPI, 9600 baud)"},
        {"/dev/ttyS0@19200", "", "/dev/ttyS0", 19200, "Serial port /dev/ttyS0 (dialect detected on connect, 19200 baud)"},
        {" text:/dev/pts/3 ", "text", "/dev/pts/3", 9600, "Serial port /dev/pts/3 (plain text, 9600 baud)"},
        {" Sim ", "sim", "", 9600, "Simulated supply (built in)"},
        {"sim:/dev/ttyUSB0", nullptr, "", 0, "Unusable serial port setting sim:/dev/ttyUSB0"},
        {"scpi:/dev/ttyACM0@", nullptr, "", 0, "Unusable serial port setting scpi:/dev/ttyACM0@"},
        {"scpi:/dev/ttyACM0@fast", nullptr, "", 0, "Unusable serial port setting scpi:/dev/ttyACM0@fast"},
        {"/dev/ttyUSB0@0", nullptr, "", 0, "Unusable serial port setting /dev/ttyUSB0@0"},
        {"/dev/ttyUSB0@99999999999", nullptr, "", 0, "Unusable serial port setting /dev/ttyUSB0@99999999999"},
        {"text:", nullptr, "", 0, "Unusable serial port setting text:"},
        // A channel of a unit with several, and a unit on the USB-TMC driver.
        {"scpi:/dev/ttyACM0#ch2", "scpi", "/dev/ttyACM0", 9600, "Serial port /dev/ttyACM0 (SCPI, 9600 baud, channel 2)"},
        {"tcp://10.0.0.5:5555#CH3", "scpi", "", 9600, "Network unit 10.0.0.5:5555 (SCPI, channel 3)"},
        {"usbtmc:/dev/usbtmc0", "scpi", "/dev/usbtmc0", 9600, "USB-TMC unit /dev/usbtmc0 (SCPI)"},
        {"usbtmc:DP8C1234#ch3", "scpi", "DP8C1234", 9600, "USB-TMC unit with serial number DP8C1234 (SCPI, channel 3)"},
        {"usbtmc:", nullptr, "", 0, "Unusable serial port setting usbtmc:"},
        {"/dev/ttyUSB0#ch9", nullptr, "", 0, "Unusable serial port setting /dev/ttyUSB0#ch9"},
        {"sim#ch2", nullptr, "", 0, "Unusable serial port setting sim#ch2"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        QString error;
        const auto parsed = ParsePortSetting(QString::fromLatin1(r.text), &error);
        const PortSetting setting = ReadPortSetting(QString::fromLatin1(r.text));
        EXPECT_EQ(DescribePortSetting(setting).section('\n', 0, 0), QString::fromLatin1(r.description));
        ASSERT_EQ(parsed.has_value(), r.dialect != nullptr) << error.toStdString();
        if (!parsed) {
            EXPECT_TRUE(error.contains(QString::fromLatin1(r.text))) << error.toStdString();
            // Opening it says the same as parsing it did.
            QString why;
            EXPECT_EQ(OpenPort(0, setting, &why), 0);
            EXPECT_EQ(why, error);
            EXPECT_EQ(LastOpenError(0), error);
            continue;
        }
        EXPECT_EQ(*parsed, setting);
        EXPECT_STREQ(parsed->dialect ? parsed->dialect->name : "", r.dialect);
        EXPECT_EQ(parsed->path, QString::fromLatin1(r.path));
        EXPECT_EQ(parsed->baud, r.baud);
    }
    EXPECT_TRUE(PortSetting().reachesNothing());
    EXPECT_EQ(DescribePortSetting(PortSetting()), "No serial port");
    EXPECT_EQ(OpenPort(0, PortSetting()), 0);
    EXPECT_EQ(LastOpenError(0), QString()); // nothing there: nothing to explain
    EXPECT_EQ(OpenPort(0, *ParsePortSetting("text:/nonexistent/tty")), 0); // fails, does not pretend
}

TEST(SerialPorts, EachComReachesItsMappingOrItsSimulatorOrASystemPort)
{
    qputenv("TARNWELL_COM3", "sim");
    qputenv("TARNWELL_COM4", " text:/dev/ttyUSB7 ");
    SetSimulateAll(true);
    const PortSetting com2 = PortSettingFor(1);
    const PortSetting com3 = PortSettingFor(2);
    const PortSetting com4 = PortSettingFor(3);
    SetSimulateAll(false);
    qunsetenv("TARNWELL_COM3");
    qunsetenv("TARNWELL_COM4");

    // Each COMn has a simulated supply of its own; a mapping wins over simulating every port.
    EXPECT_EQ(com2, (PortSetting{FindDialect("sim"), {}, 9600, 1, {}, false, 1, {}, kScpiTcpPort}));
    EXPECT_EQ(com3, (PortSetting{FindDialect("sim"), {}, 9600, 2, {}, false, 1, {}, kScpiTcpPort}));
    EXPECT_EQ(com4, *ParsePortSetting("text:/dev/ttyUSB7"));
    for (int port : {-1, kPortCount}) {
        EXPECT_TRUE(PortSettingFor(port).reachesNothing()) << port;
        EXPECT_EQ(DescribePort(port), "No serial port");
    }

    // The setting last asked for stays known after the link closed.
    ASSERT_EQ(OpenPort(0, com3), 1);
    EXPECT_EQ(SimulatorFor(0), SimulatedSupplyAt(2));
    CloseCOM(0);
    EXPECT_EQ(LastPortSetting(0), com3);
    EXPECT_EQ(SimulatorFor(0), SimulatedSupplyAt(2)); // its log stays readable
    ResetSimulators();
}

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

TEST(SerialPorts, AnAdapterIsFoundAgainByItsStableNameWhenItsNumberChanged)
{
    QTemporaryDir dir;
    const QString byId = dir.filePath(QStringLiteral("by-id"));
    ASSERT_TRUE(QDir().mkpath(byId));
    for (const char* node : {"ttyUSB0", "ttyUSB1", "ttyUSB2"})
        ASSERT_TRUE(QFile(dir.filePath(node)).open(QIODevice::WriteOnly)); // stand-ins for device nodes
    const QString usb0 = dir.filePath(QStringLiteral("ttyUSB0"));
    const QString usb1 = dir.filePath(QStringLiteral("ttyUSB1"));
    const QString usb2 = dir.filePath(QStringLiteral("ttyUSB2"));
    const QString link = byId + QStringLiteral("/usb-ACME_PSU_A1-if00-port0");
    qputenv("TARNWELL_SERIAL_BY_ID", byId.toLocal8Bit());
    const SerialPortEntry adapter{usb0, {}, {}, 0x0403u, 0x6001u, QStringLiteral("A1")};
    const struct
    {
        const char* name;
        bool bLinked;                         // a by-id link led to ttyUSB0 when it was opened
        QString pointAt;                      // where that link leads on reopening; empty: gone
        std::vector<SerialPortEntry> ports;   // what the system lists on reopening
        std::vector<QString> expected;
    } rows[] = {
        {"the by-id link leads to the new number", true, usb1, {}, {usb1}},
        {"unplugged: another device on its old number is not it", true, QString(), {}, {}},
        {"nothing stable known: the same path", false, QString(), {}, {usb0}},
        {"the same serial number and ids on a new number", false, QString(),
         {{usb1, {}, {}, 0x1a86u, 0x7523u, QStringLiteral("A1")}, {usb2, {}, {}, 0x0403u, 0x6001u, QStringLiteral("A1")}},
         {usb2}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QFile::remove(link);
        if (row.bLinked) {
            ASSERT_TRUE(QFile::link(usb0, link));
        }
        const StablePortName name = StableNameOf(usb0, {adapter});
        EXPECT_EQ(name.byIdName, row.bLinked ? QStringLiteral("usb-ACME_PSU_A1-if00-port0") : QString());
        EXPECT_EQ(name.serialNumber, QStringLiteral("A1"));
        QFile::remove(link);
        if (!row.pointAt.isEmpty()) {
            ASSERT_TRUE(QFile::link(row.pointAt, link));
        }
        StablePortName known = name;
        if (!row.bLinked && row.ports.empty())
            known.serialNumber.clear(); // an adapter without a serial number
        EXPECT_EQ(ReopenPaths(usb0, known, row.ports), row.expected);
    }
    // A link given as the port is reopened through that link, wherever it leads by then.
    ASSERT_TRUE(QFile::link(usb2, link));
    EXPECT_EQ(ReopenPaths(link, StableNameOf(link, {}), {}), std::vector<QString>{link});
    qunsetenv("TARNWELL_SERIAL_BY_ID");
}
