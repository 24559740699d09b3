#include "app/Captions.h"

#include "device/SupplyLimits.h"

#include <QAbstractButton>

#include <string>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>

namespace {

// The limits as the connected captions state them.
const std::u16string kMaxVoltsEnglish = u"MaxVoltage:  " + supply::WholeLimitText(true).toStdU16String() + u"V";
const std::u16string kMaxVoltsChinese = u"最大电压:  " + supply::WholeLimitText(true).toStdU16String() + u"V";
const std::u16string kMaxAmpsEnglish = u"MaxCurrent:  " + supply::WholeLimitText(false).toStdU16String() + u"A";
const std::u16string kMaxAmpsChinese = u"最大电流:  " + supply::WholeLimitText(false).toStdU16String() + u"A";

// ---- Control page ----
/// What the page shows when it is made, before any language is applied.
const Caption kControlStartTable[] = {
    {1008, u"Control Panel", nullptr},
    {1009, u"Measured values", nullptr},
    {1010, u"Current status", nullptr},
    {1015, u"C.V", nullptr},
    {1016, u"OVP", nullptr},
    {1017, u"OUT", nullptr},
    {1018, u"C.C", nullptr},
    {1019, u"OCP", nullptr},
    {1011, u"Preset values", nullptr},
    {1012, u"Step values", nullptr},
    {1014, u"V", nullptr},
    {1020, u"UP", nullptr},
    {1021, u"Down", nullptr},
    {1022, u"OFF", nullptr},
    {1023, u"ON", nullptr},
    {1024, u"OK", nullptr},
    {1025, u"Connect PC", nullptr},
    {1026, u"Port", nullptr},
    {1028, u"Not  Connected", nullptr},
    {1003, u"Connect", nullptr},
    {1029, u"Run Mode", nullptr},
    {1030, u"User mode", nullptr},
    {1031, u"Program mode", nullptr},
    {1032, u"Program File:", nullptr},
    {1034, u"Total time:", nullptr},
    {1036, u"Cycles:", nullptr},
    {1038, u"Wave output", nullptr},
    {1040, u"Save Data", nullptr},
    {1041, u"Elapsed time:", nullptr},
    {1043, u"MaxVoltage:  V", nullptr},
    {1044, u"MaxCurrent:  A", nullptr},
};
const Caption kLanguagesTable[] = {
    {0, u"English", nullptr},
    {1, u"中文", nullptr},
};
const Caption kControlTable[] = {
    {1008, u"Control Panel", u"控制面板"},
    {1009, u"Measured values", u"测量值"},
    {1010, u"Current status", u"当前状态"},
    {1011, u"Preset values", u"设置值"},
    {1012, u"Step values", u"步进值"},
    {1024, u"OK", u"确定"},
    {1022, u"OFF", u"关闭"},
    {1023, u"ON", u"打开"},
    {1020, u"UP", u"增加"},
    {1021, u"DOWN", u"减少"},
    {1025, u"Connect PC", u"连接PC"},
    {1026, u"Port", u"端口号"},
    {1029, u"Run Mode", u"运行模式"},
    {1030, u"User mode", u"用户模式"},
    {1031, u"Program mode", u"编程模式"},
    {1032, u"Program file：", u"编程文件"},
    {1034, u"Total time:", u"总时间"},
    {1036, u"Cycles:", u"周期数"},
    {1038, u"Wave output", u"波形输出"},
    {1040, u"Save Data", u"保存数据"},
    {1041, u"Elapsed time:", u"当前时间"},
    {1043, u"MaxVoltage:  V", u"最大电压:  V"},
    {1044, u"MaxCurrent:  A", u"最大电流:  A"},
};
const Caption kControlLinkOpenTable[] = {
    {1028, u"Connected", u"连接状态"},
    {1003, u"DisConnect", u"断开连接"},
};
const Caption kControlLinkClosedTable[] = {
    {1028, u"Not  Connected", u"未连接状态"},
    {1003, u"Connect", u"连接"},
};
const Caption kControlConnectedTable[] = {
    {1043, kMaxVoltsEnglish.c_str(), kMaxVoltsChinese.c_str()},
    {1044, kMaxAmpsEnglish.c_str(), kMaxAmpsChinese.c_str()},
    {1028, u"Device Connected", u"连接状态"},
    {1003, u"DisConnect", u"断开"},
};
const Caption kControlReconnectingTable[] = {
    {1028, u"Reconnecting...", u"正在重新连接..."},
};
const Caption kControlDisconnectedTable[] = {
    {1043, u"MaxVoltage:  V", u"最大电压:  V"},
    {1044, u"MaxCurrent:  A", u"最大电流:  A"},
    {1028, u"DisConnected", u"未连接状态"},
    {1003, u" Connect", u" 连接"},
};

// ---- Program page ----
const Caption kProgramTable[] = {
    {1046, u"Preset Voltage:", u"设置电压"},
    {1048, u"Preset Current:", u"设置电流"},
    {1034, u"Time:", u"时间"},
    {1050, u"Add", u"增加"},
    {1040, u"Save", u"保存"},
    {1052, u"Open", u"打开"},
    {1053, u"Print", u"打印"},
};
const Caption kProgramColumnsTable[] = {
    {0, u"   ", u"   "},
    {1, u"Time(S)", u"时间(S)"},
    {2, u"Voltage(V)", u"电压(V)"},
    {3, u"Current(A)", u"电流(A)"},
};

// ---- DataRecord page ----
const Caption kRecordTable[] = {
    {1055, u"Wave Type:", u"波形类型"},
    {1057, u"Time Scale:", u"时间刻度"},
    {1059, u"Display:", u"显示"},
    {1052, u"Open", u"打开文件"},
    {1062, u"Fine name:", u"文件名称"},
    {1063, u"File type:", u"文件类型"},
    {1064, u"Total time", u"总时间"},
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
        QWidget* pItem = page.findChild<QWidget*>(QString::number(caption.nId));
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
