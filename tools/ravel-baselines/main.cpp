// ravel-baselines: measures each board's per-channel baselines over a
// pedestal recording and stores them where the viewer reads them when it
// draws relative to baseline.
//   ravel-baselines FILE [--events N] [--ini PATH] [--dry-run] [--unsigned]
// Exit status: 0 success, 1 the file cannot be read or holds no event, or
// the store cannot be written, 2 bad usage.
#include "datapath/ADCAnalyzer.h"
#include "datapath/DeviceSettings.h"
#include "tools/CommandLine.h"
#include "tools/ravel-baselines/BaselineSurvey.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSemaphore>
#include <QSettings>

#include <cstdio>
#include <memory>

namespace {

constexpr int ExitFailure = 1;
constexpr qint64 ChunkBytes = 1 << 20;

const char* Description = "Measures every board's per-channel baselines over a pedestal recording and\n"
                          "writes them to the board settings store the viewer reads (keys baseline.N\n"
                          "in group Setup_<serial 8 hex>_<type 2 hex>; other keys stay). A channel's\n"
                          "baseline is the mean over events of its feature baseline, the mean of the\n"
                          "waveform's leading samples; stored rounded to a whole ADC code. Prints a\n"
                          "table of board, channel, baseline and noise (mean RMS of those samples).\n\n"
                          "Exit status: 0 success, 1 the file cannot be read or holds no event, or\n"
                          "the store cannot be written, 2 bad usage.";

void fail(const QString& text)
{
    std::fprintf(stderr, "ravel-baselines: %s\n", qPrintable(text));
}

// Decodes the file with the viewer's analyzer, block by block on this thread,
// until its end or maxEvents events (0: all).
void survey(QFile& file, bool adcSigned, int maxEvents, BaselineSurvey& result)
{
    QSemaphore sourcePermits(1);
    ADCAnalyzer analyzer(&sourcePermits, nullptr); // no writer: no board records
    analyzer.dataSourceUpdated(true);
    analyzer.adcRawDataSignedUpdated(adcSigned);
    QObject::connect(&analyzer, &ADCAnalyzer::addLog, [](const QString& line) { fail(line); });
    QObject::connect(&analyzer, &ADCAnalyzer::eventDataUpdated, [&](const EventData& event) {
        if (maxEvents == 0 || result.events() < maxEvents)
            result.add(event);
    });
    while (!file.atEnd() && (maxEvents == 0 || result.events() < maxEvents)) {
        sourcePermits.acquire();
        analyzer.dataAccuired(file.read(ChunkBytes));
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setOrganizationName("Kelvane Electronics"); // the viewer's, which names the store
    QCoreApplication app(argc, argv);
    QCommandLineParser args;
    CommandLine::describe(args, "ravel-baselines", QString::fromLatin1(Description));
    args.addOptions({
        {"events", "Use the first N events only.", "N"},
        {"ini", "Write to this INI file instead of the viewer's board settings store.", "PATH"},
        {"dry-run", "Only print the table."},
        {"unsigned", "Decode ADC raw data as unsigned codes."},
    });
    args.addPositionalArgument("FILE", "The pedestal recording.");
    const int status = CommandLine::parse(args, 1);
    if (status != CommandLine::Continue)
        return status;
    const int maxEvents = args.isSet("events") ? args.value("events").toInt() : 0;
    if (args.isSet("events") && maxEvents <= 0)
        return CommandLine::usageError(args, "--events needs a positive number");

    QFile file(args.positionalArguments().first());
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QString("cannot open '%1': %2").arg(file.fileName(), file.errorString()));
        return ExitFailure;
    }
    BaselineSurvey result;
    survey(file, !args.isSet("unsigned"), maxEvents, result);
    if (result.events() == 0) {
        fail(QString("no event decoded in '%1'").arg(file.fileName()));
        return ExitFailure;
    }
    std::fputs(qPrintable(result.table()), stdout);
    if (args.isSet("dry-run"))
        return 0;

    const auto store = args.isSet("ini") ? std::make_unique<QSettings>(args.value("ini"), QSettings::IniFormat)
                                         : std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                                       QCoreApplication::organizationName(),
                                                                       DeviceSettings::StoreApplication);
    result.writeTo(*store);
    store->sync();
    if (store->status() != QSettings::NoError) {
        fail(QString("cannot write '%1'").arg(store->fileName()));
        return ExitFailure;
    }
    std::printf("%d events, %d boards: baselines written to %s\n", result.events(), result.boards().size(),
                qPrintable(store->fileName()));
    return 0;
}
