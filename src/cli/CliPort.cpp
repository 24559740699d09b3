// Port names of the command line, and what tarnwell-cli asks of the link beyond the sixteen calls.
#include "cli/CliPort.h"

#include "device/link/SerialLink.h"
#include "device/pslink.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kPorts = 7;

// A serial link polls state, volts and amperes in turn, one query per command gap, after sending
// what was queued: a few gaps cover the commands and a whole round of readings.
constexpr int kSerialSettleMs = 1500;

// Stand-in until the library calls back once its readings reflect every command sent before
// (pslink::AfterFreshReadings): the simulator answers at once; a serial link is given time.
void AfterFreshReadings(int nDevice, std::function<void(bool)> fnDone)
{
    const int nDelay = pslink::SimulatorFor(nDevice) ? 0 : kSerialSettleMs;
    QTimer::singleShot(nDelay, [nDevice, fnDone = std::move(fnDone)] { fnDone(dsoLinkAlive(nDevice) != 0); });
}

} // namespace

QString CCliPort::Resolve(const QString& text)
{
    strName = text;
    static const QRegularExpression comPattern(QStringLiteral("^[Cc][Oo][Mm]([0-9]+)$"));
    const QRegularExpressionMatch com = comPattern.match(text);
    if (com.hasMatch()) {
        bool ok = false;
        const int n = com.captured(1).toInt(&ok);
        if (!ok || n < 1 || n > kPorts)
            return QStringLiteral("no port %1: the ports are COM1..COM7").arg(text);
        nPort = n - 1;
        strName = QStringLiteral("COM%1").arg(n);
        return {};
    }
    if (text.trimmed().isEmpty())
        return QStringLiteral("--port needs a value");
    // COM1's own setting, read by the library on OpenCOM: "sim" or a serial target.
    qputenv("TARNWELL_COM1", text.compare(QLatin1String("sim"), Qt::CaseInsensitive) == 0
                                 ? QByteArray("sim")
                                 : text.toLocal8Bit());
    nPort = 0;
    return {};
}

QString CCliPort::Describe() const
{
    return QStringLiteral("%1 (%2)").arg(strName, pslink::DescribePort(nPort));
}

bool WaitForFreshReadings(int nDevice, int nTimeoutMs)
{
    // The answer may come from another thread and after the wait has given up.
    auto result = std::make_shared<std::atomic<int>>(-1);
    AfterFreshReadings(nDevice, [result](bool bFresh) { result->store(bFresh ? 1 : 0); });
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (result->load() >= 0 || clock.elapsed() >= nTimeoutMs)
            loop.quit();
    });
    poll.start(10);
    if (result->load() < 0)
        loop.exec();
    return result->load() == 1;
}

QString OpenFailureReason(int /*nDevice*/, int nPort)
{
    // Stand-in until the library says why its last OpenCOM failed (pslink::LastOpenError): judged
    // from the port's setting, so a busy port is not told apart from a silent supply.
    const QByteArray setting = qgetenv(QByteArray("TARNWELL_COM") + QByteArray::number(nPort + 1)).trimmed();
    if (setting.isEmpty()) {
        return pslink::DescribePort(nPort) == QLatin1String("No serial port")
                   ? QStringLiteral("no such serial port")
                   : QString();
    }
    if (setting.compare("sim", Qt::CaseInsensitive) == 0)
        return {};
    const auto target = pslink::ParseSerialTarget(QString::fromLocal8Bit(setting));
    if (!target)
        return QStringLiteral("not a usable port setting");
    const QByteArray path = QFile::encodeName(target->path);
    if (::access(path.constData(), R_OK | W_OK) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return {};
}

QString IdentityLine(int nDevice)
{
    const std::string identity = pslink::ReadIdentity(nDevice);
    QString line;
    for (char c : identity) {
        // A supply may add line ends or junk bytes to its identity.
        if (c >= 0x20 && c < 0x7f)
            line += QLatin1Char(c);
    }
    line = line.trimmed();
    if (line.isEmpty() && !identity.empty())
        return QStringLiteral("(an identity without printable characters)");
    return line;
}
