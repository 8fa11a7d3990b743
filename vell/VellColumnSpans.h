#pragma once
// Pixel coverage of a polyline stroked with a 2-pixel pen (square caps, bevel
// joins, no antialiasing), kept as one vertical span per pixel column: the
// same pixels Qt's raster engine fills for such a pen. A pixel is covered when
// its centre lies inside the stroke, so each column only needs the stroke's
// extent along the vertical line through its pixel centres. Vertices are in
// device pixels, as Qwt rounds them for raster output.
//
// Dense curves consist of vertical strokes and steps of one column with small
// rises; their shapes and joins depend only on those rises, so their coverage
// is worked out once and reused.

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QVarLengthArray>
#include <QVector>
#include <vector>

class VellColumnSpans {
public:
    // One end of a column's span, and whether a pixel centre exactly there is filled.
    struct End {
        double y;
        bool included;
    };

    // Keeps coverage for the pixels of clip and forgets any earlier path.
    void reset(const QRect& clip);

    // Builds one polyline; vertices equal to the previous one are skipped.
    void moveTo(double x, double y);
    void lineTo(double x, double y);
    void finish(); // adds the end cap of the current polyline

    // Appends the covered pixels as rectangles, neighbouring columns with equal spans merged.
    void appendRects(QVector<QRect>& rects) const;

private:
    // One column's stretch of a small shape, relative to the vertex it belongs to.
    struct Piece {
        int column;
        End top;
        End bottom;
    };
    using Pieces = QVarLengthArray<Piece, 4>;
    struct CachedPieces {
        bool known = false;
        Pieces pieces;
    };

    void merge(int column, End top, End bottom);
    void coverPieces(const Pieces& pieces, QPointF origin);
    void coverSegment(QPointF from, QPointF to, bool capStart, bool capEnd);
    void coverVertical(double x, double top, double bottom);
    void coverJoin(QPointF vertex, QPointF inStep, QPointF outStep);
    void flushPending(bool capEnd);
    const Pieces* stepPieces(QPointF step);
    const Pieces* joinPieces(QPointF inStep, QPointF outStep);

    QRect clip_;
    std::vector<End> top_;    // smallest y of the stroke per column centre line
    std::vector<End> bottom_; // largest y of the stroke per column centre line

    // The last segment (or vertical stroke) is held back until it is known
    // whether it ends the line.
    int vertices_ = 0;
    QPointF last_;
    QPointF pendingFrom_;
    bool pendingIsFirst_ = false;
    QPointF pendingFirstStep_;
    double pendingTop_ = 0; // a vertical pending stroke may run up and down
    double pendingBottom_ = 0;
    QPointF previousStep_;

    std::vector<CachedPieces> steps_; // by rise of a one-column step
    std::vector<CachedPieces> joins_; // by the two directions met
};
