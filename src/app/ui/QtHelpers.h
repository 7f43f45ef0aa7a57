#pragma once
// The small conversions between the engine's plain values and the toolkit's, for the window
// files: UTF-8 text to QString and back, and a bitmap to a QImage.

#include <QImage>
#include <QString>
#include <cstring>
#include <string>
#include <string_view>

#include "core/bitmap/Bitmap.h"

namespace ozm {

inline QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string S(const QString& text) { return text.toStdString(); }

// A bitmap as a toolkit image, copied: 24 bits as they are, 8 bits through their palette,
// any other depth brought to 24 bits first. A null image when memory cannot be had.
inline QImage ToQImage(const Bitmap& bitmap) {
    Bitmap converted;
    const Bitmap* source = &bitmap;
    if (bitmap.BitCount() != 24 && bitmap.BitCount() != 8) {
        if (!ConvertTo24(bitmap, converted)) return {};
        source = &converted;
    }
    const bool indexed = source->BitCount() == 8;
    QImage image(source->Width(), source->Height(),
                 indexed ? QImage::Format_Indexed8 : QImage::Format_BGR888);
    if (image.isNull()) return image;
    if (indexed) {
        // Indexes past a short palette read as black, as everywhere else.
        QList<QRgb> colours(256, qRgb(0, 0, 0));
        for (std::size_t i = 0; i < source->Palette().size() && i < 256; ++i) {
            const RgbQuad& entry = source->Palette()[i];
            colours[static_cast<qsizetype>(i)] = qRgb(entry.red, entry.green, entry.blue);
        }
        image.setColorTable(colours);
    }
    const std::size_t rowBytes = static_cast<std::size_t>(source->Width()) * (indexed ? 1 : 3);
    for (int y = 0; y < source->Height(); ++y)
        std::memcpy(image.scanLine(y), source->Row(y), rowBytes);
    return image;
}

}  // namespace ozm
