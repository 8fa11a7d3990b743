#include "vell/VellCurve.h"

#include "vell/VellColumnSpans.h"

#include <QPaintEngine>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <limits>
#include <qwt_point_data.h>
#include <qwt_scale_map.h>

namespace {

// Samples read straight from the arrays behind Qwt's usual data classes.
struct ArrayReader {
    const double* xs;
    const double* ys;
    double x(int i) const { return xs[i]; }
    double y(int i) const { return ys[i]; }
};

// Any other series, through its virtual sample().
struct SeriesReader {
    const QwtSeriesData<QPointF>* data;
    // NOLINTNEXTLINE(clang-analyzer-core.CallAndMessage): a curve always has a series (Qwt creates an empty one).
    double x(int i) const { return data->sample(size_t(i)).x(); }
    double y(int i) const { return data->sample(size_t(i)).y(); }
};

// Calls f with the fastest reader for data.
template <typename F>
void withReader(const QwtSeriesData<QPointF>* data, F&& f)
{
    if (auto* arrays = dynamic_cast<const QwtPointArrayData*>(data))
        f(ArrayReader{arrays->xData().constData(), arrays->yData().constData()});
    else if (auto* pointers = dynamic_cast<const QwtCPointerData*>(data))
        f(ArrayReader{pointers->xData(), pointers->yData()});
    else
        f(SeriesReader{data});
}

// Qwt's rounding of pixel positions for raster output (half away from zero),
// without int overflow far outside the canvas.
inline double roundToPixel(double v)
{
    if (std::abs(v) < 1e9) {
        // NOLINTNEXTLINE(bugprone-incorrect-roundings): the value is not negative, so truncation is floor here.
        const int i = int(std::abs(v) + 0.5);
        return v < 0 ? -double(i) : double(i);
    }
    return v < 0 ? std::ceil(v - 0.5) : std::floor(v + 0.5);
}

// The finite y values of the samples [begin, end): lowest, highest, and the
// first two and last two of them (the ones that decide how the line enters
// and leaves the column).
struct ValueSpan {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
    double first = 0, second = 0, penultimate = 0, last = 0;
    bool isEmpty() const { return !(lo <= hi); }
};

template <typename Reader>
ValueSpan valueSpan(const Reader& reader, int begin, int end)
{
    ValueSpan span;
    for (int i = begin; i < end; ++i) {
        const double v = reader.y(i);
        span.lo = v < span.lo ? v : span.lo; // NaN never compares, so it drops out
        span.hi = v > span.hi ? v : span.hi;
    }
    if (span.isEmpty())
        return span;
    auto nextValue = [&](int& i, int step) {
        while (std::isnan(reader.y(i)))
            i += step;
        return reader.y(i);
    };
    int i = begin;
    span.first = nextValue(i, 1);
    span.second = i + 1 < end && !std::isnan(reader.y(i + 1)) ? reader.y(i + 1) : span.first;
    i = end - 1;
    span.last = nextValue(i, -1);
    span.penultimate = i - 1 >= begin && !std::isnan(reader.y(i - 1)) ? reader.y(i - 1) : span.last;
    return span;
}

// The curve as pixel columns. The samples that fall on one column are drawn as
// a vertical line over their whole range, entered and left in the directions
// of the original line: first, second, the extreme ahead, the other extreme,
// next-to-last, last. Back-and-forth strokes on one vertical line cover the
// same pixels in any order, so the picture is that of every sample. Only one
// x comparison per sample; pixel positions are computed per column.
template <typename Reader>
void traceRuns(const Reader& reader, VellColumnSpans& spans, const QwtScaleMap& xMap, const QwtScaleMap& yMap, int from,
               int to)
{
    const bool pixelsGrow = !xMap.isInverting();
    // The x value at a pixel position; linear axes skip Qwt's division per call.
    const bool linear = xMap.transformation() == nullptr && xMap.pDist() > 0.0;
    const double xPerPixel = linear ? (xMap.s2() - xMap.s1()) / (xMap.p2() - xMap.p1()) : 0.0;
    auto xAtPixel = [&](double p) { return linear ? xMap.s1() + (p - xMap.p1()) * xPerPixel : xMap.invTransform(p); };
    auto pixelX = [&](int i) { return roundToPixel(xMap.transform(reader.x(i))); };
    auto pixelY = [&](double y) { return roundToPixel(yMap.transform(y)); };
    int begin = from;
    while (begin <= to) {
        const double column = pixelX(begin);
        // Samples stay on this column until x reaches its far edge; the
        // samples next to the edge are settled by the rounding itself.
        const double edge = xAtPixel(pixelsGrow ? column + 0.5 : column - 0.5);
        int end = begin + 1;
        if (pixelsGrow) {
            while (end <= to && reader.x(end) < edge)
                ++end;
        } else {
            while (end <= to && reader.x(end) <= edge)
                ++end;
        }
        // Only samples within a rounding error of the edge need the exact test.
        const double margin = 1e-9 * (std::abs(edge) + 1.0);
        if (std::abs(reader.x(end - 1) - edge) <= margin) {
            while (end - 1 > begin && pixelX(end - 1) != column)
                --end;
        }
        if (end <= to && std::abs(reader.x(end) - edge) <= margin) {
            while (end <= to && pixelX(end) == column)
                ++end;
        }
        const ValueSpan values = valueSpan(reader, begin, end);
        const bool single = end - begin == 1;
        begin = end;
        if (values.isEmpty())
            continue;
        const double first = pixelY(values.first);
        spans.lineTo(column, first);
        if (single)
            continue;
        const double second = pixelY(values.second);
        const double a = pixelY(values.lo);
        const double b = pixelY(values.hi);
        const bool up = second < first;
        spans.lineTo(column, second);
        spans.lineTo(column, up ? std::min(a, b) : std::max(a, b));
        spans.lineTo(column, up ? std::max(a, b) : std::min(a, b));
        spans.lineTo(column, pixelY(values.penultimate));
        spans.lineTo(column, pixelY(values.last));
    }
    spans.finish();
}

} // namespace

VellCurve::VellCurve(const QString& title) : QwtPlotCurve(title) {}

void VellCurve::dataChanged()
{
    xAscending_ = -1;
    QwtPlotCurve::dataChanged();
}

bool VellCurve::xAscending() const
{
    if (xAscending_ < 0) {
        const int n = int(dataSize());
        withReader(data(), [&](const auto& reader) {
            int i = 1;
            while (i < n && reader.x(i - 1) <= reader.x(i))
                ++i;
            xAscending_ = n == 0 || (i == n && std::isfinite(reader.x(0)) && std::isfinite(reader.x(n - 1)));
        });
    }
    return xAscending_ == 1;
}

bool VellCurve::canDrawSpans(const QPainter* painter) const
{
    const QPen& pen = painter->pen();
    const QTransform& transform = painter->transform();
    return pen.style() == Qt::SolidLine && pen.widthF() == 2.0 && pen.brush().style() == Qt::SolidPattern
           && brush().style() == Qt::NoBrush && !testCurveAttribute(Fitted) && painter->paintEngine()
           && painter->paintEngine()->type() == QPaintEngine::Raster && !painter->testRenderHint(QPainter::Antialiasing)
           && transform.type() <= QTransform::TxTranslate && transform.dx() == std::floor(transform.dx())
           && transform.dy() == std::floor(transform.dy()) && xAscending();
}

void VellCurve::drawLines(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap, const QRectF& canvasRect,
                          int from, int to) const
{
    if (from > to || !canDrawSpans(painter)) {
        QwtPlotCurve::drawLines(painter, xMap, yMap, canvasRect, from, to);
        return;
    }
    visibleRange(xMap, canvasRect, from, to);

    // One pixel around the canvas, as far as Qwt's own clipping lets a wide pen reach.
    thread_local VellColumnSpans spans;
    thread_local QVector<QRect> rects;
    spans.reset(canvasRect.toAlignedRect().adjusted(-1, -1, 1, 1));
    traceColumns(spans, xMap, yMap, from, to);
    rects.clear();
    spans.appendRects(rects);

    const QBrush brush = painter->pen().brush();
    painter->save();
    painter->setPen(Qt::NoPen);
    painter->setBrush(brush);
    painter->drawRects(rects.constData(), rects.size());
    painter->restore();
}

// Narrows [from, to] to the samples inside the canvas and one neighbour on each
// side, whose connecting lines enter the canvas.
void VellCurve::visibleRange(const QwtScaleMap& xMap, const QRectF& canvasRect, int& from, int& to) const
{
    const double a = xMap.invTransform(canvasRect.left() - 2.0);
    const double b = xMap.invTransform(canvasRect.right() + 2.0);
    const double xMin = std::min(a, b);
    const double xMax = std::max(a, b);
    if (!std::isfinite(xMin) || !std::isfinite(xMax))
        return;
    withReader(data(), [&](const auto& reader) {
        // First index in [lo, to + 1) whose x is not below (or, after, not above) the limit.
        auto search = [&](int lo, auto isLeft) {
            int hi = to + 1;
            while (lo < hi) {
                const int mid = lo + (hi - lo) / 2;
                if (isLeft(reader.x(mid)))
                    lo = mid + 1;
                else
                    hi = mid;
            }
            return lo;
        };
        const int firstInside = search(from, [&](double x) { return x < xMin; });
        const int firstBeyond = search(firstInside, [&](double x) { return x <= xMax; });
        from = std::max(from, firstInside - 1);
        to = std::min(to, firstBeyond);
    });
}

void VellCurve::traceColumns(VellColumnSpans& spans, const QwtScaleMap& xMap, const QwtScaleMap& yMap, int from,
                             int to) const
{
    withReader(data(), [&](const auto& reader) { traceRuns(reader, spans, xMap, yMap, from, to); });
}
