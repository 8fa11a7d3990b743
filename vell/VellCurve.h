#pragma once
// A QwtPlotCurve that draws its 2-pixel line much faster on raster devices and
// looks the same. Each paint reduces the full data to the points that change
// the picture (first, lowest, highest and last point per pixel column), so a
// zoomed-in view still shows every sample, and fills the pixels of the 2-pixel
// stroke as column spans instead of stroking a wide polyline. Other pens,
// styles and devices (printing, vector export) are drawn by Qwt as usual.

#include <qwt_plot_curve.h>

class VellColumnSpans;

class VellCurve : public QwtPlotCurve
{
public:
    explicit VellCurve(const QString& title = QString());

protected:
    void drawLines(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
        const QRectF& canvasRect, int from, int to) const override;
    void dataChanged() override;

private:
    bool canDrawSpans(const QPainter* painter) const;
    bool xAscending() const;
    void visibleRange(const QwtScaleMap& xMap, const QRectF& canvasRect, int& from, int& to) const;
    void traceColumns(VellColumnSpans& spans, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
        int from, int to) const;

    // Whether the x values never decrease; -1 while unknown for the current data.
    mutable int xAscending_ = -1;
};
