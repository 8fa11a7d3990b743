#include "app/HistogramView.h"

#include "vell/VellPlot.h"

HistogramView::HistogramView(VellPlot* plot, const QString& title, const Axes& axes)
    : m_plot(plot), m_title(title), m_axes(axes)
{}

void HistogramView::setShown(bool shown)
{
    setItemsVisible(shown);
    if (!shown)
        return;
    m_plot->setAxisTitle(QwtPlot::xBottom, m_axes.x);
    m_plot->setAxisTitle(QwtPlot::yLeft, m_axes.y);
}
