#pragma once
// "Baseline and noise per channel": the chosen board's mean baseline per
// channel as points, with bars of the RMS noise around it.

#include "app/HistogramView.h"

class QwtPlotCurve;
class QwtPlotIntervalCurve;

class BaselineNoiseView : public HistogramView {
public:
    explicit BaselineNoiseView(VellPlot* plot);

    void update(const BoardHistograms* board, int channel, qint64 nowSecond) override;

protected:
    void setItemsVisible(bool visible) override;

private:
    QwtPlotCurve* m_means;
    QwtPlotIntervalCurve* m_noise;
};
