#pragma once

// A page's controls as the control tests read and click them: by dialog item id.

#include "widgets/ItemIds.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

/// The text an edit, button or label with item id `nID` shows; empty, with `found` false, when
/// the page has none.
inline QString ItemText(const QWidget& page, int nID, bool* found = nullptr)
{
    if (found)
        *found = true;
    if (auto* edit = page.findChild<QLineEdit*>(ItemName(nID)))
        return edit->text();
    if (auto* button = page.findChild<QAbstractButton*>(ItemName(nID)))
        return button->text();
    if (auto* label = page.findChild<QLabel*>(ItemName(nID)))
        return label->text();
    if (found)
        *found = false;
    return {};
}

/// A mouse click where the operator clicks: a radio button takes clicks on its indicator and
/// text only, at its left.
inline void ClickButton(QAbstractButton* button)
{
    ASSERT_NE(button, nullptr);
    const QPoint at = qobject_cast<QRadioButton*>(button) ? QPoint(6, button->height() / 2) : button->rect().center();
    QTest::mouseClick(button, Qt::LeftButton, {}, at);
}
