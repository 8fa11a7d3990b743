#include "app/EventRateView.h"

#include "app/BoardHistograms.h"
#include "vell/VellPlot.h"

#include <QPen>
#include <qwt_plot_curve.h>

EventRateView::EventRateView(VellPlot* plot)
    : HistogramView(plot, QStringLiteral("Event rate"), {QStringLiteral("Time (s)"), QStringLiteral("Rate (events/s)")})
    , m_curve(new QwtPlotCurve(QStringLiteral("Event rate")))
{
    m_curve->setStyle(QwtPlotCurve::Steps);
    m_curve->setPen(QPen(QColor(30, 120, 60), 0));
    m_curve->setVisible(false);
    m_curve->attach(plot);
}

void EventRateView::update(const BoardHistograms* board, int channel, qint64 nowSecond)
{
    Q_UNUSED(channel)
    QVector<double> seconds;
    QVector<double> rate;
    if (board) {
        rate = board->rate(nowSecond - 1); // the current second is not over yet
        seconds.reserve(rate.size());
        for (int i = 0; i < rate.size(); ++i)
            seconds.append(double(i - rate.size()));
    }
    m_curve->setSamples(seconds, rate);
}

void EventRateView::setItemsVisible(bool visible)
{
    m_curve->setVisible(visible);
}
