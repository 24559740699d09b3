// Numbers in the C locale whatever the user's locale, rounded as printf rounds, so a line shows
// what the record file holds.
#include "cli/SampleText.h"

#include "device/NumberText.h"
#include "device/RecordFormat.h"
#include "device/SupplyLimits.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <iterator>


QString SampleLine(int nSeconds, float fVolts, float fAmps, int bCv, int bCc, int bOut, bool bJson,
                   const QString& strProtection)
{
    const std::string protect = strProtection.toStdString();
    const std::string volts = numtext::Fixed(static_cast<double>(fVolts), supply::kVoltsDecimals);
    const std::string amps = numtext::Fixed(static_cast<double>(fAmps), supply::kAmpsDecimals);
    const char* mode = bCc ? "CC" : bCv ? "CV" : nullptr;
    std::string line;
    if (bJson) {
        line = "{";
        if (nSeconds >= 0)
            line += "\"t\":" + std::to_string(nSeconds) + ",";
        line += "\"v\":" + volts + ",\"i\":" + amps + ",\"mode\":";
        line += mode ? "\"" + std::string(mode) + "\"" : std::string("null");
        line += bOut ? ",\"out\":true" : ",\"out\":false";
        line += protect.empty() ? std::string(",\"protect\":null}") : ",\"protect\":\"" + protect + "\"}";
    } else {
        if (nSeconds >= 0)
            line = std::to_string(nSeconds) + " ";
        line += volts + " " + amps + " " + (mode ? mode : "--") + (bOut ? " OUT" : " off");
        if (!protect.empty())
            line += " " + protect;
    }
    return QString::fromStdString(line);
}

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
