#include "device/link/SerialTarget.h"

#include "device/link/Dialects.h"

#include <algorithm>

namespace pslink {

std::optional<SerialTarget> ParseSerialTarget(const QString& target)
{
    SerialTarget out;
    QString rest = target.trimmed();
    const int colon = rest.indexOf(QLatin1Char(':'));
    if (colon > 0) {
        if (const DialectInfo* dialect = FindDialect(rest.left(colon).toStdString())) {
            out.dialect = dialect;
            rest = rest.mid(colon + 1);
        }
    }
    const int at = rest.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        bool ok = false;
        const QString digits = rest.mid(at + 1);
        const long long baud = digits.toLongLong(&ok);
        const bool allDigits = !digits.isEmpty()
                               && std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); });
        if (!allDigits || !ok || baud < 50 || baud > 4000000)
            return std::nullopt;
        out.baud = static_cast<int>(baud);
        rest = rest.left(at);
    }
    out.path = rest.trimmed();
    if (out.path.isEmpty())
        return std::nullopt;
    return out;
}

QString DescribeSerialTarget(const QString& target, const QString& adapter)
{
    const auto parsed = ParseSerialTarget(target);
    if (!parsed)
        return QStringLiteral("Unusable serial port setting %1").arg(target);
    const QString dialect = parsed->dialect ? QString::fromLatin1(parsed->dialect->description)
                                            : QStringLiteral("dialect detected on connect");
    // One pass: a second arg() would take a "%1" in the path for a place of its own.
    QString text =
        QStringLiteral("Serial port %1 (%2, %3 baud)").arg(parsed->path, dialect, QString::number(parsed->baud));
    if (!adapter.isEmpty())
        text += QLatin1Char('\n') + adapter;
    return text;
}

} // namespace pslink
