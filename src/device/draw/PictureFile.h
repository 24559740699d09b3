#pragma once

// Wave pictures as files: PNG, or SVG and PDF as vector drawings, chosen by the file's extension.

#include <QSize>
#include <QString>

#include <functional>

class QPainter;

namespace pslink {

enum class PictureFormat { kPng, kSvg, kPdf };

/// The format the extension of `path` names (.png, .svg, .pdf, case ignored); false for any other.
bool PictureFormatOf(const QString& path, PictureFormat& format);

/// The extensions PictureFormatOf knows, for messages: ".png, .svg or .pdf".
QString PictureExtensions();

/// Writes what `paint` draws (in logical pixels of a `size` picture) to `path`, in the format its
/// extension names: PNG at `pixelRatio` device pixels a logical pixel, SVG and PDF as vectors with
/// 96 logical pixels to the inch. The file is made beside the target and renamed over it, so a
/// failure leaves an existing file as it was. Empty on success, else the reason.
QString WritePicture(const QString& path, QSize size, double pixelRatio,
                     const std::function<void(QPainter&)>& paint);

} // namespace pslink
