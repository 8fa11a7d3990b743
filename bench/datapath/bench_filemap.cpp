// Mapping a 1 GiB data file with FileReader (12-byte header reads, seeking
// over the payloads), reported as file bytes and records per second, next to
// two baselines on the same file: the plain way of reading every header with
// a buffered QFile (seek + read of 12 bytes per record), and reading the
// whole file sequentially. The files are written once per run into a
// temporary folder and removed at exit; figures are for a warm page cache.
#include "datapath/EventEncoder.h"
#include "datapath/FileReader.h"
#include "datapath/SampleGenerator.h"
#include "datapath/StreamFormat.h"

#include <QCoreApplication>
#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <iterator>
#include <map>
#include <memory>
#include <unistd.h>

namespace {

constexpr qint64 FileSize = qint64(1) << 30;
constexpr int DistinctEvents = 16;

// Record shapes: the viewer's typical 64 channels x 1024 samples on one
// board (about 130 KB per record) and small events of two boards with
// 8 channels x 128 samples (about 4.5 KB).
struct Shape {
    int boards;
    int channels;
    int samples;
};
const Shape Shapes[] = {{1, 64, 1024}, {2, 8, 128}};

struct DataFile {
    QString path;
    qint64 size = 0;
    qint64 records = 0;
};

QTemporaryDir& tempDir()
{
    static QTemporaryDir dir;
    return dir;
}

// Repeats a few generated events, each with its own event number, up to 1 GiB.
DataFile writeFile(const Shape& shape)
{
    SampleGenerator::Options options;
    options.boards = shape.boards;
    options.channels = shape.channels;
    options.samples = shape.samples;
    SampleGenerator generator(options);
    QVector<QByteArray> events;
    for (int i = 0; i < DistinctEvents; ++i)
        events.append(EventEncoder::encodeEvent(generator.nextEvent()));

    DataFile file;
    file.path =
        tempDir().filePath(QString("map_%1x%2x%3.dat").arg(shape.boards).arg(shape.channels).arg(shape.samples));
    QFile out(file.path);
    out.open(QIODevice::WriteOnly);
    out.write(EventEncoder::encodeStartRecord("bench"));
    for (quint32 evNum = 1;; ++evNum) {
        QByteArray record = events[int(evNum % DistinctEvents)];
        if (out.pos() + record.size() > FileSize)
            break;
        QByteArray number;
        EventEncoder::appendWord(number, evNum);
        record.replace(8, 4, number);
        out.write(record);
        ++file.records;
    }
    file.size = out.pos();
    out.flush();
    ::fsync(out.handle()); // no write-back while the benchmarks run
    return file;
}

const DataFile& dataFile(int shapeIndex)
{
    static std::map<int, DataFile> files;
    auto it = files.find(shapeIndex);
    if (it == files.end())
        it = files.emplace(shapeIndex, writeFile(Shapes[shapeIndex])).first;
    return it->second;
}

void setCounters(benchmark::State& state, const DataFile& file)
{
    state.SetBytesProcessed(state.iterations() * file.size);
    state.SetItemsProcessed(state.iterations() * file.records);
    state.counters["records/s"] =
        benchmark::Counter(double(state.iterations() * file.records), benchmark::Counter::kIsRate);
}

void BM_FileReaderMap(benchmark::State& state)
{
    const DataFile& file = dataFile(int(state.range(0)));
    QSemaphore semaphore(50);
    FileReader reader(&semaphore);
    quint32 records = 0;
    QObject::connect(&reader, &FileReader::fileMapUpdated,
                     [&](qint64, const QString&, quint32 count, double) { records = count; });
    for (auto _ : state) {
        reader.setFileName(file.path);
        benchmark::DoNotOptimize(records);
    }
    if (records != file.records)
        state.SkipWithError("file map incomplete");
    setCounters(state, file);
}

// Baseline: every header read with a buffered QFile, seek + read(12).
void BM_QFileHeaderWalk(benchmark::State& state)
{
    const DataFile& file = dataFile(int(state.range(0)));
    qint64 records = 0;
    for (auto _ : state) {
        QFile in(file.path);
        in.open(QIODevice::ReadOnly);
        records = 0;
        char header[12];
        for (qint64 pos = 0; pos + 12 < file.size;) {
            in.seek(pos);
            in.read(header, 12);
            const quint32 magic = StreamFormat::readWord(header);
            const qint64 length = StreamFormat::readWord(header + 4);
            records += magic == StreamFormat::KEP_SYNC_WORD ? 1 : 0;
            pos += (magic == StreamFormat::START_SYNC_WORD ? 8 : 12) + length;
        }
        benchmark::DoNotOptimize(records);
    }
    if (records != file.records)
        state.SkipWithError("header walk incomplete");
    setCounters(state, file);
}

// Baseline: the whole file read sequentially in 1 MiB pieces.
void BM_QFileReadAll(benchmark::State& state)
{
    const DataFile& file = dataFile(int(state.range(0)));
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (auto _ : state) {
        QFile in(file.path);
        in.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        while (in.read(buffer.data(), buffer.size()) > 0)
            benchmark::ClobberMemory();
    }
    setCounters(state, file);
}

void quietMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

BENCHMARK(BM_FileReaderMap)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QFileHeaderWalk)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QFileReadAll)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietMessages); // the scan's log lines
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    for (int shape = 0; shape < int(std::size(Shapes)); ++shape)
        dataFile(shape);
    benchmark::RunSpecifiedBenchmarks();
    tempDir().remove();
    return 0;
}
