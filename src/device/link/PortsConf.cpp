#include "device/link/PortsConf.h"

#include "device/link/PortSetting.h"

#include <QDir>
#include <QFile>
#include <QStringList>

namespace pslink {

namespace {

// "COM3" into 2; -1 for anything else.
int portIndex(const QString& key)
{
    if (!key.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return -1;
    bool ok = false;
    const int number = key.mid(3).toInt(&ok);
    return ok && number >= 1 && number <= kPortCount && key.mid(3) == QString::number(number) ? number - 1 : -1;
}

} // namespace

PortsConf ParsePortsConf(const QString& text, const QString& name)
{
    PortsConf conf;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const auto refuse = [&](const QString& why) {
            conf.issues.push_back(QStringLiteral("%1, line %2: %3; the line is ignored.").arg(name).arg(i + 1).arg(why));
        };
        const int equals = line.indexOf(QLatin1Char('='));
        const int port = equals < 0 ? -1 : portIndex(line.left(equals).trimmed());
        if (port < 0) {
            refuse(QStringLiteral("\"%1\" is no COM1=SETTING to COM%2=SETTING").arg(line).arg(kPortCount));
            continue;
        }
        const QString setting = line.mid(equals + 1).trimmed();
        QString why;
        if (!ParsePortSetting(setting, &why)) {
            why = why.isEmpty() ? QStringLiteral("COM%1 is given no setting").arg(port + 1) : why;
            if (why.endsWith(QLatin1Char('.')))
                why.chop(1);
            refuse(why);
            continue;
        }
        conf.settings[static_cast<size_t>(port)] = setting; // a later line for the same port wins
    }
    return conf;
}

QString PortsConfPath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/tarnwell/ports.conf");
}

PortsConf ReadPortsConf()
{
    const QString path = PortsConfPath();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {}; // most users have none
    return ParsePortsConf(QString::fromUtf8(file.readAll()), path);
}

} // namespace pslink
