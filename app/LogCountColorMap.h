#pragma once
// Colours for counts on a logarithmic scale: a pedestal of thousands and a
// line of tens are both visible. Zero is white, one count deep blue, the
// largest count red. Used by the map and by its colour bar (whose axis is
// logarithmic too), so the two agree.

#include <qwt_color_map.h>

class LogCountColorMap : public QwtColorMap {
public:
    LogCountColorMap();

    QRgb rgb(const QwtInterval& interval, double value) const override;
    unsigned char colorIndex(const QwtInterval& interval, double value) const override;

private:
    static QwtInterval scaled(const QwtInterval& interval);
    static double scaled(double count);

    QwtLinearColorMap m_colors;
};
