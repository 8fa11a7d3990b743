#include "vell/VellPointData.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

struct ValueRange {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
    bool isEmpty() const { return lo > hi; }
};

// Smallest and largest finite value of the first n.
ValueRange finiteRange(const double* values, int n)
{
    ValueRange range;
    for (int i = 0; i < n; ++i) {
        const double v = values[i];
        if (std::isfinite(v)) {
            range.lo = std::min(range.lo, v);
            range.hi = std::max(range.hi, v);
        }
    }
    return range;
}

// The same in a form the compiler turns into packed min/max (NaNs drop out of
// the comparisons); only a range reaching infinity needs the careful pass.
ValueRange valueRange(const double* values, int n)
{
    constexpr int Lanes = 4;
    double lo[Lanes], hi[Lanes];
    std::fill(lo, lo + Lanes, std::numeric_limits<double>::infinity());
    std::fill(hi, hi + Lanes, -std::numeric_limits<double>::infinity());
    int i = 0;
    for (; i + Lanes <= n; i += Lanes) {
        for (int k = 0; k < Lanes; ++k) {
            const double v = values[i + k];
            lo[k] = v < lo[k] ? v : lo[k];
            hi[k] = v > hi[k] ? v : hi[k];
        }
    }
    ValueRange range = finiteRange(values + i, n - i);
    range.lo = std::min({range.lo, lo[0], lo[1], lo[2], lo[3]});
    range.hi = std::max({range.hi, hi[0], hi[1], hi[2], hi[3]});
    if (std::isinf(range.lo) || std::isinf(range.hi))
        return finiteRange(values, n);
    return range;
}

} // namespace

VellPointData::VellPointData(const QVector<double>& x, const QVector<double>& y) : QwtPointArrayData(x, y) {}

QRectF VellPointData::boundingRect() const
{
    if (d_boundingRect.width() < 0.0) {
        const int n = std::min(xData().size(), yData().size());
        const ValueRange x = valueRange(xData().constData(), n);
        const ValueRange y = valueRange(yData().constData(), n);
        // Without finite points the rectangle stays invalid and auto-scaling ignores the curve.
        if (!x.isEmpty() && !y.isEmpty())
            d_boundingRect.setCoords(x.lo, y.lo, x.hi, y.hi);
    }
    return d_boundingRect;
}
