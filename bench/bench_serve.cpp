// What the service costs and what it keeps from the supply: `tarnwell-cli serve` as a process.
//   serve_scpi_query_ms_median: one MEAS:VOLT? through the service to the built-in simulated
//     supply and its answer back, over loopback TCP.
//   serve_mqtt_samples_per_s: state messages a second a broker on loopback (mosquitto, started
//     here) hands a subscriber.
//   serve_link_requests_per_s_alone / _3_clients, serve_link_extra_requests_per_s: the commands
//     a text unit (tarnwell-sim on a pseudo-terminal) receives a second while the service samples,
//     without clients and while three clients ask as fast as they are answered; the extra ones
//     (goal 0: clients are answered from the second's sample).
// Usage: bench_serve [--queries N]   (default 300)

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Starts `tarnwell-cli serve ARGS` and waits for the line that says where SCPI listens; its port.
int StartServe(QProcess& serve, const QStringList& args)
{
    serve.setProcessChannelMode(QProcess::SeparateChannels);
    serve.start(QStringLiteral(TARNWELL_CLI_PATH), QStringList{QStringLiteral("serve")} + args);
    const QRegularExpression listens(QStringLiteral("SCPI listens on 127\\.0\\.0\\.1:(\\d+)"));
    QByteArray said;
    const auto until = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < until && serve.state() != QProcess::NotRunning) {
        serve.waitForReadyRead(100);
        said += serve.readAllStandardError();
        if (const auto match = listens.match(QString::fromLocal8Bit(said)); match.hasMatch())
            return match.captured(1).toInt();
    }
    std::fprintf(stderr, "bench_serve: serve did not start: %s\n", said.constData());
    return -1;
}

void StopProcess(QProcess& process)
{
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(2000);
}

QByteArray Query(QTcpSocket& socket, const QByteArray& query)
{
    socket.write(query + '\n');
    socket.flush();
    while (!socket.canReadLine() && socket.waitForReadyRead(3000)) {
    }
    return socket.readLine().trimmed();
}

double QueryMedian(int nPort, int nQueries)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(nPort));
    if (!socket.waitForConnected(3000))
        return -1.0;
    std::vector<double> times;
    for (int i = 0; i < nQueries; ++i) {
        const auto start = Clock::now();
        if (Query(socket, "MEAS:VOLT?").isEmpty())
            return -1.0;
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return bench::Median(times);
}

// Samples a second on the broker: state messages seen by mosquitto_sub over `seconds`.
double MqttRate(int seconds)
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const int nBroker = probe.serverPort();
    probe.close();
    QTemporaryDir dir;
    QFile conf(dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!conf.open(QIODevice::WriteOnly))
        return -1.0;
    conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n").arg(nBroker).toUtf8());
    conf.close();
    QProcess broker;
    broker.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), conf.fileName()});
    if (!broker.waitForStarted(5000))
        return -1.0;
    QThread::msleep(300); // the broker takes a moment to listen; the service tries again anyway
    QProcess serve;
    if (StartServe(serve, {"--port", "sim", "--scpi", "127.0.0.1:0", "--mqtt", QStringLiteral("mqtt://127.0.0.1:%1").arg(nBroker),
                           "--mqtt-id", "bench"}) < 0)
        return -1.0;
    QProcess sub;
    // Each message with the time it arrived (Unix seconds with nanoseconds).
    sub.start(QStringLiteral("mosquitto_sub"), {"-p", QString::number(nBroker), "-t", "tarnwell/bench/state", "-F", "%U",
                                                "-W", QString::number(seconds)});
    sub.waitForFinished((seconds + 5) * 1000);
    std::vector<double> arrivals;
    for (const QByteArray& line : sub.readAllStandardOutput().split('\n')) {
        if (!line.trimmed().isEmpty())
            arrivals.push_back(line.trimmed().toDouble());
    }
    StopProcess(serve);
    StopProcess(broker);
    // The retained message comes at once on subscribing; from the next on, one a sample.
    if (arrivals.size() < 3)
        return -1.0;
    return (arrivals.size() - 2) / (arrivals.back() - arrivals[1]);
}

// Commands a second the unit got over `seconds`, with `nClients` asking meanwhile.
double LinkRate(int nPort, const QString& strLog, int nClients, int seconds)
{
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < nClients; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(nPort));
        if (!clients.back()->waitForConnected(3000)) {
            std::fprintf(stderr, "bench_serve: a client could not connect: %s\n", qPrintable(clients.back()->errorString()));
            return -1.0;
        }
    }
    QFile log(strLog);
    const auto lines = [&] {
        log.open(QIODevice::ReadOnly);
        const qsizetype n = log.readAll().count('\n');
        log.close();
        return n;
    };
    const qsizetype before = lines();
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < until) {
        for (auto& client : clients) {
            if (Query(*client, "MEAS:VOLT?").isEmpty()) {
                std::fprintf(stderr, "bench_serve: a client got no answer: %s\n", qPrintable(client->errorString()));
                return -1.0;
            }
        }
        if (clients.empty())
            QThread::msleep(50);
    }
    return (lines() - before) / static_cast<double>(seconds);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bench::UseCLocaleNumbers();
    const int nQueries = bench::CountOption(argc, argv, "--queries", 300);

    QProcess serve;
    const int nPort = StartServe(serve, {"--port", "sim", "--scpi", "127.0.0.1:0"});
    if (nPort < 0)
        return 1;
    const double queryMs = QueryMedian(nPort, nQueries);
    StopProcess(serve);
    if (queryMs < 0.0) {
        std::fprintf(stderr, "bench_serve: the service did not answer\n");
        return 1;
    }
    bench::Print("serve_scpi_query_ms_median", queryMs, "ms");

    const double samplesPerSecond = MqttRate(10);
    if (samplesPerSecond < 0.0) {
        std::fprintf(stderr, "bench_serve: no broker\n");
        return 1;
    }
    bench::Print("serve_mqtt_samples_per_s", samplesPerSecond, "1/s");

    QTemporaryDir dir;
    const QString strLog = dir.filePath(QStringLiteral("commands.log"));
    QProcess unit;
    const QString pty = bench::StartSim(unit, {"--dialect", "text", "--log", strLog});
    QProcess served;
    const int nServed = pty.isEmpty() ? -1 : StartServe(served, {"--port", "text:" + pty, "--scpi", "127.0.0.1:0"});
    if (nServed < 0)
        return 1;
    QThread::sleep(2); // the connect's own requests are not the steady state
    const double alone = LinkRate(nServed, strLog, 0, 10);
    const double withClients = LinkRate(nServed, strLog, 3, 10);
    if (alone < 0.0 || withClients < 0.0)
        return 1;
    StopProcess(served);
    unit.closeWriteChannel();
    if (!unit.waitForFinished(3000))
        unit.kill();
    bench::Print("serve_link_requests_per_s_alone", alone, "1/s");
    bench::Print("serve_link_requests_per_s_3_clients", withClients, "1/s");
    bench::Print("serve_link_extra_requests_per_s", std::max(0.0, withClients - alone), "1/s");
    return 0;
}
