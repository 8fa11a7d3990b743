// The plot base as an operator uses it: the checkable legend hides curves,
// the read-out follows the mouse, left drag zooms, right click steps out,
// Ctrl + right click returns to the base, the middle button pans.

#include "tests/vell/WaveformFixtures.h"
#include "vell/VellZoomer.h"
#include "vell/WaveformPlot.h"

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>
#include <qwt_legend.h>
#include <qwt_legend_label.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_zoomer.h>
#include <qwt_scale_div.h>
#include <qwt_widget_overlay.h>

#include <algorithm>

namespace {

class ReadOut : public VellZoomer {
public:
    using VellZoomer::trackerTextF;
    using VellZoomer::VellZoomer;
};

std::vector<WaveformData> ramps(std::initializer_list<int> channels)
{
    std::vector<WaveformData> list;
    for (int channel : channels) {
        std::vector<double> values(101);
        for (size_t i = 0; i < values.size(); ++i)
            values[i] = double(i) + channel;
        list.emplace_back(values, "ch" + std::to_string(channel), channel);
    }
    return list;
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
        canvas = plot.canvas();
        base = scales();
    }

    QRectF scales() const
    {
        const QwtScaleDiv& x = plot.axisScaleDiv(QwtPlot::xBottom);
        const QwtScaleDiv& y = plot.axisScaleDiv(QwtPlot::yLeft);
        return QRectF(QPointF(x.lowerBound(), y.lowerBound()), QPointF(x.upperBound(), y.upperBound()));
    }

    QwtLegendLabel* legendLabel(int key)
    {
        auto* legend = qobject_cast<QwtLegend*>(plot.legend());
        return qobject_cast<QwtLegendLabel*>(legend->legendWidget(plot.itemToInfo(plot.curve(key))));
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

    void zoomIn()
    {
        const QPoint centre = canvas->rect().center();
        drag(Qt::LeftButton, centre - QPoint(150, 100), centre + QPoint(100, 80));
    }

    CountingPlot plot;
    QWidget* canvas = nullptr;
    QRectF base;
};

TEST_F(ShownPlot, CheckingALegendEntryHidesItsCurveAndReplots)
{
    QwtLegendLabel* label = legendLabel(1);
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->isChecked() == false);
    plot.replots = 0;
    QTest::mouseClick(label, Qt::LeftButton);
    EXPECT_TRUE(label->isChecked());
    EXPECT_FALSE(plot.curve(1)->isVisible());
    EXPECT_TRUE(plot.curve(0)->isVisible());
    EXPECT_GE(plot.replots, 1);

    const int replotsAfterHiding = plot.replots;
    QTest::mouseClick(label, Qt::LeftButton);
    EXPECT_FALSE(label->isChecked());
    EXPECT_TRUE(plot.curve(1)->isVisible());
    EXPECT_GT(plot.replots, replotsAfterHiding);
}

TEST_F(ShownPlot, WithoutAutoReplotTheLegendOnlyChangesVisibility)
{
    plot.setAutoReplot(false);
    plot.replots = 0;
    QTest::mouseClick(legendLabel(0), Qt::LeftButton);
    EXPECT_FALSE(plot.curve(0)->isVisible());
    EXPECT_EQ(plot.replots, 0);
}

TEST_F(ShownPlot, LegendCheckIsLoggedAndSurvivesDetachAndReattach)
{
    static QStringList messages;
    messages.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) { messages << text; });
    QTest::mouseClick(legendLabel(1), Qt::LeftButton);
    qInstallMessageHandler(previous);
    EXPECT_TRUE(messages.contains("onLegendChecked(ch1, true)")) << messages.join("|").toStdString();

    plot.setData(ramps({0}));
    plot.setData(ramps({0, 1}));
    ASSERT_NE(legendLabel(1), nullptr);
    EXPECT_FALSE(plot.curve(1)->isVisible());
    EXPECT_TRUE(legendLabel(1)->isChecked()); // the entry tells why the curve is missing
    EXPECT_FALSE(legendLabel(0)->isChecked());
}

TEST_F(ShownPlot, LeftDragZoomsRightClickStepsOutCtrlRightClickReturnsToBase)
{
    QTest::mouseClick(canvas, Qt::RightButton, Qt::NoModifier, canvas->rect().center());
    EXPECT_EQ(scales(), base); // nothing to step out of

    zoomIn();
    ASSERT_EQ(plot.zoomer()->zoomRectIndex(), 1u);
    const QRectF first = scales();
    EXPECT_GT(first.left(), base.left());
    EXPECT_LT(first.width(), base.width());

    QTest::mouseClick(canvas, Qt::RightButton, Qt::NoModifier, canvas->rect().center());
    EXPECT_EQ(plot.zoomer()->zoomRectIndex(), 0u);
    EXPECT_EQ(scales(), base);

    zoomIn();
    zoomIn();
    zoomIn();
    ASSERT_EQ(plot.zoomer()->zoomRectIndex(), 3u);
    QTest::mouseClick(canvas, Qt::RightButton, Qt::ControlModifier, canvas->rect().center());
    EXPECT_EQ(plot.zoomer()->zoomRectIndex(), 0u);
    EXPECT_EQ(scales(), base);
}

TEST_F(ShownPlot, MiddleDragPansTheVisibleRanges)
{
    drag(Qt::MiddleButton, QPoint(400, 200), QPoint(300, 260));
    const QRectF panned = scales();
    // The content follows the mouse left and down: later samples and higher values come into view.
    EXPECT_GT(panned.left(), base.left());
    EXPECT_GT(panned.top(), base.top());
    EXPECT_NEAR(panned.width(), base.width(), 1e-9);
    EXPECT_NEAR(panned.height(), base.height(), 1e-9);
}

TEST_F(ShownPlot, ReadOutFollowsTheMouseWithoutAButton)
{
    EXPECT_EQ(plot.zoomer()->trackerMode(), QwtPicker::AlwaysOn);
    moveMouse(QPoint(200, 150), Qt::NoButton);
    QApplication::processEvents();
    EXPECT_EQ(plot.zoomer()->trackerPosition(), QPoint(200, 150));
    const QList<QwtWidgetOverlay*> overlays = canvas->findChildren<QwtWidgetOverlay*>();
    EXPECT_TRUE(std::any_of(overlays.cbegin(), overlays.cend(), [](QwtWidgetOverlay* o) { return o->isVisible(); }));
}

TEST(VellZoomer, ReadOutIsXCommaYWithSixDecimalsOnTranslucentWhite)
{
    WaveformPlot plot;
    ReadOut zoomer(plot.canvas());
    const QwtText text = zoomer.trackerTextF(QPointF(12.0, -3.5));
    EXPECT_EQ(text.text(), "12.000000, -3.500000");
    EXPECT_EQ(text.backgroundBrush().style(), Qt::SolidPattern);
    EXPECT_EQ(text.backgroundBrush().color(), QColor(255, 255, 255, 200));
}

TEST(VellPlot, ReplacingTheZoomerDeletesTheOldOneAndKeepsTheRightButtonPatterns)
{
    WaveformPlot plot;
    QPointer<QwtPlotZoomer> old = plot.zoomer();
    auto* replacement = new QwtPlotZoomer(plot.canvas());
    plot.setZoomer(replacement);
    EXPECT_TRUE(old.isNull());
    EXPECT_EQ(plot.zoomer(), replacement);
    const QVector<QwtEventPattern::MousePattern> patterns = replacement->mousePattern();
    EXPECT_EQ(patterns[QwtEventPattern::MouseSelect2].button, Qt::RightButton);
    EXPECT_EQ(patterns[QwtEventPattern::MouseSelect2].modifiers, Qt::ControlModifier);
    EXPECT_EQ(patterns[QwtEventPattern::MouseSelect3].button, Qt::RightButton);
    EXPECT_EQ(patterns[QwtEventPattern::MouseSelect3].modifiers, Qt::NoModifier);
}

} // namespace
