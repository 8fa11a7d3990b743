// The waveform plot's fast curve drawing must look like Qwt's own drawing of
// the same width-2 curves: same colours, same pixels within one, every peak,
// trough and one-sample spike in place.
//
// Qwt hands a long polyline to Qt in pieces of six segments, whose square caps
// stick out by up to one pixel at every sixth point; the fast drawing follows
// the unbroken line. Against Qwt drawing unbroken lines the pictures are the
// same pixel for pixel; against Qwt's default they agree within the caps.

#include "tests/vell/WaveformFixtures.h"
#include "vell/VellCurve.h"
#include "vell/WaveformPlot.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numeric>
#include <qwt_painter.h>
#include <qwt_scale_map.h>

namespace {

const QColor CurveColor(110, 0, 190);

// For one colour, the topmost and bottommost pixel row of every pixel column
// (-1: none). Drawings that agree here show the same peaks and troughs.
struct Extent {
    int top = -1, bottom = -1;
};
using Extents = std::vector<Extent>;

Extents columnExtents(const QImage& image, const QColor& color)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    Extents extents(size_t(argb.width()));
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            if ((argb.pixel(x, y) | 0xff000000u) == color.rgb())
                extents[size_t(x)] = {extents[size_t(x)].top < 0 ? y : extents[size_t(x)].top, y};
    return extents;
}

// How closely a drawing must follow Qwt's. Where the line moves by less than a
// few pixels per column, tops and bottoms agree within one pixel (the caps of
// Qwt's pieces). Lines that jump hundreds of pixels between neighbouring
// samples may end up to three pixels apart in a few columns: a cap, or a steep
// edge passing a pixel centre by a hair, moves a steep line's end there.
enum Tolerance { Gentle, Steep };

void expectSameLook(const Extents& fast, const Extents& plain, Tolerance tolerance, const std::string& what)
{
    int columns = 0, worst = 0, beyondOnePixel = 0, missing = 0;
    for (size_t x = 0; x < fast.size(); ++x) {
        if (fast[x].top < 0 && plain[x].top < 0)
            continue;
        ++columns;
        if ((fast[x].top < 0) != (plain[x].top < 0)) {
            ++missing;
            continue;
        }
        const int diff = std::max(std::abs(fast[x].top - plain[x].top), std::abs(fast[x].bottom - plain[x].bottom));
        worst = std::max(worst, diff);
        beyondOnePixel += diff > 1 ? 1 : 0;
    }
    EXPECT_GT(columns, 0) << what;
    EXPECT_EQ(missing, 0) << what;
    EXPECT_LE(worst, tolerance == Gentle ? 1 : 3) << what;
    EXPECT_LE(beyondOnePixel, tolerance == Gentle ? 0 : columns / 20) << what;
}

// A vertex at pixel (x, y) is drawn in the columns x - 1 and x; the tip of a
// one-sample spike must reach its row there, upwards (up) or downwards.
bool reaches(const Extents& extents, double x, double y, bool up)
{
    const int row = qRound(y);
    for (int c : {qRound(x) - 1, qRound(x)})
        if (c >= 0 && size_t(c) < extents.size() && extents[size_t(c)].top >= 0
            && (up ? extents[size_t(c)].top <= row + 1 : extents[size_t(c)].bottom >= row - 1))
            return true;
    return false;
}

// One curve as the plot canvas would draw it on a 1100 x 650 image, seen
// from x0..x1, y0..y1.
Extents draw(QwtPlotCurve&& curve, const std::vector<double>& ys, double x0, double x1, double y0, double y1)
{
    QVector<double> xs(int(ys.size()));
    std::iota(xs.begin(), xs.end(), 0.0);
    curve.setSamples(xs, QVector<double>(ys.cbegin(), ys.cend()));
    curve.setPen(QPen(QBrush(CurveColor), 2.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    QImage image(1100, 650, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QwtScaleMap xMap, yMap;
    xMap.setPaintInterval(0, image.width());
    xMap.setScaleInterval(x0, x1);
    yMap.setPaintInterval(image.height(), 0);
    yMap.setScaleInterval(y0, y1);
    QPainter painter(&image);
    curve.draw(&painter, xMap, yMap, QRectF(image.rect()));
    return columnExtents(image, CurveColor);
}

std::vector<double> noise(unsigned seed, double amplitude)
{
    std::vector<double> ys(4096);
    for (double& y : ys) {
        seed = seed * 1103515245u + 12345u;
        y = amplitude * (double((seed >> 16) & 0x7fff) / 32767.0 - 0.5);
    }
    return ys;
}

TEST(WaveformLook, SpikesZoomsAndSteepNoiseLookLikeQwt)
{
    std::vector<double> ys = noise(7, 6.0);
    ys[1234] = 400.0;
    ys[3000] = -300.0;
    const Extents spikes = draw(VellCurve(), ys, 0, 4095, -500, 500); // four samples per pixel
    expectSameLook(spikes, draw(QwtPlotCurve(), ys, 0, 4095, -500, 500), Gentle, "spikes");
    EXPECT_TRUE(reaches(spikes, 1234 * 1100.0 / 4095, 650.0 * 0.1, true));
    EXPECT_TRUE(reaches(spikes, 3000 * 1100.0 / 4095, 650.0 * 0.8, false));

    const struct {
        const char* what;
        double x0, x1, y;
        Tolerance tolerance;
    } views[] = {{"zoomed", 1000, 1040, 150, Gentle},     {"zoomed far", 1000.5, 1003.7, 150, Gentle},
                 {"steep", 0, 1023, 100, Steep},          {"dense steep", 0, 4095, 100, Steep},
                 {"zoomed out", -300, 9000, 130, Gentle}, {"inverted x", 4095, 0, 100, Steep}};
    const std::vector<double> steep = noise(3, 200.0);
    for (const auto& v : views)
        expectSameLook(draw(VellCurve(), steep, v.x0, v.x1, -v.y, v.y),
                       draw(QwtPlotCurve(), steep, v.x0, v.x1, -v.y, v.y), v.tolerance, v.what);
}

QImage canvasImage(QwtPlot& plot)
{
    plot.replot();
    return plot.canvas()->grab().toImage();
}

// A realistic 64-channel event with a one-sample spike, drawn by the waveform
// plot and by a plain Qwt plot of the same size and layout: pixel for pixel
// Qwt's drawing of unbroken lines, and each curve alone (so that no other
// covers its peaks and troughs) within the caps of Qwt's pieces.
TEST(WaveformLook, SixtyFourChannelsLookLikeQwt)
{
    for (int samples : {1024, 4096}) {
        SCOPED_TRACE(samples);
        std::vector<WaveformData> event = realisticEvent(21, samples);
        const double spikeX = samples / 3, spikeY = event[40].points[size_t(spikeX)].ry() += 2500.0;
        WaveformPlot plot;
        PlainQwtPlot plain(plot.curveColors());
        for (QwtPlot* p : {static_cast<QwtPlot*>(&plot), static_cast<QwtPlot*>(&plain)}) {
            p->resize(1200, 700);
            p->show();
        }
        plot.setData(event);
        plain.setData(event);
        QApplication::processEvents();
        ASSERT_EQ(plot.canvas()->geometry(), plain.canvas()->geometry());

        QwtPainter::setPolylineSplitting(false);
        const QImage fast = canvasImage(plot), reference = canvasImage(plain);
        QwtPainter::setPolylineSplitting(true);
        int differing = 0;
        for (int y = 0; y < fast.height(); ++y)
            for (int x = 0; x < fast.width(); ++x)
                differing += fast.pixel(x, y) != reference.pixel(x, y) ? 1 : 0;
        EXPECT_LE(differing, fast.width() * fast.height() / 10000);

        const QwtPlotItemList fastCurves = plot.itemList(QwtPlotItem::Rtti_PlotCurve);
        const QwtPlotItemList plainCurves = plain.itemList(QwtPlotItem::Rtti_PlotCurve);
        ASSERT_EQ(fastCurves.size(), 64);
        ASSERT_EQ(plainCurves.size(), 64);
        for (int i = 0; i < fastCurves.size(); ++i) {
            for (int j = 0; j < fastCurves.size(); ++j) {
                fastCurves[j]->setVisible(i == j);
                plainCurves[j]->setVisible(i == j);
            }
            const QColor color = plot.curveColors()[event[size_t(i)].channel % 8];
            const Extents fastExtents = columnExtents(canvasImage(plot), color);
            // Auto-scaled to one channel's noise, neighbouring samples lie hundreds of pixels apart.
            expectSameLook(fastExtents, columnExtents(canvasImage(plain), color), Steep,
                           "channel " + std::to_string(i));
            if (i == 40) {
                EXPECT_TRUE(reaches(fastExtents, plot.canvasMap(QwtPlot::xBottom).transform(spikeX),
                                    plot.canvasMap(QwtPlot::yLeft).transform(spikeY), true))
                    << "the spike is cut short";
            }
        }
    }
}

// The picture of the documentation: one generated event, all eight colours on
// screen, the legend listing the channels. Written to the build folder.
TEST(WaveformLook, PictureOfTheDocumentation)
{
    WaveformPlot plot;
    plot.resize(1200, 700);
    plot.show();
    plot.setData(realisticEvent(3, 1024));
    QApplication::processEvents();
    EXPECT_TRUE(plot.grab().save(qEnvironmentVariable("RAVEL_BINARY_DIR", QDir::tempPath()) + "/waveform-plot.png"));
}

} // namespace
