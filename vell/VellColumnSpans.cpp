#include "vell/VellColumnSpans.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using End = VellColumnSpans::End;

constexpr double HalfWidth = 1.0;                 // of the 2-pixel pen
constexpr int MaxCachedRise = 64;                 // steps and joins with larger rises are worked out each time
constexpr int Directions = 2 * MaxCachedRise + 3; // vertical up, vertical down, steps

QPointF unit(QPointF v)
{
    return v / std::sqrt(v.x() * v.x() + v.y() * v.y());
}

QPointF normal(QPointF direction)
{
    return QPointF(-direction.y(), direction.x());
}

// Qt's rasterizer takes outline coordinates in 1/64 pixel; rounding the same
// way decides the same pixels where a steep edge passes a pixel centre.
inline double toRasterGrid(double v)
{
    // Adding and taking away 1.5 * 2^46 leaves v rounded to a multiple of 2^-6.
    constexpr double Snap = 105553116266496.0;
    return std::abs(v) < 1e12 ? (v + Snap) - Snap : v;
}

// floor() and ceil() for values already limited to a pixel range.
inline int floorToInt(double v)
{
    const int i = int(v);
    return i - int(i > v);
}

inline int ceilToInt(double v)
{
    const int i = int(v);
    return i + int(i < v);
}

inline bool isOnGrid(double x)
{
    return std::abs(x) < 1e9 && x == double(int(x));
}

// Index of a segment direction in the join cache, or -1: vertical strokes and
// steps of one column to the right with a small whole rise.
int directionIndex(QPointF step)
{
    if (!(std::abs(step.y()) <= MaxCachedRise) || step.y() != double(int(step.y())))
        return -1;
    if (step.x() == 0.0)
        return step.y() < 0 ? 0 : 1;
    if (step.x() == 1.0)
        return 2 + MaxCachedRise + int(step.y());
    return -1;
}

// Hands sink(column, top, bottom) the stretch of a convex polygon on the centre
// line of every column from first to last that it reaches. Qt fills a pixel
// whose centre lies exactly on the outline when the outline there is the
// right-hand end of the pixel row's span, so each end says whether it counts.
template <int count, typename Sink>
void polygonColumns(const QPointF (&exactCorners)[count], int first, int last, Sink&& sink)
{
    struct Edge {
        double xMin, xMax; // the edge meets centre lines with xMin < x <= xMax
        double x0, y0, slope;
        bool rightHand; // its outward normal points to +x
    };
    QPointF corners[count];
    double minX = std::numeric_limits<double>::infinity();
    double maxX = -minX;
    for (int i = 0; i < count; ++i) {
        corners[i] = QPointF(toRasterGrid(exactCorners[i].x()), toRasterGrid(exactCorners[i].y()));
        minX = std::min(minX, corners[i].x());
        maxX = std::max(maxX, corners[i].x());
    }
    // Columns whose centre c + 0.5 lies within [minX, maxX].
    first = std::max(first, ceilToInt(std::max(minX, first - 2.0) - 0.5));
    last = std::min(last, floorToInt(std::min(maxX, last + 2.0) - 0.5));
    double area = 0.0;
    for (int i = 0, j = count - 1; i < count; j = i++)
        area += corners[j].x() * corners[i].y() - corners[i].x() * corners[j].y();
    if (first > last || area == 0.0)
        return;
    Edge edges[count];
    int edgeCount = 0;
    for (int i = 0, j = count - 1; i < count; j = i++) {
        const QPointF& p = corners[j];
        const QPointF& q = corners[i];
        if (p.x() == q.x())
            continue; // vertical edges bound the columns, they cross no centre line
        const double dy = q.y() - p.y();
        edges[edgeCount++] = {std::min(p.x(), q.x()),
                              std::max(p.x(), q.x()),
                              p.x(),
                              p.y(),
                              dy / (q.x() - p.x()),
                              dy != 0.0 && (area > 0) == (dy > 0)};
    }
    for (int c = first; c <= last; ++c) {
        const double centre = c + 0.5;
        End top{std::numeric_limits<double>::infinity(), false};
        End bottom{-std::numeric_limits<double>::infinity(), false};
        for (int i = 0; i < edgeCount; ++i) {
            const Edge& e = edges[i];
            if (!(e.xMin < centre && centre <= e.xMax))
                continue;
            const double y = e.y0 + (centre - e.x0) * e.slope;
            if (y < top.y || (y == top.y && e.rightHand))
                top = {y, e.rightHand};
            if (y > bottom.y || (y == bottom.y && e.rightHand))
                bottom = {y, e.rightHand};
        }
        if (top.y <= bottom.y)
            sink(c, top, bottom);
    }
}

// The pen's rectangle along a segment; square caps reach half the pen width
// beyond a free end.
template <typename Sink>
void segmentColumns(QPointF from, QPointF to, bool capStart, bool capEnd, int first, int last, Sink&& sink)
{
    const QPointF along = unit(to - from) * HalfWidth;
    const QPointF across = normal(along);
    if (capStart)
        from -= along;
    if (capEnd)
        to += along;
    const QPointF corners[4] = {from + across, to + across, to - across, from - across};
    polygonColumns(corners, first, last, sink);
}

// A bevel join fills the triangle between the outer corners of both segments.
template <typename Sink>
void joinColumns(QPointF vertex, QPointF inStep, QPointF outStep, int first, int last, Sink&& sink)
{
    const QPointF in = unit(inStep);
    const QPointF out = unit(outStep);
    const double turn = in.x() * out.y() - in.y() * out.x();
    if (turn == 0.0)
        return; // straight on, or straight back (no area)
    const double outer = turn > 0 ? -HalfWidth : HalfWidth;
    const QPointF corners[3] = {vertex, vertex + normal(in) * outer, vertex + normal(out) * outer};
    polygonColumns(corners, first, last, sink);
}

} // namespace

void VellColumnSpans::reset(const QRect& clip)
{
    clip_ = clip;
    const size_t width = size_t(std::max(0, clip.width()));
    top_.assign(width, End{std::numeric_limits<double>::infinity(), false});
    bottom_.assign(width, End{-std::numeric_limits<double>::infinity(), false});
    vertices_ = 0;
    if (joins_.empty()) {
        steps_.resize(Directions - 2);
        joins_.resize(size_t(Directions) * Directions);
    }
}

void VellColumnSpans::moveTo(double x, double y)
{
    finish();
    last_ = QPointF(x, y);
    vertices_ = 1;
}

void VellColumnSpans::lineTo(double x, double y)
{
    const QPointF next(x, y);
    if (vertices_ == 0) {
        moveTo(x, y);
        return;
    }
    if (next == last_ || !std::isfinite(x) || !std::isfinite(y))
        return;
    const QPointF step = next - last_;
    if (vertices_ >= 2 && step.x() == 0.0 && previousStep_.x() == 0.0) {
        // Up and down one vertical line: no join has any area, the stroke
        // just grows (the many samples of one pixel column).
        pendingTop_ = std::min(pendingTop_, y);
        pendingBottom_ = std::max(pendingBottom_, y);
    } else {
        if (vertices_ >= 2) {
            flushPending(false);
            coverJoin(last_, previousStep_, step);
        }
        pendingFrom_ = last_;
        pendingIsFirst_ = vertices_ == 1;
        pendingFirstStep_ = step;
        pendingTop_ = std::min(last_.y(), y);
        pendingBottom_ = std::max(last_.y(), y);
    }
    previousStep_ = step;
    last_ = next;
    ++vertices_;
}

void VellColumnSpans::finish()
{
    if (vertices_ >= 2) // like QPainter, a lone point draws nothing
        flushPending(true);
    vertices_ = 0;
}

void VellColumnSpans::flushPending(bool capEnd)
{
    if (pendingFrom_.x() != last_.x()) {
        coverSegment(pendingFrom_, last_, pendingIsFirst_, capEnd);
        return;
    }
    // A vertical stroke; square caps reach one pen half-width past its free ends.
    double top = pendingTop_;
    double bottom = pendingBottom_;
    const auto capAt = [&](double y, double direction) {
        top = std::min(top, y + (direction < 0 ? -HalfWidth : HalfWidth));
        bottom = std::max(bottom, y + (direction < 0 ? -HalfWidth : HalfWidth));
    };
    if (pendingIsFirst_)
        capAt(pendingFrom_.y(), -pendingFirstStep_.y());
    if (capEnd)
        capAt(last_.y(), previousStep_.y());
    coverVertical(last_.x(), top, bottom);
}

inline void VellColumnSpans::merge(int column, End top, End bottom)
{
    if (column < clip_.left() || column > clip_.right())
        return;
    const size_t i = size_t(column - clip_.left());
    if (top.y < top_[i].y || (top.y == top_[i].y && top.included))
        top_[i] = top;
    if (bottom.y > bottom_[i].y || (bottom.y == bottom_[i].y && bottom.included))
        bottom_[i] = bottom;
}

void VellColumnSpans::coverPieces(const Pieces& pieces, QPointF origin)
{
    const int x = int(origin.x());
    for (const Piece& p : pieces)
        merge(x + p.column, {origin.y() + p.top.y, p.top.included}, {origin.y() + p.bottom.y, p.bottom.included});
}

void VellColumnSpans::coverSegment(QPointF from, QPointF to, bool capStart, bool capEnd)
{
    if (!capStart && !capEnd && isOnGrid(from.x())) {
        if (const Pieces* pieces = stepPieces(to - from)) {
            coverPieces(*pieces, from);
            return;
        }
    }
    segmentColumns(from, to, capStart, capEnd, clip_.left(), clip_.right(),
                   [this](int c, End top, End bottom) { merge(c, top, bottom); });
}

// The pen along a vertical line covers the columns whose centres lie less than
// a half-width away; pixel centres level with its ends are outside.
void VellColumnSpans::coverVertical(double x, double top, double bottom)
{
    // Clamped to the clip first: a stroke far off the canvas must not reach
    // the int conversions with an out-of-range value.
    x = std::clamp(x, clip_.left() - 2.0, clip_.right() + 2.0);
    const int first = ceilToInt(std::max(x - HalfWidth, clip_.left() - 2.0) - 0.5);
    const int last = floorToInt(std::min(x + HalfWidth, clip_.right() + 2.0) - 0.5);
    for (int c = first; c <= last; ++c) {
        if (c + 0.5 > x - HalfWidth && c + 0.5 < x + HalfWidth)
            merge(c, {top, false}, {bottom, false});
    }
}

void VellColumnSpans::coverJoin(QPointF vertex, QPointF inStep, QPointF outStep)
{
    if (isOnGrid(vertex.x())) {
        if (const Pieces* pieces = joinPieces(inStep, outStep)) {
            coverPieces(*pieces, vertex);
            return;
        }
    }
    joinColumns(vertex, inStep, outStep, clip_.left(), clip_.right(),
                [this](int c, End top, End bottom) { merge(c, top, bottom); });
}

const VellColumnSpans::Pieces* VellColumnSpans::stepPieces(QPointF step)
{
    const int index = directionIndex(step) - 2;
    if (index < 0)
        return nullptr;
    CachedPieces& cached = steps_[size_t(index)];
    if (!cached.known) {
        segmentColumns(QPointF(0, 0), step, false, false, -4, 4, [&cached](int c, End top, End bottom) {
            cached.pieces.append({c, top, bottom});
        });
        cached.known = true;
    }
    return &cached.pieces;
}

const VellColumnSpans::Pieces* VellColumnSpans::joinPieces(QPointF inStep, QPointF outStep)
{
    const int in = directionIndex(inStep);
    const int out = directionIndex(outStep);
    if (in < 0 || out < 0)
        return nullptr;
    CachedPieces& cached = joins_[size_t(in) * Directions + size_t(out)];
    if (!cached.known) {
        // Only the direction of a vertical stroke matters, not its length.
        const auto direction = [](QPointF s) { return s.x() == 0.0 ? QPointF(0, s.y() < 0 ? -1 : 1) : s; };
        joinColumns(QPointF(0, 0), direction(inStep), direction(outStep), -4, 4, [&cached](int c, End top, End bottom) {
            cached.pieces.append({c, top, bottom});
        });
        cached.known = true;
    }
    return &cached.pieces;
}

namespace {

// The first row whose centre lies below (or, when the end counts, on) y;
// y is limited to the clip.
int firstRowFrom(const End& end)
{
    const int row = ceilToInt(end.y - 0.5);
    return row + 0.5 == end.y && !end.included ? row + 1 : row;
}

// The last row whose centre lies above (or, when the end counts, on) y.
int lastRowTo(const End& end)
{
    const int row = floorToInt(end.y - 0.5);
    return row + 0.5 == end.y && !end.included ? row - 1 : row;
}

} // namespace

void VellColumnSpans::appendRects(QVector<QRect>& rects) const
{
    const double clipTop = clip_.top() - 2.0;
    const double clipBottom = clip_.bottom() + 2.0;
    bool extendable = false;
    for (size_t i = 0; i < top_.size(); ++i) {
        End topEnd = top_[i];
        End bottomEnd = bottom_[i];
        if (!(topEnd.y <= bottomEnd.y) || topEnd.y > clipBottom || bottomEnd.y < clipTop) {
            extendable = false;
            continue;
        }
        if (topEnd.y < clipTop) // far outside: keep the numbers in int range
            topEnd = {clipTop, true};
        if (bottomEnd.y > clipBottom)
            bottomEnd = {clipBottom, true};
        const int top = std::max(clip_.top(), firstRowFrom(topEnd));
        const int bottom = std::min(clip_.bottom(), lastRowTo(bottomEnd));
        if (top > bottom) {
            extendable = false;
            continue;
        }
        const int column = clip_.left() + int(i);
        if (extendable && rects.last().top() == top && rects.last().bottom() == bottom) {
            rects.last().setRight(column);
            continue;
        }
        extendable = true;
        rects.append(QRect(QPoint(column, top), QPoint(column, bottom)));
    }
}
