#include "app/AmplitudeMapView.h"

#include "app/BoardHistograms.h"
#include "app/LogCountColorMap.h"
#include "vell/VellPlot.h"

#include <algorithm>
#include <numeric>
#include <qwt_matrix_raster_data.h>
#include <qwt_plot_spectrogram.h>
#include <qwt_scale_engine.h>
#include <qwt_scale_widget.h>

namespace {

// The first and one past the last amplitude bin that any channel fills.
std::pair<int, int> occupiedBins(const BoardHistograms& board, const QVector<int>& channels)
{
    int first = BoardHistograms::AmplitudeBins;
    int end = 0;
    const auto occupied = [](quint32 count) { return count != 0; };
    for (int ch : channels) {
        const QVector<quint32> counts = board.amplitudes(ch);
        const auto low = std::find_if(counts.cbegin(), counts.cend(), occupied);
        if (low == counts.cend())
            continue;
        const auto high = std::find_if(counts.crbegin(), counts.crend(), occupied).base();
        first = std::min(first, int(low - counts.cbegin()));
        end = std::max(end, int(high - counts.cbegin()));
    }
    return {first, end};
}

} // namespace

AmplitudeMapView::AmplitudeMapView(VellPlot* plot)
    : HistogramView(plot, QStringLiteral("Amplitude vs channel"),
                    {QStringLiteral("Channel"), QStringLiteral("Amplitude (ADC codes)")})
    , m_map(new QwtPlotSpectrogram(QStringLiteral("Amplitude vs channel")))
{
    m_map->setColorMap(LogCountColorMap::linearColors());
    m_map->setRenderThreadCount(1); // the GUI thread only; the map is small
    // Cells are coloured once each and the painter scales the small image,
    // instead of one colour lookup per screen pixel.
    m_map->setPaintAttribute(QwtPlotRasterItem::PaintInDeviceResolution, false);
    // The canvas keeps no pixmap of its own, so repaints between refreshes
    // (the zoomer's read-out moving over it) reuse the coloured cells.
    m_map->setCachePolicy(QwtPlotRasterItem::PaintCache);
    m_map->setData(new QwtMatrixRasterData);
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

// Fills the map with the board's occupied amplitude range, bins merged to at
// most MaxRows rows; returns the largest count (0 for an empty board).
double AmplitudeMapView::fillMatrix(const BoardHistograms& board, QwtMatrixRasterData* data)
{
    const QVector<int> channels = board.channels();
    const auto [first, end] = occupiedBins(board, channels);
    if (first >= end)
        return 0;
    const int columns = channels.last() + 1;
    const int merge = (end - first + MaxRows - 1) / MaxRows; // bins per row
    const int rows = (end - first + merge - 1) / merge;
    QVector<double> values(rows * columns, 0.0);
    for (int ch : channels) {
        const QVector<quint32> counts = board.amplitudes(ch);
        for (int row = 0; row < rows; ++row) {
            const int low = first + row * merge;
            values[row * columns + ch] =
                std::accumulate(counts.cbegin() + low, counts.cbegin() + std::min(end, low + merge), 0.0);
        }
    }
    const double maxCount = *std::max_element(values.cbegin(), values.cend());
    for (double& value : values)
        value = LogCountColorMap::scaled(value);
    data->setValueMatrix(values, columns);
    data->setInterval(Qt::XAxis, QwtInterval(-0.5, columns - 0.5));
    const double width = double(merge) * BoardHistograms::AmplitudeBinWidth;
    const double low = BoardHistograms::amplitudeBinLow(first);
    data->setInterval(Qt::YAxis, QwtInterval(low, low + rows * width));
    return maxCount;
}

void AmplitudeMapView::update(const BoardHistograms* board, int channel, qint64 nowSecond)
{
    Q_UNUSED(channel)
    Q_UNUSED(nowSecond)
    auto* data = new QwtMatrixRasterData;
    const double maxCount = board ? fillMatrix(*board, data) : 0;
    data->setInterval(Qt::ZAxis, QwtInterval(0, LogCountColorMap::scaled(std::max(1.0, maxCount))));
    m_map->setData(data);
    m_filled = maxCount > 0; // an empty map is hidden rather than drawn pixel by pixel
    m_map->setVisible(m_shown && m_filled);
    if (m_shown)
        showColorBar(std::max(1.0, maxCount));
}

// Changing the bar's range lays out and redraws the whole plot, so it is
// left alone while the largest count stays the same.
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
