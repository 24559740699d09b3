#include "device/draw/PictureFile.h"

#include "platform/AtomicFile.h"

#include <QBuffer>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>

#include <cmath>

namespace pslink {

namespace {

constexpr int kDotsPerInch = 96;
const char kCreator[] = "Tarnwell";

QByteArray PngBytes(QSize size, double pixelRatio, const std::function<void(QPainter&)>& paint)
{
    const QSize pixels(static_cast<int>(std::ceil(size.width() * pixelRatio)),
                       static_cast<int>(std::ceil(size.height() * pixelRatio)));
    QImage image(pixels, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    image.setDevicePixelRatio(pixelRatio);
    image.fill(Qt::black);
    {
        QPainter dc(&image);
        paint(dc);
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, "PNG") ? buffer.data() : QByteArray();
}

QByteArray SvgBytes(QSize size, const std::function<void(QPainter&)>& paint)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setResolution(kDotsPerInch);
    svg.setTitle(QString::fromLatin1(kCreator));
    QPainter dc;
    if (!dc.begin(&svg))
        return {};
    paint(dc);
    dc.end();
    return buffer.data();
}

QByteArray PdfBytes(QSize size, const std::function<void(QPainter&)>& paint)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&buffer);
        pdf.setCreator(QString::fromLatin1(kCreator));
        pdf.setTitle(QString::fromLatin1(kCreator));
        pdf.setResolution(kDotsPerInch);
        // One page exactly the picture's size, without margins: a logical pixel is a dot.
        const QSizeF points(size.width() * 72.0 / kDotsPerInch, size.height() * 72.0 / kDotsPerInch);
        const bool landscape = points.width() > points.height();
        const QPageSize page(landscape ? points.transposed() : points, QPageSize::Point, QString(),
                             QPageSize::ExactMatch);
        pdf.setPageLayout(QPageLayout(page, landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                                      QMarginsF(0, 0, 0, 0), QPageLayout::Point));
        QPainter dc;
        if (!dc.begin(&pdf))
            return {};
        paint(dc);
        dc.end();
    }
    return buffer.data();
}

} // namespace

bool PictureFormatOf(const QString& path, PictureFormat& format)
{
    const struct
    {
        const char* ext;
        PictureFormat format;
    } kKnown[] = {{".png", PictureFormat::kPng}, {".svg", PictureFormat::kSvg}, {".pdf", PictureFormat::kPdf}};
    for (const auto& known : kKnown) {
        if (path.endsWith(QLatin1String(known.ext), Qt::CaseInsensitive)) {
            format = known.format;
            return true;
        }
    }
    return false;
}

QString PictureExtensions()
{
    return QStringLiteral(".png, .svg or .pdf");
}

QString WritePicture(const QString& path, QSize size, double pixelRatio,
                     const std::function<void(QPainter&)>& paint)
{
    PictureFormat format = PictureFormat::kPng;
    if (!PictureFormatOf(path, format))
        return QStringLiteral("the name does not end in %1").arg(PictureExtensions());
    if (size.isEmpty() || !(pixelRatio > 0.0))
        return QStringLiteral("the picture has no size");
    QByteArray bytes;
    switch (format) {
    case PictureFormat::kPng:
        bytes = PngBytes(size, pixelRatio, paint);
        break;
    case PictureFormat::kSvg:
        bytes = SvgBytes(size, paint);
        break;
    case PictureFormat::kPdf:
        bytes = PdfBytes(size, paint);
        break;
    }
    if (bytes.isEmpty())
        return QStringLiteral("the picture could not be drawn");
    QString error;
    if (!platform::WriteFileAtomically(path, bytes, &error))
        return error;
    return {};
}

} // namespace pslink
