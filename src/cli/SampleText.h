#pragma once

#include <QDateTime>
#include <QString>

#include <string>

/// A record row as a user-mode sample forms it: "12,5.00,0.500\n".
std::string MeasuredRow(int nSeconds, float fVolts, float fAmps);

/// A record row of a second without a reading: "12,,\n".
std::string GapRow(int nSeconds);

/// A link event as a JSON object: {"event":"link lost","t":12,"at":"2026-12-08T10:10:15"}, with
/// "identity" where a supply answered. `nEvent` is a CRun::LinkEventKind.
QString EventLine(int nEvent, const QDateTime& at, int nSample, const QString& strIdentity);

/// "1:02:03" for 3723 seconds.
QString ClockText(long long nSeconds);
