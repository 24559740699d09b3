#include "platform/widgets/WidgetDialogs.h"

#include "platform/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>

namespace platform {
namespace {

QWidget* DialogParent()
{
    return QApplication::activeWindow();
}

void ShowMessageBox(const QString& text)
{
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
                    DialogParent());
    // A box raised during a long load must not sit under the wait cursor.
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (busy)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    if (busy)
        QApplication::restoreOverrideCursor();
}

std::optional<QString> ShowFileDialog(const FileDialogRequest& request)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return std::nullopt; // a file can only be chosen on the UI thread

    QFileDialog dialog(DialogParent(), request.title);
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

} // namespace

void InstallWidgetDialogs()
{
    SetDialogFrontEnd(&ShowMessageBox, &ShowFileDialog);
}

} // namespace platform
