#pragma once
// Colours for counts on a logarithmic scale: a pedestal of thousands and a
// line of tens are both visible. Zero is white, one count deep blue, the
// largest count red. The colour bar uses this map on its logarithmic axis;
// the map itself gets log10(1 + count) as cell values and the linear colours,
// so that no logarithm is taken per cell while drawing, and the two agree.

#include <memory>
#include <qwt_color_map.h>

class LogCountColorMap : public QwtColorMap {
public:
    LogCountColorMap();

    // The colours over log10(1 + count).
    static QwtLinearColorMap* linearColors();
    static double scaled(double count);

    QRgb rgb(const QwtInterval& interval, double value) const override;
    unsigned char colorIndex(const QwtInterval& interval, double value) const override;

private:
    static QwtInterval scaled(const QwtInterval& interval);

    std::unique_ptr<QwtLinearColorMap> m_colors;
};
