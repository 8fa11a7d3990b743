#include "app/CountHistogramView.h"

#include "vell/VellHistogram.h"
#include "vell/VellPlot.h"

#include <QBrush>
#include <QPen>

CountHistogramView::CountHistogramView(VellPlot* plot, const QString& title, const Axes& axes, bool usesChannel,
                                       Source source)
    : HistogramView(plot, title, axes)
    , m_histogram(new VellHistogram(title))
    , m_usesChannel(usesChannel)
    , m_source(std::move(source))
{
    // An outline over a filled area.
    m_histogram->setPen(QPen(QColor(30, 70, 150), 0));
    m_histogram->setBrush(QBrush(QColor(90, 140, 220)));
    m_histogram->setVisible(false);
    m_histogram->attach(plot);
}

void CountHistogramView::update(const BoardHistograms* board, int channel, qint64 nowSecond)
{
    Q_UNUSED(nowSecond)
    QVector<QwtIntervalSample> samples;
    if (board) {
        const Bins bins = m_source(*board, channel);
        const auto occupied = [](quint64 count) { return count != 0; };
        const auto first = std::find_if(bins.counts.cbegin(), bins.counts.cend(), occupied);
        const auto last = std::find_if(bins.counts.crbegin(), bins.counts.crend(), occupied).base();
        for (auto it = first; it < last; ++it) {
            const double low = bins.low + double(it - bins.counts.cbegin()) * bins.width;
            samples.append(QwtIntervalSample(*it, low, low + bins.width));
        }
    }
    m_histogram->setSamples(samples);
}

void CountHistogramView::setItemsVisible(bool visible)
{
    m_histogram->setVisible(visible);
}
