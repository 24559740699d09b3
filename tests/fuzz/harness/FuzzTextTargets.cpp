// Targets for the text every file and setting goes through: number text, the record row, the
// port setting, ports.conf.
#include "fuzz/harness/FuzzOracles.h"
#include "fuzz/harness/FuzzTargets.h"

#include "device/NumberText.h"
#include "device/RecordFormat.h"
#include "device/link/Dialects.h"
#include "device/link/PortSetting.h"
#include "device/link/PortsConf.h"
#include "device/pslink.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <type_traits>

namespace fuzz {

namespace {

template <typename T>
std::string Text(T value)
{
    if constexpr (std::is_floating_point_v<T>) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.17g", static_cast<double>(value));
        return buffer;
    } else {
        return std::to_string(value);
    }
}

void CheckDigits(const unsigned char* digits, const char* what)
{
    Check(std::all_of(digits, digits + 4, [](unsigned char d) { return d <= 9; }) && digits[4] == 0, what);
}

void CheckNumberField(std::string_view field)
{
    const long got = numtext::ParseInt(field);
    const long long want = ReferenceInt(field);
    if (got != want)
        Fail("ParseInt(" + Quoted(field) + ") = " + Text(got) + ", want " + Text(want));
    const double value = numtext::ParseFloat(field);
    const double wantValue = ReferenceFloat(field);
    if (!SameReading(value, wantValue))
        Fail("ParseFloat(" + Quoted(field) + ") = " + Text(value) + ", want " + Text(wantValue));
    Check(!std::isnan(value), "ParseFloat gave NaN");

    // The page's texts are QStrings holding the file's bytes as Latin-1: the same reading.
    const QString wide = QString::fromLatin1(field.data(), static_cast<qsizetype>(field.size()));
    Check(numtext::ParseInt(wide) == got, "ParseInt of the QString differs");
    Check(SameReading(numtext::ParseFloat(wide), value), "ParseFloat of the QString differs");

    // Whatever a file holds, the digit buffers sent to the supply hold digits.
    unsigned char digits[5];
    numtext::EncodeVolts(static_cast<float>(value), digits);
    CheckDigits(digits, "EncodeVolts left a byte above 9");
    numtext::EncodeAmps(static_cast<float>(value), digits);
    CheckDigits(digits, "EncodeAmps left a byte above 9");

    // What the writer writes of a value reads back as that value, to its decimals.
    if (std::isfinite(value)) {
        for (const int decimals : {2, 3}) {
            const std::string written = numtext::Fixed(value, decimals);
            const double back = numtext::ParseFloat(written);
            if (std::fabs(back - value) > 0.51 * std::pow(10.0, -decimals) + 1e-15 * std::fabs(value))
                Fail("Fixed(" + Text(value) + ") = \"" + written.substr(0, 80) + "\" reads back as " + Text(back));
        }
    }
}

void RunNumberText(std::string_view input)
{
    CheckNumberField(input.substr(0, 1024));
    recordfile::ForEachLine(input, [](std::string_view line) {
        CheckNumberField(line);
        const recordfile::RowTexts row = recordfile::SplitRow(line);
        CheckNumberField(row.time);
        CheckNumberField(row.voltage);
        CheckNumberField(row.current);
    });
}

void RunRecordFormat(std::string_view input)
{
    // The lines, put back together with LF, are the input with its CR LF turned into LF.
    std::vector<std::string_view> lines;
    recordfile::ForEachLine(input, [&](std::string_view line) { lines.push_back(line); });
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Check(lines[i].find('\n') == std::string_view::npos, "a line holds a line feed");
        joined.append(i ? "\n" : "").append(lines[i]);
    }
    if (!input.empty() && input.back() == '\n')
        joined += '\n';
    std::string expected;
    for (std::size_t i = 0; i < input.size(); ++i) {
        if (!(input[i] == '\r' && i + 1 < input.size() && input[i + 1] == '\n'))
            expected += input[i];
    }
    if (joined != expected)
        Fail("the lines do not make up the input: " + Quoted(joined));

    // A walk stopped after n lines has seen exactly the first n.
    const std::size_t stopAfter = Hash(input) % (lines.size() + 1);
    std::size_t seen = 0;
    recordfile::ForEachLine(input, [&](std::string_view line) {
        Check(seen < lines.size() && line == lines[seen], "a stopped walk went on");
        return ++seen < stopAfter;
    });
    Check(seen == std::min(std::max<std::size_t>(stopAfter, 1), lines.size()), "a stopped walk ended early");

    for (const std::string_view line : lines) {
        const recordfile::RowTexts row = recordfile::SplitRow(line);
        const auto commas = std::count(line.begin(), line.end(), ',');
        std::string rebuilt;
        if (commas >= 2) {
            recordfile::AppendRow(rebuilt, row.time, row.voltage, row.current);
            Check(row.time.find(',') == std::string_view::npos && row.voltage.find(',') == std::string_view::npos,
                  "a comma in the time or voltage field");
        } else if (commas == 1) {
            Check(row.voltage.empty(), "one comma gave a voltage");
            rebuilt = std::string(row.time) + "," + std::string(row.current);
        } else {
            Check(row.time.empty() && row.voltage.empty(), "no comma gave a time or a voltage");
            rebuilt = row.current;
        }
        if (rebuilt != line)
            Fail("SplitRow(" + Quoted(line) + ") does not make up the line");

        // A row written from the fields splits into the same fields.
        std::string written;
        recordfile::AppendRow(written, row.time, row.voltage, row.current);
        const recordfile::RowTexts again = recordfile::SplitRow(written);
        Check(again.time == row.time && again.voltage == row.voltage && again.current == row.current,
              "a written row splits differently");

        // A user-mode sample row of these numbers reads back as them.
        const long time = numtext::ParseInt(row.time);
        const double volts = numtext::ParseFloat(row.voltage);
        const double amps = numtext::ParseFloat(row.current);
        std::string sample;
        recordfile::AppendSampleRow(sample, time, volts, amps);
        const recordfile::RowTexts back = recordfile::SplitRow(sample);
        Check(numtext::ParseInt(back.time) == time, "a sample row's time reads back differently");
        if (std::isfinite(volts) && std::fabs(numtext::ParseFloat(back.voltage) - volts) > 0.0051 + 1e-15 * std::fabs(volts))
            Fail("a sample row's voltage reads back differently: " + Quoted(sample));
        if (std::isfinite(amps) && std::fabs(numtext::ParseFloat(back.current) - amps) > 0.00051 + 1e-15 * std::fabs(amps))
            Fail("a sample row's current reads back differently: " + Quoted(sample));
    }
}

void RunPortSetting(std::string_view input)
{
    const QString text = Hash(input) % 2 == 0
                             ? QString::fromLatin1(input.data(), static_cast<qsizetype>(input.size()))
                             : QString::fromUtf8(input.data(), static_cast<qsizetype>(input.size()));
    QString error;
    const auto parsed = pslink::ParsePortSetting(text, &error);
    const QString description = pslink::DescribePortSetting(pslink::ReadPortSetting(text));
    if (!parsed) {
        const QString told = text.trimmed().isEmpty() ? QStringLiteral("No serial port")
                                                      : QStringLiteral("Unusable serial port setting ") + text;
        Check(description == told, "an unusable setting told wrongly");
        Check(error.contains(text), "the reason does not quote the setting");
        return;
    }
    const auto& all = pslink::Dialects();
    Check(!parsed->dialect || std::find(all.begin(), all.end(), parsed->dialect) != all.end(),
          "a driver outside the registry");
    if (parsed->dialect && !parsed->dialect->onWire()) {
        Check(parsed->path.isEmpty() && description == QString::fromLatin1(parsed->dialect->description),
              "a driver without a wire given a port");
        return;
    }
    if (parsed->onNetwork()) {
        Check(description.startsWith(QStringLiteral("Network unit ")) && parsed->path.isEmpty(),
              "a network unit told as a serial port");
        const QString host = parsed->host.contains(QLatin1Char(':')) ? QLatin1Char('[') + parsed->host + QLatin1Char(']')
                                                                     : parsed->host;
        const auto again = pslink::ParsePortSetting(QString::fromLatin1(parsed->dialect->name) + QStringLiteral(":tcp://")
                                                    + host + QLatin1Char(':') + QString::number(parsed->tcpPort));
        if (!again || *again != *parsed)
            Fail("a network setting written out reads differently");
        return;
    }
    const bool bModbus = parsed->dialect && std::string_view(parsed->dialect->name) == "modbus";
    // The tooltip names the path and the rate as they are, whatever characters the path holds.
    const QString dialect = parsed->dialect ? QString::fromLatin1(parsed->dialect->description)
                                            : QStringLiteral("dialect detected on connect");
    const QString baud = bModbus && !parsed->baudGiven ? QStringLiteral("115200 or 9600") : QString::number(parsed->baud);
    QString expected = QStringLiteral("Serial port ") + parsed->path + QStringLiteral(" (") + dialect
                       + QStringLiteral(", ") + baud + QStringLiteral(" baud)");
    if (bModbus)
        expected += QStringLiteral(", address ") + QString::number(parsed->address);
    // A second line names the adapter when the system knows the port.
    if (description != expected && !description.startsWith(expected + QLatin1Char('\n')))
        Fail("the description reads " + Quoted(description.toUtf8().toStdString()));
    Check(!parsed->path.isEmpty() && parsed->path == parsed->path.trimmed(), "an empty or untrimmed path");
    Check(parsed->baud >= 50 && parsed->baud <= 4000000, "a baud rate out of range");
    if (!text.contains(QLatin1Char('@')))
        Check(parsed->baud == 9600, "no baud rate given and not 9600");

    // Written out in full, the setting reads the same.
    QString full = (parsed->dialect ? QString::fromLatin1(parsed->dialect->name) + QLatin1Char(':') : QString())
                   + parsed->path;
    if (parsed->baudGiven)
        full += QLatin1Char('@') + QString::number(parsed->baud);
    if (bModbus)
        full += QLatin1Char('#') + QString::number(parsed->address);
    const auto again = pslink::ParsePortSetting(full);
    if (!again || *again != *parsed)
        Fail("written out as " + full.toStdString() + " the setting reads differently");
}

// Every line that is neither blank nor a comment maps its port or is reported by its number.
void RunPortsConf(std::string_view input)
{
    const QString text = QString::fromUtf8(input.data(), static_cast<qsizetype>(input.size()));
    const pslink::PortsConf conf = pslink::ParsePortsConf(text, QStringLiteral("ports.conf"));
    int used = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        used += !line.trimmed().isEmpty() && !line.trimmed().startsWith(QLatin1Char('#'));
    for (const QString& issue : conf.issues)
        Check(issue.startsWith(QStringLiteral("ports.conf, line ")), "an issue without its line");
    for (const QString& setting : conf.settings)
        Check(setting.isEmpty() || pslink::ParsePortSetting(setting), "a mapping that cannot be used");
    const auto mapped = std::count_if(conf.settings.begin(), conf.settings.end(), [](const QString& s) { return !s.isEmpty(); });
    Check(static_cast<int>(conf.issues.size()) <= used && mapped + static_cast<long>(conf.issues.size()) <= used
              && (used == 0 || mapped > 0 || !conf.issues.empty()),
          "a line neither used nor reported");
}

std::vector<std::string> NumberCorpus()
{
    return {"Time(S),Voltage(V),Current(A)\r\n1,5.00,0.500\r\n2,9.00,0.900\r\n",
            "12.5V", " -7", "1e2", ".5\n", "3,5", "2147483647", "-2147483648", "0.0625", "32.00,5.100",
            "1.115", "99999999999999999999", "1e-999", "1e999", "\t+0.001e+3x"};
}

std::vector<std::string> NumberWords()
{
    return {"0", "1", "9", ".", "-", "+", "e", "E", "e-", "e+", ",", " ", "\t", "00", "999", "0.", "1e308", "\r\n"};
}

std::vector<std::string> SerialCorpus()
{
    std::vector<std::string> corpus{"/dev/ttyUSB0", "scpi:/dev/ttyACM0@115200", "text:/dev/pts/7", " /dev/ttyS0 @ 9600 ",
                                    "COM1", "sim", "TEXT-LF:/dev/ttyUSB1@57600", "x:/y@z", "@9600", "a@b@4800"};
    for (const pslink::DialectInfo* d : pslink::Dialects())
        corpus.push_back(std::string(d->name) + ":/dev/ttyUSB0@9600");
    return corpus;
}

std::vector<std::string> SerialWords()
{
    std::vector<std::string> words{":", "@", "/dev/tty", " ", "\t", "0", "50", "49", "4000000", "4000001", "-1",
                                   "\xe4\xb8\xad", "\xff", "%1", "%2", "%L1", "%\xc2\xb2"};
    for (const pslink::DialectInfo* d : pslink::Dialects())
        words.push_back(std::string(d->name) + ":");
    return words;
}

} // namespace

std::vector<Target> TextTargets()
{
    std::vector<Target> targets;
    targets.push_back({"NumberText", &RunNumberText, NumberCorpus(), NumberWords(), 2048, 0, 10});
    targets.push_back({"RecordFormat", &RunRecordFormat, NumberCorpus(), NumberWords(), 4096, 0, 10});
    targets.push_back({"PortSetting", &RunPortSetting, SerialCorpus(), SerialWords(), 256, 0, 10});
    targets.push_back({"PortsConf", &RunPortsConf, {"# bench\nCOM3=tcp://192.168.1.50\n\nCOM1 = scpi:/dev/ttyUSB0@9600\n"},
                       {"COM", "1", "7", "8", "=", "\n", "#", "tcp://", "[::1]:5025", "sim", " "}, 512, 0, 10});
    return targets;
}

} // namespace fuzz
