// Decoding speed of ADCAnalyzer on realistic boards (64 channels, 1024 or
// 4096 samples each), reported as input bytes per second, next to a memcpy
// of the same bytes as the baseline of this machine. The monitor's share:
// monitor = 0 is plain decoding, 1 adds the channel features, 2 also emits the
// board records to a writer that returns their permits.
#include "datapath/ADCAnalyzer.h"
#include "datapath/EventEncoder.h"
#include "datapath/SampleDecoder.h"
#include "datapath/SampleGenerator.h"

#include <QSemaphore>
#include <benchmark/benchmark.h>
#include <cstring>
#include <map>

namespace {

constexpr int Boards = 2;
constexpr int Channels = 64;
constexpr int Events = 16;

// The encoded stream and the byte size of each event record, per sample count.
struct Stream {
    QByteArray bytes;
    QVector<int> recordSizes;
};

const Stream& stream(int samples)
{
    static std::map<int, Stream> streams;
    Stream& s = streams[samples];
    if (s.bytes.isEmpty()) {
        SampleGenerator::Options options;
        options.boards = Boards;
        options.channels = Channels;
        options.samples = samples;
        SampleGenerator generator(options);
        for (int i = 0; i < Events; ++i) {
            const int before = s.bytes.size();
            EventEncoder::appendEvent(s.bytes, generator.nextEvent());
            s.recordSizes.append(s.bytes.size() - before);
        }
    }
    return s;
}

// The blocks a source hands over: one per event record (file playback) or
// the whole stream at once (a large streaming chunk).
QVector<QByteArray> blocks(const Stream& s, bool perRecord)
{
    if (!perRecord)
        return {s.bytes};
    QVector<QByteArray> out;
    int at = 0;
    for (int size : s.recordSizes) {
        out.append(s.bytes.mid(at, size));
        at += size;
    }
    return out;
}

void BM_Decode(benchmark::State& state)
{
    const Stream& s = stream(int(state.range(0)));
    const QVector<QByteArray> input = blocks(s, state.range(1) != 0);
    const int monitor = int(state.range(2));
    QSemaphore semaphore(0);
    QSemaphore writer(50);
    ADCAnalyzer analyzer(&semaphore, monitor == 2 ? &writer : nullptr);
    analyzer.setFeaturesComputed(monitor > 0);
    analyzer.dataSourceUpdated(true); // every event is emitted, as in file playback
    QObject::connect(&analyzer, &ADCAnalyzer::deviceDataUpdated, [&writer] { writer.release(); });
    EventData last; // the display keeps the latest event
    QObject::connect(&analyzer, &ADCAnalyzer::eventDataUpdated, [&last](const EventData& e) { last = e; });
    qint64 events = 0;
    for (auto _ : state) {
        for (const QByteArray& block : input)
            analyzer.dataAccuired(block);
        events += Events;
    }
    state.SetBytesProcessed(state.iterations() * s.bytes.size());
    state.counters["events/s"] = benchmark::Counter(double(events), benchmark::Counter::kIsRate);
    state.SetLabel(state.range(1) ? "one block per event" : "whole stream in one block");
}

// One channel's words decoded again and again while they and the samples
// stay in cache: the arithmetic alone, without the allocation and memory
// traffic of whole passes, with (features:1) and without the features.
void BM_DecodeChannel(benchmark::State& state)
{
    SampleGenerator::Options options;
    options.boards = 1;
    options.channels = 64;
    options.samples = int(state.range(0));
    SampleGenerator generator(options);
    const EventData event = generator.nextEvent();
    const bool features = state.range(1) != 0;
    const FeatureExtractor extractor;
    QVector<QByteArray> channels;
    for (const ChannelData& c : event.devices.first().channels) {
        QByteArray words(2 * c.samples.size(), Qt::Uninitialized);
        for (int i = 0; i < c.samples.size(); i += 2) {
            const quint32 word = (quint32(quint16(c.samples[i])) << 16) | quint16(c.samples[i + 1]);
            std::memcpy(words.data() + 2 * i, &word, 4);
        }
        channels.append(words);
    }
    QVector<double> out(options.samples);
    for (auto _ : state) {
        for (const QByteArray& words : channels) {
            const quint32 wordCount = quint32(words.size() / 4);
            if (features)
                benchmark::DoNotOptimize(
                    SampleDecoder::decodeWithFeatures(words.constData(), wordCount, true, extractor, out.data()));
            else
                SampleDecoder::decode(words.constData(), wordCount, true, out.data());
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(state.iterations() * channels.size());
}

void BM_Memcpy(benchmark::State& state)
{
    const Stream& s = stream(int(state.range(0)));
    QByteArray target(s.bytes.size(), Qt::Uninitialized);
    for (auto _ : state) {
        std::memcpy(target.data(), s.bytes.constData(), size_t(s.bytes.size()));
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * s.bytes.size());
}

} // namespace

BENCHMARK(BM_Memcpy)->Arg(1024)->Arg(4096);
BENCHMARK(BM_Decode)->ArgNames({"samples", "perRecord", "monitor"})->ArgsProduct({{1024, 4096}, {1, 0}, {0, 1, 2}});

BENCHMARK(BM_DecodeChannel)->ArgNames({"samples", "features"})->ArgsProduct({{1024, 4096}, {0, 1}});

BENCHMARK_MAIN();
