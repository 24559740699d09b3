// The run engine on a SCPI unit on the network: tarnwell-sim --tcp on a localhost socket.
#include "engine/RunEngine.h"
#include "device/PowerSupply.h"
#include "device/link/PortsConf.h"
#include "device/pslink.h"
#include "support/SimProcess.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool HasIpv6Loopback()
{
    const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    const bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

// "tcp://127.0.0.1:PORT" with another host in front of the port.
QString OnHost(const QString& url, const QString& host)
{
    return QStringLiteral("tcp://%1:%2").arg(host, url.section(QLatin1Char(':'), -1));
}

struct Connected
{
    CPowerSupply supply;
    CRunEngine engine{supply};
    explicit Connected(const QString& setting) { supply.m_portSetting = CPortsView::Read(setting, nullptr); }
    ~Connected() { engine.Connector().Disconnect(); }
};

} // namespace

TEST(RunEngineTcp, IdentifySetReadAndRunOverLoopbackSockets)
{
    pslink::SetSimulateAll(false);
    SimProcess sim({"--tcp", "0", "--load", "100"});
    ASSERT_TRUE(sim.path().startsWith("tcp://127.0.0.1:")) << sim.path().toStdString();
    for (const QString& host : {QStringLiteral("127.0.0.1"), QStringLiteral("[::1]"), QStringLiteral("localhost")}) {
        SCOPED_TRACE(host.toStdString());
        if (host == "[::1]" && !HasIpv6Loopback())
            continue; // a machine without IPv6
        Connected c(OnHost(sim.path(), host));
        ASSERT_TRUE(c.engine.Connector().Connect().Ok());
        EXPECT_EQ(c.engine.Connector().Identity(), "TARNWELL-SIM V1.0");
        c.engine.Commands().SetSetpoint(12.0f, 0.0f, 1);
        c.engine.Commands().SwitchOutput(true);
        ASSERT_TRUE(c.engine.Commands().WaitForSupply(5000).Ok());
        const CRunSample sample = c.engine.Commands().ReadSample();
        EXPECT_FLOAT_EQ(sample.fVoltage, 12.0f);
        EXPECT_NEAR(sample.fCurrent, 0.12f, 1e-4);
        EXPECT_EQ(c.engine.Watch().MaxAmps(), 0.0f) << "a unit at least as large as the program's limits holds nothing back";
    }
    EXPECT_TRUE(sim.log().contains("VOLT 12.00"));
}

TEST(RunEngineTcp, AConnectThatFailsSaysWhyAndNamesTheHost)
{
    // A port that was free a moment ago: nothing listens there.
    int closedPort = 0;
    {
        SimProcess sim({"--tcp", "0"});
        closedPort = sim.path().section(QLatin1Char(':'), -1).toInt();
    }
    const struct
    {
        QString setting;
        const char* reason;
    } cases[] = {
        {QStringLiteral("tcp://127.0.0.1:%1").arg(closedPort), "refused"},
        {QStringLiteral("scpi:tcp://no-such-unit.invalid"), "not found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting.toStdString());
        Connected unit(c.setting);
        const CResult result = unit.engine.Connector().Connect();
        EXPECT_EQ(result.nKind, CResult::kNoPort);
        EXPECT_TRUE(result.strReason.contains(c.reason)) << result.strReason.toStdString();
        EXPECT_TRUE(result.strReason.contains(c.setting.section(QLatin1Char('/'), -1))) << "names the host";
    }
}

TEST(RunEngineTcp, ASmallUnitTellsItsMaximumAndNothingAboveItIsSent)
{
    SimProcess sim({"--tcp", "0", "--max-amps", "3"});
    Connected c(sim.path());
    ASSERT_TRUE(c.engine.Connector().Connect().Ok());
    c.engine.Commands().SetSetpoint(0.0f, 5.0f, 0);
    ASSERT_TRUE(c.engine.Commands().WaitForSupply(5000).Ok());
    EXPECT_FLOAT_EQ(c.engine.Watch().MaxAmps(), 3.0f);
    EXPECT_FALSE(sim.log().contains("CURR 5.000")) << "clamped before sending";
    EXPECT_TRUE(sim.log().contains("CURR 3.000"));
}

TEST(RunEngineTcp, PortsConfMapsPortsTheEnvironmentWinsAndBadLinesAreNamed)
{
    const pslink::PortsConf conf = pslink::ParsePortsConf(
        "# bench\n\nCOM3=tcp://192.168.1.50\ncom4 = scpi:tcp://[::1]:5025\nCOM9=sim\nCOM2\nCOM5=tcp://\n", "ports.conf");
    EXPECT_EQ(conf.settings[2], "tcp://192.168.1.50");
    EXPECT_EQ(conf.settings[3], "scpi:tcp://[::1]:5025");
    ASSERT_EQ(conf.issues.size(), 3u);
    for (size_t i = 0; i < conf.issues.size(); ++i)
        EXPECT_TRUE(conf.issues[i].startsWith(QStringLiteral("ports.conf, line %1: ").arg(i + 5)))
            << conf.issues[i].toStdString();

    QTemporaryDir home;
    ASSERT_TRUE(QDir().mkpath(home.filePath("tarnwell")));
    ASSERT_TRUE(WriteTestFile(home.filePath("tarnwell/ports.conf"), "COM2=tcp://unit-a\nCOM3=tcp://unit-b\nbad\n"));
    const QByteArray before = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    qputenv("TARNWELL_COM3", "sim");
    EXPECT_EQ(pslink::PortSettingFor(1).host, "unit-a");
    EXPECT_FALSE(pslink::PortSettingFor(2).onNetwork()) << "TARNWELL_COM3 wins";
    ASSERT_EQ(pslink::PortsConfIssues().size(), 1u);
    EXPECT_TRUE(pslink::PortsConfIssues()[0].contains("ports.conf, line 3"));
    // Told at start with the model table's bad lines, in the same words.
    ASSERT_TRUE(WriteTestFile(home.filePath("tarnwell/modules.csv"), "# id,layout,...\n3005,A,2,3,30,5\n9,Z\n"));
    ASSERT_TRUE(WriteTestFile(home.filePath("tarnwell/scpi-models.csv"), "ACME,XP832,rigol-dp,30/3\nACME,X,nope,1/1\n"));
    const std::vector<QString> issues = CPortsView::SettingsIssues();
    ASSERT_EQ(issues.size(), 3u);
    EXPECT_TRUE(issues[1].contains("modules.csv, line 3: ") && issues[1].endsWith("; the line is ignored."))
        << issues[1].toStdString();
    EXPECT_TRUE(issues[2].contains("scpi-models.csv, line 2: no family") && issues[2].endsWith("; the line is ignored."))
        << issues[2].toStdString();
    EXPECT_TRUE(CPortsView::SettingsMessage().endsWith(issues[0] + '\n' + issues[1] + '\n' + issues[2]));
    qunsetenv("TARNWELL_COM3");
    qputenv("XDG_CONFIG_HOME", before);
}

TEST(RunEngineTcp, AProbeNamesTheDialectAndTheModel)
{
    SimProcess sim({"--tcp", "0", "--identity", "ACME LAN-PSU 30V3A"});
    SimProcess brand({"--tcp", "0", "--family", "siglent-spd", "--model", "SPD3303X-E"});
    qputenv("TARNWELL_COM2", sim.path().toLocal8Bit());
    qputenv("TARNWELL_COM3", (brand.path() + "#ch2").toLocal8Bit());
    pslink::SetSimulateAll(true); // the other ports answer at once
    const std::vector<CPortProbe> ports = CPortsView::Probe(true);
    pslink::SetSimulateAll(false);
    qunsetenv("TARNWELL_COM2");
    qunsetenv("TARNWELL_COM3");
    EXPECT_TRUE(ports[1].strDescription.startsWith("Network unit 127.0.0.1:")) << ports[1].strDescription.toStdString();
    EXPECT_EQ(ports[1].strAnswer, QStringLiteral("SCPI \u2014 ACME LAN-PSU 30V3A"));
    // A unit of a family is named by it, with its model and the channels it drives.
    EXPECT_TRUE(ports[2].strDescription.endsWith("(SCPI, channel 2)")) << ports[2].strDescription.toStdString();
    EXPECT_EQ(ports[2].strAnswer, QStringLiteral("SCPI \u2014 Siglent Technologies,SPD3303X-E,SPD3XIDD4R0001,1.01.01.02.05,V3.0 "
                                                 "\u2014 Siglent SPD3303/SPD1000 (siglent-spd), model SPD3303X-E, channels 1 and 2"));
}
