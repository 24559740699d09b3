// The Control page's controls, their layout in the page's 900 x 500 area, their handlers, and
// their captions in both languages.
#include "control/DlgControl.h"

#include "app/Captions.h"
#include "control/EditEX.h"
#include "device/SupplyLimits.h"
#include "record/StaticWave.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

template <typename T>
T* Item(QWidget* parent, int nID, T* widget)
{
    widget->setParent(parent);
    widget->setObjectName(QString::number(nID));
    return widget;
}

QPushButton* MakeButton(QWidget* parent, int nID)
{
    auto* btn = Item(parent, nID, new QPushButton);
    btn->setAutoDefault(false);
    // A shown/hidden button keeps its place, so the panel never jumps.
    QSizePolicy policy = btn->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    btn->setSizePolicy(policy);
    return btn;
}

QLabel* UnitLabel(const char* text)
{
    auto* label = new QLabel(QString::fromLatin1(text));
    label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    return label;
}

} // namespace

// ---- Controls and layout ----

void CDlgControl::CreateControls()
{
    // Every caption comes from the caption table once all controls exist.
    auto lineEdit = [this](int nID, bool bReadOnly) {
        auto* edit = Item(this, nID, new QLineEdit);
        edit->setReadOnly(bReadOnly);
        return edit;
    };
    auto button = [this](int nID) { return MakeButton(this, nID); };
    auto label = [this](int nID) { return Item(this, nID, new QLabel); };
    auto lamp = [this](int nID) {
        auto* box = Item(this, nID, new QCheckBox);
        box->setFocusPolicy(Qt::NoFocus);
        return box;
    };

    // Control Panel
    m_grpPanel = Item(this, 1008, new QGroupBox);
    m_lblMeasured = label(1009);
    m_edMeasVoltage = lineEdit(1005, true);
    m_edMeasCurrent = lineEdit(1007, true);
    m_lblStatus = label(1010);
    m_chkCv = lamp(1015);
    m_chkOvp = lamp(1016);
    m_chkOut = lamp(1017);
    m_chkCc = lamp(1018);
    m_chkOcp = lamp(1019);
    m_lblPreset = label(1011);
    m_edVoltage = Item(this, 1004, new CEditEX);
    m_edCurrent = Item(this, 1006, new CEditEX);
    m_lblStep = label(1012);
    m_cbStep = Item(this, 1013, new QComboBox);
    FillStepList(true);
    m_lblStepUnit = label(1014);
    m_btnUp = button(1020);
    m_btnDown = button(1021);
    m_btnOk = button(1024);
    m_btnOn = button(1023);
    m_btnOff = button(1022);
    for (QLineEdit* edit : {static_cast<QLineEdit*>(m_edMeasVoltage), static_cast<QLineEdit*>(m_edMeasCurrent),
                            static_cast<QLineEdit*>(m_edVoltage), static_cast<QLineEdit*>(m_edCurrent)}) {
        edit->setAlignment(Qt::AlignCenter);
        edit->setMinimumWidth(70);
    }

    CreateRunControls();
    m_cbLanguage = Item(this, 1074, new QComboBox);
    m_cbLanguage->addItems(CaptionList(captions::kLanguages, false));
    ApplyCaptions(*this, captions::kControlStart, false);
}

void CDlgControl::CreateRunControls()
{
    auto lineEdit = [this](int nID) { return Item(this, nID, new QLineEdit); };
    auto label = [this](int nID) { return Item(this, nID, new QLabel); };

    // Connect PC
    m_grpConnect = Item(this, 1025, new QGroupBox);
    m_lblPort = label(1026);
    m_cbPort = Item(this, 1027, new QComboBox);
    for (int i = 0; i < CPortsView::Count(); ++i)
        m_cbPort->addItem(QStringLiteral("COM%1").arg(i + 1));
    m_cbPort->setCurrentIndex(-1); // no selection: the supply's port stays COM1 until one is picked
    m_lblConnection = label(1028);
    m_btnConnect = MakeButton(this, 1003);

    // Run Mode
    m_grpMode = Item(this, 1029, new QGroupBox);
    m_rbUser = Item(this, 1030, new QRadioButton);
    m_rbProgram = Item(this, 1031, new QRadioButton);
    m_lblProgramFile = label(1032);
    m_edProgramFile = lineEdit(1033);
    m_lblTotalTime = label(1034);
    m_edTotalTime = lineEdit(1035);
    m_lblCycles = label(1036);
    m_edCycles = lineEdit(1037);
    m_edTotalTime->setMaximumWidth(90);
    m_edCycles->setMaximumWidth(90);

    // Wave output
    m_grpWave = Item(this, 1038, new QGroupBox);
    m_wave = Item(this, 1039, new CStaticWave);
    m_wave->setMinimumSize(260, 160);
    m_wave->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_btnSaveData = MakeButton(this, 1040);
    m_lblElapsed = label(1041);
    m_edElapsed = lineEdit(1042);
    m_edElapsed->setEnabled(false); // shows the elapsed seconds; never typed into
    m_edElapsed->setMaximumWidth(90);
    m_lblMaxVoltage = label(1043);
    m_lblMaxCurrent = label(1044);
}

void CDlgControl::LayOutControls()
{
    auto* panel = new QGridLayout(m_grpPanel);
    panel->addWidget(m_lblMeasured, 0, 0, 1, 4);
    panel->addWidget(m_edMeasVoltage, 1, 0);
    panel->addWidget(UnitLabel("V"), 1, 1);
    panel->addWidget(m_edMeasCurrent, 1, 2);
    panel->addWidget(UnitLabel("A"), 1, 3);
    panel->addWidget(m_lblStatus, 2, 0, 1, 4);
    auto* lamps = new QHBoxLayout;
    for (QCheckBox* box : {m_chkCv, m_chkOvp, m_chkOut, m_chkCc, m_chkOcp})
        lamps->addWidget(box);
    panel->addLayout(lamps, 3, 0, 1, 4);
    panel->addWidget(m_lblPreset, 4, 0, 1, 4);
    panel->addWidget(m_edVoltage, 5, 0);
    panel->addWidget(UnitLabel("V"), 5, 1);
    panel->addWidget(m_edCurrent, 5, 2);
    panel->addWidget(UnitLabel("A"), 5, 3);
    auto* step = new QHBoxLayout;
    step->addWidget(m_lblStep);
    step->addWidget(m_cbStep, 1);
    step->addWidget(m_lblStepUnit);
    panel->addLayout(step, 6, 0, 1, 4);
    auto* buttons = new QGridLayout;
    buttons->addWidget(m_btnUp, 0, 0);
    buttons->addWidget(m_btnDown, 0, 1);
    buttons->addWidget(m_btnOk, 0, 2);
    buttons->addWidget(m_btnOn, 1, 0);
    buttons->addWidget(m_btnOff, 1, 1);
    panel->addLayout(buttons, 7, 0, 1, 4);
    panel->setRowStretch(8, 1);

    auto* connectGrid = new QGridLayout(m_grpConnect);
    connectGrid->addWidget(m_lblPort, 0, 0);
    connectGrid->addWidget(m_cbPort, 0, 1);
    connectGrid->addWidget(m_lblConnection, 1, 0, 1, 2);
    connectGrid->addWidget(m_btnConnect, 2, 0, 1, 2);
    connectGrid->setRowStretch(3, 1);

    auto* mode = new QGridLayout(m_grpMode);
    mode->addWidget(m_rbUser, 0, 0, 1, 2);
    mode->addWidget(m_rbProgram, 0, 2, 1, 2);
    mode->addWidget(m_lblProgramFile, 1, 0);
    mode->addWidget(m_edProgramFile, 1, 1, 1, 3);
    mode->addWidget(m_lblTotalTime, 2, 0);
    mode->addWidget(m_edTotalTime, 2, 1);
    mode->addWidget(UnitLabel("S"), 2, 2);
    mode->addWidget(m_lblCycles, 3, 0);
    mode->addWidget(m_edCycles, 3, 1);
    mode->setColumnStretch(3, 1);

    auto* side = new QVBoxLayout;
    side->addWidget(m_btnSaveData);
    side->addWidget(m_lblElapsed);
    auto* elapsed = new QHBoxLayout;
    elapsed->addWidget(m_edElapsed);
    elapsed->addWidget(UnitLabel("S"));
    side->addLayout(elapsed);
    side->addWidget(m_lblMaxVoltage);
    side->addWidget(m_lblMaxCurrent);
    side->addStretch(1);
    side->addWidget(m_cbLanguage);
    auto* wave = new QHBoxLayout(m_grpWave);
    wave->addWidget(m_wave, 1);
    wave->addLayout(side);

    auto* right = new QVBoxLayout;
    auto* top = new QHBoxLayout;
    top->addWidget(m_grpConnect);
    top->addWidget(m_grpMode, 1);
    right->addLayout(top);
    right->addWidget(m_grpWave, 1);
    auto* page = new QHBoxLayout(this);
    page->setContentsMargins(6, 6, 6, 6);
    page->addWidget(m_grpPanel);
    page->addLayout(right, 1);
}

void CDlgControl::ConnectControls()
{
    connect(m_btnConnect, &QPushButton::clicked, this, &CDlgControl::OnBnClickedConnect);
    connect(m_btnUp, &QPushButton::clicked, this, &CDlgControl::OnBnClickedUp);
    connect(m_btnDown, &QPushButton::clicked, this, &CDlgControl::OnBnClickedDown);
    connect(m_btnOn, &QPushButton::clicked, this, &CDlgControl::OnBnClickedOn);
    connect(m_btnOff, &QPushButton::clicked, this, &CDlgControl::OnBnClickedOff);
    connect(m_btnOk, &QPushButton::clicked, this, &CDlgControl::OnBnClickedOk);
    connect(m_rbUser, &QRadioButton::clicked, this, &CDlgControl::OnBnClickedUserMode);
    connect(m_rbProgram, &QRadioButton::clicked, this, &CDlgControl::OnBnClickedProgramMode);
    connect(m_edVoltage, &QLineEdit::textChanged, this, &CDlgControl::OnChangeVoltage);
    connect(m_edCurrent, &QLineEdit::textChanged, this, &CDlgControl::OnChangeCurrent);
    // activated: the operator's choices only, as a selection-change notification is.
    connect(m_cbStep, &QComboBox::activated, this, &CDlgControl::OnSelchangeStep);
    connect(m_cbPort, &QComboBox::activated, this, &CDlgControl::OnSelchangePort);
    connect(m_cbLanguage, &QComboBox::activated, this, &CDlgControl::OnSelchangeLanguage);
    connect(m_btnSaveData, &QPushButton::clicked, this, &CDlgControl::OnBnClickedSaveData);
    m_edVoltage->installEventFilter(this);
    m_edCurrent->installEventFilter(this);

    connect(&m_engine.Run(), &CRun::RunStarted, this, &CDlgControl::OnRunStarted);
    connect(&m_engine.Run(), &CRun::RunEnded, this, &CDlgControl::OnRunEnded);
    connect(&m_engine.Run(), &CRun::PointApplied, this, &CDlgControl::OnPointApplied);
    connect(&m_engine.Run(), &CRun::Sampled, this, &CDlgControl::OnSampled);
    connect(&m_engine.Run(), &CRun::JournalFailed, this, &CDlgControl::OnJournalFailed);
    connect(&m_engine.Run(), &CRun::LinkEvent, this, &CDlgControl::OnLinkEvent);
    connect(&m_engine.Watch(), &CSupplyWatch::ProtectionChanged, this, &CDlgControl::OnProtectionChanged);
    m_engine.Run().SetReconnectTime(kReconnectFor);
}

// ---- Language ----

void CDlgControl::ApplyLanguage()
{
    const bool bChinese = ::IsChinese(m_pLanguage);
    ApplyCaptions(*this, captions::kControl, bChinese);
    ApplyCaptions(*this, m_bConnected ? captions::kControlLinkOpen : captions::kControlLinkClosed, bChinese);
}

void CDlgControl::OnSelchangeLanguage()
{
    if (m_pLanguage)
        *m_pLanguage = static_cast<std::uint16_t>(std::max(0, m_cbLanguage->currentIndex()));
    ApplyLanguage();
}

