#pragma once
// "Event rate": the chosen board's events per second over the last ten
// minutes of whole seconds, against seconds before now.

#include "app/HistogramView.h"

class QwtPlotCurve;

class EventRateView : public HistogramView {
public:
    explicit EventRateView(VellPlot* plot);

    void update(const BoardHistograms* board, int channel, qint64 nowSecond) override;

protected:
    void setItemsVisible(bool visible) override;

private:
    QwtPlotCurve* m_curve;
};
