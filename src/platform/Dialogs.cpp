#include "platform/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>
#include <QThread>

#include <mutex>

namespace platform {
namespace {

std::mutex g_handlerLock;
std::function<void(const QString&)> g_onMessage;
std::function<std::optional<QString>(const FileDialogRequest&)> g_onChooseFile;

QWidget* dialogParent()
{
    return QApplication::activeWindow();
}

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
    std::function<void(const QString&)> handler;
    {
        std::lock_guard<std::mutex> guard(g_handlerLock);
        handler = g_onMessage;
    }
    if (handler) {
        handler(text);
        return;
    }
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    if (QThread::currentThread() != app->thread()) {
        // Widgets live on the UI thread only. The box is posted there without waiting, so a
        // worker that reports an error can never deadlock with a window that is closing.
        QMetaObject::invokeMethod(app, [text] { MessageBox(text); }, Qt::QueuedConnection);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text, QMessageBox::Ok,
                    dialogParent());
    // A box raised during a long load must not sit under the wait cursor.
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (busy)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    if (busy)
        QApplication::restoreOverrideCursor();
}

std::optional<QString> ChooseFile(const FileDialogRequest& request)
{
    std::function<std::optional<QString>(const FileDialogRequest&)> handler;
    {
        std::lock_guard<std::mutex> guard(g_handlerLock);
        handler = g_onChooseFile;
    }
    if (handler)
        return handler(request);
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return std::nullopt; // a file can only be chosen on the UI thread

    QFileDialog dialog(dialogParent(), request.title);
    dialog.setNameFilter(QtFilterFromPipeFilter(request.filter));
    if (request.save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        // Qt confirms overwriting by default; the suffix is added by Qt to a name without one.
        QString suffix = request.defaultExt;
        if (suffix.startsWith(QLatin1Char('.')))
            suffix.remove(0, 1);
        dialog.setDefaultSuffix(suffix);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    QString path = dialog.selectedFiles().constFirst();
    if (request.save)
        path = WithDefaultExtension(path, request.defaultExt);
    return path;
}

void SetDialogHandlers(std::function<void(const QString&)> onMessage,
                       std::function<std::optional<QString>(const FileDialogRequest&)> onChooseFile)
{
    std::lock_guard<std::mutex> guard(g_handlerLock);
    g_onMessage = std::move(onMessage);
    g_onChooseFile = std::move(onChooseFile);
}

} // namespace platform
