#include "engine/EngineText.h"

#include "engine/RunReasons.h"

#include "device/NumberText.h"
#include "device/SupplyLimits.h"
#include "device/link/Protection.h"

#include <QStringList>

#include <iterator>

namespace enginetext {

QString EndMessage(int nReason)
{
    switch (nReason) {
    case CRunReasons::kEndLinkLost:
        return QStringLiteral("The supply stopped answering; the run has ended. Its samples are kept.");
    case CRunReasons::kEndOutputOff:
        return QStringLiteral("The supply came back with its output off (it may have lost its power); the program "
                              "run has stopped and the output stays off. Its samples are kept.");
    case CRunReasons::kEndFileError:
        return QStringLiteral("The program file could not be read; the run has not started.");
    default:
        return {};
    }
}

QString JournalFailureMessage(const QString& strFolder, const QString& strReason)
{
    return QStringLiteral("Cannot keep a journal of this run in %1: %2. The run goes on; its samples are kept in memory "
                          "and written to the journal once it can be written again (it is tried every minute).")
        .arg(strFolder, strReason);
}

QString CutOffMessage(const QDateTime& cutAt, const QString& strPath, int nSamples)
{
    // One pass: a second arg() would take a "%1" in the path (it comes from XDG_STATE_HOME) for
    // a place of its own.
    return QStringLiteral("A run cut off on %1 %2 was kept: %3 (%4 samples).")
        .arg(cutAt.toString(QStringLiteral("yyyy-MM-dd")), cutAt.toString(QStringLiteral("HH:mm:ss")), strPath,
             QString::number(nSamples));
}

QString SettingsMessage(const std::vector<QString>& issues)
{
    if (issues.empty())
        return {};
    QStringList lines{QStringLiteral("Some lines of your settings could not be used:")};
    for (const QString& issue : issues)
        lines << issue;
    return lines.join(QLatin1Char('\n'));
}

QString ProtectionText(unsigned nProtection)
{
    static const struct
    {
        unsigned bit;
        const char* word;
    } kWords[] = {{pslink::kOverVoltage, "OVP"}, {pslink::kOverCurrent, "OCP"}, {pslink::kOverPower, "OPP"},
                  {pslink::kOverTemperature, "OTP"}, {pslink::kShortCircuit, "SCP"}};
    QStringList words;
    for (const auto& w : kWords) {
        if (nProtection & w.bit)
            words << QLatin1String(w.word);
    }
    return words.join(QLatin1Char('+'));
}

QString PrintableIdentity(const std::string& identity)
{
    QString line;
    for (const char c : identity) {
        if (c >= 0x20 && c < 0x7f)
            line += QLatin1Char(c);
    }
    line = line.trimmed();
    if (line.isEmpty() && !identity.empty())
        return QStringLiteral("(an identity without printable characters)");
    return line;
}

QString NoAnswer()
{
    return QStringLiteral("the supply did not answer");
}

QString StoppedAnswering(const QString& strFault)
{
    return strFault.isEmpty() ? QStringLiteral("the supply stopped answering")
                              : QStringLiteral("the supply stopped answering (%1)").arg(strFault);
}

QString ProbeAnswer(const QString& strDialect, const std::string& identity, const QString& strUnit)
{
    const QString strAnswer = QStringLiteral("%1 \u2014 %2").arg(strDialect, PrintableIdentity(identity));
    return strUnit.isEmpty() ? strAnswer : QStringLiteral("%1 \u2014 %2").arg(strAnswer, strUnit);
}

QString ProbeCannotOpen(const QString& strError)
{
    return QStringLiteral("cannot be opened: %1").arg(strError);
}

QString ProbeNoAnswer()
{
    return QStringLiteral("no answer");
}

QString ProtectionNote(int nSample, unsigned nProtection)
{
    return QStringLiteral("sample %1: %2 tripped; the output is off").arg(nSample).arg(ProtectionText(nProtection));
}

QString LinkNote(int nSample, int nEvent, const QString& strDetail)
{
    // In the order of CRunReasons::LinkEventKind.
    static const char* const kNotes[] = {"link lost", "link back", "another supply answers", "gave up reconnecting",
                                         "stopped reconnecting"};
    if (nEvent < 0 || nEvent >= static_cast<int>(std::size(kNotes)))
        return {};
    QString strNote = QStringLiteral("sample %1: %2").arg(nSample).arg(QLatin1String(kNotes[nEvent]));
    if (!strDetail.isEmpty())
        strNote += QStringLiteral(" (%1)").arg(strDetail);
    return strNote;
}

QString RefusedValue(const pslink::Refusal& refused)
{
    const QString strValue = refused.voltage
                                 ? numtext::FixedText(refused.value / 100.0f, supply::kVoltsDecimals) + QStringLiteral(" V")
                                 : numtext::FixedText(refused.value / 1000.0f, supply::kAmpsDecimals) + QStringLiteral(" A");
    return QStringLiteral("%1: %2").arg(strValue, QString::fromStdString(refused.said));
}

} // namespace enginetext
