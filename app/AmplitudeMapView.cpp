#include "app/AmplitudeMapView.h"

#include "app/BoardHistograms.h"
#include "app/CellImageItem.h"
#include "vell/VellPlot.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <qwt_matrix_raster_data.h>
#include <qwt_scale_engine.h>
#include <qwt_scale_widget.h>

namespace {

// Counts are searched a block at a time, which memcmp compares with zeros
// many counts per instruction, where a search stops at each count.
constexpr int Block = 64;

bool anyCounts(const quint32* block)
{
    static const quint32 zeros[Block] = {};
    return std::memcmp(block, zeros, sizeof zeros) != 0;
}

// The first non-zero count in [from, to), or to.
int firstCount(const quint32* counts, int from, int to)
{
    while (from + Block <= to && !anyCounts(counts + from))
        from += Block;
    while (from < to && counts[from] == 0)
        ++from;
    return from;
}

// One past the last non-zero count in [from, to), or from.
int endOfCounts(const quint32* counts, int from, int to)
{
    while (to - Block >= from && !anyCounts(counts + to - Block))
        to -= Block;
    while (to > from && counts[to - 1] == 0)
        --to;
    return to;
}

// The first and one past the last amplitude bin that any channel fills; each
// channel is searched only outside the range found so far.
std::pair<int, int> occupiedBins(const BoardHistograms& board, const QVector<int>& channels)
{
    int first = BoardHistograms::AmplitudeBins;
    int end = 0;
    for (int ch : channels) {
        const QVector<quint32> counts = board.amplitudes(ch);
        if (counts.size() != BoardHistograms::AmplitudeBins)
            continue; // not seen
        first = firstCount(counts.constData(), 0, first);
        end = endOfCounts(counts.constData(), end, counts.size());
    }
    return {first, end};
}

} // namespace

AmplitudeMapView::AmplitudeMapView(VellPlot* plot)
    : HistogramView(plot, QStringLiteral("Amplitude vs channel"),
                    {QStringLiteral("Channel"), QStringLiteral("Amplitude (ADC codes)")})
    , m_map(new CellImageItem(QStringLiteral("Amplitude vs channel")))
{
    m_map->setColorMap(new LogCountColorMap);
    m_map->setVisible(false);
    m_map->attach(plot);
}

void AmplitudeMapView::setShown(bool shown)
{
    HistogramView::setShown(shown);
    m_shown = shown;
    m_map->setVisible(shown && m_filled);
    plot()->enableAxis(QwtPlot::yRight, shown);
    if (shown) {
        plot()->setAxisTitle(QwtPlot::yRight, QStringLiteral("Events"));
        plot()->setAxisScaleEngine(QwtPlot::yRight, new QwtLogScaleEngine);
        QwtScaleWidget* bar = plot()->axisWidget(QwtPlot::yRight);
        bar->setColorBarEnabled(true);
        m_barColors = new LogCountColorMap; // owned by the axis, which only this view colours
        bar->setColorMap(QwtInterval(0, 1), m_barColors);
        m_barMax = -1;
    }
}

// The board's occupied amplitude range, bins merged to at most MaxRows rows;
// no cells for an empty board.
AmplitudeMapView::Cells AmplitudeMapView::countCells(const BoardHistograms& board)
{
    const QVector<int> channels = board.channels();
    const auto [first, end] = occupiedBins(board, channels);
    if (first >= end)
        return {};
    Cells cells;
    cells.columns = channels.last() + 1;
    const int merge = (end - first + MaxRows - 1) / MaxRows; // bins per row
    const int rows = (end - first + merge - 1) / merge;
    cells.counts.fill(0.0, rows * cells.columns);
    double* top = cells.counts.data(); // the top row's first cell
    for (int ch : channels) {
        const QVector<quint32> counts = board.amplitudes(ch);
        for (int row = 0; row < rows; ++row) {
            const int low = first + row * merge;
            const auto sum = double(
                std::accumulate(counts.cbegin() + low, counts.cbegin() + std::min(end, low + merge), quint64(0)));
            top[(rows - 1 - row) * cells.columns + ch] = sum;
            cells.maxCount = std::max(cells.maxCount, sum);
        }
    }
    const double width = double(merge) * BoardHistograms::AmplitudeBinWidth;
    cells.area = QRectF(-0.5, BoardHistograms::amplitudeBinLow(first), cells.columns, rows * width);
    return cells;
}

void AmplitudeMapView::update(const BoardHistograms* board, int channel, qint64 nowSecond)
{
    Q_UNUSED(channel)
    Q_UNUSED(nowSecond)
    const Cells cells = board ? countCells(*board) : Cells();
    // Cells and bar are coloured against the same rounded count.
    const double barMax = LogCountColorMap::barMaximum(cells.maxCount);
    m_filled = cells.maxCount > 0;
    m_map->setCells(m_filled ? colored(cells, barMax) : QImage(), cells.area);
    m_map->setData(rasterData(cells, barMax));
    m_map->setVisible(m_shown && m_filled);
    if (m_shown)
        showColorBar(barMax);
}

// One pixel per cell, in rows of 32-bit pixels without padding.
QImage AmplitudeMapView::colored(const Cells& cells, double maxCount) const
{
    if (cells.columns <= 0)
        return {};
    QImage image(cells.columns, cells.counts.size() / cells.columns, QImage::Format_RGB32);
    m_cellColors.colorCells(cells.counts, maxCount, reinterpret_cast<QRgb*>(image.bits()));
    return image;
}

// The counts as the spectrogram's values, for reading them off the item:
// bottom row first, as QwtMatrixRasterData indexes them.
QwtRasterData* AmplitudeMapView::rasterData(const Cells& cells, double maxCount)
{
    auto* data = new QwtMatrixRasterData;
    if (cells.columns <= 0)
        return data;
    const int rows = cells.counts.size() / cells.columns;
    QVector<double> bottomFirst;
    bottomFirst.reserve(cells.counts.size());
    for (int row = rows - 1; row >= 0; --row)
        bottomFirst.append(cells.counts.mid(row * cells.columns, cells.columns));
    data->setValueMatrix(bottomFirst, cells.columns);
    data->setInterval(Qt::XAxis, QwtInterval(cells.area.left(), cells.area.right()));
    data->setInterval(Qt::YAxis, QwtInterval(cells.area.top(), cells.area.bottom()));
    data->setInterval(Qt::ZAxis, QwtInterval(0, maxCount));
    return data;
}

// Changing the bar's range lays out and redraws the whole plot, so it is
// left alone while the rounded largest count stays the same.
void AmplitudeMapView::showColorBar(double maxCount)
{
    if (maxCount == m_barMax)
        return;
    m_barMax = maxCount;
    plot()->axisWidget(QwtPlot::yRight)->setColorMap(QwtInterval(0, maxCount), m_barColors);
    plot()->setAxisScale(QwtPlot::yRight, 1, maxCount);
}

void AmplitudeMapView::setItemsVisible(bool visible)
{
    m_map->setVisible(visible && m_filled);
}
