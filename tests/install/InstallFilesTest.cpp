// What the package installs beside the programs, tried as the system uses it: the programs'
// versions, the udev rules on the adapters they are for, bash completion, the AppStream metadata.
#include "platform/BuildVersion.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kSource = QStringLiteral(TARNWELL_SOURCE_DIR);

QString RunProgram(const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return QStringLiteral("<failed: %1>").arg(QString::fromLocal8Bit(process.readAllStandardError()));
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

// ---- udev: the rules file read as udev reads it, on the devices it is meant for ----

struct Device
{
    QString subsystem;
    QString driver;
    QMap<QString, QString> attrs;
};

// A tty node and its parents, nearest first, as udev walks them.
struct Event
{
    const char* what;
    QString action;
    QList<Device> chain;
    bool adapter; ///< expected: tagged uaccess and ignored by ModemManager
    QString kernel = {}; ///< the node's kernel name, where a rule asks for it
};

Event UsbSerial(const char* what, const char* vendor, const char* product, const char* driver, bool adapter)
{
    return {what, QStringLiteral("add"),
            {{QStringLiteral("tty"), {}, {}},
             {QStringLiteral("usb"), QLatin1String(driver), {{"bInterfaceClass", "ff"}}},
             {QStringLiteral("usb"), QStringLiteral("usb"), {{"idVendor", vendor}, {"idProduct", product}}}},
            adapter};
}

struct Term
{
    QString key; // "ATTRS", "ENV", ...
    QString arg; // what is in braces
    QString op;
    QString value;
};

QList<QList<Term>> ParseRules(const QString& text, QStringList& errors)
{
    static const QRegularExpression kTerm(
        QStringLiteral("^\\s*([A-Z]+)(?:\\{([A-Za-z_]+)\\})?\\s*(==|!=|\\+=|:=|=)\\s*\"([^\"]*)\"\\s*(,|$)"));
    static const QStringList kMatch = {"ACTION", "SUBSYSTEM", "SUBSYSTEMS", "ATTRS", "DRIVERS", "KERNEL"};
    static const QStringList kAssign = {"TAG", "GOTO", "LABEL"};
    QList<QList<Term>> rules;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int n = 0; n < lines.size(); ++n) {
        QString rest = lines[n].trimmed();
        if (rest.isEmpty() || rest.startsWith(QLatin1Char('#')))
            continue;
        QList<Term> rule;
        while (!rest.isEmpty()) {
            const QRegularExpressionMatch m = kTerm.match(rest);
            const Term term{m.captured(1), m.captured(2), m.captured(3), m.captured(4)};
            const bool isMatch = term.op == "==" || term.op == "!=";
            if (!m.hasMatch() || (kMatch.contains(term.key) && !isMatch) ||
                (kAssign.contains(term.key) && isMatch) || !(kMatch + kAssign + QStringList{"ENV"}).contains(term.key)) {
                errors << QStringLiteral("line %1: %2").arg(n + 1).arg(rest);
                break;
            }
            rule << term;
            rest = rest.mid(m.capturedLength());
        }
        rules << rule;
    }
    return rules;
}

bool Matches(const Term& t, const QString& actual)
{
    return (actual == t.value) == (t.op == QLatin1String("=="));
}

// The parent keys of one rule must all hold on one device of the chain.
bool RuleMatches(const QList<Term>& rule, const Event& event, QMap<QString, QString>& env)
{
    const Device& node = event.chain.front();
    QList<Term> parentKeys;
    for (const Term& t : rule) {
        if (t.key == "ACTION" && !Matches(t, event.action))
            return false;
        if (t.key == "SUBSYSTEM" && !Matches(t, node.subsystem))
            return false;
        if (t.key == "KERNEL"
            && QRegularExpression(QRegularExpression::wildcardToRegularExpression(t.value)).match(event.kernel).hasMatch()
                   != (t.op == QLatin1String("==")))
            return false;
        if (t.key == "ENV" && (t.op == "==" || t.op == "!=") && !Matches(t, env.value(t.arg)))
            return false;
        if (t.key == "SUBSYSTEMS" || t.key == "ATTRS" || t.key == "DRIVERS")
            parentKeys << t;
    }
    if (parentKeys.isEmpty())
        return true;
    for (const Device& device : event.chain) {
        bool all = true;
        for (const Term& t : parentKeys)
            all = all && Matches(t, t.key == "SUBSYSTEMS" ? device.subsystem
                                    : t.key == "DRIVERS"  ? device.driver
                                                          : device.attrs.value(t.arg));
        if (all)
            return true;
    }
    return false;
}

// Runs the rules over one event: the tags and properties it ends with.
QStringList Apply(const QList<QList<Term>>& rules, const Event& event, QMap<QString, QString>& env)
{
    QStringList tags;
    QString jumpTo;
    for (const QList<Term>& rule : rules) {
        if (!jumpTo.isEmpty()) {
            if (rule.size() == 1 && rule[0].key == "LABEL" && rule[0].value == jumpTo)
                jumpTo.clear();
            continue;
        }
        if (!RuleMatches(rule, event, env))
            continue;
        for (const Term& t : rule) {
            if (t.key == "TAG")
                tags << t.value;
            else if (t.key == "ENV" && t.op == "=")
                env[t.arg] = t.value;
            else if (t.key == "GOTO")
                jumpTo = t.value;
        }
    }
    EXPECT_TRUE(jumpTo.isEmpty()) << "GOTO without its LABEL: " << jumpTo.toStdString();
    return tags;
}

} // namespace

TEST(InstallFiles, EveryProgramTellsTheBuildsVersionWithoutADisplay)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    const QString version = QLatin1String(platform::kBuildVersion);
    EXPECT_TRUE(version.startsWith(QLatin1String(platform::kVersion)));
    EXPECT_EQ(RunProgram(QStringLiteral(TARNWELL_GUI_PATH), {"--version"}, env), "tarnwell " + version + "\n");
    EXPECT_EQ(RunProgram(QStringLiteral(TARNWELL_CLI_PATH), {"--version"}, env), "tarnwell-cli " + version + "\n");
    EXPECT_EQ(RunProgram(QStringLiteral(TARNWELL_SIM_PATH), {"--version"}, env), "tarnwell-sim " + version + "\n");
}

TEST(InstallFiles, UdevRulesOpenTheListedAdaptersToTheDesktopUserAndNothingElse)
{
    const QString path = kSource + QStringLiteral("/packaging/70-tarnwell-serial.rules");
    // uaccess is turned into access by 73-seat-late.rules, after 71-seat.rules tags the seat.
    EXPECT_LT(QFileInfo(path).fileName(), QStringLiteral("71-seat.rules"));
    QStringList errors;
    const QList<QList<Term>> rules = ParseRules(QString::fromUtf8(ReadTestFile(path)), errors);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();

    const Event events[] = {
        UsbSerial("CH340", "1a86", "7523", "ch341", true),
        UsbSerial("CH341", "1a86", "5523", "ch341", true),
        UsbSerial("CP2102", "10c4", "ea60", "cp210x", true),
        UsbSerial("CP2105", "10c4", "ea70", "cp210x", true),
        UsbSerial("FT232R", "0403", "6001", "ftdi_sio", true),
        UsbSerial("FT232H", "0403", "6014", "ftdi_sio", true),
        UsbSerial("PL2303", "067b", "2303", "pl2303", true),
        UsbSerial("PL2303GC", "067b", "23a3", "pl2303", true),
        UsbSerial("CDC-ACM supply", "0483", "5740", "cdc_acm", true),
        UsbSerial("other USB serial chip", "04e2", "1410", "xr_serial", false),
        {"CH340 unplugged", QStringLiteral("remove"), UsbSerial("", "1a86", "7523", "ch341", true).chain, false},
        {"CH340's USB device node", QStringLiteral("add"), UsbSerial("", "1a86", "7523", "ch341", true).chain.mid(2),
         false},
        {"built-in UART", QStringLiteral("add"), {{QStringLiteral("tty"), QStringLiteral("serial8250"), {}}}, false},
        {"USB-TMC instrument", QStringLiteral("add"), {{QStringLiteral("usbmisc"), {}, {}}}, true, QStringLiteral("usbtmc0")},
        {"HID device node", QStringLiteral("add"), {{QStringLiteral("usbmisc"), {}, {}}}, false, QStringLiteral("hiddev0")},
    };
    for (const Event& event : events) {
        QMap<QString, QString> env;
        const QStringList tags = Apply(rules, event, env);
        EXPECT_EQ(tags.contains(QStringLiteral("uaccess")), event.adapter) << event.what;
        EXPECT_EQ(env.value(QStringLiteral("ID_MM_DEVICE_IGNORE")) == QLatin1String("1"), event.adapter)
            << event.what;
    }
}

TEST(InstallFiles, BashCompletionOffersWhatTheProgramTakes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(WriteTestFile(dir.filePath("charge.csv"), "Time(S),Voltage(V),Current(A)\r\n"));
    ASSERT_TRUE(WriteTestFile(dir.filePath("notes.txt"), "x"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("runs"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", QFileInfo(QStringLiteral(TARNWELL_CLI_PATH)).absolutePath() + ':' + env.value("PATH"));
    for (int n = 1; n <= 7; ++n)
        env.remove(QStringLiteral("TARNWELL_COM%1").arg(n));
    const QString script = QStringLiteral(
        "source \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _tarnwell_cli; "
        "printf '%s\\n' \"${COMPREPLY[@]}\" | sort");

    const QString folder = dir.path() + '/';
    const struct
    {
        QStringList words; ///< the command line up to the word being completed
        QStringList offered;
    } cases[] = {
        {{"tarnwell-cli", "pl"}, {"play", "plot"}},
        {{"tarnwell-cli", "--v"}, {"--version"}},
        {{"tarnwell-cli", "set", "--o"}, {"--off", "--on"}},
        {{"tarnwell-cli", "plot", "run.csv", "--s"}, {"--scale", "--show", "--size"}},
        {{"tarnwell-cli", "plot", "--scale", ""}, {"100h", "100m", "25h", "25m", "50s", "5h", "5m"}},
        {{"tarnwell-cli", "plot", "--show", "c"}, {"current"}},
        {{"tarnwell-cli", "read", "--port", "C"}, {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7"}},
        {{"tarnwell-cli", "log", "--port", "s"}, {"sim"}},
        {{"tarnwell-cli", "log", "--for", ""}, {}},
        {{"tarnwell-cli", "play", folder}, {folder + "charge.csv", folder + "runs"}},
    };
    for (const auto& c : cases) {
        const QString out = RunProgram("bash", QStringList{"-c", script, "bash",
                                                    kSource + "/packaging/tarnwell-cli.bash-completion"} + c.words,
                                env);
        EXPECT_EQ(out.split('\n', Qt::SkipEmptyParts), c.offered) << c.words.join(' ').toStdString();
    }
}

TEST(InstallFiles, MetadataNamesTheDesktopEntryTheScreenshotsAndThisVersion)
{
    const QString metainfo = QString::fromUtf8(ReadTestFile(QStringLiteral(TARNWELL_METAINFO_PATH)));
    ASSERT_FALSE(metainfo.isEmpty());
    EXPECT_TRUE(metainfo.contains(QStringLiteral("<launchable type=\"desktop-id\">tarnwell.desktop</launchable>")));
    EXPECT_TRUE(QFileInfo::exists(kSource + "/src/app/tarnwell.desktop"));
    EXPECT_TRUE(metainfo.contains(QStringLiteral("<release version=\"%1\"").arg(platform::kVersion)));
    static const QRegularExpression kImage(QStringLiteral("<image>[^<]*/docs/([^<]+)</image>"));
    int images = 0;
    for (const QRegularExpressionMatch& m : kImage.globalMatch(metainfo)) {
        ++images;
        EXPECT_TRUE(QFileInfo::exists(kSource + "/docs/" + m.captured(1))) << m.captured(1).toStdString();
    }
    EXPECT_EQ(images, 5);
}
