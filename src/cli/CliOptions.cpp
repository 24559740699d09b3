// The command line of tarnwell-cli: commands, their options and their help. Numbers are read in
// C-locale notation whatever the user's locale, so a script means the same everywhere.
#include "cli/CliOptions.h"

#include "device/NumberText.h"
#include "device/SupplyLimits.h"

#include <QFileInfo>

#include <charconv>
#include <climits>
#include <cmath>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>

namespace {

struct CommandName
{
    const char* name;
    CCliOptions::Command command;
};

constexpr CommandName kCommands[] = {
    {"ports", CCliOptions::kPorts}, {"identify", CCliOptions::kIdentify}, {"set", CCliOptions::kSet},
    {"read", CCliOptions::kRead},   {"log", CCliOptions::kLog},           {"play", CCliOptions::kPlay},
    {"serve", CCliOptions::kServe},
};

const char kPortHelp[] =
    "  --port P        COM1..COM7 (default COM1; TARNWELL_COM<n> chooses what COMn reaches, as in\n"
    "                  the window), sim (the built-in simulated supply), or a serial device path\n"
    "                  with an optional text: or scpi: prefix and @baud, e.g. scpi:/dev/ttyACM0@115200\n";

const char kRunHelp[] =
    "  --out FILE      when the run ends, write its record as the window's Save Data does\n"
    "  --json          one JSON object a line instead of text\n"
    "  --off-at-end    switch the output off when the run ends, however it ends\n"
    "  --reconnect[=DURATION]\n"
    "                  when the supply stops answering, keep trying it for DURATION (default 10m)\n"
    "                  instead of ending at once; nothing is switched on reconnecting, the seconds\n"
    "                  without readings are recorded as rows without values (\"12,,\"), and each\n"
    "                  loss and return is told on standard error (a {\"event\":...} line with --json)\n"
    "Each sample prints one line as it is taken: seconds, volts, amperes, CV or CC, OUT or off,\n"
    "e.g. \"12 5.00 0.500 CV OUT\", or {\"t\":12,\"v\":5.00,\"i\":0.500,\"mode\":\"CV\",\"out\":true,\"protect\":null}.\n"
    "Ctrl-C, SIGTERM or a hang-up (unless under nohup) ends the run as OFF does: the files are\n"
    "written, the output is left as it is.\n";

bool IsIn(CCliOptions::Command command, std::initializer_list<CCliOptions::Command> commands)
{
    for (CCliOptions::Command c : commands) {
        if (c == command)
            return true;
    }
    return false;
}

bool IsSameFile(const QString& a, const QString& b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QFileInfo infoA(a);
    const QFileInfo infoB(b);
    if (infoA.exists() && infoB.exists())
        return infoA.canonicalFilePath() == infoB.canonicalFilePath();
    return infoA.absoluteFilePath() == infoB.absoluteFilePath();
}

} // namespace

bool CCliOptions::ParseNumber(const QString& text, double& value)
{
    const std::string s = text.toStdString();
    // from_chars takes neither a sign nor white space nor the locale's decimal comma.
    if (s.empty() || !((s[0] >= '0' && s[0] <= '9') || s[0] == '.'))
        return false;
    double parsed = 0.0;
    const auto res = std::from_chars(s.data(), s.data() + s.size(), parsed, std::chars_format::fixed);
    if (res.ec != std::errc() || res.ptr != s.data() + s.size() || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

bool CCliOptions::ParseDuration(const QString& text, int& nSeconds)
{
    QString number = text;
    double unit = 1.0;
    if (number.endsWith(QLatin1Char('s'))) {
        number.chop(1);
    } else if (number.endsWith(QLatin1Char('m'))) {
        number.chop(1);
        unit = 60.0;
    } else if (number.endsWith(QLatin1Char('h'))) {
        number.chop(1);
        unit = 3600.0;
    }
    double value = 0.0;
    if (!ParseNumber(number, value))
        return false;
    const double seconds = std::round(value * unit);
    if (seconds < 1.0 || seconds > static_cast<double>(INT_MAX))
        return false;
    nSeconds = static_cast<int>(seconds);
    return true;
}

QString CCliOptions::Parse(const QStringList& args)
{
    if (args.isEmpty())
        return QStringLiteral("no command given");
    const QString first = args.front();
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        bHelp = true;
        return {};
    }
    for (const CommandName& c : kCommands) {
        if (first == QLatin1String(c.name))
            nCommand = c.command;
    }
    if (nCommand == kNone)
        return QStringLiteral("unknown command '%1'").arg(first);

    CArgWalker walker(args, 1);
    for (CArgWalker::Arg next; walker.Next(next);) {
        if (next.nKind == CArgWalker::Arg::kOperand) {
            if (nCommand != kPlay)
                return QStringLiteral("unexpected argument '%1'").arg(next.strText);
            if (!strProgram.isEmpty())
                return QStringLiteral("only one program file, not also '%1'").arg(next.strText);
            strProgram = next.strText;
            continue;
        }
        if (next.nKind == CArgWalker::Arg::kHelp) {
            bHelp = true;
            continue;
        }
        const QString& arg = next.strText;
        std::optional<QString> value = next.value;
        if (Offers(arg, "--reconnect", {kLog, kPlay, kServe})) {
            // Its duration is optional, so it only comes after '='.
            nReconnectSeconds = nCommand == kServe ? 0 : kDefaultReconnectSeconds;
            if (value && !ParseDuration(*value, nReconnectSeconds))
                return QStringLiteral("--reconnect wants a duration such as 90, 90s, 15m or 2h, not '%1'").arg(*value);
            continue;
        }
        if (IsFlag(arg)) {
            if (value)
                return QStringLiteral("%1 takes no value").arg(arg);
            if (QString strError = TakeFlag(arg); !strError.isEmpty())
                return strError;
            continue;
        }
        if (!TakesValue(arg))
            return QStringLiteral("unknown option '%1' for %2").arg(arg, first);
        if (!value && !(value = walker.TakeValue()))
            return QStringLiteral("%1 needs a value").arg(arg);
        if (QString strError = TakeValue(arg, *value); !strError.isEmpty())
            return strError;
    }
    return bHelp ? QString() : Check();
}

bool CArgWalker::Next(Arg& arg)
{
    while (m_nNext < m_args.size()) {
        const QString text = m_args.at(m_nNext++);
        if (m_bOperandsOnly || !text.startsWith(QLatin1Char('-')) || text == QLatin1String("-")) {
            arg = {Arg::kOperand, text, std::nullopt};
            return true;
        }
        if (text == QLatin1String("--")) {
            m_bOperandsOnly = true;
            continue;
        }
        if (text == QLatin1String("--help") || text == QLatin1String("-h")) {
            arg = {Arg::kHelp, text, std::nullopt};
            return true;
        }
        arg = {Arg::kOption, text, std::nullopt};
        if (const qsizetype eq = text.indexOf(QLatin1Char('=')); eq > 0)
            arg = {Arg::kOption, text.left(eq), text.mid(eq + 1)};
        return true;
    }
    return false;
}

std::optional<QString> CArgWalker::TakeValue()
{
    if (m_nNext >= m_args.size())
        return std::nullopt;
    return m_args.at(m_nNext++);
}

bool CCliOptions::IsFlag(const QString& arg) const
{
    return Offers(arg, "--probe", {kPorts}) || Offers(arg, "--on", {kSet}) || Offers(arg, "--off", {kSet}) ||
           Offers(arg, "--json", {kRead, kLog, kPlay}) || Offers(arg, "--off-at-end", {kLog, kPlay});
}

bool CCliOptions::TakesValue(const QString& arg) const
{
    for (const char* name : {"--scpi", "--mqtt", "--mqtt-id", "--metrics", "--record"}) {
        if (Offers(arg, name, {kServe}))
            return true;
    }
    return Offers(arg, "--port", {kIdentify, kSet, kRead, kLog, kPlay, kServe}) || Offers(arg, "--volts", {kSet}) ||
           Offers(arg, "--amps", {kSet}) || Offers(arg, "--for", {kLog}) || Offers(arg, "--cycles", {kPlay}) ||
           Offers(arg, "--out", {kLog, kPlay}) || Offers(arg, "--measured", {kPlay});
}

bool CCliOptions::Offers(const QString& arg, const char* name, std::initializer_list<Command> commands) const
{
    return arg == QLatin1String(name) && IsIn(nCommand, commands);
}

QString CCliOptions::TakeFlag(const QString& arg)
{
    if (arg == QLatin1String("--probe")) {
        bProbe = true;
    } else if (arg == QLatin1String("--on") || arg == QLatin1String("--off")) {
        const int nWanted = arg == QLatin1String("--on") ? 1 : 0;
        if (nOutput >= 0 && nOutput != nWanted)
            return QStringLiteral("--on and --off together");
        nOutput = nWanted;
    } else if (arg == QLatin1String("--json")) {
        bJson = true;
    } else {
        bOffAtEnd = true;
    }
    return {};
}

QString CCliOptions::TakeValue(const QString& arg, const QString& value)
{
    if (arg == QLatin1String("--port")) {
        if (value.isEmpty())
            return QStringLiteral("--port needs a value");
        strPort = value;
    } else if (arg == QLatin1String("--volts") || arg == QLatin1String("--amps")) {
        double number = 0.0;
        if (!ParseNumber(value, number))
            return QStringLiteral("%1 wants a number such as 5 or 12.5, not '%2'").arg(arg, value);
        const bool bVolt = arg == QLatin1String("--volts");
        (bVolt ? bVolts : bAmps) = true;
        (bVolt ? fVolts : fAmps) = static_cast<float>(number);
    } else if (arg == QLatin1String("--for")) {
        if (!ParseDuration(value, nSeconds))
            return QStringLiteral("--for wants a duration such as 90, 90s, 15m or 2h, not '%1'").arg(value);
    } else if (arg == QLatin1String("--cycles")) {
        long long n = 0;
        if (!numtext::ParseWhole(value, n) || n < 1 || n > INT_MAX)
            return QStringLiteral("--cycles wants a whole number of at least 1, not '%1'").arg(value);
        nCycles = static_cast<int>(n);
    } else if (arg == QLatin1String("--out") || arg == QLatin1String("--measured")) {
        if (value.isEmpty())
            return QStringLiteral("%1 needs a file name").arg(arg);
        (arg == QLatin1String("--out") ? strOut : strMeasured) = value;
    } else {
        if (value.isEmpty())
            return QStringLiteral("%1 needs a value").arg(arg);
        QString* const fields[] = {&strScpi, &strMqtt, &strMqttId, &strMetrics, &strRecord};
        const char* const names[] = {"--scpi", "--mqtt", "--mqtt-id", "--metrics", "--record"};
        for (size_t i = 0; i < std::size(names); ++i) {
            if (arg == QLatin1String(names[i]))
                *fields[i] = value;
        }
    }
    return {};
}

QString CCliOptions::Check() const
{
    if (nCommand == kSet && !bVolts && !bAmps && nOutput < 0)
        return QStringLiteral("set needs --volts, --amps, --on or --off");
    if (nCommand == kLog && nSeconds == 0)
        return QStringLiteral("log needs --for DURATION");
    if (nCommand == kPlay && strProgram.isEmpty())
        return QStringLiteral("play needs a program file");
    // A record written over the program (or over the other record) would destroy it.
    if (IsSameFile(strOut, strMeasured) || IsSameFile(strOut, strProgram))
        return QStringLiteral("--out names the file %1 already reads or writes").arg(strOut);
    if (IsSameFile(strMeasured, strProgram))
        return QStringLiteral("--measured names the program file %1").arg(strMeasured);
    return {};
}

QString CCliOptions::Usage(Command nCommand)
{
    switch (nCommand) {
    case kPorts:
        return QStringLiteral("usage: tarnwell-cli ports [--probe]\n"
                              "Lists what COM1..COM7 reach, one line each.\n"
                              "  --probe         also ask each port's supply for its identity\n");
    case kIdentify:
        return QStringLiteral(
                   "usage: tarnwell-cli identify [--port P]\n"
                   "Connects, prints the supply's identity and disconnects. Nothing else is sent.\n") +
               QLatin1String(kPortHelp);
    case kSet:
        return QStringLiteral(
                   "usage: tarnwell-cli set [--port P] [--volts V] [--amps A] [--on | --off]\n"
                   "Sends only what is asked: no other setpoint, no output switching.\n"
                   "  --volts V       voltage setpoint, 0..%1 V (more is taken as %1)\n"
                   "  --amps A        current limit, 0..%2 A (more is taken as %2)\n"
                   "  --on, --off     switch the output on (after the setpoints) or off (before them)\n")
                   .arg(supply::LimitText(true), supply::LimitText(false)) +
               QLatin1String(kPortHelp);
    case kRead:
        return QStringLiteral(
                   "usage: tarnwell-cli read [--port P] [--json]\n"
                   "Prints one sample: volts, amperes, CV or CC (-- when neither), OUT or off,\n"
                   "e.g. \"5.00 0.500 CV OUT\", or {\"v\":5.00,\"i\":0.500,\"mode\":\"CV\",\"out\":true,\"protect\":null}.\n"
                   "Nothing is sent but the identity request and the readings.\n") +
               QLatin1String(kPortHelp) +
               QStringLiteral("  --json          print the sample as a JSON object\n");
    case kLog:
        return QStringLiteral(
                   "usage: tarnwell-cli log [--port P] --for DURATION [--out FILE] [--json] [--off-at-end]\n"
                   "                        [--reconnect[=DURATION]]\n"
                   "A user-mode run: connects as the window does (output off, 5.00 V, 1.000 A), switches\n"
                   "the output on at the first sample and samples once a second for DURATION.\n"
                   "  --for DURATION  seconds, or a number with s, m or h: 90, 90s, 15m, 2h\n") +
               QLatin1String(kPortHelp) + QLatin1String(kRunHelp);
    case kPlay:
        return QStringLiteral(
                   "usage: tarnwell-cli play [--port P] PROGRAM.csv [--cycles N] [--out FILE] [--measured "
                   "FILE]\n"
                   "                         [--json] [--off-at-end] [--reconnect[=DURATION]]\n"
                   "A program-mode run: connects as the window does, then applies one point of the program\n"
                   "file a second, N times over, and samples after each; ends after the last point.\n"
                   "  --cycles N      passes through the program (default 1)\n"
                   "  --measured FILE when the run ends, write the measured samples in the record format\n") +
               QLatin1String(kPortHelp) + QLatin1String(kRunHelp);
    case kServe:
        return ServeUsage();
    case kNone:
        break;
    }
    return QStringLiteral(
        "usage: tarnwell-cli COMMAND [OPTIONS]\n"
        "Drives the bench power supply from scripts, terminals and headless machines.\n"
        "\n"
        "  ports [--probe]                      what COM1..COM7 reach; --probe asks each for its identity\n"
        "  identify [--port P]                  connect, print the identity, disconnect\n"
        "  set [--port P] [--volts V] [--amps A] [--on | --off]\n"
        "  read [--port P] [--json]             one sample: volts, amperes, CV/CC, output\n"
        "  log [--port P] --for DURATION [--out FILE] [--json]\n"
        "  play [--port P] PROGRAM.csv [--cycles N] [--out FILE] [--measured FILE] [--json]\n"
        "  serve [--port P] [--scpi ADDR:PORT] [--mqtt URL] [--metrics ADDR:PORT] [--record DIR]\n"
        "                                       serve the supply to scripts, dashboards, home automation\n"
        "  plot RECORD.csv --out FILE [--scale S] [--from SECONDS] [--show WHAT] [--size WxH]\n"
        "                                       a record's picture as PNG, SVG or PDF, no display needed\n"
        "\n"
        "P is COM1..COM7 (default COM1), sim, or a device path such as /dev/ttyUSB0.\n"
        "'tarnwell-cli COMMAND --help' tells more about one command; --version prints the version.\n"
        "\n"
        "Exit status: 0 done; 1 usage error; 2 no supply answered on the port; 3 link lost during\n"
        "the run (files still written); 4 a file could not be read or written; 130 interrupted.\n");
}
