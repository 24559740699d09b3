#pragma once

#include "control/CommandQueue.h"
#include "engine/RunEngine.h"
#include "device/PowerSupply.h"
#include "device/SupplyLimits.h"
#include "platform/UiThread.h"

#include <QString>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class CEditEX;
class CStaticWave;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

/// The Control page: port and connection, measured values and lamps, voltage and current presets
/// (typed, stepped, wheeled), user and program runs with the live wave, Save Data.
///
/// Button handlers only queue commands; one worker thread drains the queue about five times a
/// second, ends a finished program run and asks the wave display to repaint. Every control change
/// the worker makes runs on the UI thread through m_hUi and completes before the worker goes on.
/// The run itself (its two one-second timers, the ticks, the end of a run) is m_engine's; the
/// page shows what the engine reports.
class CDlgControl : public QWidget
{
    Q_OBJECT
public:
    explicit CDlgControl(QWidget* parent = nullptr);
    /// Stops the worker (never waiting on the UI thread), then closes the link.
    ~CDlgControl() override;

    static constexpr int kUserTimer = CRun::kUserTimer;
    static constexpr int kProgramTimer = CRun::kProgramTimer;
    static constexpr int kWorkerSleepMs = 200;

    // ---- Supply, run, queue, worker ----
    CPowerSupply m_supply;
    CRunEngine m_engine{m_supply};
    CCommandQueue m_qCommands;
    platform::UiThread m_hUi;
    std::thread m_hThread;
    std::atomic<int> m_bStop{0};
    std::atomic<int> m_nPass{0}; ///< completed worker passes; lets a caller wait for a pass boundary
    /// The port list's tooltips are to be read afresh: the worker does it, since finding the
    /// system's serial ports takes milliseconds the UI thread must not spend.
    std::atomic<int> m_bDescribePorts{1};

    // ---- Page state shared with the worker ----
    std::atomic<int> m_bConnected{0};
    std::atomic<int> m_bVoltageSelected{0};
    const std::int16_t m_nInitStep = supply::kInitialStep;
    std::atomic<int> m_bUpStep{0};
    std::atomic<int> m_bDownStep{0};
    QString m_strProgramPath; ///< UI thread only
    std::uint16_t* m_pLanguage = nullptr;

    // ---- Bound values (UpdateData) ----
    QString m_strMeasVoltage = QStringLiteral("0.0");
    QString m_strMeasCurrent = QStringLiteral("0.0");
    float m_fTypedVoltage = 0.0f;
    float m_fTypedCurrent = 0.0f;
    std::int64_t m_nElapsed = 0;
    std::int32_t m_nTotalTime = 0;
    std::int32_t m_nCycleCount = 1;

    // ---- Controls (object name = dialog item id) ----
    QGroupBox* m_grpPanel = nullptr;       // IDC_PANEL
    QLabel* m_lblMeasured = nullptr;       // IDC_MEASURED
    QLineEdit* m_edMeasVoltage = nullptr;  // IDC_MEAS_VOLTAGE
    QLineEdit* m_edMeasCurrent = nullptr;  // IDC_MEAS_CURRENT
    QLabel* m_lblStatus = nullptr;         // IDC_STATUS
    QCheckBox* m_chkCv = nullptr;          // IDC_CV
    QCheckBox* m_chkOvp = nullptr;         // IDC_OVP
    QCheckBox* m_chkOut = nullptr;         // IDC_OUT
    QCheckBox* m_chkCc = nullptr;          // IDC_CC
    QCheckBox* m_chkOcp = nullptr;         // IDC_OCP
    QLabel* m_lblPreset = nullptr;         // IDC_PRESET
    CEditEX* m_edVoltage = nullptr;        // IDC_VOLTAGE
    CEditEX* m_edCurrent = nullptr;        // IDC_CURRENT
    QLabel* m_lblStep = nullptr;           // IDC_STEP_LABEL
    QComboBox* m_cbStep = nullptr;         // IDC_STEP
    QLabel* m_lblStepUnit = nullptr;       // IDC_STEP_UNIT
    QPushButton* m_btnUp = nullptr;        // IDC_UP
    QPushButton* m_btnDown = nullptr;      // IDC_DOWN
    QPushButton* m_btnOff = nullptr;       // IDC_OFF
    QPushButton* m_btnOn = nullptr;        // IDC_ON
    QPushButton* m_btnOk = nullptr;        // IDC_OK
    QGroupBox* m_grpConnect = nullptr;     // IDC_CONNECT_PC
    QLabel* m_lblPort = nullptr;           // IDC_PORT_LABEL
    QComboBox* m_cbPort = nullptr;         // IDC_PORT
    QLabel* m_lblConnection = nullptr;     // IDC_CONNECTION
    QPushButton* m_btnConnect = nullptr;   // IDC_CONNECT
    QGroupBox* m_grpMode = nullptr;        // IDC_RUN_MODE
    QRadioButton* m_rbUser = nullptr;      // IDC_USER_MODE
    QRadioButton* m_rbProgram = nullptr;   // IDC_PROGRAM_MODE
    QLabel* m_lblProgramFile = nullptr;    // IDC_PROGRAM_FILE_LABEL
    QLineEdit* m_edProgramFile = nullptr;  // IDC_PROGRAM_FILE
    QLabel* m_lblTotalTime = nullptr;      // IDC_TIME_LABEL
    QLineEdit* m_edTotalTime = nullptr;    // IDC_TIME
    QLabel* m_lblCycles = nullptr;         // IDC_CYCLES_LABEL
    QLineEdit* m_edCycles = nullptr;       // IDC_CYCLES
    QGroupBox* m_grpWave = nullptr;        // IDC_WAVE_OUTPUT
    CStaticWave* m_wave = nullptr;         // IDC_WAVE
    QPushButton* m_btnSaveData = nullptr;  // IDC_SAVE
    QLabel* m_lblElapsed = nullptr;        // IDC_ELAPSED_LABEL
    QLineEdit* m_edElapsed = nullptr;      // IDC_ELAPSED
    QLabel* m_lblMaxVoltage = nullptr;     // IDC_MAX_VOLTAGE
    QLabel* m_lblMaxCurrent = nullptr;     // IDC_MAX_CURRENT
    QComboBox* m_cbLanguage = nullptr;     // IDC_LANGUAGE

    // ---- Language ----
    /// Sets every caption of the page in the language of *m_pLanguage (English while unset).
    void ApplyLanguage();

    // ---- Bound values ----
    /// true: reads the bound values from their fields in exchange order, stopping with a prompt at
    /// the first field that holds no number; returns false then. false: writes them all.
    bool UpdateData(bool bSaveAndValidate = true);

    // ---- Command queue and worker (DlgControlWorker.cpp) ----
    void PushCommand(std::int16_t nCode, std::int32_t nValue);
    ControlCommand PopCommand();
    /// Worker thread only.
    void ExecuteCommand(std::int16_t nCode, std::int32_t nValue);
    void WorkerThreadProc();
    /// CMD_CONNECT: connects through the engine, or ends a run and disconnects.
    void ConnectOrDisconnect();
    /// CMD_ON: starts a run of the mode in force.
    void StartRun();
    /// Worker: reads what each port reaches and shows it in the port list's tooltips.
    void DescribePorts();
    /// UI thread (the worker calls them through m_hUi).
    void ShowConnectedState();
    void ShowDisconnectedState();

    // ---- Runs (DlgControlRun.cpp); UI thread ----
    /// A tick of run timer 0 or 1: the engine's work, shown through its reports.
    void OnTimer(int nIDEvent) { m_engine.Run().OnTimer(nIDEvent); }
    bool IsTimerActive(int nIDEvent) const { return m_engine.Run().IsTimerActive(nIDEvent); }
    bool IsRunning() const { return m_engine.Run().IsRunning(); }
    /// What the engine reports.
    void OnRunStarted(int nTimer);
    void OnRunEnded(int nReason);
    void OnPointApplied(const QString& strVoltage, const QString& strCurrent, float fVoltage, float fCurrent);
    void OnSampled(const CRunSample& sample);
    void OnJournalFailed(const QString& strFolder, const QString& strReason);
    void OnLinkEvent(int nEvent, const QDateTime& at, int nSample, const QString& strDetail);
    void OnProtectionChanged(unsigned nProtection);
    /// How long a run tries to reach its supply again after the link was lost.
    static constexpr std::chrono::minutes kReconnectFor{10};

    // ---- Message handlers (UI thread) ----
    void OnBnClickedConnect();
    void OnBnClickedUp();
    void OnBnClickedDown();
    void OnBnClickedOn();
    void OnBnClickedOff();
    void OnBnClickedOk();
    void OnBnClickedUserMode();
    void OnBnClickedProgramMode();
    void OnSetfocusVoltage();
    void OnSetfocusCurrent();
    void OnChangeVoltage();
    void OnChangeCurrent();
    void OnSelchangeStep();
    void OnSelchangePort();
    void OnBnClickedSaveData();
    void OnSelchangeLanguage();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static constexpr int kBoundValues = 7; ///< fields of the exchange, in order
    static constexpr int kVoltageField = 2; ///< position of IDC_VOLTAGE in the exchange
    static constexpr int kCurrentField = 3; ///< position of IDC_CURRENT in the exchange

    /// Reads the bound values in exchange order; prompts at the first field without a number and
    /// stops there. Returns how many were read.
    int ReadBoundValues();
    bool PresetChangeFromProgram(const CEditEX* field) const;
    void OnPresetChanged(bool bFromProgram);
    /// Disables or hides without letting Qt move the focus into a preset field.
    void SetEnabled(QWidget* widget, bool bEnable);
    void SetShown(QWidget* widget, bool bShow);
    /// Writes a preset field's text and raises its change handling even when the text is the
    /// same, as every text the program writes does (Qt's setText stays silent then).
    static void SetPresetText(QLineEdit* field, const QString& strText);
    // Construction (DlgControlView.cpp): the controls, their layout, their handlers.
    void CreateControls();
    void CreateRunControls(); ///< Connect PC, Run Mode and Wave output
    void LayOutControls();
    void ConnectControls();
    void OnInitDialog();
    /// Sets the user-mode radios and disables the program fields (also clears program mode).
    void SelectUserMode();
    /// Worker: runs `fn` on the UI thread and waits; false when the page is closing.
    bool OnUi(const std::function<void()>& fn) { return m_hUi.Run(fn); }
    void StepPreset(bool bUp);
    /// Fills the step list with the voltage or the current steps.
    void FillStepList(bool bVoltage);

    std::mutex m_hSleepLock;
    std::condition_variable m_cvWake;
    bool m_bWritingBack = false; ///< the OK write-back is rewriting the fields (UI thread)
};
