#include "program/ListCtrlEX.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

// Fills the list as the page does: rows shown, and the stored lines behind them.
void Fill(CListCtrlEX& list, bool opened, const std::vector<QString>& times)
{
    list.m_stepLines.clear();
    list.m_bFileOpened = opened ? 1 : 0;
    if (opened)
        list.m_stepLines.push_back(QStringLiteral("first line"));
    for (const QString& t : times) {
        list.InsertStepRow(list.m_nRowCount, t, QStringLiteral("1.00"), QStringLiteral("0.100"));
        list.m_stepLines.push_back(t + QStringLiteral(",1.00,0.100"));
        ++list.m_nRowCount;
    }
}

void SelectRows(CListCtrlEX& list, const std::vector<int>& rows)
{
    list.clearSelection();
    for (int row : rows)
        list.selectionModel()->select(list.model()->index(row, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

std::vector<QString> Stored(const CListCtrlEX& list)
{
    return {list.m_stepLines.begin(), list.m_stepLines.end()};
}

// A shown, active window holding a list and one other field to move the focus to.
struct EditFixture
{
    QWidget window;
    CListCtrlEX* list = new CListCtrlEX;
    QLineEdit* other = new QLineEdit;

    EditFixture()
    {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(list);
        layout->addWidget(other);
        window.resize(420, 300);
        Fill(*list, false, {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
        window.show();
        window.activateWindow();
    }

    QPoint CellCentre(int row, int column) const
    {
        return list->visualRect(list->model()->index(row, column)).center();
    }
};

} // namespace

TEST(ListCtrlEX, DeleteOneRowKeepsStoredRowsInStep)
{
    CListCtrlEX list;
    EXPECT_EQ(list.m_actDeleteOneRow->text(), QStringLiteral("DeleteOneRow"));
    EXPECT_EQ(list.m_actDeleteAllRows->text(), QStringLiteral("DeleteAllRows"));

    // New state: row i shows stored row i.
    Fill(list, false, {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
    SelectRows(list, {1});
    list.m_actDeleteOneRow->trigger();
    EXPECT_EQ(list.rowCount(), 2);
    EXPECT_EQ(list.m_nRowCount, 2);
    EXPECT_EQ(Stored(list), (std::vector<QString>{QStringLiteral("1,1.00,0.100"), QStringLiteral("3,1.00,0.100")}));

    // Nothing selected: nothing changes.
    list.clearSelection();
    list.m_actDeleteOneRow->trigger();
    EXPECT_EQ(list.rowCount(), 2);
    EXPECT_EQ(list.m_stepLines.size(), 2u);

    // Opened state: the file's first line is not shown and survives; two selected rows lose
    // only the upper one.
    list.OnDeleteAllRows();
    Fill(list, true, {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
    SelectRows(list, {0});
    list.OnDeleteOneRow();
    EXPECT_EQ(Stored(list), (std::vector<QString>{QStringLiteral("first line"), QStringLiteral("2,1.00,0.100"),
                                                  QStringLiteral("3,1.00,0.100")}));
    SelectRows(list, {0, 1});
    list.OnDeleteOneRow();
    EXPECT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.GetItemText(0, 1), QStringLiteral("3"));
    EXPECT_EQ(Stored(list), (std::vector<QString>{QStringLiteral("first line"), QStringLiteral("3,1.00,0.100")}));
    EXPECT_EQ(list.m_bFileOpened, 1);

    // The page inserts at m_nRowCount; an index past the end still appends.
    list.InsertStepRow(9, QStringLiteral("4"), QStringLiteral("1.00"), QStringLiteral("0.100"));
    EXPECT_EQ(list.GetItemText(1, 0), QStringLiteral("*"));
    EXPECT_EQ(list.GetItemText(1, 1), QStringLiteral("4"));

    // Delete all returns to the new state.
    list.m_actDeleteAllRows->trigger();
    EXPECT_EQ(list.rowCount(), 0);
    EXPECT_TRUE(list.m_stepLines.empty());
    EXPECT_EQ(list.m_bFileOpened, 0);
    EXPECT_EQ(list.m_nRowCount, 0);
    EXPECT_EQ(list.columnCount(), 4);
}

TEST(ListCtrlEX, EditorKeyFilter)
{
    const struct { char ch; const char* text; bool ok; } cases[] = {
        {'7', "", true}, {'0', "12.5", true}, {'\b', "12.5", true}, {'\b', "", true},
        {'.', "", false}, {'.', "12", true}, {'.', "12.5", false},
        {'-', "1", false}, {'a', "1", false}, {' ', "1", false}, {'\r', "1", false},
        {'\x1b', "1", false}, {'\x16', "1", false}, {'\x03', "1", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CItemEdit::AcceptsChar(QLatin1Char(c.ch), QString::fromLatin1(c.text)), c.ok)
            << int(c.ch) << " into '" << c.text << "'";

    // A middle-click paste of the selection goes through the same filter, character by character.
    CItemEdit editor;
    editor.InsertAsTyped(QStringLiteral(".12a.5 -3"));
    EXPECT_EQ(editor.text(), "12.53");
}

TEST(ListCtrlEX, DoubleClickEditsOnlyTheShownCell)
{
    EditFixture f;
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f.window));
    CListCtrlEX& list = *f.list;

    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, f.CellCentre(1, 2));
    ASSERT_TRUE(list.m_itemEdit.isVisible());
    EXPECT_EQ(list.m_itemEdit.objectName(), QStringLiteral("1070"));
    EXPECT_EQ(list.m_nEditItem, 1);
    EXPECT_EQ(list.m_nEditSubItem, 2);
    EXPECT_EQ(list.m_itemEdit.text(), QStringLiteral("1.00"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return list.m_itemEdit.hasFocus(); }, 2000));
    EXPECT_EQ(list.m_itemEdit.cursorPosition(), 4);

    // Typed keys pass the filter: a second "." is dropped, letters and Enter too.
    QTest::keyClicks(&list.m_itemEdit, QStringLiteral(".x-"));
    QTest::keyClick(&list.m_itemEdit, Qt::Key_Return);
    QTest::keyClick(&list.m_itemEdit, Qt::Key_Escape);
    EXPECT_TRUE(list.m_itemEdit.isVisible());
    QTest::keyClick(&list.m_itemEdit, Qt::Key_Backspace);
    QTest::keyClick(&list.m_itemEdit, Qt::Key_Backspace);
    QTest::keyClick(&list.m_itemEdit, Qt::Key_Backspace);
    QTest::keyClicks(&list.m_itemEdit, QStringLiteral("40"));
    QApplication::clipboard()->setText(QStringLiteral("999"));
    QTest::keyClick(&list.m_itemEdit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(list.m_itemEdit.text(), QStringLiteral("140"));
    // Delete is an editing key, not a typed character: it works as in any field, also where the
    // platform hands it over with the DEL character as its text (X11 does).
    QTest::keyClick(&list.m_itemEdit, Qt::Key_Home);
    QTest::sendKeyEvent(QTest::Click, &list.m_itemEdit, Qt::Key_Delete, QString(QChar(0x7F)), Qt::NoModifier);
    EXPECT_EQ(list.m_itemEdit.text(), QStringLiteral("40"));

    // Losing the focus commits the text to the cell; the stored row keeps its own text.
    f.other->setFocus();
    EXPECT_TRUE(QTest::qWaitFor([&] { return list.GetItemText(1, 2) == QStringLiteral("40"); }, 2000));
    EXPECT_FALSE(list.m_itemEdit.isVisible());
    EXPECT_EQ(list.m_stepLines[1], QStringLiteral("2,1.00,0.100"));
}

TEST(ListCtrlEX, EditorMovesBetweenCellsAndIgnoresEmptyArea)
{
    EditFixture f;
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f.window));
    CListCtrlEX& list = *f.list;

    // The marker column is edited like any other cell.
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, f.CellCentre(0, 0));
    ASSERT_TRUE(list.m_itemEdit.isVisible());
    EXPECT_EQ(list.m_itemEdit.text(), QStringLiteral("*"));
    QTest::keyClick(&list.m_itemEdit, Qt::Key_Backspace);
    QTest::keyClicks(&list.m_itemEdit, QStringLiteral("5"));

    // A double-click on another cell first commits the open edit to its own cell.
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, f.CellCentre(2, 1));
    EXPECT_EQ(list.GetItemText(0, 0), QStringLiteral("5"));
    EXPECT_EQ(list.m_nEditItem, 2);
    EXPECT_EQ(list.m_itemEdit.text(), QStringLiteral("3"));
    QCoreApplication::processEvents(); // the queued end of the first edit must not touch the second
    EXPECT_TRUE(list.m_itemEdit.isVisible());
    EXPECT_EQ(list.GetItemText(2, 1), QStringLiteral("3"));

    f.other->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !list.m_itemEdit.isVisible(); }, 2000));

    // Below the last row: no editor.
    const QPoint below(10, list.viewport()->height() - 3);
    ASSERT_FALSE(list.indexAt(below).isValid());
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, below);
    EXPECT_EQ(list.m_nEditItem, -1);
    EXPECT_FALSE(list.m_itemEdit.isVisible());

    // Deleting every row while the editor is open leaves nothing for it to write into.
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, f.CellCentre(1, 3));
    ASSERT_TRUE(list.m_itemEdit.isVisible());
    list.OnDeleteAllRows();
    QCoreApplication::processEvents();
    EXPECT_EQ(list.rowCount(), 0);
    EXPECT_FALSE(list.m_itemEdit.isVisible());
}

TEST(ListCtrlEX, RightClickMenuDeletesTheClickedRow)
{
    EditFixture f;
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f.window));
    CListCtrlEX& list = *f.list;

    // With a row selected, the right-click menu offers the two deletions; its first entry
    // deletes that row and the stored row behind it.
    const QPoint at = f.CellCentre(1, 2);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
    QStringList entries;
    std::function<void(int)> answerMenu = [&](int triesLeft) {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) {
            if (triesLeft > 0)
                QTimer::singleShot(10, &list, [&, triesLeft] { answerMenu(triesLeft - 1); });
            return;
        }
        for (QAction* action : menu->actions())
            entries << action->text();
        menu->actions().value(0)->trigger();
        menu->close();
    };
    QTimer::singleShot(0, &list, [&] { answerMenu(200); });
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, list.viewport()->mapToGlobal(at));
    QApplication::sendEvent(list.viewport(), &event);
    EXPECT_EQ(entries, (QStringList{QStringLiteral("DeleteOneRow"), QStringLiteral("DeleteAllRows")}));
    EXPECT_EQ(list.rowCount(), 2);
    EXPECT_EQ(Stored(list), (std::vector<QString>{QStringLiteral("1,1.00,0.100"), QStringLiteral("3,1.00,0.100")}));
}
