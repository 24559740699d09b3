#pragma once

#include <QString>
#include <QStringList>

#include <initializer_list>
#include <optional>

/// Exit statuses of tarnwell-cli; scripts test them, so they never change meaning.
enum CliExit {
    kExitDone = 0,
    kExitUsage = 1,
    kExitNoSupply = 2, ///< no supply answered on the port
    kExitLinkLost = 3, ///< the link was lost during the run (files still written)
    kExitFile = 4,     ///< a file could not be read or written
    kExitRefused = 5,  ///< the supply refused a value it was sent and kept the one before
    kExitInterrupted = 130,
};

/// Walks a command's arguments as every tarnwell-cli command reads them: operands (all of them
/// after "--"), --help / -h, and options written "--name=value" or "--name value".
class CArgWalker
{
public:
    struct Arg
    {
        enum Kind { kOperand, kHelp, kOption } nKind = kOperand;
        QString strText;              ///< the operand, or the option's name
        std::optional<QString> value; ///< an option's "=value"
    };

    CArgWalker(const QStringList& args, qsizetype nFirst) : m_args(args), m_nNext(nFirst) {}
    /// The next argument; false after the last.
    bool Next(Arg& arg);
    /// The argument after an option without "=value", as its value; nullopt after the last.
    std::optional<QString> TakeValue();

private:
    const QStringList& m_args;
    qsizetype m_nNext;
    bool m_bOperandsOnly = false;
};

/// The command line of tarnwell-cli, parsed: the command and the options it was given.
struct CCliOptions
{
    enum Command { kNone, kPorts, kIdentify, kSet, kRead, kLog, kPlay, kServe };

    Command nCommand = kNone;
    bool bHelp = false;
    bool bProbe = false;
    QString strPort = QStringLiteral("COM1");
    int nChannel = 0; ///< --channel: the unit's channel; 0 as the port names it
    bool bVolts = false;
    bool bAmps = false;
    float fVolts = 0.0f; ///< as given; the caller clamps as the Control page does
    float fAmps = 0.0f;
    int nOutput = -1; ///< -1 leave, 0 --off, 1 --on
    bool bJson = false;
    int nSeconds = 0; ///< log --for
    QString strProgram;
    int nCycles = 1;
    QString strOut;
    QString strMeasured;
    bool bOffAtEnd = false;
    int nReconnectSeconds = 0; ///< log/play --reconnect: how long to try a lost supply; 0 ends at once
                               ///< (serve: 0 tries for as long as it serves)
    // serve
    QString strScpi = QStringLiteral("127.0.0.1:5025"); ///< "none": no SCPI server
    QString strMqtt;    ///< the broker's URL; empty: none
    QString strMqttId;  ///< the topics' <id>; empty: from the unit's identity
    QString strMetrics; ///< where /metrics listens; empty: nowhere
    QString strRecord;  ///< the folder of the daily record files; empty: none
    static constexpr int kDefaultReconnectSeconds = 600;

    /// Parses the arguments after the program name. Empty on success, else what was wrong.
    QString Parse(const QStringList& args);

    /// The help of `nCommand` (kNone: of the program), ending in a line end.
    static QString Usage(Command nCommand);
    /// The help of serve (CliServe.cpp).
    static QString ServeUsage();
    /// "90", "90s", "15m", "2h" (a decimal number is allowed, "1.5h") as whole seconds, at least 1.
    static bool ParseDuration(const QString& text, int& nSeconds);
    /// A non-negative decimal number in C-locale notation, the whole text.
    static bool ParseNumber(const QString& text, double& value);

private:
    /// `arg` names an option of nCommand that takes no value, or one that does.
    bool IsFlag(const QString& arg) const;
    bool TakesValue(const QString& arg) const;
    bool Offers(const QString& arg, const char* name, std::initializer_list<Command> commands) const;
    /// Each records an option; empty, or what is wrong.
    QString TakeFlag(const QString& arg);
    QString TakeValue(const QString& arg, const QString& value);
    /// What the command still lacks, or what its options contradict.
    QString Check() const;
};
