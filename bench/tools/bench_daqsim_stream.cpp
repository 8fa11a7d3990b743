// Throughput and memory of the viewer's live data path: ravel-daq-sim streams
// generated events (2 boards x 64 channels x 1024 samples, 257.6 KiB each) as
// fast as the receiver takes them over loopback into a TcpClient and an
// ADCAnalyzer on worker threads of their own that share the 50-permit
// semaphore, as in the viewer. The baseline in the same run reads the same
// stream with a plain socket and throws it away: what the sender and the
// loopback can deliver on this machine.
//
// Each case streams --events N (benchmark argument) events in one
// connection and times it from the connection to the last decoded byte.
// With monitor = 1 the analyzer also computes the channel features and sends
// its board records to the histogram tab (shown, offscreen) and the output
// writer on the main thread, as in the viewer; monitor = 0 is the same path
// without them. Counters: lost_events (events sent but not decoded; must be 0),
// histogrammed_boards and skipped_boards (monitor only),
// format_errors, peak_rss_MB (this process, reset before the case),
// sim_peak_rss_MB (the sender), and the stream bytes per CPU second of the
// client's and the analyzer's threads (client_MBps_cpu, analyzer_MBps_cpu):
// what each stage sustains with a core of its own, whatever else the machine
// runs at the time.
#include "app/HistMngrWidget.h"
#include "datapath/ADCAnalyzer.h"
#include "datapath/EventEncoder.h"
#include "datapath/RootWriter.h"
#include "datapath/TcpClient.h"
#include "tests/tools/SimProcess.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSemaphore>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <memory>

namespace {

constexpr int Boards = 2;
constexpr int Channels = 64;
constexpr int Samples = 1024;
constexpr int Permits = 50;
constexpr qint64 RecordBytes =
    StreamFormat::EventHeaderSize + Boards * EventEncoder::encodedBoardSize(Channels, Samples);

// A /proc status field in KiB ("VmHWM", "VmRSS") of this process or another.
double statusMB(const QString& process, const char* field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(process));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field)) + 1).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

// Lets VmHWM start again from the current resident size.
void resetPeakRss()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

bool startSimulator(SimProcess& sim, qint64 events)
{
    return sim.start({"--no-discovery", "--listen", "127.0.0.1", "--rate", "0", "--pool", "64", "--events",
                      QString::number(events), "--boards", QString::number(Boards), "--channels",
                      QString::number(Channels), "--samples", QString::number(Samples)});
}

// CPU seconds used so far by the thread that a worker object lives in.
double threadCpuSeconds(QObject* worker)
{
    double seconds = 0;
    QMetaObject::invokeMethod(
        worker,
        [&seconds] {
            timespec t{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
            seconds = double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
        },
        Qt::BlockingQueuedConnection);
    return seconds;
}

void reportMemory(benchmark::State& state, SimProcess& sim)
{
    state.counters["peak_rss_MB"] = statusMB(QStringLiteral("self"), "VmHWM:");
    state.counters["sim_peak_rss_MB"] = statusMB(QString::number(sim.process.processId()), "VmHWM:");
}

// Runs the main thread's event loop (the monitor's records) for a moment.
void serveMainThread(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The histogram tab, shown, and the output writer that returns the permits.
struct Monitor {
    Monitor(ADCAnalyzer* analyzer, QSemaphore* writerSemaphore) : writer(writerSemaphore)
    {
        QObject::connect(analyzer, &ADCAnalyzer::deviceDataUpdated, &writer, &RootWriter::decodeData);
        QObject::connect(analyzer, &ADCAnalyzer::deviceDataUpdated, &histograms, &HistMngrWidget::dataUpdated);
        QObject::connect(analyzer, &ADCAnalyzer::deviceDataSkipped, &histograms, &HistMngrWidget::boardsSkipped);
        histograms.resize(1200, 700);
        histograms.show();
    }
    RootWriter writer;
    HistMngrWidget histograms;
};

// The viewer's data path with counters instead of a display.
class DataPath {
public:
    DataPath(bool everyEvent, bool monitored)
        : client(new TcpClient(&semaphore)), analyzer(new ADCAnalyzer(&semaphore, monitored ? &writer : nullptr))
    {
        analyzer->dataSourceUpdated(everyEvent);
        analyzer->setFeaturesComputed(monitored);
        if (monitored)
            monitor = std::make_unique<Monitor>(analyzer, &writer);
        QObject::connect(client, &TcpClient::dataAccuired, analyzer, &ADCAnalyzer::dataAccuired);
        // Counted in the worker threads, so the main thread's queue stays empty.
        QObject::connect(
            client, &TcpClient::dataAccuired, client,
            [this](const QByteArray& block) {
                bytes += block.size();
                ++blocks;
            },
            Qt::DirectConnection);
        QObject::connect(
            analyzer, &ADCAnalyzer::eventDataUpdated, analyzer, [this] { ++events; }, Qt::DirectConnection);
        QObject::connect(
            analyzer, &ADCAnalyzer::addLog, analyzer, [this](const QString&) { ++errors; }, Qt::DirectConnection);
        start(client, clientThread);
        start(analyzer, analyzerThread);
    }
    ~DataPath()
    {
        stopClient();
        analyzer->deleteLater();
        analyzerThread.wait();
    }
    void stopClient()
    {
        if (clientThread.isRunning()) {
            client->deleteLater();
            clientThread.wait();
        }
    }
    // Every block of the stream is in and the analyzer has handed back all permits.
    bool drained(qint64 expectedBytes) { return bytes >= expectedBytes && semaphore.available() == Permits; }

    QSemaphore semaphore{Permits};
    QSemaphore writer{Permits};
    std::unique_ptr<Monitor> monitor;
    QThread clientThread;
    QThread analyzerThread;
    TcpClient* client;
    ADCAnalyzer* analyzer;
    std::atomic<qint64> bytes{0};
    std::atomic<qint64> blocks{0};
    std::atomic<qint64> events{0};
    std::atomic<qint64> errors{0};

private:
    static void start(QObject* worker, QThread& thread)
    {
        worker->moveToThread(&thread);
        QObject::connect(worker, &QObject::destroyed, &thread, &QThread::quit, Qt::DirectConnection);
        thread.start();
    }
};

// Baseline: the same stream read and discarded by a plain socket.
void BM_LoopbackDiscard(benchmark::State& state)
{
    const qint64 expected = state.range(0) * RecordBytes;
    for (auto _ : state) {
        SimProcess sim;
        if (!startSimulator(sim, state.range(0)))
            return state.SkipWithError("ravel-daq-sim did not start");
        resetPeakRss();
        QElapsedTimer clock;
        clock.start();
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, sim.port());
        QByteArray buffer(4 * 1024 * 1024, Qt::Uninitialized);
        qint64 received = 0;
        while (received < expected && (socket.bytesAvailable() > 0 || socket.waitForReadyRead(10000)))
            received += socket.read(buffer.data(), buffer.size());
        state.SetIterationTime(clock.nsecsElapsed() * 1e-9);
        reportMemory(state, sim);
        state.counters["lost_bytes"] = double(expected - received);
    }
    state.SetBytesProcessed(state.iterations() * expected);
}

void BM_LiveDataPath(benchmark::State& state)
{
    const qint64 eventsSent = state.range(0);
    const bool everyEvent = state.range(1) != 0;
    const bool monitored = state.range(2) != 0;
    const qint64 expected = eventsSent * RecordBytes;
    for (auto _ : state) {
        SimProcess sim;
        if (!startSimulator(sim, eventsSent))
            return state.SkipWithError("ravel-daq-sim did not start");
        resetPeakRss();
        QElapsedTimer clock;
        clock.start();
        DataPath path(everyEvent, monitored);
        QMetaObject::invokeMethod(
            path.client, [&path, port = sim.port()] { path.client->setAddress(QHostAddress::LocalHost, port); });
        const double clientCpuAtStart = threadCpuSeconds(path.client);
        const double analyzerCpuAtStart = threadCpuSeconds(path.analyzer);
        QDeadlineTimer deadline(600000);
        while (!path.drained(expected) && !deadline.hasExpired())
            serveMainThread(5);
        state.SetIterationTime(clock.nsecsElapsed() * 1e-9);
        const double megabytes = double(path.bytes) / 1e6;
        state.counters["client_MBps_cpu"] = megabytes / (threadCpuSeconds(path.client) - clientCpuAtStart);
        state.counters["analyzer_MBps_cpu"] = megabytes / (threadCpuSeconds(path.analyzer) - analyzerCpuAtStart);
        path.stopClient(); // before it reconnects and the stream starts over
        reportMemory(state, sim);
        // Live data are thinned to two events per second, so there whole
        // records are what counts; with every event emitted, each number.
        state.counters["lost_events"] =
            everyEvent ? double(eventsSent - path.events) : double(expected - path.bytes) / RecordBytes;
        state.counters["format_errors"] = double(path.errors);
        state.counters["avg_block_KiB"] = double(path.bytes) / std::max<qint64>(1, path.blocks) / 1024.0;
        if (path.monitor) {
            serveMainThread(50); // the last records
            state.counters["histogrammed_boards"] = double(path.monitor->histograms.histograms().histogrammed());
            state.counters["skipped_boards"] = double(path.monitor->histograms.histograms().skipped());
        }
    }
    state.SetBytesProcessed(state.iterations() * expected);
    state.SetLabel(std::string(everyEvent ? "every event emitted" : "live (two events/s emitted)")
                   + (monitored ? ", histograms shown" : ""));
}

} // namespace

BENCHMARK(BM_LoopbackDiscard)->Arg(16000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiveDataPath)
    ->ArgNames({"events", "everyEvent", "monitor"})
    ->Args({16000, 0, 0})
    ->Args({16000, 0, 1})
    ->Args({16000, 1, 0})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
