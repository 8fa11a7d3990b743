#include "app/CellImageItem.h"

#include <QPaintEngine>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <qwt_scale_map.h>
#include <vector>

namespace {

// Whole pixels whose centres lie between two edges, within the clip edges.
std::pair<int, int> pixelRange(double edge1, double edge2, double clipLow, double clipHigh)
{
    const double low = std::min(edge1, edge2);
    const double high = std::max(edge1, edge2);
    const int first = int(std::max(std::ceil(low - 0.5), std::ceil(clipLow)));
    const int end = int(std::min(std::ceil(high - 0.5), std::floor(clipHigh)));
    return {first, std::max(first, end)};
}

// A cell and the pixel, counted from the first drawn, that its run ends before.
struct Run {
    int cell;
    int end;
};

// The runs of equal cells over `count` pixels from `first`, for `cells` cells
// from the edge `from` (cell 0) to the edge `to`, in either direction.
std::vector<Run> runs(double from, double to, int cells, int first, int count)
{
    std::vector<Run> out;
    const double perPixel = cells / (to - from);
    for (int p = 0; p < count; ++p) {
        const int cell = std::clamp(int(std::floor((first + p + 0.5 - from) * perPixel)), 0, cells - 1);
        if (out.empty() || out.back().cell != cell)
            out.push_back({cell, p + 1});
        else
            out.back().end = p + 1;
    }
    return out;
}

} // namespace

CellImageItem::CellImageItem(const QString& title) : QwtPlotSpectrogram(title) {}

void CellImageItem::setCells(const QImage& cells, const QRectF& area)
{
    m_cells = cells.convertToFormat(QImage::Format_RGB32);
    m_area = area;
    m_stale = true;
    itemChanged();
}

QRectF CellImageItem::boundingRect() const
{
    return m_cells.isNull() ? QRectF(1.0, 1.0, -2.0, -2.0) : m_area; // Qwt's "no extent"
}

CellImageItem::Placement CellImageItem::place(const QwtScaleMap& xMap, const QwtScaleMap& yMap,
                                              const QRectF& canvasRect) const
{
    Placement at{xMap.transform(m_area.left()), xMap.transform(m_area.right()), yMap.transform(m_area.bottom()),
                 yMap.transform(m_area.top()), QRect()};
    const auto [x, xEnd] = pixelRange(at.left, at.right, canvasRect.left(), canvasRect.right());
    const auto [y, yEnd] = pixelRange(at.top, at.bottom, canvasRect.top(), canvasRect.bottom());
    at.pixels = QRect(x, y, xEnd - x, yEnd - y);
    return at;
}

// Into the last stretched image when it has the size, so that its memory is
// not allocated and mapped anew at every new set of cells.
void CellImageItem::stretch(const Placement& at) const
{
    const QRect& pixels = at.pixels;
    if (m_stretched.size() != pixels.size())
        m_stretched = QImage(pixels.size(), QImage::Format_RGB32);
    QImage& image = m_stretched;
    const std::vector<Run> columns = runs(at.left, at.right, m_cells.width(), pixels.left(), pixels.width());
    const std::vector<Run> rows = runs(at.top, at.bottom, m_cells.height(), pixels.top(), pixels.height());
    const auto line = [&image](int y) { return reinterpret_cast<QRgb*>(image.scanLine(y)); };
    const std::size_t lineBytes = std::size_t(pixels.width()) * sizeof(QRgb);
    int y = 0;
    for (const Run& row : rows) {
        const auto* cells = reinterpret_cast<const QRgb*>(m_cells.constScanLine(row.cell));
        QRgb* first = line(y);
        int x = 0;
        for (const Run& column : columns) {
            std::fill(first + x, first + column.end, cells[column.cell]);
            x = column.end;
        }
        for (++y; y < row.end; ++y)
            std::memcpy(line(y), first, lineBytes);
    }
    m_drawnAt = at;
    m_stale = false;
}

void CellImageItem::draw(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
                         const QRectF& canvasRect) const
{
    if (m_cells.isNull())
        return;
    const Placement at = place(xMap, yMap, canvasRect);
    if (at.pixels.isEmpty())
        return;
    const bool pixelExact = painter->paintEngine()->type() == QPaintEngine::Raster
                            && painter->transform().type() <= QTransform::TxTranslate;
    if (!pixelExact) { // vector output: the cells as they are, scaled by the device
        painter->drawImage(QRectF(QPointF(at.left, at.top), QPointF(at.right, at.bottom)), m_cells);
        return;
    }
    if (m_stale || !(at == m_drawnAt))
        stretch(at);
    painter->drawImage(at.pixels.topLeft(), m_stretched);
}
