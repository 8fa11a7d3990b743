#include "tools/daqsim/SimCommandLine.h"

#include "datapath/EventEncoder.h"

#include <QFile>

#include <limits>
#include <type_traits>

namespace {

constexpr quint64 MaxPoolBytes = quint64(256) * 1024 * 1024;

QString interfaceTypeFromArgument(const QString& value)
{
    if (value == QLatin1String("monitor"))
        return interfaceTypeName(MonitorDataFlowInterface);
    if (value == QLatin1String("data"))
        return interfaceTypeName(DataFlowInterface);
    return value;
}

QCommandLineOption withDefault(const QString& name, const QString& description, const QString& valueName,
                               const QString& defaultValue)
{
    return QCommandLineOption(name, QStringLiteral("%1 Default: %2.").arg(description, defaultValue), valueName,
                              defaultValue);
}

} // namespace

SimCommandLine::SimCommandLine()
{
    const SimOptions d;
    const SampleGenerator::Options& g = d.generator;
    m_parser.setApplicationDescription(
        QStringLiteral("Simulated acquisition program: announces itself through discovery and streams generated\n"
                       "digitizer events (or a replayed data file) to every client of its TCP data interface."));
    m_parser.addHelpOption();
    m_parser.addOptions({
        withDefault("port", "TCP port of the data interface; 0: chosen by the system.", "port",
                    QString::number(d.port)),
        withDefault("listen", "Address the data interface listens on.", "address", d.listenAddress.toString()),
        withDefault("type", "Program type to announce.", "type", d.programType),
        withDefault("index", "Program index to announce.", "index", d.programIndex),
        withDefault("name", "Program name to announce.", "name", d.programName),
        {"uuid", "Program instance UUID (default: a random one).", "uuid"},
        withDefault("interface-type",
                    QStringLiteral("Type of the data interface: \"%1\" (or: monitor) or \"%2\" (or: data).")
                        .arg(interfaceTypeName(MonitorDataFlowInterface), interfaceTypeName(DataFlowInterface)),
                    "type", "monitor"),
        withDefault("interface-id", "Id of the data interface.", "id", QString::number(d.interfaceId)),
        {"no-discovery", "Take no part in discovery (sends no multicast at all)."},
        withDefault("seed", "Random seed of the generated events and of the damage.", "N", QString::number(g.seed)),
        withDefault("boards", "Boards per event.", "N", QString::number(g.boards)),
        withDefault("channels", "Channels per board, 0..64.", "N", QString::number(g.channels)),
        withDefault("samples", "Samples per channel, even.", "N", QString::number(g.samples)),
        withDefault("noise", "Sample noise of the quiet channels, standard deviation in ADC codes.", "codes",
                    QString::number(g.noiseSigma)),
        withDefault("pulse-probability", "Share of events with a pulse, 0..1.", "p",
                    QString::number(g.pulseProbability)),
        withDefault("hit-probability", "Share of channels a pulse reaches, 0..1.", "p",
                    QString::number(g.hitProbability)),
        withDefault("pulse-amplitude", "Scale of the spectral lines of the pulse heights in ADC codes.", "codes",
                    QString::number(g.pulseAmplitude)),
        {"unsigned", "Send unsigned ADC codes instead of signed ones."},
        withDefault("pool",
                    "Generate N distinct events once and repeat them with new event numbers (for high "
                    "rates); 0: every event is generated fresh.",
                    "N", QString::number(d.pool)),
        withDefault("events", "Events per connection, after which it is closed; 0: endless.", "N",
                    QString::number(d.events)),
        withDefault("rate", "Events per second per connection; 0: as fast as the client reads.", "events/s",
                    QString::number(d.rate)),
        {"replay", "Replay the event records of this data file instead of generated events.", "file"},
        {"loop", "With --replay: start the file over at its end instead of closing the connection."},
        withDefault("garbage-every", "Send garbage bytes before every N-th event (for tests); 0: never.", "N",
                    QString::number(d.garbageEvery)),
        {"cut-writes", "Split every event over two writes at an offset that moves by one byte per event (for tests)."},
    });
}

bool SimCommandLine::parse(const QStringList& arguments)
{
    m_options = SimOptions();
    if (!m_parser.parse(arguments))
        return fail(m_parser.errorText());
    if (!m_parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument: %1").arg(m_parser.positionalArguments().first()));
    return readIdentity() && readStream() && readDamage();
}

bool SimCommandLine::helpRequested() const
{
    return m_parser.isSet("help");
}

QString SimCommandLine::helpText() const
{
    return m_parser.helpText()
           + QStringLiteral("\n"
                            "Control while running:\n"
                            "  Standard input takes one command per line:\n"
                            "    move [PORT] [keep]\n"
                            "                  move the data interface to PORT (none or 0: chosen by the system);\n"
                            "                  connected clients are dropped and the new port is announced; with\n"
                            "                  keep, they are served on and the new port is announced at once.\n"
                            "    quit          drop the clients, send the close message and exit.\n"
                            "  SIGUSR1 moves the data interface to a port chosen by the system.\n"
                            "  SIGINT and SIGTERM quit as \"quit\" does.\n"
                            "\n"
                            "The data interface is announced as free (isFree 1) while no client is connected, and as\n"
                            "busy (isFree 0) while one is. Every client gets its own stream from the first event on.\n"
                            "Progress lines go to standard output, among them \"listening on port N\" at the start.\n"
                            "Discovery uses UDP multicast; run it inside a private network namespace unless the\n"
                            "local network is meant to see it, or use --no-discovery.\n");
}

bool SimCommandLine::fail(const QString& message)
{
    m_error = message;
    return false;
}

template <typename T>
bool SimCommandLine::readNumber(const char* name, T low, T high, T& value)
{
    const QString text = m_parser.value(name);
    bool ok = false;
    if constexpr (std::is_floating_point_v<T>)
        value = T(text.toDouble(&ok));
    else if constexpr (std::is_signed_v<T>)
        value = T(text.toLongLong(&ok));
    else
        value = T(text.toULongLong(&ok));
    if (ok && !(value < low) && !(high < value))
        return true;
    return fail(QStringLiteral("--%1 must be a number from %2 to %3").arg(QLatin1String(name)).arg(low).arg(high));
}

bool SimCommandLine::readIdentity()
{
    SimOptions& o = m_options;
    o.discovery = !m_parser.isSet("no-discovery");
    o.programType = m_parser.value("type");
    o.programIndex = m_parser.value("index");
    o.programName = m_parser.value("name");
    o.interfaceType = interfaceTypeFromArgument(m_parser.value("interface-type"));
    if (o.discovery && (o.programType.isEmpty() || o.programIndex.isEmpty()))
        return fail(QStringLiteral("--type and --index must not be empty"));
    if (o.interfaceType != interfaceTypeName(MonitorDataFlowInterface)
        && o.interfaceType != interfaceTypeName(DataFlowInterface))
        return fail(QStringLiteral("unknown --interface-type: %1").arg(o.interfaceType));
    if (m_parser.isSet("uuid")) {
        o.uuid = QUuid(m_parser.value("uuid"));
        if (o.uuid.isNull())
            return fail(QStringLiteral("--uuid is not a UUID: %1").arg(m_parser.value("uuid")));
    }
    if (!o.listenAddress.setAddress(m_parser.value("listen")))
        return fail(QStringLiteral("--listen is not an address: %1").arg(m_parser.value("listen")));
    return readNumber<quint16>("port", 0, 65535, o.port)
           && readNumber<qint32>("interface-id", std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max(),
                                 o.interfaceId);
}

bool SimCommandLine::readStream()
{
    SimOptions& o = m_options;
    SampleGenerator::Options& g = o.generator;
    o.adcSigned = !m_parser.isSet("unsigned");
    o.loop = m_parser.isSet("loop");
    if (!readNumber<quint64>("seed", 0, std::numeric_limits<quint64>::max(), g.seed)
        || !readNumber<int>("boards", 0, 1000, g.boards) || !readNumber<int>("channels", 0, 64, g.channels)
        || !readNumber<int>("samples", 0, 1000000, g.samples) || !readNumber<double>("noise", 0, 10000, g.noiseSigma)
        || !readNumber<double>("pulse-probability", 0, 1, g.pulseProbability)
        || !readNumber<double>("hit-probability", 0, 1, g.hitProbability)
        || !readNumber<double>("pulse-amplitude", 0, 100000, g.pulseAmplitude)
        || !readNumber<int>("pool", 0, 100000, o.pool)
        || !readNumber<quint64>("events", 0, std::numeric_limits<quint32>::max(), o.events)
        || !readNumber<double>("rate", 0, 1e7, o.rate))
        return false;
    const QString dimensionsError = EventEncoder::dimensionsError(g.boards, g.channels, g.samples);
    if (!dimensionsError.isEmpty())
        return fail(dimensionsError);
    const quint64 eventLength = quint64(g.boards) * EventEncoder::encodedBoardSize(g.channels, g.samples);
    if (quint64(o.pool) * eventLength > MaxPoolBytes)
        return fail(
            QStringLiteral("--pool of %1 such events would take more than %2 MiB").arg(o.pool).arg(MaxPoolBytes >> 20));
    if (m_parser.isSet("replay")) {
        o.replayFile = m_parser.value("replay");
        QFile file(o.replayFile);
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1: %2").arg(o.replayFile, file.errorString()));
    }
    return true;
}

bool SimCommandLine::readDamage()
{
    m_options.cutWrites = m_parser.isSet("cut-writes");
    return readNumber<int>("garbage-every", 0, 1000000000, m_options.garbageEvery);
}
