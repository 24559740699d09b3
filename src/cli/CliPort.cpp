// Port names of the command line, and what tarnwell-cli asks of the link beyond the sixteen calls.
#include "cli/CliPort.h"

#include "device/pslink.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTimer>

#include <atomic>
#include <memory>

namespace {

constexpr int kPorts = pslink::kPortCount;

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
    pslink::AfterFreshReadings(nDevice, [result](bool bFresh) { result->store(bFresh ? 1 : 0); });
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
