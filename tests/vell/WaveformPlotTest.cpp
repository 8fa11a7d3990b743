// What an operator relies on in the waveform plot: stable curves and colours
// from event to event, channels coming and going, the zoom base following the
// data only while not zoomed in, at most one replot per update; and the plot
// base as it is used: the checkable legend hides curves, the read-out follows
// the mouse, left drag zooms, right click steps out, Ctrl + right click
// returns to the base, the middle button pans.

#include "vell/WaveformPlot.h"
#include "tests/MessageLog.h"
#include "vell/VellZoomer.h"

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <qwt_legend.h>
#include <qwt_legend_label.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_zoomer.h>
#include <qwt_scale_div.h>
#include <qwt_widget_overlay.h>

namespace {

// Records of the channels, each a ramp from level (0..100 over 101 samples).
std::vector<WaveformData> ramps(std::initializer_list<int> channels, double level = 0.0)
{
    std::vector<WaveformData> list;
    for (int channel : channels) {
        std::vector<double> values(101);
        for (size_t i = 0; i < values.size(); ++i)
            values[i] = level + double(i);
        list.emplace_back(values, "ch" + std::to_string(channel), channel);
    }
    return list;
}

class CountingPlot : public WaveformPlot {
public:
    int replots = 0;
    void replot() override
    {
        ++replots;
        WaveformPlot::replot();
    }
    QwtLegendLabel* legendLabel(int key) const
    {
        auto* list = qobject_cast<const QwtLegend*>(legend());
        return qobject_cast<QwtLegendLabel*>(list->legendWidget(itemToInfo(curve(key))));
    }
    // Entries of removed items are hidden at once and deleted later.
    int legendEntries() const
    {
        const auto labels = qobject_cast<const QwtLegend*>(legend())->contentsWidget()->findChildren<QwtLegendLabel*>();
        return int(
            std::count_if(labels.cbegin(), labels.cend(), [](const QwtLegendLabel* l) { return !l->isHidden(); }));
    }
    QRectF scales() const
    {
        const QwtScaleDiv& x = axisScaleDiv(QwtPlot::xBottom);
        const QwtScaleDiv& y = axisScaleDiv(QwtPlot::yLeft);
        return QRectF(QPointF(x.lowerBound(), y.lowerBound()), QPointF(x.upperBound(), y.upperBound()));
    }
};

QPen pen(int r, int g, int b)
{
    return QPen(QBrush(QColor(r, g, b)), 2.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

TEST(WaveformPlot, CurvesKeepKeysColoursAndTitlesFromEventToEvent)
{
    CountingPlot plot;
    std::vector<WaveformData> list = ramps({0, 1, 2, 9, 15, 3});
    list.push_back(ramps({3}, 50.0)[0]); // a second record of channel 3
    list[0].name.clear();
    list[1].name = "2001:6 (b) \xC2\xB5";
    plot.setData(list);
    const std::pair<int, QPen> pens[] = {{0, pen(255, 150, 0)}, {1, pen(255, 0, 0)},  {2, pen(255, 0, 190)},
                                         {9, pen(255, 0, 0)},   {15, pen(0, 190, 0)}, {3, pen(110, 0, 190)},
                                         {11, pen(110, 0, 190)}}; // repeats get keys eight apart
    for (const auto& keyPen : pens)
        EXPECT_EQ(plot.curve(keyPen.first)->pen(), keyPen.second) << keyPen.first;
    EXPECT_EQ(plot.curve(11)->sample(0).y(), 50.0);
    EXPECT_EQ(plot.curve(0)->title().text(), "0");
    EXPECT_EQ(plot.curve(1)->title().text(), QString::fromUtf8("2001:6 (b) \xC2\xB5"));
    EXPECT_EQ(plot.legendEntries(), 7);

    QwtPlotCurve* channel0 = plot.curve(0);
    QwtPlotCurve* channel1 = plot.curve(1);
    plot.setData(ramps({1, 2}));
    EXPECT_TRUE(plot.hasCurve(0) && !plot.isCurveAttached(0));
    EXPECT_TRUE(plot.curve(1) == channel1 && plot.isCurveAttached(1));
    EXPECT_EQ(plot.legendEntries(), 2);
    plot.setData(ramps({0}, 100.0));
    EXPECT_TRUE(plot.curve(0) == channel0 && plot.isCurveAttached(0) && !plot.isCurveAttached(1));
    EXPECT_EQ(channel0->pen(), pen(255, 150, 0));
    EXPECT_EQ(channel0->sample(0).y(), 100.0);

    std::vector<WaveformData> odd = ramps({0, 1}); // drawn without harm
    odd[0].points[3].ry() = std::nan("");
    odd[0].points[5].ry() = HUGE_VAL;
    odd[1].points.clear();
    plot.setData(odd);
    plot.resize(600, 400);
    plot.grab();
    EXPECT_TRUE(plot.isCurveAttached(1));
    EXPECT_EQ(plot.curve(1)->dataSize(), 0u);

    plot.clear();
    EXPECT_FALSE(plot.hasCurve(0) || plot.hasCurve(1) || plot.hasCurve(2));
    EXPECT_TRUE(plot.itemList(QwtPlotItem::Rtti_PlotCurve).isEmpty());
    plot.setData(ramps({1}));
    EXPECT_TRUE(plot.isCurveAttached(1));
    plot.setData({});
    EXPECT_TRUE(plot.itemList(QwtPlotItem::Rtti_PlotCurve).isEmpty());
}

// A shown 800 x 500 plot with channels 0 and 1: x and y both about 0..100.
class ShownPlot : public ::testing::Test {
protected:
    void SetUp() override
    {
        plot.resize(800, 500);
        plot.show();
        plot.setData(ramps({0, 1}));
        QApplication::processEvents();
        base = plot.scales();
    }

    // QTest::mouseMove only moves the cursor; the picker and panner need the events.
    void moveMouse(QPoint to, Qt::MouseButtons buttons)
    {
        QMouseEvent move(QEvent::MouseMove, to, canvas->mapToGlobal(to), Qt::NoButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(canvas, &move);
    }

    void drag(Qt::MouseButton button, QPoint from, QPoint to)
    {
        QTest::mousePress(canvas, button, Qt::NoModifier, from);
        moveMouse((from + to) / 2, button);
        moveMouse(to, button);
        QTest::mouseRelease(canvas, button, Qt::NoModifier, to);
        QApplication::processEvents();
    }

    void zoomIn() { drag(Qt::LeftButton, QPoint(250, 150), QPoint(500, 330)); }
    void rightClick(Qt::KeyboardModifier modifier = Qt::NoModifier)
    {
        QTest::mouseClick(canvas, Qt::RightButton, modifier, canvas->rect().center());
    }

    CountingPlot plot;
    QWidget* canvas = plot.canvas();
    QRectF base;
};

TEST_F(ShownPlot, OneUpdateCostsOneReplotAndTheZoomBaseFollowsOnlyWhileNotZoomedIn)
{
    plot.replots = 0;
    plot.setData(ramps({0, 1, 2}));
    EXPECT_EQ(plot.replots, 1);
    EXPECT_TRUE(plot.autoReplot());
    plot.setAutoReplot(false);
    plot.replots = 0;
    plot.setData(ramps({4, 5}));
    EXPECT_EQ(plot.replots, 1); // the zoom base asks for its own replot
    EXPECT_FALSE(plot.autoReplot());
    plot.setAutoReplot(true);

    QwtPlotZoomer* zoomer = plot.zoomer();
    const QRectF firstBase = zoomer->zoomBase();
    zoomer->zoom(QRectF(2.0, 20, 4.0, 50));
    const QRectF zoomed = plot.scales();
    plot.replots = 0;
    plot.setData(ramps({0}, 1000.0));
    EXPECT_EQ(plot.replots, 0);
    EXPECT_EQ(plot.scales(), zoomed);
    EXPECT_EQ(zoomer->zoomRectIndex(), 1u);
    EXPECT_EQ(zoomer->zoomBase(), firstBase);

    zoomer->zoom(0);
    plot.setData(ramps({0}, 1000.0));
    EXPECT_EQ(zoomer->zoomRectIndex(), 0u);
    EXPECT_GE(plot.scales().top(), 900.0);
    EXPECT_EQ(zoomer->zoomBase(), plot.scales());
}

TEST_F(ShownPlot, CheckedLegendEntryHidesItsCurveAcrossDetachAndReattach)
{
    MessageLog capture;
    plot.replots = 0;
    QTest::mouseClick(plot.legendLabel(1), Qt::LeftButton);
    EXPECT_TRUE(plot.legendLabel(1)->isChecked());
    EXPECT_FALSE(plot.curve(1)->isVisible());
    EXPECT_TRUE(plot.curve(0)->isVisible());
    EXPECT_GE(plot.replots, 1);
    EXPECT_TRUE(capture.contains("onLegendChecked(ch1, true)")) << capture.texts().join('|').toStdString();

    plot.setData(ramps({0}));
    plot.setData(ramps({0, 1}));
    EXPECT_FALSE(plot.curve(1)->isVisible());
    EXPECT_TRUE(plot.legendLabel(1)->isChecked()); // the entry tells why the curve is missing
    EXPECT_FALSE(plot.legendLabel(0)->isChecked());

    const int replots = plot.replots;
    QTest::mouseClick(plot.legendLabel(1), Qt::LeftButton);
    EXPECT_TRUE(plot.curve(1)->isVisible());
    EXPECT_GT(plot.replots, replots);

    plot.setAutoReplot(false);
    plot.replots = 0;
    QTest::mouseClick(plot.legendLabel(0), Qt::LeftButton);
    EXPECT_FALSE(plot.curve(0)->isVisible());
    EXPECT_EQ(plot.replots, 0);
}

TEST_F(ShownPlot, LeftDragZoomsRightClickStepsOutCtrlRightClickReturnsToBaseMiddleDragPans)
{
    rightClick();
    EXPECT_EQ(plot.scales(), base); // nothing to step out of
    zoomIn();
    ASSERT_EQ(plot.zoomer()->zoomRectIndex(), 1u);
    EXPECT_GT(plot.scales().left(), base.left());
    EXPECT_LT(plot.scales().width(), base.width());
    rightClick();
    EXPECT_EQ(plot.zoomer()->zoomRectIndex(), 0u);
    EXPECT_EQ(plot.scales(), base);
    zoomIn();
    zoomIn();
    zoomIn();
    ASSERT_EQ(plot.zoomer()->zoomRectIndex(), 3u);
    rightClick(Qt::ControlModifier);
    EXPECT_EQ(plot.zoomer()->zoomRectIndex(), 0u);
    EXPECT_EQ(plot.scales(), base);

    drag(Qt::MiddleButton, QPoint(400, 200), QPoint(300, 260));
    // The content follows the mouse left and down: later samples and higher values come into view.
    EXPECT_GT(plot.scales().left(), base.left());
    EXPECT_GT(plot.scales().top(), base.top());
    EXPECT_NEAR(plot.scales().width(), base.width(), 1e-9);
    EXPECT_NEAR(plot.scales().height(), base.height(), 1e-9);
}

class ReadOut : public VellZoomer {
public:
    using VellZoomer::trackerTextF;
    using VellZoomer::VellZoomer;
};

TEST_F(ShownPlot, ReadOutFollowsTheMouseAsXCommaYOnTranslucentWhite)
{
    moveMouse(QPoint(200, 150), Qt::NoButton);
    QApplication::processEvents();
    EXPECT_EQ(plot.zoomer()->trackerPosition(), QPoint(200, 150));
    const QList<QwtWidgetOverlay*> overlays = canvas->findChildren<QwtWidgetOverlay*>();
    EXPECT_TRUE(std::any_of(overlays.cbegin(), overlays.cend(), [](QwtWidgetOverlay* o) { return o->isVisible(); }));

    const QwtText text = ReadOut(canvas).trackerTextF(QPointF(12.0, -3.5));
    EXPECT_EQ(text.text(), "12.000000, -3.500000");
    EXPECT_EQ(text.backgroundBrush(), QBrush(QColor(255, 255, 255, 200)));
}

} // namespace
