// ravel-pnp: takes part in program discovery from the command line.
//   ravel-pnp announce --type T --index I [--name N] [--port P] ...
//       announces one program, answers discover requests for it and sends its
//       close message when it stops (after --seconds, or on SIGINT/SIGTERM).
//   ravel-pnp discover [--type T]... [--count N] [--seconds S] [--periodic]
//       searches for programs and prints one line per announcement or close.
// Discovery uses UDP multicast: run it inside scripts/netns-run unless the
// local network is meant to see it.
#include "pnp/PNPServer.h"
#include "tools/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <cstdio>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

// Quits the event loop after the given time (0: never) or on a stop signal.
void quitWhenDone(int seconds)
{
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    auto* poll = new QTimer(QCoreApplication::instance());
    QObject::connect(poll, &QTimer::timeout, [] {
        if (stopRequested)
            QCoreApplication::quit();
    });
    poll->start(50);
    if (seconds > 0)
        QTimer::singleShot(seconds * 1000, QCoreApplication::instance(), &QCoreApplication::quit);
}

void printLine(const QString& line)
{
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

QString describe(const char* what, const ProgramDescription& pd)
{
    QStringList interfaces;
    for (const ProgramInterface& iface : pd.interfaces)
        interfaces << QStringLiteral("%1:%2").arg(iface.type).arg(iface.port);
    return QStringLiteral("%1 uuid=%2 seq=%3 type=%4 index=%5 name=%6 host=%7 hostName=%8 interfaces=%9")
        .arg(QLatin1String(what), pd.uuid.toString(), QString::number(pd.seq), pd.type, pd.index, pd.name,
             pd.host.toString(), pd.hostName, interfaces.join(QLatin1Char(',')));
}

ProgramDescription programFromOptions(const QCommandLineParser& args)
{
    ProgramDescription pd;
    pd.type = args.value("type");
    pd.index = args.value("index");
    pd.name = args.value("name");
    if (args.isSet("uuid"))
        pd.uuid = QUuid(args.value("uuid"));
    const quint32 port = args.value("port").toUInt();
    if (port != 0) {
        ProgramInterface iface;
        iface.port = port;
        iface.type = args.value("interface-type");
        iface.isFree = !args.isSet("busy");
        pd.interfaces.append(iface);
    }
    for (const QString& option : args.values("option")) {
        const int equals = option.indexOf(QLatin1Char('='));
        if (equals > 0)
            pd.options.insert(option.left(equals), option.mid(equals + 1));
    }
    return pd;
}

int announce(const QCommandLineParser& args)
{
    const ProgramDescription pd = programFromOptions(args);
    if (pd.type.isEmpty() || pd.index.isEmpty()) {
        std::fprintf(stderr, "ravel-pnp announce: --type and --index are required\n");
        return CommandLine::ExitUsage;
    }
    PNPServer server;
    QMetaObject::invokeMethod(&server, "changeProgramDescription", Q_ARG(ProgramDescription, pd));
    printLine(describe("announced", pd));
    quitWhenDone(args.value("seconds").toInt());
    QCoreApplication::exec();
    QMetaObject::invokeMethod(&server, "closeProgram", Q_ARG(ProgramDescription, pd));
    printLine(describe("closed", pd));
    return 0;
}

int discover(const QCommandLineParser& args)
{
    PNPServer server;
    const int wanted = args.value("count").toInt();
    int seen = 0;
    QObject::connect(&server, qOverload<ProgramDescription, int>(&PNPServer::programDiscovered),
                     [&](const ProgramDescription& pd, int size) {
                         printLine(describe("discovered", pd) + QStringLiteral(" size=%1").arg(size));
                         if (++seen == wanted)
                             QCoreApplication::quit();
                     });
    QObject::connect(&server, &PNPServer::programClosed,
                     [](const ProgramDescription& pd) { printLine(describe("closed", pd)); });
    server.startSearch(args.values("type"), !args.isSet("periodic"));
    quitWhenDone(args.value("seconds").toInt());
    QCoreApplication::exec();
    return wanted > 0 && seen < wanted ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser args;
    CommandLine::describe(args, "ravel-pnp", "Announces a program or discovers programs over UDP multicast.");
    args.addOptions({
        {"type", "Program type (announce) or searched type (discover, repeatable).", "type"},
        {"index", "Program index.", "index"},
        {"name", "Program name.", "name"},
        {"uuid", "Program UUID instead of a random one.", "uuid"},
        {"port", "Port of the program's one interface (0: none).", "port", "0"},
        {"interface-type", "Type of that interface.", "name", interfaceTypeName(DataFlowInterface)},
        {"busy", "Mark that interface as not free."},
        {"option", "A program option key=value (repeatable).", "key=value"},
        {"seconds", "Stop after this many seconds (0: on SIGINT/SIGTERM).", "seconds", "0"},
        {"count", "discover: stop after this many announcements.", "count", "0"},
        {"periodic", "discover: repeat the discover request every 5 s."},
    });
    args.addPositionalArgument("mode", "announce or discover");
    const int status = CommandLine::parse(args);
    if (status != CommandLine::Continue)
        return status;
    const QString mode = args.positionalArguments().value(0);
    if (mode == QLatin1String("announce"))
        return announce(args);
    if (mode == QLatin1String("discover"))
        return discover(args);
    std::fprintf(stderr, "usage: ravel-pnp announce|discover [options] (see --help)\n");
    return CommandLine::ExitUsage;
}
