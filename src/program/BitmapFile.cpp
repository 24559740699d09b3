#include "program/BitmapFile.h"

#include "platform/AtomicFile.h"

#include <QGuiApplication>
#include <QList>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include <cstdint>

namespace {

constexpr int kFileHeaderBytes = 14;
constexpr int kInfoHeaderBytes = 40;

void PutU16(QByteArray& out, int nOffset, std::uint16_t value)
{
    out[nOffset] = static_cast<char>(value & 0xFF);
    out[nOffset + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void PutU32(QByteArray& out, int nOffset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[nOffset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Palettes for the indexed depths. Screens that shallow are rare; the tables are the usual
// black/white pair, the sixteen standard colours, and a colour cube with a grey ramp.
QList<QRgb> ColorTableFor(int nBitsPerPixel)
{
    QList<QRgb> table;
    if (nBitsPerPixel == 1) {
        table << qRgb(0, 0, 0) << qRgb(255, 255, 255);
    } else if (nBitsPerPixel == 4) {
        table << qRgb(0, 0, 0) << qRgb(128, 0, 0) << qRgb(0, 128, 0) << qRgb(128, 128, 0)
              << qRgb(0, 0, 128) << qRgb(128, 0, 128) << qRgb(0, 128, 128) << qRgb(192, 192, 192)
              << qRgb(128, 128, 128) << qRgb(255, 0, 0) << qRgb(0, 255, 0) << qRgb(255, 255, 0)
              << qRgb(0, 0, 255) << qRgb(255, 0, 255) << qRgb(0, 255, 255)
              << qRgb(255, 255, 255);
    } else if (nBitsPerPixel == 8) {
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    table << qRgb(r * 51, g * 51, b * 51);
        for (int i = 1; i <= 40; ++i) {
            const int v = i * 255 / 41;
            table << qRgb(v, v, v);
        }
    }
    return table;
}

} // namespace

int BitmapBitsPerPixel(int nDisplayBits)
{
    if (nDisplayBits <= 1)
        return 1;
    if (nDisplayBits <= 4)
        return 4;
    if (nDisplayBits <= 8)
        return 8;
    if (nDisplayBits <= 24)
        return 24;
    // 32 is the deepest depth a BMP reader understands; a deeper display still gets a
    // readable file rather than one of, say, 30 or 48 bits per pixel.
    return 32;
}

int BitmapColorTableBytes(int nBitsPerPixel)
{
    switch (nBitsPerPixel) {
    case 1: return 8;
    case 4: return 64;
    case 8: return 1024;
    default: return 0;
    }
}

QByteArray EncodeBitmapFile(const QImage& image, int nBitsPerPixel)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return {};
    if (nBitsPerPixel != 1 && nBitsPerPixel != 4 && nBitsPerPixel != 8 && nBitsPerPixel != 24
        && nBitsPerPixel != 32)
        return {};

    const qint64 nWidth = image.width();
    const qint64 nHeight = image.height();
    const qint64 nRowBytes = ((nWidth * nBitsPerPixel + 31) / 32) * 4;
    const qint64 nTableBytes = BitmapColorTableBytes(nBitsPerPixel);
    const qint64 nPixelBytes = nRowBytes * nHeight;
    const qint64 nFileBytes = kFileHeaderBytes + kInfoHeaderBytes + nTableBytes + nPixelBytes;
    if (nFileBytes > 0x7FFFFFFF)
        return {};

    QByteArray out(static_cast<qsizetype>(nFileBytes), '\0');
    // File header.
    PutU16(out, 0, 0x4D42);
    PutU32(out, 2, static_cast<std::uint32_t>(nFileBytes));
    PutU32(out, 10, static_cast<std::uint32_t>(kFileHeaderBytes + kInfoHeaderBytes + nTableBytes));
    // Information header; the fields not set here stay 0.
    PutU32(out, 14, kInfoHeaderBytes);
    PutU32(out, 18, static_cast<std::uint32_t>(nWidth));
    PutU32(out, 22, static_cast<std::uint32_t>(nHeight));
    PutU16(out, 26, 1);
    PutU16(out, 28, static_cast<std::uint16_t>(nBitsPerPixel));

    const int nTableOffset = kFileHeaderBytes + kInfoHeaderBytes;
    const qint64 nPixelOffset = nTableOffset + nTableBytes;
    const QList<QRgb> table = ColorTableFor(nBitsPerPixel);
    for (int i = 0; i < table.size(); ++i) {
        const int at = nTableOffset + 4 * i;
        out[at] = static_cast<char>(qBlue(table[i]));
        out[at + 1] = static_cast<char>(qGreen(table[i]));
        out[at + 2] = static_cast<char>(qRed(table[i]));
    }

    char* pPixels = out.data() + nPixelOffset;
    if (nBitsPerPixel >= 24) {
        const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
        const int nBytesPerPixel = nBitsPerPixel / 8;
        for (qint64 y = 0; y < nHeight; ++y) {
            // Bottom row first.
            const auto* pLine = reinterpret_cast<const QRgb*>(rgb.constScanLine(int(nHeight - 1 - y)));
            char* pRow = pPixels + y * nRowBytes;
            for (qint64 x = 0; x < nWidth; ++x) {
                char* p = pRow + x * nBytesPerPixel;
                p[0] = static_cast<char>(qBlue(pLine[x]));
                p[1] = static_cast<char>(qGreen(pLine[x]));
                p[2] = static_cast<char>(qRed(pLine[x]));
                // The fourth byte of a 32-bit pixel stays 0, as the uncompressed format wants.
            }
        }
    } else {
        const QImage indexed = image.convertToFormat(QImage::Format_Indexed8, table,
                                                     Qt::ThresholdDither | Qt::AvoidDither);
        const int nPerByte = 8 / nBitsPerPixel;
        for (qint64 y = 0; y < nHeight; ++y) {
            const uchar* pLine = indexed.constScanLine(int(nHeight - 1 - y));
            auto* pRow = reinterpret_cast<uchar*>(pPixels + y * nRowBytes);
            for (qint64 x = 0; x < nWidth; ++x) {
                // Leftmost pixel in the most significant bits.
                const int nShift = (nPerByte - 1 - int(x % nPerByte)) * nBitsPerPixel;
                pRow[x / nPerByte] = static_cast<uchar>(pRow[x / nPerByte] | (pLine[x] << nShift));
            }
        }
    }
    return out;
}

QImage CaptureScreenArea(const QRect& rcScreen, QWidget* pWnd)
{
    if (pWnd == nullptr || rcScreen.isEmpty())
        return {};
    QScreen* pScreen = pWnd->screen() != nullptr ? pWnd->screen() : QGuiApplication::primaryScreen();
    QRect rc = rcScreen;
    if (pScreen != nullptr)
        rc = rc.intersected(pScreen->geometry());
    // Only what the window itself shows can be rendered; the rest of the screen is not ours.
    const QRect rcWindow(pWnd->mapToGlobal(QPoint(0, 0)), pWnd->size());
    rc = rc.intersected(rcWindow);
    if (rc.isEmpty())
        return {};
    return pWnd->grab(rc.translated(-rcWindow.topLeft())).toImage();
}

int WriteBitmapFile(const QString& strPath, QWidget* pWnd, QString* pstrError)
{
    auto fail = [pstrError](const QString& strWhy) {
        if (pstrError != nullptr)
            *pstrError = strWhy;
        return 0;
    };
    if (pWnd == nullptr)
        return fail(QStringLiteral("no window to capture"));

    const QRect rcWindow(pWnd->mapToGlobal(QPoint(0, 0)), pWnd->size());
    const QImage image = CaptureScreenArea(rcWindow, pWnd);
    if (image.isNull())
        return fail(QStringLiteral("the window is not on the screen"));

    QScreen* pScreen = pWnd->screen() != nullptr ? pWnd->screen() : QGuiApplication::primaryScreen();
    const int nDisplayBits = pScreen != nullptr ? pScreen->depth() : 32;
    const QByteArray bytes = EncodeBitmapFile(image, BitmapBitsPerPixel(nDisplayBits));
    if (bytes.isEmpty())
        return fail(QStringLiteral("the picture is too large"));

    QString strWhy;
    if (!platform::WriteFileAtomically(strPath, bytes, &strWhy))
        return fail(strWhy);
    return 1;
}
