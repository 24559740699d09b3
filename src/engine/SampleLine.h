#pragma once

#include <QString>

/// A sample as front ends write it (tarnwell-cli's lines, the service's state): "12 5.00 0.500
/// CV OUT" (seconds, volts, amperes, CV or CC, OUT or off), or
/// {"t":12,"v":5.00,"i":0.500,"mode":"CV","out":true,"protect":null}. With `nSeconds` below 0
/// the time is left out (a single reading). When neither lamp is lit (output off) the mode is
/// "--", in JSON null.
/// A tripped protection adds its word ("OVP", "OCP", "OPP", "OTP", "SCP"; "protect" in JSON, null
/// when none has tripped or the supply cannot tell).
QString SampleLine(int nSeconds, float fVolts, float fAmps, int bCv, int bCc, int bOut, bool bJson,
                   const QString& strProtection = QString());
