#pragma once
// "Amplitude vs channel": the chosen board's amplitude spectra side by side,
// channel across and amplitude up, counts as colours on a logarithmic scale
// with a colour bar on the right axis. Amplitude bins are merged so that the map keeps at most
// MaxRows rows over the occupied range.

#include "app/HistogramView.h"

class LogCountColorMap;
class QwtMatrixRasterData;
class QwtPlotSpectrogram;

class AmplitudeMapView : public HistogramView {
public:
    static constexpr int MaxRows = 256;

    explicit AmplitudeMapView(VellPlot* plot);

    void setShown(bool shown) override;
    void update(const BoardHistograms* board, int channel, qint64 nowSecond) override;

protected:
    void setItemsVisible(bool visible) override;

private:
    static double fillMatrix(const BoardHistograms& board, QwtMatrixRasterData* data);
    void showColorBar(double maxCount);

    QwtPlotSpectrogram* m_map;
    bool m_shown = false;
    bool m_filled = false;
    LogCountColorMap* m_barColors = nullptr; // the colour bar's map while shown
    double m_barMax = -1;                    // the colour bar's largest count, -1 for none yet
};
