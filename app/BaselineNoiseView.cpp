#include "app/BaselineNoiseView.h"

#include "app/BoardHistograms.h"
#include "vell/VellPlot.h"

#include <QPen>
#include <qwt_interval_symbol.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_intervalcurve.h>
#include <qwt_symbol.h>

BaselineNoiseView::BaselineNoiseView(VellPlot* plot)
    : HistogramView(plot, QStringLiteral("Baseline and noise per channel"),
                    {QStringLiteral("Channel"), QStringLiteral("Baseline (ADC codes)")})
    , m_means(new QwtPlotCurve(QStringLiteral("Mean baseline")))
    , m_noise(new QwtPlotIntervalCurve(QStringLiteral("RMS noise")))
{
    m_noise->setStyle(QwtPlotIntervalCurve::NoCurve);
    auto* bar = new QwtIntervalSymbol(QwtIntervalSymbol::Bar);
    bar->setWidth(7);
    bar->setPen(QPen(QColor(200, 60, 40), 0));
    m_noise->setSymbol(bar);
    m_means->setStyle(QwtPlotCurve::NoCurve);
    m_means->setSymbol(new QwtSymbol(QwtSymbol::Ellipse, QBrush(QColor(30, 70, 150)), QPen(Qt::NoPen), QSize(5, 5)));
    for (QwtPlotItem* item : {static_cast<QwtPlotItem*>(m_noise), static_cast<QwtPlotItem*>(m_means)}) {
        item->setVisible(false);
        item->attach(plot);
    }
}

void BaselineNoiseView::update(const BoardHistograms* board, int channel, qint64 nowSecond)
{
    Q_UNUSED(channel)
    Q_UNUSED(nowSecond)
    QVector<QPointF> means;
    QVector<QwtIntervalSample> noise;
    if (board) {
        for (int ch : board->channels()) {
            const BoardHistograms::BaselineStats s = board->baseline(ch);
            means.append(QPointF(ch, s.mean));
            noise.append(QwtIntervalSample(ch, s.mean - s.rms, s.mean + s.rms));
        }
    }
    m_means->setSamples(means);
    m_noise->setSamples(noise);
}

void BaselineNoiseView::setItemsVisible(bool visible)
{
    m_means->setVisible(visible);
    m_noise->setVisible(visible);
}
