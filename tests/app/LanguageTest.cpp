// The interface language across the whole window: which page follows the flag when, captions
// of both languages, and what stays English.
#include "WindowTestSupport.h"

#include "device/pslink.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Caption
{
    int id;
    const char* english;
    const char* chinese;
};

// A few of each page's captions, among them those where the template and the tables differ;
// the pages' own tests hold their complete tables (the DataRecord page's is complete here).
const Caption kControl[] = {
    {IDC_PANEL, "Control Panel", "控制面板"}, {IDC_DOWN, "DOWN", "减少"},     {IDC_ON, "ON", "打开"},
    {IDC_CONNECTION, "Not  Connected", "未连接状态"}, {IDC_CONNECT, "Connect", "连接"},
    {IDC_PROGRAM_FILE_LABEL, "Program file：", "编程文件"}, {IDC_MAX_VOLTAGE, "MaxVoltage:  V", "最大电压:  V"},
};

const Caption kProgram[] = {
    {IDC_PRESET_VOLTAGE_LABEL, "Preset Voltage:", "设置电压"}, {IDC_ADD, "Add", "增加"}, {IDC_PRINT, "Print", "打印"},
};

const Caption kRecord[] = {
    {IDC_WAVE_TYPE_LABEL, "Wave Type:", "波形类型"}, {IDC_TIME_SCALE_LABEL, "Time Scale:", "时间刻度"}, {IDC_DISPLAY_LABEL, "Display:", "显示"},
    {IDC_OPEN, "Open", "打开文件"},       {IDC_FILE_NAME_LABEL, "Fine name:", "文件名称"},  {IDC_FILE_TYPE_LABEL, "File type:", "文件类型"},
    {IDC_TOTAL_TIME_LABEL, "Total time", "总时间"},
};

const QStringList kColumnsEnglish = {"   ", "Time(S)", "Voltage(V)", "Current(A)"};
const QStringList kColumnsChinese = {"   ", "时间(S)", "电压(V)", "电流(A)"};
const QStringList kWaveTypeEnglish = {"Broken Line", "Straight Line"};
const QStringList kWaveTypeChinese = {"折线", "直线"};
const QStringList kTimeScaleEnglish = {"50 Sec", "5 min", "25 min", "100 min", "5 hr", "25 hr", "100 hr"};
const QStringList kTimeScaleChinese = {"50秒", "5分钟", "25分钟", "100分钟", "5小时", "25小时", "100小时"};
const QStringList kDisplay = {"Both", "Voltage", "Current"};

template <size_t N>
void ExpectCaptions(QWidget& page, const Caption (&table)[N], bool chinese, const char* when)
{
    for (const Caption& c : table)
        EXPECT_EQ(CaptionOf(page, c.id), QString::fromUtf8(chinese ? c.chinese : c.english))
            << when << ", item " << c.id;
}

QStringList ColumnTitles(CTarnwellDlg& dlg)
{
    QStringList titles;
    for (int i = 0; i < dlg.m_pageProgram.m_list.columnCount(); ++i) {
        QTableWidgetItem* item = dlg.m_pageProgram.m_list.horizontalHeaderItem(i);
        titles << (item ? item->text() : QStringLiteral("<none>"));
    }
    return titles;
}

void ExpectProgramAndRecord(CTarnwellDlg& dlg, bool chinese, const char* when)
{
    ExpectCaptions(dlg.m_pageProgram, kProgram, chinese, when);
    EXPECT_EQ(ColumnTitles(dlg), chinese ? kColumnsChinese : kColumnsEnglish) << when;
    ExpectCaptions(dlg.m_pageRecord, kRecord, chinese, when);
    EXPECT_EQ(EntriesOf(dlg.m_pageRecord.m_cbWaveType), chinese ? kWaveTypeChinese : kWaveTypeEnglish) << when;
    EXPECT_EQ(EntriesOf(dlg.m_pageRecord.m_cbTimeScale), chinese ? kTimeScaleChinese : kTimeScaleEnglish) << when;
    EXPECT_EQ(EntriesOf(dlg.m_pageRecord.m_cbDisplay), kDisplay) << when;
}

void ExpectAlwaysEnglish(CTarnwellDlg& dlg)
{
    EXPECT_EQ(dlg.windowTitle(), "Tarnwell");
    EXPECT_EQ(dlg.m_tab.tabText(0), "Control");
    EXPECT_EQ(dlg.m_tab.tabText(1), "Program");
    EXPECT_EQ(dlg.m_tab.tabText(2), "DataRecord");
    EXPECT_EQ(dlg.m_actAbout.text(), "&About Tarnwell...");
    EXPECT_EQ(EntriesOf(dlg.m_pageRecord.m_cbDisplay), kDisplay);
    EXPECT_EQ(EntriesOf(*dlg.m_pageControl.m_cbLanguage), (QStringList{"English", "中文"}));
    const Caption lamps[] = {{IDC_CV, "C.V", ""}, {IDC_OVP, "OVP", ""}, {IDC_OUT, "OUT", ""},
                             {IDC_CC, "C.C", ""}, {IDC_OCP, "OCP", ""}};
    ExpectCaptions(dlg.m_pageControl, lamps, false, "lamps");
    EXPECT_EQ(EntriesOf(*dlg.m_pageControl.m_cbStep), (QStringList{"10", "1", "0.1", "0.01"}));
    EXPECT_EQ(dlg.m_pageControl.m_cbPort->count(), 7);
}

class Language : public ::testing::Test
{
protected:
    void SetUp() override
    {
        pslink::ResetSimulators();
        pslink::SetSimulateAll(true);
        dlg = std::make_unique<CTarnwellDlg>();
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    }
    void TearDown() override
    {
        dlg.reset();
        pslink::SetSimulateAll(false);
    }
    void PickLanguage(int index) { PickEntry(*dlg->m_pageControl.m_cbLanguage, index); }

    std::unique_ptr<CTarnwellDlg> dlg;
};

} // namespace

TEST_F(Language, StartsInEnglishWithTheTemplateTexts)
{
    EXPECT_EQ(dlg->m_nLanguage, 0);
    EXPECT_EQ(dlg->m_pageControl.m_pLanguage, &dlg->m_nLanguage);
    EXPECT_EQ(dlg->m_pageProgram.m_pLanguage, &dlg->m_nLanguage);
    EXPECT_EQ(dlg->m_pageRecord.m_pLanguage, &dlg->m_nLanguage);
    EXPECT_EQ(dlg->m_pageControl.m_cbLanguage->currentIndex(), 0);

    // Before any switch the Control page shows its template, which differs from the English
    // table in two captions.
    EXPECT_EQ(CaptionOf(dlg->m_pageControl, IDC_DOWN), "Down");
    EXPECT_EQ(CaptionOf(dlg->m_pageControl, IDC_PROGRAM_FILE_LABEL), "Program File:");
    EXPECT_EQ(CaptionOf(dlg->m_pageControl, IDC_CONNECTION), "Not  Connected");
    EXPECT_EQ(CaptionOf(dlg->m_pageControl, IDC_PANEL), "Control Panel");
    ExpectProgramAndRecord(*dlg, false, "at start");
    ExpectAlwaysEnglish(*dlg);
}

TEST_F(Language, ControlFollowsAtOnceTheOtherPagesAtTheNextTabChange)
{
    PickLanguage(1);
    EXPECT_EQ(dlg->m_nLanguage, 1);
    ExpectCaptions(dlg->m_pageControl, kControl, true, "Chinese chosen");
    // Not visible and not yet re-captioned.
    EXPECT_EQ(CaptionOf(dlg->m_pageProgram, IDC_ADD), "Add");
    EXPECT_EQ(CaptionOf(dlg->m_pageRecord, IDC_WAVE_TYPE_LABEL), "Wave Type:");

    // Any tab change re-captions both other pages, whichever tab is chosen.
    ClickTab(*dlg, 2);
    ExpectProgramAndRecord(*dlg, true, "after choosing DataRecord");
    ExpectAlwaysEnglish(*dlg);

    // Back to English from the Control page: the table's "DOWN" and "Program file：" stay, the
    // template's texts do not come back; the other pages wait for the next tab change.
    ClickTab(*dlg, 0);
    PickLanguage(0);
    EXPECT_EQ(dlg->m_nLanguage, 0);
    ExpectCaptions(dlg->m_pageControl, kControl, false, "English chosen again");
    EXPECT_EQ(CaptionOf(dlg->m_pageProgram, IDC_ADD), "增加");
    ClickTab(*dlg, 1);
    ExpectProgramAndRecord(*dlg, false, "after choosing Program");

    // Choosing the Control tab re-captions the two other pages as well.
    dlg->m_nLanguage = 1;
    ClickTab(*dlg, 0);
    EXPECT_TRUE(dlg->m_pageControl.isVisible());
    ExpectProgramAndRecord(*dlg, true, "after choosing Control");
}

TEST_F(Language, ManyTabChangesKeepFourColumnsAndTheListsFilled)
{
    PickLanguage(1);
    for (int i = 0; i < 60; ++i)
        ClickTab(*dlg, (i % 3 + 1) % 3);
    EXPECT_EQ(dlg->m_pageProgram.m_list.columnCount(), 4);
    ExpectProgramAndRecord(*dlg, true, "after 60 tab changes");

    // A choice made in the refilled lists survives the refill of the next tab change.
    ClickTab(*dlg, 2);
    PickEntry(dlg->m_pageRecord.m_cbTimeScale, 3);
    PickEntry(dlg->m_pageRecord.m_cbWaveType, 1);
    ClickTab(*dlg, 1);
    ClickTab(*dlg, 2);
    EXPECT_EQ(dlg->m_pageRecord.m_cbTimeScale.currentIndex(), 3);
    EXPECT_EQ(dlg->m_pageRecord.m_cbWaveType.currentIndex(), 1);
    EXPECT_EQ(dlg->m_pageRecord.m_cbTimeScale.count(), 7);
}

TEST_F(Language, SwitchingWhileConnectedUsesTheSwitchTexts)
{
    QTest::mouseClick(static_cast<QWidget*>(dlg->m_pageControl.m_btnConnect), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->m_pageControl.m_btnOn->isEnabled(); }, 10000));
    EXPECT_EQ(CaptionOf(dlg->m_pageControl, IDC_CONNECTION), "Device Connected");
    EXPECT_EQ(CaptionOf(dlg->m_pageControl, IDC_MAX_VOLTAGE), "MaxVoltage:  32V");

    PickLanguage(1);
    EXPECT_EQ(CaptionOf(dlg->m_pageControl, IDC_CONNECTION), "连接状态");
    EXPECT_EQ(CaptionOf(dlg->m_pageControl, IDC_CONNECT), "断开连接");
    EXPECT_EQ(CaptionOf(dlg->m_pageControl, IDC_MAX_VOLTAGE), "最大电压:  V");
    PickLanguage(0);
    EXPECT_EQ(CaptionOf(dlg->m_pageControl, IDC_CONNECTION), "Connected");
    EXPECT_EQ(CaptionOf(dlg->m_pageControl, IDC_CONNECT), "DisConnect");
    EXPECT_EQ(CaptionOf(dlg->m_pageControl, IDC_MAX_CURRENT), "MaxCurrent:  A");

    // Closing the link writes the connect path's own texts until the next switch.
    QTest::mouseClick(static_cast<QWidget*>(dlg->m_pageControl.m_btnConnect), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg->m_pageControl.m_btnOn->isEnabled(); }, 10000));
    EXPECT_EQ(CaptionOf(dlg->m_pageControl, IDC_CONNECTION), "DisConnected");
    EXPECT_EQ(CaptionOf(dlg->m_pageControl, IDC_CONNECT), " Connect");
}
