#pragma once

#include "control/DlgControl.h"
#include "program/DlgProgram.h"
#include "record/DlgRecord.h"

#include <QAction>
#include <QIcon>
#include <QTabWidget>
#include <QWidget>

#include <cstdint>

/// The main window: a tab control holding the Control, Program and DataRecord pages, the
/// interface-language flag they all read, and the way to the about box.
class CTarnwellDlg : public QWidget
{
    Q_OBJECT
public:
    /// Size of the area every page is laid out in; the pages keep it when the window is resized.
    static constexpr int kPageWidth = 900;
    static constexpr int kPageHeight = 500;

    explicit CTarnwellDlg(QWidget* parent = nullptr);
    ~CTarnwellDlg() override;

    /// Shows only the selected page, then re-captions the Program and DataRecord pages.
    void OnSelchangeTab(int nSelection);
    /// Runs the about box modally.
    void OnAbout();
    /// Tells, once each, of the journals left by runs that were cut off (the program died).
    void ReportCutOffRuns();
    /// Says once which lines of the user's settings files were ignored, if any.
    void ReportSettingsIssues();

    // Members in construction order; destroyed in reverse (DataRecord, Program, Control), so the
    // Control page stops its worker and closes the port after the other pages are gone.
    std::uint16_t m_nLanguage = 0; ///< 0 English, any other value Chinese
    QIcon m_hIcon;
    QTabWidget m_tab;              // IDC_TAB
    CDlgControl m_pageControl;     // 129
    CDlgProgram m_pageProgram;     // 130
    CDlgRecord m_pageRecord;       // 131
    QAction m_actAbout;            ///< "&About Tarnwell...": F1 and the tab bar's context menu
};
