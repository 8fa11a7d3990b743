#pragma once
// A QwtPlotHistogram in the Outline style (one outline over a filled area)
// that fills the area on raster devices as one rectangle per bin instead of
// one polygon: Qt rasterises a large polygon of many steps edge by edge, while
// an axis-aligned rectangle is a plain fill of pixel spans, several times
// faster for the same pixels. Bins must be vertical columns over ascending,
// adjacent intervals (a histogram of equal bins); other data, styles and
// devices (printing, vector export, antialiasing) are drawn by Qwt as usual.

#include <qwt_plot_histogram.h>

class VellHistogram : public QwtPlotHistogram {
public:
    explicit VellHistogram(const QString& title = QString());

    void drawSeries(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap, const QRectF& canvasRect,
                    int from, int to) const override;

private:
    bool canFillColumns(const QPainter* painter) const;
};
