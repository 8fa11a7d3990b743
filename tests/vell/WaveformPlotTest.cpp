// What an operator relies on in the waveform plot: stable curves and colours
// from event to event, the zoom base following the data only while not zoomed
// in, at most one replot per update; the checkable legend, the zoomer, the
// panner and the read-out of the plot base.

#include "vell/WaveformPlot.h"
#include "tests/MessageLog.h"
#include "vell/VellZoomer.h"

#include <QApplication>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <qwt_legend.h>
#include <qwt_legend_label.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_zoomer.h>
#include <qwt_scale_div.h>

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
    QRectF scales() const
    {
        const QwtScaleDiv& x = axisScaleDiv(QwtPlot::xBottom);
        const QwtScaleDiv& y = axisScaleDiv(QwtPlot::yLeft);
        return QRectF(QPointF(x.lowerBound(), y.lowerBound()), QPointF(x.upperBound(), y.upperBound()));
    }
};

TEST(WaveformPlot, CurvesKeepKeysColoursAndTitlesFromEventToEvent)
{
    CountingPlot plot;
    std::vector<WaveformData> list = ramps({0, 1, 9, 3});
    list.push_back(ramps({3}, 50.0)[0]); // a second record of channel 3
    list[0].name.clear();
    plot.setData(list);
    EXPECT_EQ(plot.curve(0)->pen().color(), QColor(255, 150, 0));
    EXPECT_EQ(plot.curve(9)->pen().color(), QColor(255, 0, 0));
    EXPECT_EQ(plot.curve(11)->pen().color(), QColor(110, 0, 190)) << "repeats get keys eight apart";
    EXPECT_EQ(plot.curve(11)->sample(0).y(), 50.0);
    EXPECT_EQ(plot.curve(0)->title().text(), "0");

    QwtPlotCurve* channel0 = plot.curve(0);
    plot.setData(ramps({1}));
    EXPECT_FALSE(plot.isCurveAttached(0));
    plot.setData(ramps({0}, 100.0));
    EXPECT_TRUE(plot.curve(0) == channel0 && plot.isCurveAttached(0) && !plot.isCurveAttached(1));
    EXPECT_EQ(channel0->sample(0).y(), 100.0);

    std::vector<WaveformData> odd = ramps({0, 1}); // drawn without harm
    odd[0].points[3].ry() = std::nan("");
    odd[0].points[5].ry() = HUGE_VAL;
    odd[1].points.clear();
    plot.setData(odd);
    plot.resize(600, 400);
    plot.grab();
    plot.clear();
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
    void drag(Qt::MouseButton button, QPoint from, QPoint to)
    {
        QTest::mousePress(canvas, button, Qt::NoModifier, from);
        for (QPoint at : {(from + to) / 2, to}) {
            QMouseEvent move(QEvent::MouseMove, at, canvas->mapToGlobal(at), Qt::NoButton, button, Qt::NoModifier);
            QApplication::sendEvent(canvas, &move);
        }
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

    QwtPlotZoomer* zoomer = plot.zoomer();
    zoomer->zoom(QRectF(2.0, 20, 4.0, 50));
    const QRectF zoomed = plot.scales();
    plot.replots = 0;
    plot.setData(ramps({0}, 1000.0));
    EXPECT_EQ(plot.replots, 0);
    EXPECT_EQ(plot.scales(), zoomed);

    zoomer->zoom(0);
    plot.setData(ramps({0}, 1000.0));
    EXPECT_GE(plot.scales().top(), 900.0);
    EXPECT_EQ(zoomer->zoomBase(), plot.scales());
}

TEST_F(ShownPlot, CheckedLegendEntryHidesItsCurveAcrossDetachAndReattach)
{
    MessageLog capture;
    QTest::mouseClick(plot.legendLabel(1), Qt::LeftButton);
    EXPECT_FALSE(plot.curve(1)->isVisible());
    EXPECT_TRUE(capture.contains("onLegendChecked(ch1, true)")) << capture.texts().join('|').toStdString();
    plot.setData(ramps({0}));
    plot.setData(ramps({0, 1}));
    EXPECT_FALSE(plot.curve(1)->isVisible());
    EXPECT_TRUE(plot.legendLabel(1)->isChecked()); // the entry tells why the curve is missing
    QTest::mouseClick(plot.legendLabel(1), Qt::LeftButton);
    EXPECT_TRUE(plot.curve(1)->isVisible());
}

class ReadOut : public VellZoomer {
public:
    using VellZoomer::trackerTextF;
    using VellZoomer::VellZoomer;
};

TEST_F(ShownPlot, LeftDragZoomsRightClickStepsOutCtrlRightClickReturnsToBaseMiddleDragPansAndHoldsReadOutShowsXY)
{
    zoomIn();
    EXPECT_LT(plot.scales().width(), base.width());
    rightClick();
    EXPECT_EQ(plot.scales(), base);
    zoomIn();
    zoomIn();
    rightClick(Qt::ControlModifier);
    EXPECT_EQ(plot.scales(), base);

    drag(Qt::MiddleButton, QPoint(400, 200), QPoint(300, 260));
    // The content follows the mouse left and down: later samples and higher values come into view.
    EXPECT_GT(plot.scales().left(), base.left());
    EXPECT_GT(plot.scales().top(), base.top());
    EXPECT_NEAR(plot.scales().width(), base.width(), 1e-9);
    // A pan holds the view against new data until stepped out of.
    const QRectF panned = plot.scales();
    plot.setData(ramps({0}, 1000.0));
    EXPECT_EQ(plot.scales(), panned);
    rightClick();
    EXPECT_EQ(plot.scales(), base);
    plot.setData(ramps({0}, 1000.0));
    EXPECT_GE(plot.scales().top(), 900.0);

    const QwtText text = ReadOut(canvas).trackerTextF(QPointF(12.0, -3.5));
    EXPECT_EQ(text.text(), "12.000000, -3.500000");
    EXPECT_EQ(text.backgroundBrush(), QBrush(QColor(255, 255, 255, 200)));
}

} // namespace
