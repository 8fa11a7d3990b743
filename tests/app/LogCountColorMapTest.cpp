// The colour bar's rounded largest count, and cells coloured as the bar
// shows the same count.

#include "app/LogCountColorMap.h"

#include <QColor>
#include <gtest/gtest.h>

TEST(LogCountColorMapTest, BarMaximumAndCellColoursMatchTheBar)
{
    const struct {
        double largest;
        double bar;
    } maxima[] = {{0, 1}, {1, 1}, {1.5, 2}, {3, 5}, {10, 10}, {11, 20}, {20, 20}, {21, 50}, {999, 1000}, {4321, 5000}};
    for (const auto& m : maxima)
        EXPECT_EQ(LogCountColorMap::barMaximum(m.largest), m.bar) << m.largest;

    const LogCountColorMap colors;
    const double maxCount = 5000;
    const QVector<double> counts{0, 1, 2, 17, 300, 4999, 5000};
    QVector<QRgb> cells(counts.size());
    colors.colorCells(counts, maxCount, cells.data());
    for (int i = 0; i < counts.size(); ++i) {
        SCOPED_TRACE(counts[i]);
        const QColor bar = colors.rgb(QwtInterval(0, maxCount), counts[i]);
        const QColor cell = cells[i];
        // within one step of a 256-colour table
        EXPECT_NEAR(cell.red(), bar.red(), 4);
        EXPECT_NEAR(cell.green(), bar.green(), 4);
        EXPECT_NEAR(cell.blue(), bar.blue(), 4);
    }
    EXPECT_EQ(QColor(cells[0]), QColor(Qt::white));
}
