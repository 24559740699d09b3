#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>

class QWidget;

/// Bits per pixel of the file for a display of `nDisplayBits` (bits per pixel times planes):
/// 1, 4, 8, 24, or 32 for anything deeper than 24.
int BitmapBitsPerPixel(int nDisplayBits);

/// Bytes of the colour table that goes with `nBitsPerPixel` (8, 64, 1024, or 0).
int BitmapColorTableBytes(int nBitsPerPixel);

/// The whole BMP file (14-byte file header, 40-byte information header, colour table, padded
/// bottom-up rows) for `image` at `nBitsPerPixel` (1, 4, 8, 24 or 32). Empty for an empty image
/// or an unsupported depth.
QByteArray EncodeBitmapFile(const QImage& image, int nBitsPerPixel);

/// The pixels of `rcScreen` (screen coordinates) as `pWnd` shows them, after clipping the
/// rectangle to the screen `pWnd` is on and to `pWnd` itself. Null when nothing is left.
QImage CaptureScreenArea(const QRect& rcScreen, QWidget* pWnd);

/// Captures the whole of `pWnd` as shown and writes it as a BMP file whose depth follows the
/// display the window is on. The file is written beside the target and renamed over it, so a
/// failed write leaves an existing file as it was. Returns 1 when written; on failure returns 0
/// and puts the reason into `pstrError` when given.
int WriteBitmapFile(const QString& strPath, QWidget* pWnd, QString* pstrError = nullptr);
