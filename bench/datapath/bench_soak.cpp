// Memory of a live session left running for days: 20 million small events
// (1 board x 4 channels x 16 samples) pushed through ADCAnalyzer as a live
// source, in 64 KiB blocks that cut records as TCP reads do. Reports the
// process's peak RSS after 1, 5 and 20 million events next to the RSS before
// the first block as the baseline, and the position map's size at the end.
// The stream passes 4 GiB, so its 32-bit positions wrap once. Once the map
// holds its limit (1 million entries), the peak stays flat.
//   bench_soak                                20 million events
//   bench_soak --benchmark_filter=/5000000    a shorter run
#include "datapath/ADCAnalyzer.h"
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"

#include <QFile>
#include <QSemaphore>
#include <benchmark/benchmark.h>

namespace {

constexpr int BlockSize = 64 * 1024;

// Blocks of consecutive events whose bytes fill them exactly, so that the
// cycle repeats without a seam.
struct Cycle {
    QVector<QByteArray> blocks;
    qint64 events = 0;
};

Cycle makeCycle()
{
    SampleGenerator::Options options;
    options.boards = 1;
    options.channels = 4;
    options.samples = 16;
    SampleGenerator generator(options);
    QByteArray bytes;
    Cycle cycle;
    do {
        EventEncoder::appendEvent(bytes, generator.nextEvent());
        ++cycle.events;
    } while (bytes.size() % BlockSize != 0);
    for (int at = 0; at < bytes.size(); at += BlockSize)
        cycle.blocks.append(bytes.mid(at, BlockSize));
    return cycle;
}

// A field of /proc/self/status in MiB ("VmHWM" peak RSS, "VmRSS" current).
double statusMiB(const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

void BM_LiveSoak(benchmark::State& state)
{
    const qint64 total = state.range(0);
    const Cycle cycle = makeCycle();
    QSemaphore semaphore(0);
    ADCAnalyzer analyzer(&semaphore, nullptr);
    EventData shown; // the display keeps the latest event
    QObject::connect(&analyzer, &ADCAnalyzer::eventDataUpdated, [&shown](const EventData& e) { shown = e; });
    int mapSize = 0;
    QObject::connect(&analyzer, &ADCAnalyzer::eventMapUpdated,
                     [&mapSize](const QMap<quint32, quint32>& map) { mapSize = map.size(); });
    state.counters["baseline_MiB"] = statusMiB("VmRSS");

    const qint64 checkpoints[] = {1000000, 5000000, 20000000};
    qint64 fed = 0;
    for (auto _ : state) {
        for (int next = 0; fed < total;) {
            for (const QByteArray& block : cycle.blocks)
                analyzer.dataAccuired(block);
            fed += cycle.events;
            for (; next < 3 && fed >= checkpoints[next]; ++next)
                state.counters["peak_" + std::to_string(checkpoints[next] / 1000000) + "M_MiB"] = statusMiB("VmHWM");
        }
    }
    state.counters["final_rss_MiB"] = statusMiB("VmRSS");
    state.counters["map_entries"] = mapSize;
    state.counters["events/s"] = benchmark::Counter(double(fed), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_LiveSoak)->Arg(20000000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

BENCHMARK_MAIN();
