#pragma once

#include "program/ListCtrlEX.h"
#include "widgets/EditEX.h"

#include <QString>
#include <QWidget>

#include <cstdint>

class QLabel;
class QPushButton;
class QToolButton;

/// The Program page: compose a program step by step (time, voltage, current), save it as a
/// program file, open one to show and extend it, and save a picture of the step list.
class CDlgProgram : public QWidget
{
    Q_OBJECT
public:
    explicit CDlgProgram(QWidget* parent = nullptr);
    ~CDlgProgram() override;

    CListCtrlEX m_list;        ///< the step list, IDC_STEP_LIST
    CEditEX m_editVoltage;     ///< IDC_PRESET_VOLTAGE
    CEditEX m_editCurrent;     ///< IDC_PRESET_CURRENT
    CEditEX m_editTime;        ///< IDC_TIME, digits only
    QWidget m_spinTime;        ///< the up-down control IDC_TIME_SPIN of the time field
    QToolButton* m_btnSpinUp = nullptr;   ///< upper arrow of m_spinTime
    QToolButton* m_btnSpinDown = nullptr; ///< lower arrow of m_spinTime
    std::uint16_t* m_pLanguage = nullptr; ///< the main window's language flag; nullptr is English
    QString m_strSavePath;     ///< the path last chosen in the Save dialog

    QLabel* m_lblVoltage = nullptr;    ///< IDC_PRESET_VOLTAGE_LABEL
    QLabel* m_lblCurrent = nullptr;    ///< IDC_PRESET_CURRENT_LABEL
    QLabel* m_lblTime = nullptr;       ///< IDC_TIME_LABEL
    QPushButton* m_btnAdd = nullptr;   ///< IDC_ADD
    QPushButton* m_btnSave = nullptr;  ///< IDC_SAVE
    QPushButton* m_btnOpen = nullptr;  ///< IDC_OPEN
    QPushButton* m_btnPrint = nullptr; ///< IDC_PRINT

    void OnBnClickedAdd();
    void OnBnClickedSave();
    void OnBnClickedOpen();
    void OnBnClickedPrint();
    /// Steps the time field: -1 (upper arrow, Up key) adds a second, +1 (lower arrow, Down key)
    /// takes one away but not below 0; an empty field stays empty. Returns 0.
    int OnDeltaposTimeSpin(int iDelta);

    /// Writes the stored rows to m_strSavePath; 1 when written, 0 on failure (reported).
    int SaveProgramFile();
    /// Reads a program file into the list and the stored rows; 1 when read, 0 when it could not
    /// be read (reported, and nothing on the page changes).
    int LoadProgramFile(const QString& strPath);

    void ApplyLanguage();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Construction: the list, the fields and the buttons, the time field's arrows, the layout.
    void CreateControls();
    void CreateTimeSpin();
    void LayOutControls();
};
