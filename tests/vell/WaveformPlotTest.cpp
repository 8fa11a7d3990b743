// What an operator relies on in the waveform plot: stable curves and colours
// from event to event, channels coming and going, the zoom base following the
// data only while not zoomed in, and at most one replot per update.

#include "vell/WaveformPlot.h"
#include "tests/vell/WaveformFixtures.h"

#include <QApplication>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <qwt_legend.h>
#include <qwt_legend_label.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_zoomer.h>
#include <qwt_scale_div.h>

namespace {

WaveformData record(int channel, double level = 0.0, int samples = 16, const std::string& name = {})
{
    std::vector<double> values(static_cast<size_t>(samples));
    for (int i = 0; i < samples; ++i)
        values[size_t(i)] = level + (i % 2);
    return WaveformData(values, name.empty() ? "ch" + std::to_string(channel) : name, channel);
}

std::vector<WaveformData> channels(std::initializer_list<int> list, double level = 0.0)
{
    std::vector<WaveformData> records;
    for (int channel : list)
        records.push_back(record(channel, level));
    return records;
}

QColor curveColor(const WaveformPlot& plot, int key)
{
    return plot.curve(key)->pen().color();
}

// Entries of removed items are hidden at once and deleted later.
int legendEntries(const WaveformPlot& plot)
{
    auto* legend = qobject_cast<const QwtLegend*>(plot.legend());
    if (!legend)
        return -1;
    const QList<QwtLegendLabel*> labels = legend->contentsWidget()->findChildren<QwtLegendLabel*>();
    return int(std::count_if(labels.cbegin(), labels.cend(), [](const QwtLegendLabel* l) { return !l->isHidden(); }));
}

QRectF visibleScales(const QwtPlot& plot)
{
    const QwtScaleDiv& x = plot.axisScaleDiv(QwtPlot::xBottom);
    const QwtScaleDiv& y = plot.axisScaleDiv(QwtPlot::yLeft);
    return QRectF(QPointF(x.lowerBound(), y.lowerBound()), QPointF(x.upperBound(), y.upperBound()));
}

TEST(WaveformPlot, CurvesAreReusedDetachedAndReattachedWithTheirColours)
{
    WaveformPlot plot;
    plot.setData(channels({0, 1, 2}));
    QwtPlotCurve* channel0 = plot.curve(0);
    QwtPlotCurve* channel1 = plot.curve(1);
    ASSERT_NE(channel0, nullptr);
    EXPECT_EQ(curveColor(plot, 0), QColor(255, 150, 0));
    EXPECT_EQ(curveColor(plot, 1), QColor(255, 0, 0));
    EXPECT_EQ(curveColor(plot, 2), QColor(255, 0, 190));
    const QPen pen = channel0->pen();
    EXPECT_EQ(pen.widthF(), 2.0);
    EXPECT_EQ(pen.style(), Qt::SolidLine);
    EXPECT_EQ(pen.capStyle(), Qt::SquareCap);
    EXPECT_EQ(pen.joinStyle(), Qt::BevelJoin);
    EXPECT_EQ(legendEntries(plot), 3);

    plot.setData(channels({1, 2}));
    EXPECT_TRUE(plot.hasCurve(0));
    EXPECT_FALSE(plot.isCurveAttached(0));
    EXPECT_EQ(plot.curve(1), channel1);
    EXPECT_TRUE(plot.isCurveAttached(1));
    EXPECT_EQ(legendEntries(plot), 2);

    plot.setData(channels({0}, 100.0));
    EXPECT_EQ(plot.curve(0), channel0);
    EXPECT_TRUE(plot.isCurveAttached(0));
    EXPECT_FALSE(plot.isCurveAttached(1));
    EXPECT_EQ(curveColor(plot, 0), QColor(255, 150, 0));
    EXPECT_EQ(channel0->sample(0).y(), 100.0);
}

TEST(WaveformPlot, ColoursRepeatEveryEightChannelsAndRepeatsGetKeysEightApart)
{
    WaveformPlot plot;
    std::vector<WaveformData> list = channels({8, 9, 15});
    list.push_back(record(3, 0.0));
    list.push_back(record(3, 50.0));
    plot.setData(list);
    EXPECT_EQ(curveColor(plot, 8), QColor(255, 150, 0));
    EXPECT_EQ(curveColor(plot, 9), QColor(255, 0, 0));
    EXPECT_EQ(curveColor(plot, 15), QColor(0, 190, 0));
    ASSERT_TRUE(plot.hasCurve(3));
    ASSERT_TRUE(plot.hasCurve(11));
    EXPECT_EQ(curveColor(plot, 3), QColor(110, 0, 190));
    EXPECT_EQ(curveColor(plot, 11), QColor(110, 0, 190));
    EXPECT_EQ(plot.curve(11)->sample(0).y(), 50.0);
}

TEST(WaveformPlot, TitlesComeFromNamesOrChannelNumbers)
{
    WaveformPlot plot;
    std::vector<WaveformData> list{record(5, 0.0, 4, "x")};
    list[0].name.clear();
    list.push_back(record(6, 0.0, 4, "2001:6 (b) \xC2\xB5"));
    plot.setData(list);
    EXPECT_EQ(plot.curve(5)->title().text(), "5");
    EXPECT_EQ(plot.curve(6)->title().text(), QString::fromUtf8("2001:6 (b) \xC2\xB5"));
}

TEST(WaveformPlot, EmptyListDetachesEverythingAndOddSamplesAreHarmless)
{
    WaveformPlot plot;
    plot.resize(600, 400);
    plot.show();
    plot.setData(channels({0, 1}));
    plot.setData({});
    EXPECT_TRUE(plot.itemList(QwtPlotItem::Rtti_PlotCurve).isEmpty());
    EXPECT_EQ(legendEntries(plot), 0);

    std::vector<WaveformData> odd{record(0), record(1, 0.0, 0)};
    odd[0].points[3].ry() = std::nan("");
    odd[0].points[5].ry() = HUGE_VAL;
    plot.setData(odd);
    plot.canvas()->repaint();
    EXPECT_TRUE(plot.isCurveAttached(1));
    EXPECT_EQ(plot.curve(1)->dataSize(), 0u);
}

TEST(WaveformPlot, OneUpdateCostsOneReplotAndKeepsAutoReplot)
{
    CountingPlot plot;
    plot.setData(channels({0, 1, 2, 3}));
    EXPECT_EQ(plot.replots, 1);
    EXPECT_TRUE(plot.autoReplot());

    plot.setAutoReplot(false);
    plot.replots = 0;
    plot.setData(channels({4, 5}));
    EXPECT_EQ(plot.replots, 1); // the zoom base asks for its own replot
    EXPECT_FALSE(plot.autoReplot());
}

TEST(WaveformPlot, ZoomBaseFollowsTheDataOnlyWhileNotZoomedIn)
{
    CountingPlot plot;
    plot.resize(800, 500);
    plot.show();
    plot.setData(channels({0}, 0.0));
    QwtPlotZoomer* zoomer = plot.zoomer();
    const QRectF firstBase = zoomer->zoomBase();
    EXPECT_LE(firstBase.top(), 0.0);
    EXPECT_GE(firstBase.bottom(), 1.0);

    zoomer->zoom(QRectF(2.0, 0.2, 4.0, 0.5));
    ASSERT_EQ(zoomer->zoomRectIndex(), 1u);
    const QRectF zoomed = visibleScales(plot);
    plot.replots = 0;
    plot.setData(channels({0}, 1000.0));
    EXPECT_EQ(plot.replots, 0);
    EXPECT_EQ(visibleScales(plot), zoomed);
    EXPECT_EQ(zoomer->zoomRectIndex(), 1u);
    EXPECT_EQ(zoomer->zoomBase(), firstBase);

    zoomer->zoom(0);
    plot.setData(channels({0}, 1000.0));
    EXPECT_EQ(zoomer->zoomRectIndex(), 0u);
    EXPECT_GE(visibleScales(plot).top(), 900.0);
    EXPECT_EQ(zoomer->zoomBase(), visibleScales(plot));
    EXPECT_TRUE(plot.axisAutoScale(QwtPlot::yLeft));
}

TEST(WaveformPlot, ClearDeletesAttachedAndDetachedCurves)
{
    WaveformPlot plot;
    plot.setData(channels({0, 1, 2}));
    plot.setData(channels({2}));
    plot.clear();
    for (int key : {0, 1, 2})
        EXPECT_FALSE(plot.hasCurve(key));
    EXPECT_TRUE(plot.itemList(QwtPlotItem::Rtti_PlotCurve).isEmpty());
    plot.setData(channels({1}));
    EXPECT_TRUE(plot.isCurveAttached(1));
}

} // namespace
