#pragma once
// Colours for counts on a logarithmic scale: a pedestal of thousands and a
// line of tens are both visible. Zero is white, one count deep blue, the
// largest count red. The colour bar uses this map on its logarithmic axis;
// cells are coloured from a table of its colours over log10(1 + count), so
// the two agree to within a table step.

#include <QVector>
#include <memory>
#include <qwt_color_map.h>

class LogCountColorMap : public QwtColorMap {
public:
    LogCountColorMap();

    // The bar's largest count: the largest count rounded up to 1, 2 or 5
    // times a power of ten, so the bar's scale changes only now and then.
    static double barMaximum(double largestCount);

    // The colour of each count against maxCount; a logarithm only for the
    // counts above zero.
    void colorCells(const QVector<double>& counts, double maxCount, QRgb* colors) const;

    QRgb rgb(const QwtInterval& interval, double value) const override;
    unsigned char colorIndex(const QwtInterval& interval, double value) const override;

private:
    static double scaled(double count);
    static QwtInterval scaled(const QwtInterval& interval);

    std::unique_ptr<QwtLinearColorMap> m_colors; // over log10(1 + count)
    QVector<QRgb> m_table;                       // m_colors over [0, 1]
};
