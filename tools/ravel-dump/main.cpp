// ravel-dump: inspects a data file through the viewer's own FileReader and
// ADCAnalyzer (real signals, threads and event loop).
//   ravel-dump FILE               summary
//   ravel-dump --json FILE        one JSON object per line
//   ravel-dump --csv FILE         samples as CSV
//   ravel-dump --features FILE    channel features as the viewer's feature log
// --stream feeds the file through streaming reads instead of record by record;
// --unsigned decodes ADC raw data as unsigned codes.
// Exit status: 0 success, 1 the file cannot be opened, 2 bad usage.
#include "tools/CommandLine.h"
#include "tools/ravel-dump/CsvOutput.h"
#include "tools/ravel-dump/DumpSession.h"
#include "tools/ravel-dump/FeatureOutput.h"
#include "tools/ravel-dump/JsonOutput.h"
#include "tools/ravel-dump/SummaryOutput.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <memory>

namespace {

constexpr int ExitCannotOpen = 1;

const char* Description = "Decodes a Ravel data file with the viewer's file reader and analyzer.\n\n"
                          "By default it reads the file as the playback dialog does: record by\n"
                          "record from the file map, in event-number order, where of two events\n"
                          "with the same number only the later one is read and start and stop\n"
                          "records are stepped over. --stream feeds the file as it lies, in file\n"
                          "order, as a live connection would: every event is decoded, duplicates\n"
                          "too, start and stop records are format errors, and a record cut by\n"
                          "the end of the file is reported with the bytes left undecoded.\n\n"
                          "Without --json or --csv it prints a summary. --json prints one object per\n"
                          "line: every decoded event\n"
                          "  {\"evNum\":N,\"boards\":[{\"serial\":S,\"deviceType\":T,\"evNum\":E,\"timeHigh\":H,\n"
                          "   \"timeFlags\":F,\"timeLow\":L,\"channels\":[{\"ch\":C,\"time\":X,\"samples\":[...]}]}]}\n"
                          "every analyzer log line {\"log\":\"TEXT\"} where it occurred, and last\n"
                          "  {\"fileMap\":{\"size\":Z,\"parsed\":P,\"records\":R,\"completed\":true|false}}\n"
                          "where completed is false when the scan stopped at a damaged record (P is\n"
                          "then that record's offset). --csv prints the rows\n"
                          "record,evNum,serial,channel,index,value and writes log lines to stderr.\n"
                          "--features prints the viewer's feature log of the file, the CSV rows\n"
                          "evNum,serial,type,channel,baseline,noise,amplitude,peak,integral,\n"
                          "and writes log lines to stderr.\n\n"
                          "Exit status: 0 success, 1 the file cannot be opened, 2 bad usage.";

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser args;
    CommandLine::describe(args, "ravel-dump", QString::fromLatin1(Description));
    args.addOptions({
        {"json", "Print every event, log line and the file map as JSON lines."},
        {"csv", "Print every sample as a CSV row."},
        {"features", "Print every channel's features as the viewer's feature log does."},
        {"stream", "Feed the file in file order by streaming reads instead of record by record."},
        {"unsigned", "Decode ADC raw data as unsigned codes."},
        {"verbose", "Also show the reader's and analyzer's diagnostic lines on stderr."},
    });
    args.addPositionalArgument("FILE", "The data file to read.");
    const int status = CommandLine::parse(args, 1);
    if (status != CommandLine::Continue)
        return status;
    if (int(args.isSet("json")) + int(args.isSet("csv")) + int(args.isSet("features")) > 1)
        return CommandLine::usageError(args, "--json, --csv and --features exclude each other");

    const QString fileName = args.positionalArguments().first();
    std::unique_ptr<DumpOutput> output;
    if (args.isSet("json"))
        output = std::make_unique<JsonOutput>();
    else if (args.isSet("csv"))
        output = std::make_unique<CsvOutput>();
    else if (args.isSet("features"))
        output = std::make_unique<FeatureOutput>();
    else
        output = std::make_unique<SummaryOutput>(fileName);
    const auto mode = args.isSet("stream") ? DumpSession::Mode::Stream : DumpSession::Mode::Records;
    DumpSession session(fileName, mode, !args.isSet("unsigned"), args.isSet("verbose"), output.get());
    if (!session.run()) {
        std::fprintf(stderr, "ravel-dump: cannot open '%s': %s\n", qPrintable(fileName),
                     qPrintable(session.openError()));
        return ExitCannotOpen;
    }
    return 0;
}
