#include "device/link/CsvLines.h"

#include "device/link/TextTrim.h"

#include <QFile>
#include <QStandardPaths>

#include <algorithm>

namespace pslink {

std::vector<std::string_view> csvFields(std::string_view line)
{
    std::vector<std::string_view> out;
    for (size_t comma; (comma = line.find(',')) != std::string_view::npos; line.remove_prefix(comma + 1))
        out.push_back(trimmedBlanks(line.substr(0, comma)));
    out.push_back(trimmedBlanks(line));
    return out;
}

std::vector<std::string> readCsvText(std::string_view text, const TakeRow& take)
{
    std::vector<std::string> issues;
    int lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        const size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = trimmedBlanks(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.empty() || line.front() == '#')
            continue;
        if (const std::string why = take(csvFields(line)); !why.empty())
            issues.push_back("line " + std::to_string(lineNo) + ": " + why + ": " + std::string(line));
    }
    return issues;
}

std::vector<std::string> readCsvFile(const std::string& path, const TakeRow& take)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return {}; // no file: nothing added, nothing wrong
    const QByteArray bytes = file.readAll();
    std::vector<std::string> issues =
        readCsvText(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())), take);
    for (std::string& issue : issues) {
        // Said as the other settings files' lines are: file, line, why, and what becomes of it.
        issue.insert(0, path + ", ");
        issue += "; the line is ignored.";
    }
    return issues;
}

std::string configFilePath(const char* name)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return (folder + QStringLiteral("/tarnwell/") + QString::fromLatin1(name)).toStdString();
}

} // namespace pslink
