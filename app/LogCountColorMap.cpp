#include "app/LogCountColorMap.h"

#include <algorithm>
#include <cmath>

namespace {

QwtLinearColorMap* linearColors()
{
    auto* colors = new QwtLinearColorMap(Qt::white, Qt::red);
    colors->addColorStop(1e-9, QColor(40, 40, 160));
    colors->addColorStop(0.35, Qt::cyan);
    colors->addColorStop(0.6, Qt::green);
    colors->addColorStop(0.8, Qt::yellow);
    return colors;
}

} // namespace

LogCountColorMap::LogCountColorMap() : m_colors(linearColors()), m_table(m_colors->colorTable(QwtInterval(0, 1))) {}

double LogCountColorMap::scaled(double count)
{
    return std::log10(1.0 + std::max(0.0, count));
}

double LogCountColorMap::barMaximum(double largestCount)
{
    if (largestCount <= 1)
        return 1;
    double decade = std::pow(10.0, std::floor(std::log10(largestCount)));
    if (decade > largestCount) // log10 just above a power of ten
        decade /= 10;
    for (const double step : {1.0, 2.0, 5.0})
        if (step * decade >= largestCount)
            return step * decade;
    return 10 * decade;
}

void LogCountColorMap::colorCells(const QVector<double>& counts, double maxCount, QRgb* colors) const
{
    const double toIndex = (m_table.size() - 1) / scaled(maxCount);
    const int last = m_table.size() - 1;
    for (const double count : counts)
        *colors++ = count > 0 ? m_table[std::min(last, int(std::lround(scaled(count) * toIndex)))] : m_table[0];
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
