#pragma once

// The sentences the engine's parts give a user to read, in one place as the window's captions are:
// front ends show them as they stand (a message box, a line on standard error, a journal note).

#include "device/link/LinkTypes.h"

#include <QDateTime>
#include <QString>

#include <string>
#include <vector>

namespace enginetext {

/// What a front end says of a run that ended for `nReason` (CRunReasons::EndReason); empty where
/// nothing needs saying (done, stopped, interrupted).
QString EndMessage(int nReason);
/// What a front end says when the run's journal cannot be written.
QString JournalFailureMessage(const QString& strFolder, const QString& strReason);
/// A journal left by a run that was cut off.
QString CutOffMessage(const QDateTime& cutAt, const QString& strPath, int nSamples);
/// The lines of the user's settings that were ignored, as one message; empty when there are none.
QString SettingsMessage(const std::vector<QString>& issues);
/// The tripped protections as words: "OVP", "OCP", "OPP", "OTP", "SCP" (short circuit), joined
/// by '+'; empty when none has tripped.
QString ProtectionText(unsigned nProtection);
/// A setpoint the supply refused, as "31.00 V: -222,"Data out of range"" (what was asked, then
/// what the unit said).
QString RefusedValue(const pslink::Refusal& refused);
/// The identity as one printable line: a supply may add line ends or junk bytes to it.
QString PrintableIdentity(const std::string& identity);

// Why a connect or a wait came to nothing.
QString NoAnswer();
/// `strFault`: what became of the last reply, where the link can tell ("a reply with a bad CRC").
QString StoppedAnswering(const QString& strFault);

// What a probe of the port list found.
/// "SCPI — the identity", and " — the family, model and channels" where the dialect placed the unit.
QString ProbeAnswer(const QString& strDialect, const std::string& identity, const QString& strUnit = {});
QString ProbeCannotOpen(const QString& strError);
QString ProbeNoAnswer();

// Notes of the run's journal, each beginning with the sample count at the time.
QString ProtectionNote(int nSample, unsigned nProtection);
/// `nEvent` is a CRunReasons::LinkEventKind; `strDetail` the identity that answered, where one did.
QString LinkNote(int nSample, int nEvent, const QString& strDetail);

} // namespace enginetext
