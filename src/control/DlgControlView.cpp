// The Control page's controls, their layout in the page's 900 x 500 area, their handlers, and
// their captions in both languages.
#include "control/DlgControl.h"

#include "device/SupplyLimits.h"
#include "widgets/Captions.h"
#include "widgets/EditEX.h"
#include "widgets/ItemIds.h"
#include "widgets/StaticWave.h"

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
    widget->setObjectName(ItemName(nID));
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
    m_grpPanel = Item(this, IDC_PANEL, new QGroupBox);
    m_lblMeasured = label(IDC_MEASURED);
    m_edMeasVoltage = lineEdit(IDC_MEAS_VOLTAGE, true);
    m_edMeasCurrent = lineEdit(IDC_MEAS_CURRENT, true);
    m_lblStatus = label(IDC_STATUS);
    m_chkCv = lamp(IDC_CV);
    m_chkOvp = lamp(IDC_OVP);
    m_chkOut = lamp(IDC_OUT);
    m_chkCc = lamp(IDC_CC);
    m_chkOcp = lamp(IDC_OCP);
    m_lblPreset = label(IDC_PRESET);
    m_edVoltage = Item(this, IDC_VOLTAGE, new CEditEX);
    m_edCurrent = Item(this, IDC_CURRENT, new CEditEX);
    m_lblStep = label(IDC_STEP_LABEL);
    m_cbStep = Item(this, IDC_STEP, new QComboBox);
    FillStepList(true);
    m_lblStepUnit = label(IDC_STEP_UNIT);
    m_btnUp = button(IDC_UP);
    m_btnDown = button(IDC_DOWN);
    m_btnOk = button(IDC_OK);
    m_btnOn = button(IDC_ON);
    m_btnOff = button(IDC_OFF);
    for (QLineEdit* edit : {static_cast<QLineEdit*>(m_edMeasVoltage), static_cast<QLineEdit*>(m_edMeasCurrent),
                            static_cast<QLineEdit*>(m_edVoltage), static_cast<QLineEdit*>(m_edCurrent)}) {
        edit->setAlignment(Qt::AlignCenter);
        edit->setMinimumWidth(70);
    }

    CreateRunControls();
    m_cbLanguage = Item(this, IDC_LANGUAGE, new QComboBox);
    m_cbLanguage->addItems(CaptionList(captions::kLanguages, false));
    ApplyCaptions(*this, captions::kControlStart, false);
}

void CDlgControl::CreateRunControls()
{
    auto lineEdit = [this](int nID) { return Item(this, nID, new QLineEdit); };
    auto label = [this](int nID) { return Item(this, nID, new QLabel); };

    // Connect PC
    m_grpConnect = Item(this, IDC_CONNECT_PC, new QGroupBox);
    m_lblPort = label(IDC_PORT_LABEL);
    m_cbPort = Item(this, IDC_PORT, new QComboBox);
    for (int i = 0; i < CPortsView::Count(); ++i)
        m_cbPort->addItem(CPortsView::Name(i));
    m_cbPort->setCurrentIndex(-1); // no selection: the supply's port stays COM1 until one is picked
    m_lblConnection = label(IDC_CONNECTION);
    m_btnConnect = MakeButton(this, IDC_CONNECT);

    // Run Mode
    m_grpMode = Item(this, IDC_RUN_MODE, new QGroupBox);
    m_rbUser = Item(this, IDC_USER_MODE, new QRadioButton);
    m_rbProgram = Item(this, IDC_PROGRAM_MODE, new QRadioButton);
    m_lblProgramFile = label(IDC_PROGRAM_FILE_LABEL);
    m_edProgramFile = lineEdit(IDC_PROGRAM_FILE);
    m_lblTotalTime = label(IDC_TIME_LABEL);
    m_edTotalTime = lineEdit(IDC_TIME);
    m_lblCycles = label(IDC_CYCLES_LABEL);
    m_edCycles = lineEdit(IDC_CYCLES);
    m_edTotalTime->setMaximumWidth(90);
    m_edCycles->setMaximumWidth(90);

    // Wave output
    m_grpWave = Item(this, IDC_WAVE_OUTPUT, new QGroupBox);
    m_wave = Item(this, IDC_WAVE, new CStaticWave);
    m_wave->setMinimumSize(260, 160);
    m_wave->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_btnSaveData = MakeButton(this, IDC_SAVE);
    m_lblElapsed = label(IDC_ELAPSED_LABEL);
    m_edElapsed = lineEdit(IDC_ELAPSED);
    m_edElapsed->setEnabled(false); // shows the elapsed seconds; never typed into
    m_edElapsed->setMaximumWidth(90);
    m_lblMaxVoltage = label(IDC_MAX_VOLTAGE);
    m_lblMaxCurrent = label(IDC_MAX_CURRENT);
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

