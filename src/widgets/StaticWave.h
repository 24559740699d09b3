#pragma once

#include "device/draw/PlotScale.h"
#include "device/pslink.h"
#include "platform/Dialogs.h"

#include <QAction>
#include <QImage>
#include <QRect>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <vector>

class CPowerSupply;
class QPainter;

/// The black wave display: grid plus a red voltage and a yellow current trace, live (the samples
/// of the running series) or record (a window of an opened record). Every paint rebuilds the whole
/// picture off screen and shows it in one copy. The hosting page writes the public settings and
/// then calls update() on the UI thread.
class CStaticWave : public QWidget
{
public:
    explicit CStaticWave(QWidget* parent = nullptr);
    ~CStaticWave() override;

    static constexpr DsoColor kVoltageColour = plot::kVoltageColour;
    static constexpr DsoColor kCurrentColour = plot::kCurrentColour;
    static constexpr DsoColor kTextColour = plot::kTextColour;
    static constexpr double kVoltageMax = plot::kVoltsFullScale;
    static constexpr double kCurrentMax = plot::kAmpsFullScale;

    QImage m_bmpBack;                   ///< persistent back buffer: the last finished picture, in device pixels
    QRect m_rcClient;                   ///< client rectangle, taken by InitBackBuffer
    std::int16_t m_gridA = plot::kVoltsDivisions;          ///< grid argument, never changed
    std::uint16_t m_gridB = plot::kGridDivisions; ///< grid argument, never changed
    int m_bRecordMode = 0;              ///< 0 = live display, 1 = record display
    std::uint16_t m_nTimeScale = 0;     ///< time scale index 0..6 (device/TimeScales.h)
    int m_bShowVoltage = 1;             ///< record display: draw the voltage trace
    int m_bShowCurrent = 1;             ///< record display: draw the current trace
    int m_nLineStyle = 1;               ///< record display: 1 broken line, 0 straight line
    int m_bShowReadout = 0;             ///< record display: draw the read-out label
    QRect m_rcPlot;                     ///< plot area: m_rcClient inset by 20 pixels on every side
    int m_nReadoutX = 0;                ///< read-out position across the plot, 0..50 (fiftieths)
    int m_nReadoutVolts = 0;            ///< read-out value on the vertical axis, 0..35 volts
    std::atomic<int> m_bDrawWaves{0};   ///< traces only when set (the worker may set it)
    CPowerSupply* m_pSupply = nullptr;  ///< whose samples are drawn; owned by the page

    /// Takes the client and plot rectangles and sizes the back buffer at the control's device
    /// pixel ratio.
    void InitBackBuffer();
    /// Rebuilds the whole picture into m_bmpBack (also picks up a changed widget size or screen).
    void Render();
    /// The same for a screen of `fPixelRatio` device pixels to the logical pixel: m_bmpBack holds
    /// that many times the control's size, drawn in logical coordinates.
    void Render(qreal fPixelRatio);
    /// Draws the whole picture as the control shows it, in its logical coordinates, on any surface.
    void Paint(QPainter& dc);
    /// Live display: the grid and the running series.
    void DrawLive(QPainter& dc);
    /// Record display: the record window (device/draw/RecordPicture.h), then the read-out.
    void DrawRecord(QPainter& dc);
    void DrawReadout(QPainter& dc);
    /// Paint handler: Render, then one copy of the back buffer to the window.
    void OnPaint();
    /// Context menu entry: asks for a file and saves what the control shows (SavePicture);
    /// a failure is reported in a message box.
    void OnSavePicture();
    /// Writes what the control shows to `strPath`: PNG at the screen's pixel ratio, SVG or PDF as
    /// vectors, by the extension. Empty on success, else the reason.
    QString SavePicture(const QString& strPath);
    /// The save dialog of OnSavePicture.
    static platform::FileDialogRequest SavePictureRequest();

    QAction m_actSavePicture;           ///< "Save Picture...", the context menu's entry

    /// The read-out label for time scale `nTimeScale`, first visible sample `nFirst`,
    /// position `nX` (0..50) and volts `nVolts` (0..35); empty for an index outside 0..6.
    static QString FormatReadout(std::uint16_t nTimeScale, std::uint32_t nFirst, int nX, int nVolts);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void ResizeBackBuffer(qreal fPixelRatio);

    // Kept between paints so that a long record costs no fresh allocations per frame.
    QImage m_bmpScratch;
    std::vector<float> m_afVoltage;
    std::vector<float> m_afCurrent;
};
