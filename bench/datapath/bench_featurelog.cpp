// Speed of the feature log: RootWriter turning the analyzer's board records
// (64 channels each, features of generated waveforms, HistoryLimit boards per
// record as the analyzer sends them at full rate) into CSV lines in a file of
// the temporary folder, flushed after every record, reported as boards per
// second. Baseline in the same run: writing the same bytes, already
// formatted, to the same kind of file, i.e. what the disk path alone costs.
#include "bench/RunBenchmarks.h"
#include "datapath/ADCAnalyzer.h"
#include "datapath/EventEncoder.h"
#include "datapath/FeatureLogFormat.h"
#include "datapath/RootWriter.h"
#include "datapath/SampleGenerator.h"

#include <QCoreApplication>
#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>

namespace {

constexpr int Channels = 64;
constexpr int Samples = 1024;

// One record of the analyzer: its boards with features, samples stripped.
const DeviceData& record()
{
    static DeviceData data;
    if (data.events.isEmpty()) {
        SampleGenerator generator({1, 2, Channels, Samples});
        QSemaphore permits(1);
        ADCAnalyzer analyzer(nullptr, &permits);
        analyzer.dataSourceUpdated(true);
        QObject::connect(&analyzer, &ADCAnalyzer::deviceDataUpdated, [](const DeviceData& d) { data = d; });
        QByteArray stream;
        for (int i = 0; i < ADCAnalyzer::HistoryLimit / 2; ++i)
            EventEncoder::appendEvent(stream, generator.nextEvent());
        analyzer.dataAccuired(stream);
    }
    return data;
}

void BM_FeatureLog(benchmark::State& state)
{
    QTemporaryDir dir;
    QSemaphore permits(1);
    RootWriter writer(&permits);
    writer.setFileName(dir.filePath("features.csv"));
    const DeviceData& data = record();
    for (auto _ : state) {
        permits.acquire();
        writer.decodeData(data);
        writer.flushFile();
    }
    state.SetItemsProcessed(state.iterations() * data.events.size());
    state.counters["lines"] = double(writer.linesWritten());
}

void BM_WriteFormattedBytes(benchmark::State& state)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("features.csv"));
    file.open(QIODevice::WriteOnly);
    QByteArray bytes;
    for (const DeviceEvent& board : record().events)
        FeatureLogFormat::appendBoard(bytes, board);
    for (auto _ : state) {
        file.write(bytes);
        file.flush();
    }
    state.SetItemsProcessed(state.iterations() * record().events.size());
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

} // namespace

BENCHMARK(BM_WriteFormattedBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FeatureLog)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    return runBenchmarks<QCoreApplication>(argc, argv);
}
