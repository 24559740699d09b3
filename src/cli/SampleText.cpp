#include "cli/SampleText.h"

#include "device/RecordFormat.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <iterator>

std::string MeasuredRow(int nSeconds, float fVolts, float fAmps)
{
    std::string row;
    recordfile::AppendSampleRow(row, nSeconds, fVolts, fAmps);
    return row + "\n";
}

std::string GapRow(int nSeconds)
{
    std::string row;
    recordfile::AppendGapRow(row, nSeconds);
    return row + "\n";
}

QString EventLine(int nEvent, const QDateTime& at, int nSample, const QString& strIdentity)
{
    static const char* const kNames[] = {"link lost", "link back", "another supply", "gave up", "stopped"};
    const bool bKnown = nEvent >= 0 && nEvent < static_cast<int>(std::size(kNames));
    QJsonObject event{{QStringLiteral("event"), QLatin1String(bKnown ? kNames[nEvent] : "link")},
                      {QStringLiteral("t"), nSample},
                      {QStringLiteral("at"), at.toString(Qt::ISODate)}};
    if (!strIdentity.isEmpty())
        event.insert(QStringLiteral("identity"), strIdentity);
    return QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact));
}

QString ClockText(long long nSeconds)
{
    if (nSeconds < 0)
        nSeconds = 0;
    return QStringLiteral("%1:%2:%3")
        .arg(nSeconds / 3600)
        .arg(nSeconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(nSeconds % 60, 2, 10, QLatin1Char('0'));
}
