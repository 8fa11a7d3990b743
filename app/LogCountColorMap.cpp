#include "app/LogCountColorMap.h"

#include <algorithm>
#include <cmath>

LogCountColorMap::LogCountColorMap() : m_colors(linearColors()) {}

QwtLinearColorMap* LogCountColorMap::linearColors()
{
    auto* colors = new QwtLinearColorMap(Qt::white, Qt::red);
    colors->addColorStop(1e-9, QColor(40, 40, 160));
    colors->addColorStop(0.35, Qt::cyan);
    colors->addColorStop(0.6, Qt::green);
    colors->addColorStop(0.8, Qt::yellow);
    return colors;
}

double LogCountColorMap::scaled(double count)
{
    return std::log10(1.0 + std::max(0.0, count));
}

QRgb LogCountColorMap::rgb(const QwtInterval& interval, double value) const
{
    return m_colors->rgb(scaled(interval), scaled(value));
}

unsigned char LogCountColorMap::colorIndex(const QwtInterval& interval, double value) const
{
    return m_colors->colorIndex(scaled(interval), scaled(value));
}

QwtInterval LogCountColorMap::scaled(const QwtInterval& interval)
{
    return QwtInterval(scaled(interval.minValue()), scaled(interval.maxValue()));
}
