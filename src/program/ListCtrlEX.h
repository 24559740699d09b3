#pragma once

#include "program/ItemEdit.h"

#include <QString>
#include <QTableWidget>

#include <deque>

class QAction;

/// The Program page's step list: four columns (marker "*", time, voltage, current), the stored
/// rows the page saves, a right-click menu to delete rows, and in-place editing of any cell.
///
/// Stored rows and shown rows: while m_bFileOpened is 0, list row i shows m_stepLines[i]; while
/// it is 1, m_stepLines[0] is the opened file's first line, not shown, and row i shows entry i + 1.
/// Editing a cell changes only what the list shows, never the stored row.
class CListCtrlEX : public QTableWidget
{
    Q_OBJECT
public:
    explicit CListCtrlEX(QWidget* parent = nullptr);
    ~CListCtrlEX() override;

    int m_nRowCount = 0;      ///< rows shown; the page inserts the next row here
    int m_nEditSubItem = -1;  ///< column of the cell last double-clicked
    int m_nEditItem = -1;     ///< row of the cell last double-clicked, -1 when none was hit
    CItemEdit m_itemEdit;     ///< the cell editor (IDC_ITEM_EDIT), hidden until a cell is edited
    std::deque<QString> m_stepLines;
    int m_bFileOpened = 0;

    QAction* m_actDeleteOneRow = nullptr;  ///< "DeleteOneRow" of the right-click menu
    QAction* m_actDeleteAllRows = nullptr; ///< "DeleteAllRows" of the right-click menu

    /// Inserts a step row at `nItem` (the end when beyond it): "*", then the three texts.
    void InsertStepRow(int nItem, const QString& strTime, const QString& strVoltage,
                       const QString& strCurrent);
    /// Text of a cell; empty when there is no such cell.
    QString GetItemText(int nItem, int nSubItem) const;
    /// Removes every shown row (stored rows and counters untouched).
    void DeleteAllItems();

    /// Deletes the first selected row and the stored row it shows.
    void OnDeleteOneRow();
    /// Deletes every row and stored row and returns to the new state.
    void OnDeleteAllRows();
    /// Shows the cell editor over a cell, holding the cell's text.
    void ShowItemEditor(int nItem, int nSubItem, const QRect& rcCell);
    /// Takes the editor's text into the edited cell and hides the editor.
    void OnItemEditEnd();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
};
