#include "program/ItemEdit.h"

#include <QClipboard>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QGuiApplication>

CItemEdit::CItemEdit(QWidget* parent) : QLineEdit(parent)
{
    setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    setFrame(true);
    // Text may only arrive through the key filter: no paste from a menu, no drops.
    setContextMenuPolicy(Qt::NoContextMenu);
    setAcceptDrops(false);
    setDragEnabled(false);
    hide();
}

bool CItemEdit::AcceptsChar(QChar ch, const QString& strText)
{
    if (ch >= QLatin1Char('0') && ch <= QLatin1Char('9'))
        return true;
    if (ch == QLatin1Char('\b'))
        return true;
    if (ch == QLatin1Char('.'))
        return !strText.isEmpty() && !strText.contains(QLatin1Char('.'));
    return false;
}

void CItemEdit::keyPressEvent(QKeyEvent* event)
{
    // Keys that would bring in text other than by typing it (clipboard, undo) are dropped.
    if (event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Cut)
        || event->matches(QKeySequence::Copy) || event->matches(QKeySequence::Undo)
        || event->matches(QKeySequence::Redo) || event->matches(QKeySequence::SelectAll)) {
        event->accept();
        return;
    }
    // Backspace and Delete edit; some platforms give Delete the DEL character as its text, which
    // must not make the filter drop the key.
    if (event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    const QString strTyped = event->text();
    if (strTyped.isEmpty()) {
        // Caret movement and Delete carry no character; they edit as usual.
        QLineEdit::keyPressEvent(event);
        return;
    }
    const QString strText = text();
    for (QChar ch : strTyped) {
        if (!AcceptsChar(ch, strText)) {
            event->accept(); // Enter and Escape included: neither ends editing
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void CItemEdit::InsertAsTyped(const QString& strText)
{
    for (QChar ch : strText) {
        if (AcceptsChar(ch, text()))
            insert(QString(ch));
    }
}

void CItemEdit::mouseReleaseEvent(QMouseEvent* event)
{
    // A middle click pastes the selection on X11; it goes through the typing filter too.
    if (event->button() == Qt::MiddleButton) {
        const QClipboard* clipboard = QGuiApplication::clipboard();
        if (clipboard->supportsSelection() && !isReadOnly()) {
            deselect();
            setCursorPosition(cursorPositionAt(event->position().toPoint()));
            InsertAsTyped(clipboard->text(QClipboard::Selection));
        }
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void CItemEdit::inputMethodEvent(QInputMethodEvent* event)
{
    // Composed input bypasses the key filter; ignore it.
    event->accept();
}

void CItemEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // A focus change to the editor's own context (a popup of the window) still ends editing.
    Q_EMIT editEnd();
}
