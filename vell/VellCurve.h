#pragma once
// A QwtPlotCurve that draws its 2-pixel line several times faster on raster
// devices, filling the same pixels as Qt's stroke of the line. Each paint
// reduces the full data to the points that change the picture (per pixel
// column: first, lowest, highest and last point, and the neighbours that set
// the directions in and out), so a zoomed-in view still shows every sample;
// then it works out the stroke's pixels column by column and fills them as
// rectangles instead of stroking a wide polyline. Samples must come with
// ascending x (waveforms do); other data, pens, styles and devices (printing,
// vector export, antialiasing) are drawn by Qwt as usual.

#include <qwt_plot_curve.h>

class VellColumnSpans;

class VellCurve : public QwtPlotCurve {
public:
    explicit VellCurve(const QString& title = QString());

protected:
    void drawLines(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap, const QRectF& canvasRect,
                   int from, int to) const override;
    void dataChanged() override;

private:
    bool canDrawSpans(const QPainter* painter) const;
    bool xAscending() const;
    void visibleRange(const QwtScaleMap& xMap, const QRectF& canvasRect, int& from, int& to) const;
    void traceColumns(VellColumnSpans& spans, const QwtScaleMap& xMap, const QwtScaleMap& yMap, int from, int to) const;

    // Whether the x values never decrease; -1 while unknown for the current data.
    mutable int xAscending_ = -1;
};
