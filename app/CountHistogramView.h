#pragma once
// A one-dimensional histogram of counts in equal bins (amplitude spectrum,
// peak positions), drawn over the occupied bins only.

#include "app/HistogramView.h"

#include <QVector>
#include <functional>

class VellHistogram;

class CountHistogramView : public HistogramView {
public:
    struct Bins {
        QVector<quint64> counts;
        double low = 0; // lower edge of bin 0
        double width = 1;
    };
    using Source = std::function<Bins(const BoardHistograms& board, int channel)>;

    CountHistogramView(VellPlot* plot, const QString& title, const Axes& axes, bool usesChannel, Source source);

    bool usesChannel() const override { return m_usesChannel; }
    void update(const BoardHistograms* board, int channel, qint64 nowSecond) override;

protected:
    void setItemsVisible(bool visible) override;

private:
    VellHistogram* m_histogram;
    bool m_usesChannel;
    Source m_source;
};
