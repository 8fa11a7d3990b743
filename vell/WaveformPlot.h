#pragma once
// The waveform tab's plot: one coloured curve per channel of the latest event.
// Curves are reused from event to event; a channel missing from the latest
// list has its curve detached, and gets it back with its colour when it returns.

#include "vell/VellPlot.h"
#include "vell/WaveformData.h"

#include <QColor>
#include <QVector>
#include <vector>

class WaveformPlot : public VellPlot {
    Q_OBJECT

public:
    explicit WaveformPlot(QWidget* parent = nullptr);
    ~WaveformPlot() override;

    // Shows exactly the records of list, with at most one replot.
    void setData(const std::vector<WaveformData>& list);

    const QVector<QColor>& curveColors() const { return palette; }

private:
    QwtPlotCurve* curveForKey(int key, const QString& title);
    void detachCurvesExcept(const QMap<int, bool>& usedKeys);

    QVector<QColor> palette;
};
