// `serve`: the supply shared with scripts, dashboards and home automation. This file reads the
// options, starts what they ask for, says what listens where, and stops cleanly on a signal.
#include "cli/CliServe.h"

#include "cli/CliConsole.h"
#include "cli/CliOptions.h"
#include "cli/CliPort.h"
#include "cli/SignalPipe.h"
#include "platform/BuildVersion.h"
#include "serve/ListenAddress.h"
#include "serve/Metrics.h"
#include "serve/MqttBridge.h"
#include "serve/MqttMessages.h"
#include "serve/ScpiServer.h"
#include "serve/ServiceRecord.h"
#include "serve/SupplyService.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryFile>

#include <chrono>
#include <memory>

namespace {

// What the options ask for, checked before anything is connected.
struct ServePlan
{
    std::optional<CListenAddress> scpi;
    std::optional<CListenAddress> metrics;
    std::optional<CMqttSettings> mqtt;
    QString strRecord;
};

QString RecordProblem(const QString& strFolder)
{
    if (!QDir().mkpath(strFolder))
        return QStringLiteral("cannot make the folder");
    QTemporaryFile probe(QDir(strFolder).filePath(QStringLiteral(".tarnwell-cli-XXXXXX")));
    return probe.open() ? QString() : probe.errorString();
}

// Empty, or what is wrong with the options.
QString Plan(const CCliOptions& options, ServePlan& plan)
{
    QString strError;
    if (options.strScpi != QLatin1String("none") && !(plan.scpi = CListenAddress::Read(options.strScpi, &strError)))
        return QStringLiteral("--scpi: ") + strError;
    if (!options.strMetrics.isEmpty() && !(plan.metrics = CListenAddress::Read(options.strMetrics, &strError)))
        return QStringLiteral("--metrics: ") + strError;
    if (!options.strMqtt.isEmpty()) {
        if (!(plan.mqtt = CMqttSettings::Read(options.strMqtt, &strError)))
            return strError;
        plan.mqtt->strId = options.strMqttId;
    } else if (!options.strMqttId.isEmpty()) {
        return QStringLiteral("--mqtt-id goes with --mqtt");
    }
    if (!options.strMqttId.isEmpty() && mqttmsg::ServiceId(options.strMqttId) != options.strMqttId)
        return QStringLiteral("--mqtt-id takes lower-case letters, digits and dashes, such as %1")
            .arg(mqttmsg::ServiceId(options.strMqttId));
    if (!options.strRecord.isEmpty()) {
        if (const QString strProblem = RecordProblem(options.strRecord); !strProblem.isEmpty())
            return QStringLiteral("cannot write records in %1: %2").arg(options.strRecord, strProblem);
        plan.strRecord = options.strRecord;
    }
    return {};
}

QString Endpoint(const CListenAddress& at, quint16 nPort)
{
    return at.address.protocol() == QAbstractSocket::IPv6Protocol
               ? QStringLiteral("[%1]:%2").arg(at.address.toString()).arg(nPort)
               : QStringLiteral("%1:%2").arg(at.address.toString()).arg(nPort);
}

} // namespace

QString CCliOptions::ServeUsage()
{
    return QStringLiteral(
               "usage: tarnwell-cli serve [--port P] [--scpi ADDR:PORT | --scpi none] [--mqtt URL [--mqtt-id ID]]\n"
               "                          [--metrics ADDR:PORT] [--record DIR] [--reconnect[=DURATION]]\n"
               "Serves the supply until SIGTERM or Ctrl-C: connects as identify does (nothing is switched),\n"
               "samples once a second, takes a lost link back (for ever, or for DURATION with --reconnect),\n"
               "and hands every client's change through the same limits and confirmation as the window.\n"
               "Servers listen on loopback unless an address is given.\n"
               "  --scpi ADDR:PORT  SCPI over TCP (default 127.0.0.1:5025 and [::1]:5025)\n"
               "  --mqtt URL        mqtt://HOST[:PORT] or mqtts://HOST[:PORT]: state on tarnwell/<id>/state,\n"
               "                    commands on tarnwell/<id>/set/{voltage,current,output}, Home Assistant\n"
               "                    discovery; user, password and CA from TARNWELL_MQTT_USER,\n"
               "                    TARNWELL_MQTT_PASSWORD, TARNWELL_MQTT_CAFILE or ~/.config/tarnwell/mqtt.conf\n"
               "  --mqtt-id ID      the <id> of the topics (default: made from the unit's identity)\n"
               "  --metrics ADDR:PORT  Prometheus metrics on http://ADDR:PORT/metrics\n"
               "  --record DIR      every sample to a record file in DIR, one file a day, crash-safely\n")
           + QStringLiteral(
               "  --port P          COM1..COM7 (default COM1), sim, or a port setting such as\n"
               "                    scpi:/dev/ttyACM0@115200, modbus:/dev/ttyUSB0#2, tcp://HOST:PORT,\n"
               "                    usbtmc:/dev/usbtmc0, each with #chN for channel N of a unit with several\n"
               "  --channel N       channel N of a unit with several, as #chN after the port names it\n");
}

int RunServe(const CCliOptions& options, const CCliPort& port)
{
    CCliConsole& console = CCliConsole::Instance();
    ServePlan plan;
    if (const QString strError = Plan(options, plan); !strError.isEmpty()) {
        console.Error(strError);
        return kExitUsage;
    }
    CSignalPipe signalPipe; // first, so a signal during the connect is not lost
    CSupplyService service(port.setting, port.nPort);
    const auto reconnectFor = options.nReconnectSeconds > 0 ? std::chrono::milliseconds(options.nReconnectSeconds * 1000LL)
                                                            : std::chrono::milliseconds(std::chrono::hours(24 * 365 * 100));
    const CResult started = service.Start(reconnectFor);
    if (!started.Ok()) {
        console.Error(QStringLiteral("no supply answered on %1: %2").arg(port.Describe(), started.strReason));
        return kExitNoSupply;
    }
    if (CSignalPipe::Arrived())
        return kExitDone;
    console.Error(QStringLiteral("serving %1: %2").arg(port.Describe(), service.Identity()));

    std::unique_ptr<CScpiServer> scpi;
    std::unique_ptr<CMetricsServer> metrics;
    std::unique_ptr<CMqttBridge> mqtt;
    std::unique_ptr<CServiceRecord> record;
    QString strError;
    if (plan.scpi) {
        scpi = std::make_unique<CScpiServer>(service, QLatin1String(platform::kVersion));
        if (!scpi->Listen(plan.scpi->address, plan.scpi->nPort, plan.scpi->bBothLoopbacks, &strError)) {
            console.Error(QStringLiteral("SCPI cannot listen on %1: %2").arg(options.strScpi, strError));
            return kExitUsage;
        }
        console.Error(QStringLiteral("SCPI listens on %1").arg(scpi->Endpoints().join(QStringLiteral(" and "))));
    }
    if (plan.metrics) {
        metrics = std::make_unique<CMetricsServer>(service, mqttmsg::ServiceId(service.Identity()));
        const quint16 nPort = metrics->Listen(plan.metrics->address, plan.metrics->nPort, &strError);
        if (nPort == 0) {
            console.Error(QStringLiteral("metrics: %1").arg(strError));
            return kExitUsage;
        }
        console.Error(QStringLiteral("metrics on http://%1/metrics").arg(Endpoint(*plan.metrics, nPort)));
    }
    if (plan.mqtt) {
        mqtt = std::make_unique<CMqttBridge>(service, *plan.mqtt);
        if (!mqtt->Start(&strError)) {
            console.Error(QStringLiteral("MQTT: %1").arg(strError));
            return kExitUsage;
        }
        console.Error(QStringLiteral("MQTT to %1 as tarnwell/%2").arg(mqtt->Describe(), mqtt->Id()));
    }
    if (!plan.strRecord.isEmpty()) {
        record = std::make_unique<CServiceRecord>(service, plan.strRecord);
        console.Error(QStringLiteral("recording to %1").arg(plan.strRecord));
    }

    int nExit = kExitDone;
    QObject::connect(&signalPipe, &CSignalPipe::Raised, [](int) { QCoreApplication::exit(kExitDone); });
    QObject::connect(&service, &CSupplyService::Refused, [&](const QString& strWhat) { ReportRefusal(port, strWhat); });
    QObject::connect(&service, &CSupplyService::GaveUp, [&] {
        console.Error(QStringLiteral("the supply on %1 did not come back; the service ends").arg(port.Describe()));
        QCoreApplication::exit(kExitLinkLost);
    });
    nExit = QCoreApplication::exec();
    // In reverse: the servers and the bridge (offline said) go before the supply's link.
    record.reset();
    mqtt.reset();
    metrics.reset();
    scpi.reset();
    service.Stop();
    return nExit;
}
