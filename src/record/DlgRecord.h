#pragma once

#include "device/PowerSupply.h"
#include "record/StaticWave.h"

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
    CStaticWave m_wave;                   // 1066
    QComboBox m_cbWaveType;               // 1056
    QComboBox m_cbTimeScale;              // 1058
    QComboBox m_cbDisplay;                // 1060
    QLineEdit m_edFileName;               // 1047
    QLineEdit m_edFileType;               // 1049
    CPowerSupply m_supply;                ///< holds the opened record
    QLineEdit m_edTotalTime;              // 1065
    QScrollBar m_scroll;                  // 1071
    QRect m_rcPlotInPage;                 ///< plot area in page coordinates, taken on each click
    QRect m_rcWaveWindow;                 ///< wave display's outer rectangle, screen coordinates
    QRect m_rcPageWindow;                 ///< page's outer rectangle, screen coordinates
    int m_nScrollMax = 0;                 ///< largest allowed first visible sample

    QPushButton* m_btnOpen = nullptr;     // 1052
    QLabel* m_lblWaveType = nullptr;       // 1055
    QLabel* m_lblTimeScale = nullptr;      // 1057
    QLabel* m_lblDisplay = nullptr;        // 1059
    QLabel* m_lblFileName = nullptr;       // 1062
    QLabel* m_lblFileType = nullptr;       // 1063
    QLabel* m_lblTotalTime = nullptr;      // 1064

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void BuildLayout();
    void OnScrollAction(int action);
};
