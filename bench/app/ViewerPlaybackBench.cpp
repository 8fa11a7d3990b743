// How fast the real main window plays a file: a generated file of 64 channels
// x 1024 samples per board is chosen through the playback dialog and played
// forward at the 10 ms interval through the real reader and analyzer threads,
// offscreen, in a 1200 x 700 window. Reported per played file:
//   drawn/s        records whose curves reached the screen, per second
//   cpu_ms/drawn   process CPU time (all threads) per drawn record
//   gui_ms/drawn   CPU time of the GUI thread per drawn record: the bound on
//                  the draw rate when that thread has a core to itself
//   undrawn        records played but never painted (0 = every record drawn)
//   gui_late_ms    worst lateness of a 5 ms timer on the GUI thread (how long
//                  input would have waited)
// Baseline in the same run: the window's own draw of the same events called
// directly on the GUI thread, without file, threads or timer.
// Run inside scripts/netns-run: the window starts program discovery.

#include "app/FileReaderDialog.h"
#include "app/MainWindow.h"
#include "bench/RunBenchmarks.h"
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"
#include "vell/WaveformPlot.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <qwt_plot_curve.h>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr int Records = 200;
constexpr int LatencyProbeMs = 5;
constexpr qint64 WaitLimitMs = 120000;

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

SampleGenerator::Options sampleOptions(int boards)
{
    SampleGenerator::Options options;
    options.boards = boards;
    options.channels = 64;
    options.samples = 1024;
    return options;
}

// Settings of the run live in a temporary folder, never the user's.
class ScratchSettings {
public:
    ScratchSettings()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    }
    QString filePath(const QString& name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
};

QString writeSampleFile(const ScratchSettings& scratch, int boards)
{
    SampleGenerator generator(sampleOptions(boards));
    QByteArray bytes;
    for (int i = 0; i < Records; ++i)
        EventEncoder::appendEvent(bytes, generator.nextEvent());
    const QString path = scratch.filePath(QString("sample-%1.dat").arg(boards));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return path;
}

// Counts the records whose curves were painted: a canvas paint with curve
// data that was not painted before (every draw hands the plot new data).
class DrawCounter : public QObject {
public:
    explicit DrawCounter(WaveformPlot* plot) : plot(plot), lastData(currentData())
    {
        plot->canvas()->installEventFilter(this);
    }
    ~DrawCounter() override { plot->canvas()->removeEventFilter(this); }

    int drawn = 0;

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && currentData() != lastData) {
            lastData = currentData();
            ++drawn;
        }
        return false;
    }

private:
    const void* currentData() const { return plot->curve(0) ? plot->curve(0)->data() : nullptr; }

    WaveformPlot* plot;
    const void* lastData;
};

// Worst lateness of a repeating timer on the GUI thread.
class LatencyProbe {
public:
    LatencyProbe()
    {
        QObject::connect(&timer, &QTimer::timeout,
                         [this] { worstMs = std::max(worstMs, clock.restart() - LatencyProbeMs); });
        timer.setTimerType(Qt::PreciseTimer);
        timer.start(LatencyProbeMs);
        clock.start();
    }
    qint64 worstMs = 0;

private:
    QTimer timer;
    QElapsedTimer clock;
};

bool waitUntil(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.hasExpired(WaitLimitMs))
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

struct Viewer {
    std::unique_ptr<MainWindow> window;
    WaveformPlot* plot;
    QLabel* eventLabel;
    FileReaderDialog* dialog;

    Viewer() : window(new MainWindow)
    {
        window->resize(1200, 700);
        window->show();
        plot = window->findChild<WaveformPlot*>("widgetWaveform");
        eventLabel = window->findChild<QLabel*>("eventLabel");
        dialog = window->findChild<FileReaderDialog*>();
    }
};

void BM_FilePlayback10ms(benchmark::State& state)
{
    const int boards = int(state.range(0));
    ScratchSettings scratch;
    const QString file = writeSampleFile(scratch, boards);
    Viewer viewer; // first start: the playback interval comes up at 10 ms
    emit viewer.dialog->fileNameUpdated(file);
    if (!waitUntil([&] { return viewer.eventLabel->text() == "Ev:1"; })) {
        state.SkipWithError("the first record was not drawn");
        return;
    }
    auto* forward = viewer.dialog->findChild<QAbstractButton*>("pushButtonForward");
    auto* stop = viewer.dialog->findChild<QAbstractButton*>("pushButtonStop");
    auto* record = viewer.dialog->findChild<QWidget*>("spinBoxCurEvent");

    double drawn = 0, given = 0, cpu = 0, guiCpu = 0, wall = 0, late = 0;
    for (auto _ : state) {
        // Back to record 1 and play the file once.
        stop->click();
        QMetaObject::invokeMethod(record, "setValue", Q_ARG(int, 1));
        waitUntil([&] { return viewer.eventLabel->text() == "Ev:1"; });
        QApplication::processEvents();

        DrawCounter counter(viewer.plot);
        LatencyProbe probe;

        const double cpuStart = processCpuSeconds();
        const double guiCpuStart = threadCpuSeconds();
        QElapsedTimer clock;
        clock.start();
        forward->click();
        const bool finished =
            waitUntil([&] { return stop->isChecked() && viewer.eventLabel->text() == QString("Ev:%1").arg(Records); });
        QApplication::processEvents();
        const double seconds = clock.nsecsElapsed() / 1e9;
        state.SetIterationTime(seconds);
        if (!finished) {
            state.SkipWithError("playback did not reach the last record");
            return;
        }
        drawn += counter.drawn;
        given += Records - 1;
        cpu += processCpuSeconds() - cpuStart;
        guiCpu += threadCpuSeconds() - guiCpuStart;
        wall += seconds;
        late = std::max(late, double(probe.worstMs));
    }
    state.counters["drawn/s"] = drawn / wall;
    state.counters["cpu_ms/drawn"] = 1000.0 * cpu / drawn;
    state.counters["gui_ms/drawn"] = 1000.0 * guiCpu / drawn;
    state.counters["undrawn"] = given - drawn;
    state.counters["gui_late_ms"] = late;
}

// The window's draw of one event on the GUI thread alone (it paints at once).
void BM_WindowDrawBaseline(benchmark::State& state)
{
    const int boards = int(state.range(0));
    ScratchSettings scratch;
    SampleGenerator generator(sampleOptions(boards));
    const EventData events[2] = {generator.nextEvent(), generator.nextEvent()};
    Viewer viewer;
    // A file source: every event is drawn, no live rate limit.
    QMetaObject::invokeMethod(viewer.window.get(), "fileNameUpdated", Q_ARG(QString, scratch.filePath("none.dat")));
    QApplication::processEvents();
    int i = 0;
    const double cpuStart = processCpuSeconds();
    for (auto _ : state) {
        QMetaObject::invokeMethod(viewer.window.get(), "showWaveform", Qt::DirectConnection,
                                  Q_ARG(EventData, events[++i % 2]));
    }
    state.counters["cpu_ms/drawn"] = 1000.0 * (processCpuSeconds() - cpuStart) / double(state.iterations());
    state.SetItemsProcessed(state.iterations()); // items/s = draws per second
}

} // namespace

BENCHMARK(BM_WindowDrawBaseline)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FilePlayback10ms)->Arg(1)->Arg(2)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    // The window starts program discovery, which must stay off the real network.
    if (qgetenv("RAVEL_NETNS_INSIDE") != "1") {
        std::fprintf(stderr, "bench_playback: run inside scripts/netns-run (the viewer starts discovery)\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setOrganizationName("Kelvane Electronics");
    QCoreApplication::setApplicationName("Ravel-Viewer");
    return runBenchmarks<QApplication>(argc, argv);
}
