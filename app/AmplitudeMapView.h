#pragma once
// "Amplitude vs channel": the chosen board's amplitude spectra side by side,
// channel across and amplitude up, counts as colours on a logarithmic scale
// with a colour bar on the right axis. Amplitude bins are merged so that the map keeps at most
// MaxRows rows over the occupied range.

#include "app/HistogramView.h"
#include "app/LogCountColorMap.h"

#include <QImage>
#include <QRectF>
#include <QVector>

class CellImageItem;
class QwtRasterData;

class AmplitudeMapView : public HistogramView {
public:
    static constexpr int MaxRows = 256;

    explicit AmplitudeMapView(VellPlot* plot);

    void setShown(bool shown) override;
    void update(const BoardHistograms* board, int channel, qint64 nowSecond) override;

protected:
    void setItemsVisible(bool visible) override;

private:
    // The counts of the map's cells, top row first, and where they lie.
    struct Cells {
        QVector<double> counts;
        int columns = 0;
        QRectF area;
        double maxCount = 0;
    };

    static Cells countCells(const BoardHistograms& board);
    QImage colored(const Cells& cells, double maxCount) const;
    static QwtRasterData* rasterData(const Cells& cells, double maxCount);
    void showColorBar(double maxCount);

    CellImageItem* m_map;
    LogCountColorMap m_cellColors;
    bool m_shown = false;
    bool m_filled = false;
    LogCountColorMap* m_barColors = nullptr; // the colour bar's map while shown
    double m_barMax = -1;                    // the colour bar's largest count, -1 for none yet
};
