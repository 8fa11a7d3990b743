// The waveform plot's fast curve drawing must look like Qwt's own drawing of
// the same width-2 curves: same colours, same pixels within one, every peak,
// trough and one-sample spike in place.
//
// Qwt hands a long polyline to Qt in pieces of six segments, whose square caps
// stick out by up to one pixel at every sixth point; the fast drawing follows
// the unbroken line. Against Qwt drawing unbroken lines the pictures are the
// same pixel for pixel; against Qwt's default they agree within the caps.

#include "tests/vell/ImageCompare.h"
#include "tests/vell/WaveformFixtures.h"
#include "vell/VellCurve.h"
#include "vell/WaveformPlot.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <gtest/gtest.h>
#include <qwt_painter.h>
#include <qwt_plot_canvas.h>
#include <qwt_scale_map.h>

namespace {

const QColor CurveColor(110, 0, 190);
const QPen CurvePen(QBrush(CurveColor), 2.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);

struct View {
    double xMin, xMax, yMin, yMax;
};

QString outputPath(const QString& name)
{
    return qEnvironmentVariable("RAVEL_BINARY_DIR", QDir::tempPath()) + "/" + name;
}

// Draws one curve as the plot canvas would, on a 1100 x 650 image.
QImage drawCurve(QwtPlotCurve& curve, const std::vector<double>& ys, const View& view)
{
    QVector<double> xs(int(ys.size()));
    for (int i = 0; i < xs.size(); ++i)
        xs[i] = i;
    curve.setSamples(xs, QVector<double>(ys.cbegin(), ys.cend()));
    curve.setPen(CurvePen);
    QImage image(1100, 650, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QwtScaleMap xMap, yMap;
    xMap.setPaintInterval(0, image.width());
    xMap.setScaleInterval(view.xMin, view.xMax);
    yMap.setPaintInterval(image.height(), 0);
    yMap.setScaleInterval(view.yMin, view.yMax);
    QPainter painter(&image);
    curve.draw(&painter, xMap, yMap, QRectF(image.rect()));
    return image;
}

struct Drawings {
    QImage fast;
    QImage plain;
};

Drawings drawBoth(const std::vector<double>& ys, const View& view)
{
    VellCurve fast;
    QwtPlotCurve plain;
    return {drawCurve(fast, ys, view), drawCurve(plain, ys, view)};
}

std::vector<double> noisyBaseline(int n, unsigned seed, double amplitude)
{
    std::vector<double> ys(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        ys[size_t(i)] = amplitude * (double((seed >> 16) & 0x7fff) / 32767.0 - 0.5);
    }
    return ys;
}

// How closely a drawing must follow Qwt's. Where the line moves by less than a
// few pixels per column, tops and bottoms agree within one pixel (the caps of
// Qwt's pieces). Lines that jump hundreds of pixels between neighbouring
// samples may end up to three pixels apart in a few columns: a cap, or a steep
// edge passing a pixel centre by a hair, moves a steep line's end there.
enum Tolerance { Gentle, Steep };

void expectSameLook(const std::vector<ColumnExtent>& fast, const std::vector<ColumnExtent>& plain, Tolerance tolerance,
                    const std::string& what)
{
    const ExtentDifference diff = compareExtents(fast, plain);
    EXPECT_GT(diff.columns, 0) << what;
    EXPECT_EQ(diff.missing, 0) << what;
    if (tolerance == Gentle) {
        EXPECT_LE(diff.worst, 1) << what;
    } else {
        EXPECT_LE(diff.worst, 3) << what;
        EXPECT_LE(diff.beyondOnePixel, diff.columns / 20) << what;
    }
}

// A vertex at pixel (x, y) is drawn in the columns x - 1 and x; the tip of a
// one-sample spike must reach its row there, upwards or downwards.
enum Tip { Up, Down };

bool reaches(const std::vector<ColumnExtent>& extents, double x, double y, Tip tip)
{
    const int column = qRound(x);
    const int row = qRound(y);
    for (int c : {column - 1, column}) {
        if (c < 0 || size_t(c) >= extents.size() || extents[size_t(c)].isEmpty())
            continue;
        if (tip == Up ? extents[size_t(c)].top <= row + 1 : extents[size_t(c)].bottom >= row - 1)
            return true;
    }
    return false;
}

void expectSameLook(const Drawings& d, Tolerance tolerance, const std::string& what)
{
    expectSameLook(columnExtents(d.fast, CurveColor), columnExtents(d.plain, CurveColor), tolerance, what);
}

TEST(WaveformLook, OneSampleSpikeSurvivesAtFourSamplesPerPixel)
{
    std::vector<double> ys = noisyBaseline(4096, 7, 6.0);
    ys[1234] = 400.0;
    ys[3000] = -300.0;
    const Drawings d = drawBoth(ys, {0, 4095, -500, 500});
    expectSameLook(d, Gentle, "spike");
    const std::vector<ColumnExtent> extents = columnExtents(d.fast, CurveColor);
    const double pixelsPerSample = 1100.0 / 4095.0;
    EXPECT_TRUE(reaches(extents, 1234 * pixelsPerSample, 650.0 * (1.0 - 900.0 / 1000.0), Up));
    EXPECT_TRUE(reaches(extents, 3000 * pixelsPerSample, 650.0 * (1.0 - 200.0 / 1000.0), Down));
}

TEST(WaveformLook, ZoomedInLinesAndSteepNoiseLookTheSame)
{
    const std::vector<double> ys = noisyBaseline(4096, 3, 200.0);
    expectSameLook(drawBoth(ys, {1000, 1040, -150, 150}), Gentle, "zoomed");
    expectSameLook(drawBoth(ys, {1000.5, 1003.7, -150, 150}), Gentle, "zoomed far");
    expectSameLook(drawBoth(ys, {0, 1023, -100, 100}), Steep, "steep noise");
    expectSameLook(drawBoth(ys, {0, 4095, -100, 100}), Steep, "dense steep noise");
    expectSameLook(drawBoth(ys, {-300, 9000, -130, 130}), Gentle, "zoomed out");
    expectSameLook(drawBoth(ys, {4095, 0, -100, 100}), Steep, "inverted x");
}

// Shows only the curve of index, or every curve when index is negative.
void showOnly(const QwtPlotItemList& curves, int index)
{
    for (int i = 0; i < curves.size(); ++i)
        curves[i]->setVisible(index < 0 || i == index);
}

QImage canvasImage(QwtPlot& plot)
{
    plot.replot();
    return plot.canvas()->grab().toImage();
}

// A realistic 64-channel event with a one-sample spike, drawn by the waveform
// plot and by a plain Qwt plot of the same size and layout.
class SixtyFourChannels : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        event = realisticEvent(21, samples());
        spikeY = event[SpikeChannel].points[size_t(spikeX())].ry() += 2500.0;
        for (QwtPlot* p : {static_cast<QwtPlot*>(&plot), static_cast<QwtPlot*>(&plain)}) {
            p->resize(1200, 700);
            p->show();
        }
        plot.setData(event);
        plain.setData(event);
        QApplication::processEvents();
        ASSERT_EQ(plot.canvas()->geometry(), plain.canvas()->geometry());
    }

    void TearDown() override { QwtPainter::setPolylineSplitting(true); }

    int samples() const { return GetParam(); }
    double spikeX() const { return samples() / 3; }

    static constexpr int SpikeChannel = 40;
    std::vector<WaveformData> event;
    double spikeY = 0;
    WaveformPlot plot;
    PlainQwtPlot plain{plot.curveColors()};
};

TEST_P(SixtyFourChannels, IsPixelForPixelQwtsDrawingOfUnbrokenLines)
{
    QwtPainter::setPolylineSplitting(false);
    const QImage fast = canvasImage(plot);
    const QImage reference = canvasImage(plain);
    int differing = 0;
    for (int y = 0; y < fast.height(); ++y) {
        for (int x = 0; x < fast.width(); ++x)
            differing += fast.pixel(x, y) != reference.pixel(x, y) ? 1 : 0;
    }
    EXPECT_LE(differing, fast.width() * fast.height() / 10000);
}

// Each curve alone, so that no other curve covers its peaks and troughs.
TEST_P(SixtyFourChannels, EveryCurveKeepsItsPeaksTroughsAndSpike)
{
    const QwtPlotItemList fastCurves = plot.itemList(QwtPlotItem::Rtti_PlotCurve);
    const QwtPlotItemList plainCurves = plain.itemList(QwtPlotItem::Rtti_PlotCurve);
    ASSERT_EQ(fastCurves.size(), 64);
    ASSERT_EQ(plainCurves.size(), 64);
    for (int i = 0; i < fastCurves.size(); ++i) {
        showOnly(fastCurves, i);
        showOnly(plainCurves, i);
        const QColor color = plot.curveColors()[event[size_t(i)].channel % 8];
        const std::vector<ColumnExtent> fastExtents = columnExtents(canvasImage(plot), color);
        // Auto-scaled to one channel's noise, neighbouring samples lie hundreds of pixels apart.
        expectSameLook(fastExtents, columnExtents(canvasImage(plain), color), Steep, "channel " + std::to_string(i));
        if (i == SpikeChannel) {
            const double x = plot.canvasMap(QwtPlot::xBottom).transform(spikeX());
            const double y = plot.canvasMap(QwtPlot::yLeft).transform(spikeY);
            EXPECT_TRUE(reaches(fastExtents, x, y, Up)) << "the spike is cut short";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(WaveformLook, SixtyFourChannels, ::testing::Values(1024, 4096));

// The picture of the documentation: one generated event, all eight colours on
// screen, the legend listing the channels. Written to the build folder.
TEST(WaveformLook, RealisticEventShowsEveryColour)
{
    WaveformPlot plot;
    plot.resize(1200, 700);
    plot.show();
    plot.setData(realisticEvent(3, 1024));
    QApplication::processEvents();
    const QImage canvas = canvasImage(plot);
    for (const QColor& color : plot.curveColors()) {
        const std::vector<ColumnExtent> extents = columnExtents(canvas, color);
        EXPECT_TRUE(std::any_of(extents.cbegin(), extents.cend(), [](const ColumnExtent& e) { return !e.isEmpty(); }))
            << color.name().toStdString();
    }
    EXPECT_TRUE(plot.grab().save(outputPath("waveform-plot.png")));
}

} // namespace
