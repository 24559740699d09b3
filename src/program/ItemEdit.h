#pragma once

#include <QLineEdit>

/// The cell editor of CListCtrlEX: lets through digits, backspace and one decimal point, and
/// tells its list when it loses the focus so the list can take the text.
class CItemEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit CItemEdit(QWidget* parent = nullptr);

    /// True when typing `ch` into a field that holds `strText` is allowed.
    static bool AcceptsChar(QChar ch, const QString& strText);
    /// Inserts `strText` at the cursor as if it were typed: each character only when the filter
    /// lets it through at that point.
    void InsertAsTyped(const QString& strText);

Q_SIGNALS:
    /// Emitted when editing ends; the list connects it queued, so the focus change completes first.
    void editEnd();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};
