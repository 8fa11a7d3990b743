#pragma once
// Per-column comparison of rendered curves: for one colour, the topmost and
// bottommost pixel of that colour in every pixel column. Two drawings that
// agree here show the same peaks and troughs, one-sample spikes included.

#include <QColor>
#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <vector>

struct ColumnExtent {
    int top = -1; // -1: the colour does not occur in the column
    int bottom = -1;
    bool isEmpty() const { return top < 0; }
};

inline std::vector<ColumnExtent> columnExtents(const QImage& image, const QColor& color)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb wanted = color.rgb();
    std::vector<ColumnExtent> extents(size_t(argb.width()));
    for (int y = 0; y < argb.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if ((line[x] | 0xff000000u) != wanted)
                continue;
            ColumnExtent& e = extents[size_t(x)];
            if (e.isEmpty())
                e.top = y;
            e.bottom = y;
        }
    }
    return extents;
}

// How far two drawings of one colour are apart, in pixels.
struct ExtentDifference {
    int columns = 0;        // columns where either drawing has the colour
    int worst = 0;          // largest difference of a top or bottom
    int beyondOnePixel = 0; // columns whose top or bottom differ by more than one pixel
    int missing = 0;        // columns with the colour in one drawing only
};

inline ExtentDifference compareExtents(const std::vector<ColumnExtent>& a, const std::vector<ColumnExtent>& b)
{
    ExtentDifference d;
    for (size_t x = 0; x < std::min(a.size(), b.size()); ++x) {
        if (a[x].isEmpty() && b[x].isEmpty())
            continue;
        ++d.columns;
        if (a[x].isEmpty() != b[x].isEmpty()) {
            ++d.missing;
            continue;
        }
        const int diff = std::max(std::abs(a[x].top - b[x].top), std::abs(a[x].bottom - b[x].bottom));
        d.worst = std::max(d.worst, diff);
        d.beyondOnePixel += diff > 1 ? 1 : 0;
    }
    return d;
}
