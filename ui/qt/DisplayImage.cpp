#include "ui/qt/DisplayImage.h"

#include "base/ByteOrder.h"
#include "capture/Capture.h"

QImage DisplayImage(const DisplayFrame& frame)
{
    if (frame.info == nullptr || frame.pixels == nullptr)
        return {};
    // The bitmap header's width, and its height, negative for rows that run
    // top to bottom.
    const int width = static_cast<std::int32_t>(LoadLe32(frame.info + 4));
    const int height = -static_cast<std::int32_t>(LoadLe32(frame.info + 8));
    QImage image(frame.pixels, width, height, width, QImage::Format_Indexed8);
    QList<QRgb> colours(256);
    for (int n = 0; n < 256; ++n)
    {
        const std::uint8_t* entry = frame.info + 40 + 4 * n; // blue, green, red, 0
        colours[n] = qRgb(entry[2], entry[1], entry[0]);
    }
    image.setColorTable(colours);
    return image;
}

void ConvertForShowing(const QImage& indexed, QImage& shown)
{
    if (shown.size() != indexed.size() || shown.format() != QImage::Format_RGB32)
        shown = QImage(indexed.size(), QImage::Format_RGB32);
    QRgb colours[256] = {};
    const QList<QRgb> table = indexed.colorTable();
    for (qsizetype n = 0; n < table.size() && n < 256; ++n)
        colours[n] = table[n] | 0xff000000u;
    const int width = indexed.width();
    for (int y = 0; y < indexed.height(); ++y)
    {
        const uchar* from = indexed.constScanLine(y);
        auto* to = reinterpret_cast<QRgb*>(shown.scanLine(y));
        for (int x = 0; x < width; ++x)
            to[x] = colours[from[x]];
    }
}
