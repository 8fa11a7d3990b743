#include "vell/VellHistogram.h"

#include <QPaintEngine>
#include <QPainter>
#include <qwt_clipper.h>
#include <qwt_painter.h>
#include <qwt_scale_map.h>

VellHistogram::VellHistogram(const QString& title) : QwtPlotHistogram(title)
{
    setStyle(QwtPlotHistogram::Outline);
}

bool VellHistogram::canFillColumns(const QPainter* painter) const
{
    const QPaintEngine* engine = painter->paintEngine();
    return style() == QwtPlotHistogram::Outline && orientation() == Qt::Vertical && engine
           && engine->type() == QPaintEngine::Raster && !painter->testRenderHint(QPainter::Antialiasing);
}

void VellHistogram::drawSeries(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
                               const QRectF& canvasRect, int from, int to) const
{
    if (to < 0)
        to = int(dataSize()) - 1;
    if (!canFillColumns(painter) || from > to) {
        QwtPlotHistogram::drawSeries(painter, xMap, yMap, canvasRect, from, to);
        return;
    }
    // Pixel edges rounded once per bin border, so that neighbours share them
    // and no column gap or overlap shows.
    const double base = qRound(yMap.transform(baseline()));
    const QRectF visible = canvasRect.adjusted(-1, -1, 1, 1);
    QPolygonF outline;
    outline.reserve(2 * (to - from + 1) + 2);
    for (int i = from; i <= to; ++i) {
        const QwtIntervalSample bin = sample(i);
        const double left = qRound(xMap.transform(bin.interval.minValue()));
        const double right = qRound(xMap.transform(bin.interval.maxValue()));
        const double top = qRound(yMap.transform(bin.value));
        if (outline.isEmpty())
            outline += QPointF(left, base);
        outline += QPointF(left, top);
        outline += QPointF(right, top);
        if (brush().style() != Qt::NoBrush) {
            const QRectF column = QRectF(QPointF(left, top), QPointF(right, base)).normalized() & visible;
            if (!column.isEmpty())
                painter->fillRect(column, brush());
        }
    }
    outline += QPointF(outline.last().x(), base);
    if (pen().style() != Qt::NoPen) {
        painter->setPen(pen());
        painter->setBrush(Qt::NoBrush);
        QwtPainter::drawPolyline(painter, QwtClipper::clipPolygonF(visible, outline));
    }
}
