// ravel-gen: writes a deterministic sample data file in the event stream
// format: realistic boards with per-channel baselines, noise and pulses.
//   ravel-gen [--seed N] [--events N] [--boards N] [--channels N] [--samples N] [--unsigned] FILE
// Exit status: 0 written, 1 the file cannot be written, 2 bad usage.
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"
#include "tools/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <limits>

namespace {

constexpr int ExitWriteFailed = 1;
using CommandLine::ExitUsage;
constexpr int FlushBytes = 8 * 1024 * 1024;

struct Limits {
    const char* name;
    qint64 low;
    qint64 high;
};

bool readNumber(const QCommandLineParser& args, const Limits& limits, qint64& value)
{
    if (!args.isSet(limits.name))
        return true;
    bool ok = false;
    value = args.value(limits.name).toLongLong(&ok);
    if (ok && value >= limits.low && value <= limits.high)
        return true;
    std::fprintf(stderr, "ravel-gen: --%s must be a number from %lld to %lld\n", limits.name,
                 static_cast<long long>(limits.low), static_cast<long long>(limits.high));
    return false;
}

int writeFailed(const QFile& file)
{
    std::fprintf(stderr, "ravel-gen: cannot write '%s': %s\n", qPrintable(file.fileName()),
                 qPrintable(file.errorString()));
    return ExitWriteFailed;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser args;
    CommandLine::describe(args, "ravel-gen",
                          "Writes a deterministic sample data file in the Ravel event stream format.");
    args.addOptions({
        {"seed", "Random seed (default 1).", "N"},
        {"events", "Number of events (default 100).", "N"},
        {"boards", "Boards per event (default 2).", "N"},
        {"channels", "Channels per board, 0..64 (default 64).", "N"},
        {"samples", "Samples per channel, even (default 1024).", "N"},
        {"unsigned", "Write unsigned ADC codes instead of signed ones."},
    });
    args.addPositionalArgument("FILE", "The data file to write.");
    const int status = CommandLine::parse(args, 1);
    if (status != CommandLine::Continue)
        return status;

    qint64 seed = 1, events = 100, boards = 2, channels = 64, samples = 1024;
    // The 24-bit device length bounds channels x samples of one board.
    if (!readNumber(args, {"seed", 0, std::numeric_limits<qint64>::max()}, seed)
        || !readNumber(args, {"events", 0, 100000000}, events) || !readNumber(args, {"boards", 0, 1000}, boards)
        || !readNumber(args, {"channels", 0, 64}, channels) || !readNumber(args, {"samples", 0, 100000}, samples))
        return ExitUsage;
    const QString dimensionsError = EventEncoder::dimensionsError(int(boards), int(channels), int(samples));
    if (!dimensionsError.isEmpty())
        return CommandLine::usageError(args, dimensionsError);

    SampleGenerator::Options options;
    options.seed = quint64(seed);
    options.boards = int(boards);
    options.channels = int(channels);
    options.samples = int(samples);
    SampleGenerator generator(options);
    const bool adcSigned = !args.isSet("unsigned");

    const QString fileName = args.positionalArguments().first();
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return writeFailed(file);
    }
    QByteArray buffer;
    for (qint64 i = 0; i < events; ++i) {
        EventEncoder::appendEvent(buffer, generator.nextEvent(), adcSigned);
        if (buffer.size() >= FlushBytes || i + 1 == events) {
            if (file.write(buffer) != buffer.size()) {
                return writeFailed(file);
            }
            buffer.clear();
        }
    }
    if (!file.flush()) {
        return writeFailed(file);
    }
    return 0;
}
