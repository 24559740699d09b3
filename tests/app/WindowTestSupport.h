#pragma once

// Helpers for driving the main window in tests: find a page's control by its dialog item id,
// read its caption, click tabs and pick list entries with real input events.
#include "app/TarnwellDlg.h"
#include "widgets/ItemIds.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QStringList>
#include <QTabBar>
#include <QRadioButton>
#include <QTest>

#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline QWidget* ItemOf(QWidget& page, int id)
{
    return page.findChild<QWidget*>(ItemName(id));
}

/// The text a control shows as its caption, whatever kind of control it is.
inline QString CaptionOf(QWidget& page, int id)
{
    QWidget* item = ItemOf(page, id);
    if (auto* label = qobject_cast<QLabel*>(item))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(item))
        return button->text();
    if (auto* group = qobject_cast<QGroupBox*>(item))
        return group->title();
    return QStringLiteral("<no caption item %1>").arg(id);
}

inline QStringList EntriesOf(const QComboBox& list)
{
    QStringList entries;
    for (int i = 0; i < list.count(); ++i)
        entries << list.itemText(i);
    return entries;
}

inline QTabBar* TabBarOf(CTarnwellDlg& dlg)
{
    return dlg.m_tab.findChild<QTabBar*>(QString(), Qt::FindDirectChildrenOnly);
}

/// Clicks tab `index` with the mouse, as the operator does.
inline void ClickTab(CTarnwellDlg& dlg, int index)
{
    QTabBar* bar = TabBarOf(dlg);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
}

/// Picks entry `index` of a drop-down list with the keyboard (the list reports it as chosen).
inline void PickEntry(QComboBox& list, int index)
{
    list.setFocus();
    while (list.currentIndex() < index && list.currentIndex() < list.count() - 1)
        QTest::keyClick(&list, Qt::Key_Down);
    while (list.currentIndex() > index && list.currentIndex() > 0)
        QTest::keyClick(&list, Qt::Key_Up);
}

/// Clicks a control where the operator would: a check or radio button on its indicator.
inline void ClickItem(QWidget* widget)
{
    if (widget == nullptr)
        return;
    if (qobject_cast<QRadioButton*>(widget) || widget->inherits("QCheckBox"))
        QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(8, widget->height() / 2));
    else
        QTest::mouseClick(widget, Qt::LeftButton);
}
