#pragma once

#include "device/PowerSupply.h"
#include "widgets/StaticWave.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRect>
#include <QScrollBar>
#include <QWidget>

#include <cstdint>

class QLabel;
class QMouseEvent;

/// The DataRecord page: opens a record file into its own CPowerSupply (display mode, never
/// connected) and browses it window by window over seven time scales, with a horizontal scroll
/// bar and a click read-out of time, voltage and current.
class CDlgRecord : public QWidget
{
    Q_OBJECT
public:
    explicit CDlgRecord(QWidget* parent = nullptr);
    ~CDlgRecord() override;

    /// Scroll requests, as the bar's actions map onto them.
    enum ScrollRequest {
        SB_LINELEFT = 0,
        SB_LINERIGHT = 1,
        SB_PAGELEFT = 2,
        SB_PAGERIGHT = 3,
        SB_THUMBPOSITION = 4,
        SB_THUMBTRACK = 5,
        SB_LEFT = 6,
        SB_RIGHT = 7,
        SB_ENDSCROLL = 8,
    };

    /// Sets the captions of the page and refills the wave-type and time-scale lists in the
    /// language of *m_pLanguage, keeping the entries in force.
    void ApplyLanguage();

    void OnSelchangeWaveType();
    void OnSelchangeTimeScale();
    void OnSelchangeDisplay();
    void OnBnClickedOpen();
    /// `nPos` is the thumb position for SB_THUMBPOSITION / SB_THUMBTRACK.
    void OnHScroll(int nSBCode, int nPos);
    /// A left click at `point` (page coordinates): read-out when it lies in the plot.
    void OnLButtonDown(QPoint point);
    /// Computes m_rcPlotInPage; true when `point` lies inside it (right and bottom edges outside).
    bool HitTestPlot(QPoint point);
    /// Sets the read-out position and volts of the wave display from a point inside the plot.
    void ReadoutFromPoint(QPoint point);
    /// Recomputes m_nScrollMax for the current time scale, shows or hides the bar, and keeps the
    /// first visible sample within the new range.
    void UpdateScrollRange();

    std::uint16_t* m_pLanguage = nullptr; ///< the main window's language flag; nullptr = English
    CStaticWave m_wave;                   // IDC_RECORD_WAVE
    QComboBox m_cbWaveType;               // IDC_WAVE_TYPE
    QComboBox m_cbTimeScale;              // IDC_TIME_SCALE
    QComboBox m_cbDisplay;                // IDC_DISPLAY
    QLineEdit m_edFileName;               // IDC_FILE_NAME
    QLineEdit m_edFileType;               // IDC_FILE_TYPE
    CPowerSupply m_supply;                ///< holds the opened record
    QLineEdit m_edTotalTime;              // IDC_TOTAL_TIME
    QScrollBar m_scroll;                  // IDC_SCROLL
    QRect m_rcPlotInPage;                 ///< plot area in page coordinates, taken on each click
    QRect m_rcWaveWindow;                 ///< wave display's outer rectangle, screen coordinates
    QRect m_rcPageWindow;                 ///< page's outer rectangle, screen coordinates
    int m_nScrollMax = 0;                 ///< largest allowed first visible sample

    QPushButton* m_btnOpen = nullptr;     // IDC_OPEN
    QLabel* m_lblWaveType = nullptr;       // IDC_WAVE_TYPE_LABEL
    QLabel* m_lblTimeScale = nullptr;      // IDC_TIME_SCALE_LABEL
    QLabel* m_lblDisplay = nullptr;        // IDC_DISPLAY_LABEL
    QLabel* m_lblFileName = nullptr;       // IDC_FILE_NAME_LABEL
    QLabel* m_lblFileType = nullptr;       // IDC_FILE_TYPE_LABEL
    QLabel* m_lblTotalTime = nullptr;      // IDC_TOTAL_TIME_LABEL

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void BuildLayout();
    void OnScrollAction(int action);
};
