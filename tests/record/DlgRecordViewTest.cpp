// The DataRecord page's view: the click read-out, the display list, the captions of both
// languages and the layout in the main window's page area.
#include "record/DlgRecord.h"

#include "support/DialogRecorder.h"
#include "widgets/ItemIds.h"

#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class DlgRecordViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_page.resize(900, 500);
        m_page.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_page));
        // The plot follows the display's size once it has been laid out and painted.
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_page.m_wave.m_rcPlot == m_page.m_wave.rect().adjusted(20, 20, -20, -20); }));
    }

    void OpenRecord(int nRows)
    {
        const QString path = m_dir.filePath(QStringLiteral("rec.csv"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("Time(S),Voltage(V),Current(A)\r\n");
        for (int i = 1; i <= nRows; ++i)
            file.write(QByteArray::number(i) + ",30.00,1.000\r\n"); // red near the top, yellow lower
        file.close();
        m_dialogs.answerNext(path);
        QTest::mouseClick(m_page.m_btnOpen, Qt::LeftButton);
    }

    // Counts pixels of one colour in what the wave display shows.
    int CountPixels(QRgb colour)
    {
        const QImage image = m_page.m_wave.grab().toImage().convertToFormat(QImage::Format_RGB32);
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
        return n;
    }

    QTemporaryDir m_dir;
    DialogRecorder m_dialogs;
    CDlgRecord m_page;
};

TEST_F(DlgRecordViewTest, ClickReadoutAtCornersAndOutsideThePlot)
{
    OpenRecord(100);
    CStaticWave& wave = m_page.m_wave;
    const QRect plot = wave.m_rcPlot;
    struct Case { QPoint at; bool bInside; int nX; int nVolts; };
    const Case cases[] = {
        {plot.topLeft(), true, 0, 35},
        {plot.bottomRight(), true, 50, 0}, // last pixel row and column of the plot
        {QPoint(plot.left() + plot.width() / 2, plot.top() + plot.height() / 5), true, 25, 28},
        {QPoint(plot.left(), plot.top() + plot.height()), false, 0, 0}, // bottom edge
        {QPoint(plot.left() + plot.width(), plot.top()), false, 0, 0},  // right edge
        {QPoint(plot.left() - 1, plot.top()), false, 0, 0},
        {QPoint(5, 5), false, 0, 0}, // the display's border, outside the plot
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.at.x() << "," << c.at.y());
        wave.m_nReadoutX = -1;
        wave.m_nReadoutVolts = -1;
        QTest::mouseClick(&wave, Qt::LeftButton, {}, c.at);
        EXPECT_EQ(wave.m_bShowReadout, c.bInside ? 1 : 0);
        if (c.bInside) {
            EXPECT_EQ(wave.m_nReadoutX, c.nX);
            EXPECT_EQ(wave.m_nReadoutVolts, c.nVolts);
        } else {
            EXPECT_EQ(wave.m_nReadoutX, -1) << "a click outside moves no read-out";
        }
    }
    // A click on the page beside the display clears the read-out too.
    QTest::mouseClick(&wave, Qt::LeftButton, {}, plot.topLeft());
    QTest::mouseClick(&m_page, Qt::LeftButton, {}, QPoint(2, m_page.height() - 2));
    EXPECT_EQ(wave.m_bShowReadout, 0);
    // A right click is no read-out.
    QTest::mouseClick(&wave, Qt::RightButton, {}, plot.topLeft());
    EXPECT_EQ(wave.m_bShowReadout, 0);
}

TEST_F(DlgRecordViewTest, DisplayListHidesOneTrace)
{
    OpenRecord(100);
    const QRgb red = qRgb(255, 0, 0);
    const QRgb yellow = qRgb(255, 255, 0);
    m_page.m_cbDisplay.setCurrentIndex(1); // "Voltage"
    EXPECT_EQ(m_page.m_wave.m_bShowVoltage, 1);
    EXPECT_EQ(m_page.m_wave.m_bShowCurrent, 0);
    EXPECT_GT(CountPixels(red), 0);
    EXPECT_EQ(CountPixels(yellow), 0);
    m_page.m_cbDisplay.setCurrentIndex(2); // "Current"
    EXPECT_EQ(CountPixels(red), 0);
    EXPECT_GT(CountPixels(yellow), 0);
    m_page.m_cbDisplay.setCurrentIndex(0); // "Both"
    EXPECT_GT(CountPixels(red), 0);
    EXPECT_GT(CountPixels(yellow), 0);

    m_page.m_cbWaveType.setCurrentIndex(1);
    EXPECT_EQ(m_page.m_wave.m_nLineStyle, 0);
    m_page.m_cbWaveType.setCurrentIndex(0);
    EXPECT_EQ(m_page.m_wave.m_nLineStyle, 1);
}

TEST_F(DlgRecordViewTest, LanguageRefillKeepsTheChoicesInForce)
{
    std::uint16_t language = 0;
    m_page.m_pLanguage = &language;
    m_page.m_cbWaveType.setCurrentIndex(1);
    m_page.m_cbTimeScale.setCurrentIndex(2);
    m_page.m_cbDisplay.setCurrentIndex(1);
    auto caption = [&](int id) { return m_page.findChild<QLabel*>(ItemName(id))->text(); };

    language = 1;
    for (int i = 0; i < 3; ++i)
        m_page.ApplyLanguage();
    EXPECT_EQ(caption(IDC_FILE_NAME_LABEL), QStringLiteral("文件名称"));
    EXPECT_EQ(m_page.m_btnOpen->text(), QStringLiteral("打开文件"));
    EXPECT_EQ(m_page.m_cbWaveType.count(), 2);
    EXPECT_EQ(m_page.m_cbTimeScale.count(), 7);
    EXPECT_EQ(m_page.m_cbTimeScale.currentText(), QStringLiteral("25分钟"));
    EXPECT_EQ(m_page.m_cbWaveType.currentText(), QStringLiteral("直线"));
    EXPECT_EQ(m_page.m_cbDisplay.currentText(), QStringLiteral("Voltage")); // never translated
    EXPECT_EQ(m_page.m_wave.m_nTimeScale, 2);
    EXPECT_EQ(m_page.m_wave.m_nLineStyle, 0);

    language = 0;
    m_page.ApplyLanguage();
    EXPECT_EQ(caption(IDC_FILE_NAME_LABEL), QStringLiteral("Fine name:"));
    EXPECT_EQ(caption(IDC_TOTAL_TIME_LABEL), QStringLiteral("Total time"));
    EXPECT_EQ(m_page.m_cbTimeScale.currentText(), QStringLiteral("25 min"));
}

TEST_F(DlgRecordViewTest, ControlsFitThePageAreaWithoutOverlap)
{
    m_page.m_pLanguage = nullptr;
    OpenRecord(100); // shows the scroll bar
    QList<QWidget*> controls;
    for (QWidget* w : m_page.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w->isVisible())
            controls << w;
    ASSERT_GE(controls.size(), 16);
    // The scroll bar spans the display right below it.
    EXPECT_EQ(m_page.m_scroll.geometry().left(), m_page.m_wave.geometry().left());
    EXPECT_EQ(m_page.m_scroll.width(), m_page.m_wave.width());
    EXPECT_GT(m_page.m_scroll.geometry().top(), m_page.m_wave.geometry().bottom());
    for (int i = 0; i < controls.size(); ++i) {
        const QRect r = controls[i]->geometry();
        SCOPED_TRACE(controls[i]->objectName().toStdString());
        EXPECT_TRUE(m_page.rect().contains(r));
        EXPECT_GE(r.width(), controls[i]->minimumSizeHint().width());
        EXPECT_GE(r.height(), controls[i]->minimumSizeHint().height());
        for (int j = i + 1; j < controls.size(); ++j)
            EXPECT_FALSE(r.intersects(controls[j]->geometry())) << controls[j]->objectName().toStdString();
    }
}

} // namespace
