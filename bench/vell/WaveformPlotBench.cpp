// Draw rate of the waveform plot against a plain Qwt plot of the same look:
// setData (or setSamples) of 64 curves, replot, and a real repaint of the
// canvas, offscreen, in a 1200 x 700 widget.

#include "bench/RunBenchmarks.h"
#include "tests/vell/WaveformFixtures.h"
#include "vell/WaveformPlot.h"

#include <QApplication>
#include <QEvent>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

constexpr int Channels = 64;

// Counts paint events, to prove that every iteration really draws.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Two different events, alternated so that every draw shows new data.
struct Events {
    std::vector<WaveformData> lists[2];
    explicit Events(int samples) : lists{realisticEvent(11, samples, Channels), realisticEvent(12, samples, Channels)}
    {}
};

// Shows the plot at the measured size with the first event drawn.
template <typename Plot>
void showFirst(Plot& plot, const Events& events)
{
    plot.resize(1200, 700);
    plot.show();
    plot.setData(events.lists[0]);
    QApplication::processEvents();
}

template <typename Plot>
void runDraws(benchmark::State& state, Plot& plot)
{
    const Events events(int(state.range(0)));
    showFirst(plot, events);
    PaintCounter counter;
    plot.canvas()->installEventFilter(&counter);
    int i = 0;
    for (auto _ : state) {
        plot.setData(events.lists[++i % 2]);
        plot.canvas()->repaint();
    }
    plot.canvas()->removeEventFilter(&counter);
    if (counter.paints < i)
        state.SkipWithError("the canvas was not repainted on every iteration");
    state.SetItemsProcessed(state.iterations()); // items/s = draws per second
}

// Draws of an unchanged event while the visible x range moves, as during panning.
template <typename Plot>
void runPans(benchmark::State& state, Plot& plot)
{
    const Events events(int(state.range(0)));
    showFirst(plot, events);
    const double width = state.range(0) / 4.0;
    int i = 0;
    for (auto _ : state) {
        const double left = (i++ % 64) * width / 32.0;
        plot.setAxisScale(QwtPlot::xBottom, left, left + width);
        plot.replot();
        plot.canvas()->repaint();
    }
    state.SetItemsProcessed(state.iterations());
}

template <typename Plot>
std::unique_ptr<Plot> makePlot();

template <>
std::unique_ptr<WaveformPlot> makePlot()
{
    return std::make_unique<WaveformPlot>();
}

// The baseline: Qwt's own curves in the waveform plot's colours.
template <>
std::unique_ptr<PlainQwtPlot> makePlot()
{
    const WaveformPlot palette;
    return std::make_unique<PlainQwtPlot>(palette.curveColors());
}

// Registers one scenario (runDraws, runPans) on a new plot of the given kind.
template <typename Plot>
void addBenchmark(const char* name, void (*scenario)(benchmark::State&, Plot&))
{
    benchmark::RegisterBenchmark(name, [scenario](benchmark::State& state) { scenario(state, *makePlot<Plot>()); })
        ->Arg(1024)
        ->Arg(4096)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    addBenchmark<WaveformPlot>("BM_WaveformPlotDraw", runDraws);
    addBenchmark<PlainQwtPlot>("BM_PlainQwtPlotDraw", runDraws);
    addBenchmark<WaveformPlot>("BM_WaveformPlotPan", runPans);
    addBenchmark<PlainQwtPlot>("BM_PlainQwtPlotPan", runPans);
    return runBenchmarks<QApplication>(argc, argv);
}
