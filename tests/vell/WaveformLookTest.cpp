// The waveform plot's fast curve drawing must look like Qwt's own drawing of
// the same width-2 curves. Qwt hands a long polyline to Qt in pieces whose
// square caps stick out at every sixth point; against Qwt drawing unbroken
// lines the pictures are the same pixel for pixel.

#include "tests/vell/WaveformFixtures.h"

#include <QApplication>
#include <QDir>
#include <gtest/gtest.h>
#include <qwt_painter.h>

namespace {

QImage canvasImage(QwtPlot& plot)
{
    plot.replot();
    return plot.canvas()->grab().toImage();
}

// Whether a pixel of the colour lies within one pixel of the point.
bool drawnNear(const QImage& image, QPointF point, const QColor& color)
{
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            if (image.pixelColor(qRound(point.x()) + dx, qRound(point.y()) + dy) == color)
                return true;
    return false;
}

// A realistic 64-channel event with a one-sample spike, drawn by the waveform
// plot and by a plain Qwt plot of the same size and layout.
TEST(WaveformLook, SixtyFourChannelsWithASpikeLookLikeQwt)
{
    std::vector<WaveformData> event = realisticEvent(21, 4096);
    QPointF& spike = event[63].points[1365]; // the last curve drawn: nothing covers it
    spike.ry() += 2500.0;
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

    const QPointF tip(plot.canvasMap(QwtPlot::xBottom).transform(spike.x()),
                      plot.canvasMap(QwtPlot::yLeft).transform(spike.y()));
    EXPECT_TRUE(drawnNear(fast, tip, plot.curveColors()[event[63].channel % 8])) << "the spike is cut short";
    // The picture of the documentation, written to the build folder.
    EXPECT_TRUE(plot.grab().save(qEnvironmentVariable("RAVEL_BINARY_DIR", QDir::tempPath()) + "/waveform-plot.png"));
}

} // namespace
