#include "program/ListCtrlEX.h"

#include "widgets/ItemIds.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QTableWidgetItem>

CListCtrlEX::CListCtrlEX(QWidget* parent) : QTableWidget(parent), m_itemEdit(nullptr)
{
    setColumnCount(4);
    verticalHeader()->hide();
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Cells are edited only through m_itemEdit and its key filter.
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);

    m_itemEdit.setParent(viewport());
    m_itemEdit.setObjectName(ItemName(IDC_ITEM_EDIT));
    m_itemEdit.hide();
    // Queued: the focus change that ended editing completes before the text is taken. By then
    // the editor may already serve another cell and hold the focus again; that edit goes on.
    connect(
        &m_itemEdit, &CItemEdit::editEnd, this,
        [this] {
            if (!m_itemEdit.hasFocus())
                OnItemEditEnd();
        },
        Qt::QueuedConnection);

    m_actDeleteOneRow = new QAction(QStringLiteral("DeleteOneRow"), this);
    m_actDeleteAllRows = new QAction(QStringLiteral("DeleteAllRows"), this);
    connect(m_actDeleteOneRow, &QAction::triggered, this, &CListCtrlEX::OnDeleteOneRow);
    connect(m_actDeleteAllRows, &QAction::triggered, this, &CListCtrlEX::OnDeleteAllRows);
}

// The editor is a member: it is destroyed, and leaves the viewport, before the base class
// deletes its remaining children.
CListCtrlEX::~CListCtrlEX() = default;

void CListCtrlEX::InsertStepRow(int nItem, const QString& strTime, const QString& strVoltage,
                                const QString& strCurrent)
{
    const int nRow = (nItem < 0 || nItem > rowCount()) ? rowCount() : nItem;
    insertRow(nRow);
    const QString texts[4] = {QStringLiteral("*"), strTime, strVoltage, strCurrent};
    for (int nCol = 0; nCol < 4; ++nCol) {
        auto* pItem = new QTableWidgetItem(texts[nCol]);
        pItem->setTextAlignment(Qt::AlignCenter);
        setItem(nRow, nCol, pItem);
    }
}

QString CListCtrlEX::GetItemText(int nItem, int nSubItem) const
{
    const QTableWidgetItem* pItem = item(nItem, nSubItem);
    return pItem != nullptr ? pItem->text() : QString();
}

void CListCtrlEX::DeleteAllItems()
{
    setRowCount(0);
}

void CListCtrlEX::OnDeleteOneRow()
{
    int nRow = -1;
    for (int i = 0; i < rowCount(); ++i) {
        if (selectionModel()->isRowSelected(i, QModelIndex())) {
            nRow = i;
            break;
        }
    }
    if (nRow < 0)
        return;
    if (!m_itemEdit.isHidden())
        OnItemEditEnd();
    removeRow(nRow);
    if (m_nRowCount > 0)
        --m_nRowCount;
    const std::size_t nStored = static_cast<std::size_t>(nRow) + (m_bFileOpened != 0 ? 1u : 0u);
    if (nStored < m_stepLines.size())
        m_stepLines.erase(m_stepLines.begin() + static_cast<std::ptrdiff_t>(nStored));
}

void CListCtrlEX::OnDeleteAllRows()
{
    m_itemEdit.hide();
    DeleteAllItems();
    m_stepLines.clear();
    m_bFileOpened = 0;
    m_nRowCount = 0;
}

void CListCtrlEX::ShowItemEditor(int nItem, int nSubItem, const QRect& rcCell)
{
    // An edit still open elsewhere is committed before the editor moves on.
    if (!m_itemEdit.isHidden())
        OnItemEditEnd();
    m_nEditItem = nItem;
    m_nEditSubItem = nSubItem;
    m_itemEdit.setGeometry(rcCell);
    m_itemEdit.setText(GetItemText(nItem, nSubItem));
    m_itemEdit.show();
    m_itemEdit.raise();
    m_itemEdit.setFocus(Qt::MouseFocusReason);
    m_itemEdit.end(false);
}

void CListCtrlEX::OnItemEditEnd()
{
    if (m_itemEdit.isHidden())
        return;
    QTableWidgetItem* pItem = item(m_nEditItem, m_nEditSubItem);
    if (pItem != nullptr)
        pItem->setText(m_itemEdit.text());
    m_itemEdit.hide();
}

void CListCtrlEX::mouseDoubleClickEvent(QMouseEvent* event)
{
    // An edit still open is committed to its own cell before the new cell is chosen.
    if (!m_itemEdit.isHidden())
        OnItemEditEnd();
    const QModelIndex index = indexAt(event->position().toPoint());
    m_nEditItem = index.isValid() ? index.row() : -1;
    if (!index.isValid())
        return; // below the rows: no editor and no default handling
    m_nEditSubItem = index.column();
    ShowItemEditor(index.row(), index.column(), visualRect(index));
    QTableWidget::mouseDoubleClickEvent(event);
}

void CListCtrlEX::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    menu.addAction(m_actDeleteOneRow);
    menu.addAction(m_actDeleteAllRows);
    menu.exec(event->globalPos());
}
