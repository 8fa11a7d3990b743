// What the histogram tab costs the GUI thread at 10,000 boards per second
// (64 channels each): filling one second's records, and one refresh of each
// histogram type (new data, then the redraw, offscreen, 1200 x 700) after
// such a second. The records are a real analyzer's output for generated
// events, repeated to 10 records of 1000 boards. Baseline in the same run:
// the refresh of the same type with no records at all (frame, axes, title).

#include "app/HistMngrWidget.h"
#include "bench/RunBenchmarks.h"
#include "datapath/ADCAnalyzer.h"
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"

#include <QApplication>
#include <QComboBox>
#include <QSemaphore>
#include <benchmark/benchmark.h>

namespace {

constexpr int BoardsPerSecond = 10000;

// One second of records at BoardsPerSecond, in parts of the analyzer's size.
const QVector<DeviceData>& oneSecond()
{
    static const QVector<DeviceData> records = [] {
        SampleGenerator::Options options;
        options.samples = 256;
        SampleGenerator generator(options);
        QByteArray stream;
        for (int i = 0; i < 100; ++i)
            EventEncoder::appendEvent(stream, generator.nextEvent());
        QSemaphore source(1);
        QSemaphore writer(1);
        ADCAnalyzer analyzer(&source, &writer);
        QVector<DeviceEvent> decoded;
        QObject::connect(&analyzer, &ADCAnalyzer::deviceDataUpdated,
                         [&decoded](const DeviceData& d) { decoded += d.events; });
        analyzer.dataAccuired(stream);
        QVector<DeviceData> parts(BoardsPerSecond / ADCAnalyzer::HistoryLimit);
        for (int i = 0; i < BoardsPerSecond; ++i)
            parts[i / ADCAnalyzer::HistoryLimit].events.append(decoded[i % decoded.size()]);
        return parts;
    }();
    return records;
}

void fillOneSecond(HistMngrWidget& widget)
{
    for (const DeviceData& part : oneSecond())
        widget.dataUpdated(part);
}

void refresh(HistMngrWidget& widget)
{
    QMetaObject::invokeMethod(&widget, "refreshCurrentPlot", Q_ARG(bool, true));
    QApplication::processEvents(); // the repaint
}

void BM_FillOneSecond(benchmark::State& state)
{
    HistMngrWidget widget;
    for (auto _ : state)
        fillOneSecond(widget);
    state.counters["boards/s"] =
        benchmark::Counter(double(state.iterations()) * BoardsPerSecond, benchmark::Counter::kIsRate);
}

void BM_Refresh(benchmark::State& state)
{
    HistMngrWidget widget;
    widget.resize(1200, 700);
    widget.show();
    auto* types = widget.findChild<QComboBox*>("comboBoxType");
    types->setCurrentIndex(int(state.range(0)));
    const bool withData = state.range(1) != 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (withData)
            fillOneSecond(widget);
        state.ResumeTiming();
        refresh(widget);
    }
    state.SetLabel(types->currentText().toStdString() + (withData ? "" : " (baseline: no records)"));
}

} // namespace

BENCHMARK(BM_FillOneSecond)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Refresh)
    ->ArgNames({"type", "records"})
    ->ArgsProduct({{0, 1, 2, 3, 4}, {0, 1}})
    ->Iterations(40) // each fills a second of records untimed first, ten times as long as the refresh
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return runBenchmarks<QApplication>(argc, argv);
}
