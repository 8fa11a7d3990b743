// Cost of one discovery datagram on the receiving side: reading valid and
// malformed messages, against a bare document parse of the same bytes, and
// the drop path of a listener thread, against the price of writing a warning
// for every dropped datagram.
#include "pnp/DatagramWarnings.h"
#include "pnp/PnpMessage.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDomDocument>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QHostAddress sender(QStringLiteral("10.77.0.1"));

QByteArray announcement(int interfaces)
{
    PnpMessage message;
    message.kind = ProgramAnnouncement;
    message.program.name = QStringLiteral("daq");
    message.program.type = QStringLiteral("Nimbus");
    message.program.index = QStringLiteral("1");
    message.program.options.insert(QStringLiteral("run"), QStringLiteral("12"));
    for (int i = 0; i < interfaces; ++i) {
        ProgramInterface iface;
        iface.port = quint32(33400 + i);
        iface.id = i;
        iface.type = interfaceTypeName(MonitorDataFlowInterface);
        message.program.interfaces << iface;
    }
    return message.toXml().toLatin1();
}

const QByteArray malformed[] = {
    "\x01\x02 junk 12345",
    "<!DOCTYPE pnp_message>\n<program name=\"12345",
    "<!DOCTYPE other>\n<discover_request><target>12345</target></discover_request>",
    "<!DOCTYPE pnp_message>\n<program hostName=\"h\" uuid=\"{}\" seq=\"12345\"/>",
};

void discard(QtMsgType, const QMessageLogContext&, const QString&) {}

// Runs the body with Qt messages discarded, or written by the default
// handler to stderr redirected to a file (what a log file or journal costs).
class MessageSink {
public:
    explicit MessageSink(bool toFile)
    {
        if (!toFile) {
            qInstallMessageHandler(discard);
            return;
        }
        savedStderr = ::dup(2);
        const int file = ::open("/tmp/bench_pnp_warnings.log", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(file, 2);
        ::close(file);
    }
    ~MessageSink()
    {
        qInstallMessageHandler(nullptr);
        if (savedStderr >= 0) {
            ::dup2(savedStderr, 2);
            ::close(savedStderr);
            ::unlink("/tmp/bench_pnp_warnings.log");
        }
    }

private:
    int savedStderr = -1;
};

void BM_DomParseOnly(benchmark::State& state)
{
    const QByteArray data = announcement(int(state.range(0)));
    for (auto _ : state) {
        QDomDocument doc;
        benchmark::DoNotOptimize(doc.setContent(QString::fromLatin1(data)));
    }
    state.SetBytesProcessed(state.iterations() * data.size());
}
BENCHMARK(BM_DomParseOnly)->Arg(1)->Arg(16);

void BM_ReadAnnouncement(benchmark::State& state)
{
    const QByteArray data = announcement(int(state.range(0)));
    for (auto _ : state) {
        PnpMessage message;
        benchmark::DoNotOptimize(message.fromXml(data, sender));
    }
    state.SetBytesProcessed(state.iterations() * data.size());
}
BENCHMARK(BM_ReadAnnouncement)->Arg(1)->Arg(16);

void BM_WriteAnnouncement(benchmark::State& state)
{
    PnpMessage message;
    PnpMessage read;
    read.fromXml(announcement(1), sender);
    for (auto _ : state)
        benchmark::DoNotOptimize(read.toXml().toLatin1());
}
BENCHMARK(BM_WriteAnnouncement);

// The drop path of a listener thread: reading a small malformed datagram
// (range 0: its kind) and handing it to the rate-limited warnings (range 1:
// messages discarded, or written to a file). Items per second: datagrams
// dropped per second by one thread.
void BM_DropMalformed(benchmark::State& state)
{
    const QByteArray data = malformed[state.range(0)];
    MessageSink sink(state.range(1) != 0);
    for (auto _ : state) {
        PnpMessage message;
        benchmark::DoNotOptimize(DatagramWarnings::shared().read(data, sender, &message));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DropMalformed)->ArgsProduct({{0, 1, 2, 3}, {0, 1}});

// 64 KiB documents built to be expensive: deep nesting, many siblings, many
// attributes on one element, many interfaces (a valid announcement), and one
// endless tag name (junk of a flood).
QByteArray worstCase(int shape)
{
    const QByteArray head = "<!DOCTYPE pnp_message>\n";
    const int room = 65000;
    auto repeat = [room](const QByteArray& unit) { return unit.repeated(room / unit.size()); };
    switch (shape) {
    case 0:
        return head + "<discover_request>" + repeat("<a>");
    case 1:
        return head + "<discover_request>" + repeat("<target/>") + "</discover_request>";
    case 2: {
        QByteArray attributes;
        for (int i = 0; attributes.size() < room; ++i)
            attributes += " a" + QByteArray::number(i) + "=\"\"";
        return head + "<program" + attributes + "/>";
    }
    case 3:
        return head + "<program name=\"n\" uuid=\"{}\"><interfaces>"
               + repeat("<interface type=\"t\" port=\"1\" isFree=\"1\"/>") + "</interfaces></program>";
    default:
        return "<" + QByteArray(room, 'x');
    }
}

void BM_ReadWorstCase(benchmark::State& state)
{
    const QByteArray data = worstCase(int(state.range(0)));
    MessageSink sink(false);
    for (auto _ : state) {
        PnpMessage message;
        benchmark::DoNotOptimize(message.fromXml(data, sender));
    }
    state.SetBytesProcessed(state.iterations() * data.size());
}
BENCHMARK(BM_ReadWorstCase)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

// Baseline: one warning written for every dropped datagram, without a limit.
void BM_WarningOnly(benchmark::State& state)
{
    const QByteArray data = malformed[1];
    MessageSink sink(state.range(0) != 0);
    for (auto _ : state)
        qWarning().noquote() << DatagramWarnings::failedDecodeLine(data);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WarningOnly)->Arg(0)->Arg(1);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
