// The DataRecord page: opening records, the scroll range over the time scales, scrolling, and
// the failures that must leave the page as it was.
#include "record/DlgRecord.h"

#include "device/pslink.h"

#include "support/DialogRecorder.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class DlgRecordTest : public ::testing::Test
{
protected:
    // A record as the Control page saves it: header, then "time,volts,amperes" with CR LF.
    QString WriteRecord(const QString& name, int nRows)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray data("Time(S),Voltage(V),Current(A)\r\n");
        for (int i = 1; i <= nRows; ++i)
            data += QByteArray::number(i) + ',' + QByteArray::number(5 + i % 10) + ".00,0.250\r\n";
        file.write(data);
        return path;
    }

    void Open(const std::optional<QString>& path)
    {
        m_dialogs.answerNext(path);
        QTest::mouseClick(m_page.m_btnOpen, Qt::LeftButton);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "wait cursor left behind";
    }

    void ExpectBar(bool bShown, int nMax, int nOffset)
    {
        EXPECT_EQ(m_page.m_scroll.isVisible(), bShown);
        EXPECT_EQ(m_page.m_scroll.isEnabled(), bShown);
        if (bShown) {
            EXPECT_EQ(m_page.m_nScrollMax, nMax);
            EXPECT_EQ(m_page.m_scroll.minimum(), 0);
            EXPECT_EQ(m_page.m_scroll.maximum(), nMax);
            EXPECT_EQ(m_page.m_scroll.value(), nOffset);
        }
        EXPECT_EQ(m_page.m_supply.m_nViewOffset.load(), nOffset);
    }

    // A real click on one part of the scroll bar (arrow or groove), wherever the style puts it.
    void Click(QStyle::SubControl part)
    {
        QStyleOptionSlider option;
        option.initFrom(&m_page.m_scroll);
        option.orientation = Qt::Horizontal;
        option.minimum = m_page.m_scroll.minimum();
        option.maximum = m_page.m_scroll.maximum();
        option.sliderPosition = option.sliderValue = m_page.m_scroll.value();
        option.pageStep = m_page.m_scroll.pageStep();
        option.singleStep = 1;
        const QRect r = m_page.m_scroll.style()->subControlRect(QStyle::CC_ScrollBar, &option, part, &m_page.m_scroll);
        ASSERT_FALSE(r.isEmpty()) << part << " at " << m_page.m_scroll.value() << " width " << m_page.m_scroll.width();
        QTest::mouseClick(&m_page.m_scroll, Qt::LeftButton, {}, r.center());
    }
    void ToRightEnd() { m_page.m_scroll.triggerAction(QAbstractSlider::SliderToMaximum); }

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_page.resize(900, 500);
        m_page.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_page));
    }

    QTemporaryDir m_dir;
    DialogRecorder m_dialogs;
    CDlgRecord m_page;
};

TEST_F(DlgRecordTest, ScrollRangeFollowsLengthAndTimeScale)
{
    struct Case { int nRows; int nScale; bool bShown; int nMax; };
    const Case cases[] = {
        {100, 0, true, 50},  {52, 0, true, 2},  {51, 0, false, 0}, {100, 1, false, 0},
        {20000, 0, true, 19950}, {20000, 1, true, 19700}, {20000, 2, true, 18500},
        {20000, 3, true, 14000}, {20000, 4, true, 2000}, {20000, 5, false, 0}, {20000, 6, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nRows << " rows, scale " << c.nScale);
        m_page.m_cbTimeScale.setCurrentIndex(c.nScale);
        const QString path = WriteRecord(QStringLiteral("r%1.csv").arg(c.nRows), c.nRows);
        Open(path);
        ExpectBar(c.bShown, c.nMax, 0);
        EXPECT_EQ(m_page.m_wave.m_nTimeScale, c.nScale);
        EXPECT_EQ(m_page.m_edFileName.text(), path);
        EXPECT_EQ(m_page.m_edFileType.text(), QStringLiteral("Data Record File"));
        EXPECT_EQ(m_page.m_edTotalTime.text(), QString::number(c.nRows));
        EXPECT_EQ(m_page.m_supply.m_logVoltage.size(), static_cast<size_t>(c.nRows));
    }
    EXPECT_TRUE(m_dialogs.messages.isEmpty());
    ASSERT_FALSE(m_dialogs.requests.empty());
    EXPECT_EQ(m_dialogs.requests.front().title, QStringLiteral("Open File..."));
    EXPECT_EQ(m_dialogs.requests.front().filter, QStringLiteral("Program Files(*.csv)|*.csv|"));
}

TEST_F(DlgRecordTest, FirstVisibleSampleFollowsShorterRecordsAndWiderWindows)
{
    Open(WriteRecord(QStringLiteral("r200.csv"), 200));
    ToRightEnd();
    ExpectBar(true, 150, 150);
    Open(WriteRecord(QStringLiteral("r100.csv"), 100));
    ExpectBar(true, 50, 50);
    Open(WriteRecord(QStringLiteral("r30.csv"), 30));
    ExpectBar(false, 0, 0);

    Open(WriteRecord(QStringLiteral("long.csv"), 20000));
    ToRightEnd();
    ExpectBar(true, 19950, 19950);
    m_page.m_cbTimeScale.setCurrentIndex(4); // "5 hr": 2000 is the last first sample
    ExpectBar(true, 2000, 2000);
    m_page.m_cbTimeScale.setCurrentIndex(5); // the whole record fits
    ExpectBar(false, 0, 0);
    m_page.m_cbTimeScale.setCurrentIndex(0);
    ExpectBar(true, 19950, 0);
}

TEST_F(DlgRecordTest, ScrollRequestsStayWithinTheRecord)
{
    Open(WriteRecord(QStringLiteral("r100.csv"), 100));
    Click(QStyle::SC_ScrollBarSubLine);
    ExpectBar(true, 50, 0);
    Click(QStyle::SC_ScrollBarAddLine);
    Click(QStyle::SC_ScrollBarAddLine);
    ExpectBar(true, 50, 2);
    Click(QStyle::SC_ScrollBarAddPage); // paging moves nothing
    Click(QStyle::SC_ScrollBarSubPage);
    ExpectBar(true, 50, 2);
    m_page.m_scroll.triggerAction(QAbstractSlider::SliderToMaximum); // the bar's "Right edge"
    Click(QStyle::SC_ScrollBarAddLine);
    ExpectBar(true, 50, 50);
    Click(QStyle::SC_ScrollBarSubLine);
    ExpectBar(true, 50, 49);
    m_page.m_scroll.triggerAction(QAbstractSlider::SliderToMinimum);
    ExpectBar(true, 50, 0);

    // Dragging moves the picture only when the thumb is let go.
    m_page.m_scroll.setSliderDown(true);
    m_page.m_scroll.setSliderPosition(30);
    EXPECT_EQ(m_page.m_supply.m_nViewOffset.load(), 0);
    m_page.m_scroll.setSliderDown(false);
    ExpectBar(true, 50, 30);

    // The bar's context menu "Scroll here" sets its value directly: the picture follows.
    m_page.m_scroll.setValue(20);
    ExpectBar(true, 50, 20);

    // Out-of-range requests from any caller are held to the range.
    m_page.OnHScroll(CDlgRecord::SB_THUMBPOSITION, 500);
    ExpectBar(true, 50, 50);
    m_page.OnHScroll(CDlgRecord::SB_THUMBPOSITION, -5);
    ExpectBar(true, 50, 0);
}

TEST_F(DlgRecordTest, OpenThatLoadsNothingKeepsThePage)
{
    // A cancelled first Open switches drawing on, with nothing to draw but the grid.
    Open(std::nullopt);
    EXPECT_EQ(m_page.m_wave.m_bDrawWaves.load(), 1);
    EXPECT_EQ(m_page.m_supply.m_nPointsPerCycle.load(), 0);
    EXPECT_TRUE(m_page.m_edFileName.text().isEmpty());
    ExpectBar(false, 0, 0);

    // A refused name or an unreadable file is reported; the record shown stays, fields included.
    const QString good = WriteRecord(QStringLiteral("good.csv"), 100);
    Open(good);
    ToRightEnd();
    const QString notCsv = WriteRecord(QStringLiteral("notes.txt"), 10);
    const QString missing = m_dir.filePath(QStringLiteral("gone.csv"));

    // A directory named like a record.
    const QString unreadable = m_dir.filePath(QStringLiteral("folder.csv"));
    ASSERT_TRUE(QDir().mkdir(unreadable));

    // No message box waits under a busy cursor.
    QStringList busy;
    platform::SetDialogHandlers(
        [&](const QString& text) {
            m_dialogs.messages << text;
            if (QApplication::overrideCursor() != nullptr)
                busy << text;
        },
        [&](const platform::FileDialogRequest&) {
            const std::optional<QString> answer = m_dialogs.answers.front();
            m_dialogs.answers.pop_front();
            return answer;
        });
    Open(notCsv);
    Open(missing);
    Open(unreadable);
    EXPECT_TRUE(busy.isEmpty()) << busy.join(QLatin1Char('|')).toStdString();
    ASSERT_EQ(m_dialogs.messages.size(), 3);
    EXPECT_EQ(m_dialogs.messages.at(0), QStringLiteral("This is not a CSV file!"));
    EXPECT_TRUE(m_dialogs.messages.at(1).startsWith(QStringLiteral("Can not open file: ")));
    EXPECT_TRUE(m_dialogs.messages.at(2).startsWith(QStringLiteral("Can not open file: ")));
    EXPECT_EQ(m_page.m_edFileName.text(), good);
    EXPECT_EQ(m_page.m_edTotalTime.text(), QStringLiteral("100"));
    EXPECT_EQ(m_page.m_supply.m_logVoltage.size(), 100u);
    ExpectBar(true, 50, 50);
}

TEST_F(DlgRecordTest, RecordSavedFromARunOpensHere)
{
    // A user-mode run of 60 samples on the simulated supply, saved as Save Data saves it.
    pslink::ResetSimulators();
    pslink::SetSimulateAll(true);
    CPowerSupply writer;
    ASSERT_EQ(writer.Connect(), 1);
    writer.m_bOpenOutput = 1;
    for (int i = 0; i < 60; ++i)
        writer.ReadRecordSample();
    CloseCOM(0);
    pslink::SetSimulateAll(false);
    const QString path = m_dir.filePath(QStringLiteral("saved.csv"));
    ASSERT_EQ(writer.SaveRecord(path), 1);

    Open(path);
    EXPECT_EQ(m_page.m_edTotalTime.text(), QStringLiteral("60"));
    ExpectBar(true, 10, 0);
    ASSERT_EQ(m_page.m_supply.m_logVoltage.size(), 60u);
    EXPECT_NEAR(m_page.m_supply.m_logVoltage.back(), writer.m_fVoltage, 0.005);
    EXPECT_NEAR(m_page.m_supply.m_logCurrent.back(), writer.m_fCurrent, 0.0005);
    EXPECT_GT(m_page.m_supply.m_logVoltage.back(), 0.0f);
}

} // namespace
