#pragma once
// Curve samples in two arrays, like QwtPointArrayData, whose bounding
// rectangle (needed by every auto-scaled replot) is found by a tight pass over
// the arrays instead of one virtual sample() call per point.

#include <qwt_point_data.h>

class VellPointData : public QwtPointArrayData {
public:
    VellPointData(const QVector<double>& x, const QVector<double>& y);

    QRectF boundingRect() const override;
};
