#include "platform/Dialogs.h"

#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <mutex>

namespace platform {
namespace {

struct Handlers
{
    MessageHandler onMessage;
    ChooseFileHandler onChooseFile;
};

std::mutex g_handlerLock;
Handlers g_frontEnd;  ///< the interactive dialogs, when the program has any
Handlers g_override;  ///< what tests and tours answer with, ahead of the front end

} // namespace

QString QtFilterFromPipeFilter(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString name = parts.at(i);
        QString patterns = parts.at(i + 1);
        if (name.isEmpty() && patterns.isEmpty())
            break;
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        entries << QStringLiteral("%1 (%2)").arg(name, patterns);
    }
    return entries.join(QStringLiteral(";;"));
}

QString WithDefaultExtension(const QString& path, const QString& defaultExt)
{
    if (path.isEmpty() || defaultExt.isEmpty())
        return path;
    if (!QFileInfo(path).fileName().contains(QLatin1Char('.'))) {
        return defaultExt.startsWith(QLatin1Char('.')) ? path + defaultExt
                                                        : path + QLatin1Char('.') + defaultExt;
    }
    return path;
}

void MessageBox(const QString& text)
{
    MessageHandler handler;
    {
        std::lock_guard<std::mutex> guard(g_handlerLock);
        handler = g_override.onMessage ? g_override.onMessage : g_frontEnd.onMessage;
    }
    if (handler) {
        handler(text);
        return;
    }
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

std::optional<QString> ChooseFile(const FileDialogRequest& request)
{
    ChooseFileHandler handler;
    {
        std::lock_guard<std::mutex> guard(g_handlerLock);
        handler = g_override.onChooseFile ? g_override.onChooseFile : g_frontEnd.onChooseFile;
    }
    if (handler)
        return handler(request);
    return std::nullopt;
}

void SetDialogFrontEnd(MessageHandler onMessage, ChooseFileHandler onChooseFile)
{
    std::lock_guard<std::mutex> guard(g_handlerLock);
    g_frontEnd = {std::move(onMessage), std::move(onChooseFile)};
}

void SetDialogHandlers(MessageHandler onMessage, ChooseFileHandler onChooseFile)
{
    std::lock_guard<std::mutex> guard(g_handlerLock);
    g_override = {std::move(onMessage), std::move(onChooseFile)};
}

} // namespace platform
