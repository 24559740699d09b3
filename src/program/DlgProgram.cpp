#include "program/DlgProgram.h"

#include "device/FileKinds.h"
#include "device/NumberText.h"
#include "device/PowerSupply.h"
#include "device/RecordFormat.h"
#include "device/SupplyLimits.h"
#include "platform/AtomicFile.h"
#include "platform/Dialogs.h"
#include "program/BitmapFile.h"
#include "widgets/Captions.h"
#include "widgets/ItemIds.h"

#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <string>
#include <string_view>
#include <vector>

namespace {

// Page text is what the user typed or a file held; the format is 8-bit.
std::string Narrow(const QString& strText)
{
    return strText.toLatin1().toStdString();
}

QString Widen(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Captions come from the caption tables (ApplyLanguage).
QLabel* MakeLabel(QWidget* parent, int nId)
{
    auto* pLabel = new QLabel(parent);
    pLabel->setObjectName(ItemName(nId));
    pLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return pLabel;
}

QPushButton* MakeButton(QWidget* parent, int nId)
{
    auto* pButton = new QPushButton(parent);
    pButton->setObjectName(ItemName(nId));
    pButton->setMinimumWidth(80);
    return pButton;
}

} // namespace

CDlgProgram::CDlgProgram(QWidget* parent) : QWidget(parent)
{
    CreateControls();
    LayOutControls();
    m_list.m_stepLines.clear();
    m_list.m_bFileOpened = 0;
    m_list.m_nRowCount = 0;
    ApplyLanguage();}

void CDlgProgram::CreateControls()
{
    m_list.setObjectName(ItemName(IDC_STEP_LIST));
    m_editVoltage.setObjectName(ItemName(IDC_PRESET_VOLTAGE));
    m_editCurrent.setObjectName(ItemName(IDC_PRESET_CURRENT));
    m_editTime.setObjectName(ItemName(IDC_TIME));
    m_spinTime.setObjectName(ItemName(IDC_TIME_SPIN));

    // The step list.
    QPalette pal = m_list.palette();
    pal.setColor(QPalette::Base, QColor(247, 247, 255));
    m_list.setPalette(pal);
    m_list.setColumnCount(4);
    m_list.horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    m_list.setColumnWidth(0, 40);
    for (int nCol = 1; nCol < 4; ++nCol)
        m_list.setColumnWidth(nCol, 90);
    m_list.verticalHeader()->setDefaultSectionSize(m_list.fontMetrics().height() + 8);
    // As wide as its four columns and a vertical scroll bar: the picture Print saves is the list.
    m_list.setFixedWidth(40 + 3 * 90 + 2 * m_list.frameWidth()
                         + m_list.style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4);

    // The entry fields.
    m_editVoltage.m_bVoltage = 1;
    m_editCurrent.m_bVoltage = 0;
    m_editTime.m_bVoltage = 0;
    m_editVoltage.setText(QStringLiteral("0"));
    m_editVoltage.setMaxLength(5);
    m_editCurrent.setText(QStringLiteral("0"));
    m_editCurrent.setMaxLength(5);
    m_editTime.setText(QStringLiteral("1"));
    m_editTime.m_bDigitsOnly = 1;
    for (CEditEX* pEdit : {&m_editVoltage, &m_editCurrent, &m_editTime}) {
        pEdit->setAlignment(Qt::AlignCenter);
        pEdit->setFixedWidth(96);
        pEdit->installEventFilter(this);
    }

    m_lblVoltage = MakeLabel(this, IDC_PRESET_VOLTAGE_LABEL);
    m_lblCurrent = MakeLabel(this, IDC_PRESET_CURRENT_LABEL);
    m_lblTime = MakeLabel(this, IDC_TIME_LABEL);
    m_btnAdd = MakeButton(this, IDC_ADD);
    m_btnSave = MakeButton(this, IDC_SAVE);
    m_btnOpen = MakeButton(this, IDC_OPEN);
    m_btnPrint = MakeButton(this, IDC_PRINT);
    connect(m_btnAdd, &QPushButton::clicked, this, &CDlgProgram::OnBnClickedAdd);
    connect(m_btnSave, &QPushButton::clicked, this, &CDlgProgram::OnBnClickedSave);
    connect(m_btnOpen, &QPushButton::clicked, this, &CDlgProgram::OnBnClickedOpen);
    connect(m_btnPrint, &QPushButton::clicked, this, &CDlgProgram::OnBnClickedPrint);
    CreateTimeSpin();
}

void CDlgProgram::CreateTimeSpin()
{
    // The up-down control of the time field: the upper arrow counts up.
    auto* pSpinLayout = new QVBoxLayout(&m_spinTime);
    pSpinLayout->setContentsMargins(0, 0, 0, 0);
    pSpinLayout->setSpacing(0);
    m_btnSpinUp = new QToolButton(&m_spinTime);
    m_btnSpinUp->setArrowType(Qt::UpArrow);
    m_btnSpinUp->setAutoRepeat(true);
    m_btnSpinDown = new QToolButton(&m_spinTime);
    m_btnSpinDown->setArrowType(Qt::DownArrow);
    m_btnSpinDown->setAutoRepeat(true);
    for (QToolButton* pButton : {m_btnSpinUp, m_btnSpinDown}) {
        pButton->setFixedSize(18, 13);
        pButton->setFocusPolicy(Qt::NoFocus);
        pSpinLayout->addWidget(pButton);
    }
    connect(m_btnSpinUp, &QToolButton::clicked, this, [this] { OnDeltaposTimeSpin(-1); });
    connect(m_btnSpinDown, &QToolButton::clicked, this, [this] { OnDeltaposTimeSpin(1); });
}

void CDlgProgram::LayOutControls()
{
    auto* pFields = new QGridLayout;
    pFields->setHorizontalSpacing(6);
    pFields->setVerticalSpacing(12);
    // Room for the longer captions of both languages, so switching does not move the fields.
    pFields->setColumnMinimumWidth(0, 110);
    pFields->addWidget(m_lblVoltage, 0, 0);
    pFields->addWidget(&m_editVoltage, 0, 1);
    pFields->addWidget(new QLabel(QStringLiteral("V"), this), 0, 3);
    pFields->addWidget(m_lblCurrent, 1, 0);
    pFields->addWidget(&m_editCurrent, 1, 1);
    pFields->addWidget(new QLabel(QStringLiteral("A"), this), 1, 3);
    pFields->addWidget(m_lblTime, 2, 0);
    pFields->addWidget(&m_editTime, 2, 1);
    pFields->addWidget(&m_spinTime, 2, 2);
    pFields->addWidget(new QLabel(QStringLiteral("S"), this), 2, 3);

    auto* pButtons = new QVBoxLayout;
    pButtons->setSpacing(8);
    for (QPushButton* pButton : {m_btnAdd, m_btnSave, m_btnOpen, m_btnPrint})
        pButtons->addWidget(pButton, 0, Qt::AlignHCenter);

    auto* pLeft = new QVBoxLayout;
    pLeft->addSpacing(16);
    pLeft->addLayout(pFields);
    pLeft->addSpacing(20);
    pLeft->addLayout(pButtons);
    pLeft->addStretch(1);

    auto* pPage = new QHBoxLayout(this);
    pPage->setContentsMargins(24, 10, 24, 10);
    pPage->addLayout(pLeft);
    pPage->addSpacing(40);
    pPage->addWidget(&m_list);
    pPage->addStretch(1);
}

CDlgProgram::~CDlgProgram()
{
    for (CEditEX* pEdit : {&m_editVoltage, &m_editCurrent, &m_editTime})
        pEdit->removeEventFilter(this);
}

void CDlgProgram::OnBnClickedAdd()
{
    // Both values go through 32-bit floats: 1.115 is stored as 1.12, as the supply would see it.
    float fVoltage = static_cast<float>(numtext::ParseFloat(m_editVoltage.text()));
    if (supply::AboveLimit(fVoltage, true)) {
        fVoltage = supply::ClampAbove(fVoltage, true);
        platform::MessageBox(QStringLiteral("Voltage Max Value = %1V!").arg(supply::LimitText(true)));
    }
    float fCurrent = static_cast<float>(numtext::ParseFloat(m_editCurrent.text()));
    if (supply::AboveLimit(fCurrent, false)) {
        fCurrent = supply::ClampAbove(fCurrent, false);
        platform::MessageBox(QStringLiteral("Current Max Value = %1A!").arg(supply::LimitText(false)));
    }
    const std::string strVoltage = numtext::Fixed(fVoltage, supply::kVoltsDecimals);
    const std::string strCurrent = numtext::Fixed(fCurrent, supply::kAmpsDecimals);

    const QString strTime = m_editTime.text();
    std::string strLine;
    recordfile::AppendRow(strLine, Narrow(strTime), strVoltage, strCurrent);
    m_list.InsertStepRow(m_list.m_nRowCount, strTime, Widen(strVoltage), Widen(strCurrent));
    m_list.m_stepLines.push_back(Widen(strLine));
    ++m_list.m_nRowCount;
}

int CDlgProgram::OnDeltaposTimeSpin(int iDelta)
{
    const QString strText = m_editTime.text();
    if (strText.isEmpty())
        return 0;
    long nSeconds = numtext::ParseInt(strText);
    if (iDelta == -1)
        ++nSeconds;
    else if (iDelta == 1) {
        if (nSeconds >= 1)
            --nSeconds;
    } else {
        return 0;
    }
    m_editTime.setText(QString::number(nSeconds));
    return 0;
}

void CDlgProgram::OnBnClickedSave()
{
    const std::optional<QString> path = platform::ChooseFile(filekinds::SaveProgram());
    if (!path)
        return;
    m_strSavePath = *path;
    SaveProgramFile();
}

int CDlgProgram::SaveProgramFile()
{
    // In the opened state the file's own first line stands where the header would go.
    std::string strBytes;
    if (m_list.m_bFileOpened == 0)
        recordfile::AppendLine(strBytes, recordfile::kHeader);
    for (const QString& strLine : m_list.m_stepLines)
        recordfile::AppendLine(strBytes, Narrow(strLine));
    const QByteArray bytes = QByteArray::fromStdString(strBytes);

    // Written beside the target and renamed over it, so a failed save keeps the old file.
    QString strError;
    if (!platform::WriteFileAtomically(m_strSavePath, bytes, &strError)) {
        platform::MessageBox(CResult::Failure(CResult::kCannotSave, m_strSavePath, strError).Message());
        return 0;
    }
    return 1;
}

void CDlgProgram::OnBnClickedOpen()
{
    const std::optional<QString> path = platform::ChooseFile(filekinds::OpenFile());
    if (!path)
        return;
    if (!filekinds::IsCsv(*path) && !filekinds::HasExtension(*path, filekinds::kTxt))
        return;
    LoadProgramFile(*path);
}

int CDlgProgram::LoadProgramFile(const QString& strPath)
{
    // The whole file is read before anything on the page changes: a file that cannot be read
    // leaves the rows on screen, the stored rows and the page's state as they were.
    QFile file(strPath);
    QByteArray data;
    bool bRead = file.open(QIODevice::ReadOnly);
    if (bRead) {
        data = file.readAll();
        bRead = file.error() == QFileDevice::NoError;
    }
    if (!bRead) {
        platform::MessageBox(CResult::Failure(CResult::kCannotOpen, strPath, file.errorString()).Message());
        return 0;
    }

    std::vector<QString> lines;
    recordfile::ForEachLine(std::string_view(data.constData(), static_cast<size_t>(data.size())),
                            [&](std::string_view line) { lines.push_back(Widen(line)); });

    m_list.OnDeleteAllRows();
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string strLine = Narrow(lines[i]);
        const recordfile::RowTexts texts = recordfile::SplitRow(strLine);
        m_list.InsertStepRow(m_list.m_nRowCount, Widen(texts.time), Widen(texts.voltage), Widen(texts.current));
        ++m_list.m_nRowCount;
    }
    m_list.m_stepLines.assign(lines.begin(), lines.end());
    // A file without a single line has no first line to keep: the page stays new, and the next
    // Save writes the standard header.
    m_list.m_bFileOpened = lines.empty() ? 0 : 1;
    return 1;
}

void CDlgProgram::OnBnClickedPrint()
{
    const std::optional<QString> path = platform::ChooseFile(
        {true, QStringLiteral("Save Data As Bmp..."), QStringLiteral("Bmp File(*.bmp)|*.bmp||"), QStringLiteral(".bmp")});
    if (!path)
        return;
    QString strError;
    if (WriteBitmapFile(*path, &m_list, &strError) == 0)
        platform::MessageBox(CResult::Failure(CResult::kCannotSave, *path, strError).Message());
}

void CDlgProgram::ApplyLanguage()
{
    const bool bChinese = IsChinese(m_pLanguage);
    ApplyCaptions(*this, captions::kProgram, bChinese);
    m_list.setHorizontalHeaderLabels(CaptionList(captions::kProgramColumns, bChinese));
}

bool CDlgProgram::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &m_editTime) {
        if (event->type() == QEvent::Wheel) {
            // A time is not a setpoint: the wheel steps whole seconds like the up-down control,
            // in the entry fields' direction (towards the operator counts up), and sends nothing.
            const int nDelta = static_cast<QWheelEvent*>(event)->angleDelta().y();
            if (nDelta != 0)
                OnDeltaposTimeSpin(nDelta < 0 ? -1 : 1);
            event->accept();
            return true;
        }
        if (event->type() == QEvent::KeyPress) {
            const int nKey = static_cast<QKeyEvent*>(event)->key();
            if (nKey == Qt::Key_Up || nKey == Qt::Key_Down) {
                OnDeltaposTimeSpin(nKey == Qt::Key_Up ? -1 : 1);
                return true;
            }
        }
    } else if ((watched == &m_editVoltage || watched == &m_editCurrent)
               && event->type() == QEvent::Wheel) {
        // The wheel steps from the value shown, typed or stepped, not from the last wheel value.
        // A typed value beyond the supply's range starts from the limit: the field only clamps
        // upwards steps, and a step down from 40 must not send 39 V.
        auto* pEdit = static_cast<CEditEX*>(watched);
        pEdit->m_fValue =
            supply::ClampToRange(static_cast<float>(numtext::ParseFloat(pEdit->text())), pEdit->m_bVoltage != 0);
    }
    return QWidget::eventFilter(watched, event);
}
