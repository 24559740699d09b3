#include "widgets/Captions.h"

#include "device/SupplyLimits.h"
#include "widgets/ItemIds.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>

#include <string>

namespace {

// The limits as the connected captions state them.
const std::u16string kMaxVoltsEnglish = u"MaxVoltage:  " + supply::WholeLimitText(true).toStdU16String() + u"V";
const std::u16string kMaxVoltsChinese = u"最大电压:  " + supply::WholeLimitText(true).toStdU16String() + u"V";
const std::u16string kMaxAmpsEnglish = u"MaxCurrent:  " + supply::WholeLimitText(false).toStdU16String() + u"A";
const std::u16string kMaxAmpsChinese = u"最大电流:  " + supply::WholeLimitText(false).toStdU16String() + u"A";

// ---- Control page ----
/// What the page shows when it is made, before any language is applied.
const Caption kControlStartTable[] = {
    {IDC_PANEL, u"Control Panel", nullptr},
    {IDC_MEASURED, u"Measured values", nullptr},
    {IDC_STATUS, u"Current status", nullptr},
    {IDC_CV, u"C.V", nullptr},
    {IDC_OVP, u"OVP", nullptr},
    {IDC_OUT, u"OUT", nullptr},
    {IDC_CC, u"C.C", nullptr},
    {IDC_OCP, u"OCP", nullptr},
    {IDC_PRESET, u"Preset values", nullptr},
    {IDC_STEP_LABEL, u"Step values", nullptr},
    {IDC_STEP_UNIT, u"V", nullptr},
    {IDC_UP, u"UP", nullptr},
    {IDC_DOWN, u"Down", nullptr},
    {IDC_OFF, u"OFF", nullptr},
    {IDC_ON, u"ON", nullptr},
    {IDC_OK, u"OK", nullptr},
    {IDC_CONNECT_PC, u"Connect PC", nullptr},
    {IDC_PORT_LABEL, u"Port", nullptr},
    {IDC_CONNECTION, u"Not  Connected", nullptr},
    {IDC_CONNECT, u"Connect", nullptr},
    {IDC_RUN_MODE, u"Run Mode", nullptr},
    {IDC_USER_MODE, u"User mode", nullptr},
    {IDC_PROGRAM_MODE, u"Program mode", nullptr},
    {IDC_PROGRAM_FILE_LABEL, u"Program File:", nullptr},
    {IDC_TIME_LABEL, u"Total time:", nullptr},
    {IDC_CYCLES_LABEL, u"Cycles:", nullptr},
    {IDC_WAVE_OUTPUT, u"Wave output", nullptr},
    {IDC_SAVE, u"Save Data", nullptr},
    {IDC_ELAPSED_LABEL, u"Elapsed time:", nullptr},
    {IDC_MAX_VOLTAGE, u"MaxVoltage:  V", nullptr},
    {IDC_MAX_CURRENT, u"MaxCurrent:  A", nullptr},
};
const Caption kLanguagesTable[] = {
    {0, u"English", nullptr},
    {1, u"中文", nullptr},
};
const Caption kControlTable[] = {
    {IDC_PANEL, u"Control Panel", u"控制面板"},
    {IDC_MEASURED, u"Measured values", u"测量值"},
    {IDC_STATUS, u"Current status", u"当前状态"},
    {IDC_PRESET, u"Preset values", u"设置值"},
    {IDC_STEP_LABEL, u"Step values", u"步进值"},
    {IDC_OK, u"OK", u"确定"},
    {IDC_OFF, u"OFF", u"关闭"},
    {IDC_ON, u"ON", u"打开"},
    {IDC_UP, u"UP", u"增加"},
    {IDC_DOWN, u"DOWN", u"减少"},
    {IDC_CONNECT_PC, u"Connect PC", u"连接PC"},
    {IDC_PORT_LABEL, u"Port", u"端口号"},
    {IDC_RUN_MODE, u"Run Mode", u"运行模式"},
    {IDC_USER_MODE, u"User mode", u"用户模式"},
    {IDC_PROGRAM_MODE, u"Program mode", u"编程模式"},
    {IDC_PROGRAM_FILE_LABEL, u"Program file：", u"编程文件"},
    {IDC_TIME_LABEL, u"Total time:", u"总时间"},
    {IDC_CYCLES_LABEL, u"Cycles:", u"周期数"},
    {IDC_WAVE_OUTPUT, u"Wave output", u"波形输出"},
    {IDC_SAVE, u"Save Data", u"保存数据"},
    {IDC_ELAPSED_LABEL, u"Elapsed time:", u"当前时间"},
    {IDC_MAX_VOLTAGE, u"MaxVoltage:  V", u"最大电压:  V"},
    {IDC_MAX_CURRENT, u"MaxCurrent:  A", u"最大电流:  A"},
};
const Caption kControlLinkOpenTable[] = {
    {IDC_CONNECTION, u"Connected", u"连接状态"},
    {IDC_CONNECT, u"DisConnect", u"断开连接"},
};
const Caption kControlLinkClosedTable[] = {
    {IDC_CONNECTION, u"Not  Connected", u"未连接状态"},
    {IDC_CONNECT, u"Connect", u"连接"},
};
const Caption kControlConnectedTable[] = {
    {IDC_MAX_VOLTAGE, kMaxVoltsEnglish.c_str(), kMaxVoltsChinese.c_str()},
    {IDC_MAX_CURRENT, kMaxAmpsEnglish.c_str(), kMaxAmpsChinese.c_str()},
    {IDC_CONNECTION, u"Device Connected", u"连接状态"},
    {IDC_CONNECT, u"DisConnect", u"断开"},
};
const Caption kControlReconnectingTable[] = {
    {IDC_CONNECTION, u"Reconnecting...", u"正在重新连接..."},
};
const Caption kControlDisconnectedTable[] = {
    {IDC_MAX_VOLTAGE, u"MaxVoltage:  V", u"最大电压:  V"},
    {IDC_MAX_CURRENT, u"MaxCurrent:  A", u"最大电流:  A"},
    {IDC_CONNECTION, u"DisConnected", u"未连接状态"},
    {IDC_CONNECT, u" Connect", u" 连接"},
};

// ---- Program page ----
const Caption kProgramTable[] = {
    {IDC_PRESET_VOLTAGE_LABEL, u"Preset Voltage:", u"设置电压"},
    {IDC_PRESET_CURRENT_LABEL, u"Preset Current:", u"设置电流"},
    {IDC_TIME_LABEL, u"Time:", u"时间"},
    {IDC_ADD, u"Add", u"增加"},
    {IDC_SAVE, u"Save", u"保存"},
    {IDC_OPEN, u"Open", u"打开"},
    {IDC_PRINT, u"Print", u"打印"},
};
const Caption kProgramColumnsTable[] = {
    {0, u"   ", u"   "},
    {1, u"Time(S)", u"时间(S)"},
    {2, u"Voltage(V)", u"电压(V)"},
    {3, u"Current(A)", u"电流(A)"},
};

// ---- DataRecord page ----
const Caption kRecordTable[] = {
    {IDC_WAVE_TYPE_LABEL, u"Wave Type:", u"波形类型"},
    {IDC_TIME_SCALE_LABEL, u"Time Scale:", u"时间刻度"},
    {IDC_DISPLAY_LABEL, u"Display:", u"显示"},
    {IDC_OPEN, u"Open", u"打开文件"},
    {IDC_FILE_NAME_LABEL, u"Fine name:", u"文件名称"},
    {IDC_FILE_TYPE_LABEL, u"File type:", u"文件类型"},
    {IDC_TOTAL_TIME_LABEL, u"Total time", u"总时间"},
};
const Caption kRecordWaveTypesTable[] = {
    {0, u"Broken Line", u"折线"},
    {1, u"Straight Line", u"直线"},
};
const Caption kRecordDisplayTable[] = {
    {0, u"Both", nullptr},
    {1, u"Voltage", nullptr},
    {2, u"Current", nullptr},
};

// ---- Main window ----
const Caption kTabsTable[] = {
    {0, u"Control", nullptr},
    {1, u"Program", nullptr},
    {2, u"DataRecord", nullptr},
};

} // namespace

namespace captions {

const std::span<const Caption> kControlStart = kControlStartTable;
const std::span<const Caption> kLanguages = kLanguagesTable;
const std::span<const Caption> kControl = kControlTable;
const std::span<const Caption> kControlLinkOpen = kControlLinkOpenTable;
const std::span<const Caption> kControlLinkClosed = kControlLinkClosedTable;
const std::span<const Caption> kControlConnected = kControlConnectedTable;
const std::span<const Caption> kControlDisconnected = kControlDisconnectedTable;
const std::span<const Caption> kControlReconnecting = kControlReconnectingTable;
const std::span<const Caption> kProgram = kProgramTable;
const std::span<const Caption> kProgramColumns = kProgramColumnsTable;
const std::span<const Caption> kRecord = kRecordTable;
const std::span<const Caption> kRecordWaveTypes = kRecordWaveTypesTable;
const std::span<const Caption> kRecordDisplay = kRecordDisplayTable;
const std::span<const Caption> kTabs = kTabsTable;

} // namespace captions

QString CaptionText(const Caption& caption, bool bChinese)
{
    // A caption without a Chinese text stays English (lamps, units, the texts a page starts with).
    return QString::fromUtf16(bChinese && caption.pszChinese ? caption.pszChinese : caption.pszEnglish);
}

void ApplyCaptions(QWidget& page, std::span<const Caption> table, bool bChinese)
{
    for (const Caption& caption : table) {
        QWidget* pItem = page.findChild<QWidget*>(ItemName(caption.nId));
        const QString strText = CaptionText(caption, bChinese);
        if (auto* pGroup = qobject_cast<QGroupBox*>(pItem))
            pGroup->setTitle(strText);
        else if (auto* pButton = qobject_cast<QAbstractButton*>(pItem))
            pButton->setText(strText);
        else if (auto* pLabel = qobject_cast<QLabel*>(pItem))
            pLabel->setText(strText);
    }
}

QStringList CaptionList(std::span<const Caption> table, bool bChinese)
{
    QStringList texts;
    for (const Caption& caption : table)
        texts << CaptionText(caption, bChinese);
    return texts;
}
