#include "tools/daqsim/DaqSimulator.h"

#include "tools/daqsim/DataServer.h"
#include "tools/daqsim/FileEventSource.h"
#include "tools/daqsim/GeneratedEventSource.h"
#include "tools/daqsim/ProgramAnnouncer.h"

#include <QTimer>

DaqSimulator::DaqSimulator(const SimOptions& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_server(new DataServer(sourceFactory(options),
                              {{options.garbageEvery, options.cutWrites, options.generator.seed}, options.rate}, this))
    , m_announceTimer(new QTimer(this))
{
    if (options.discovery)
        m_announcer = new ProgramAnnouncer(describe(options), this);
    m_announceTimer->setSingleShot(true);
    connect(m_announceTimer, &QTimer::timeout, this, &DaqSimulator::announce);
    connect(m_server, &DataServer::clientCountChanged, this, &DaqSimulator::clientCountChanged);
    connect(m_server, &DataServer::clientConnected, this,
            [this](const QString& peer) { emit message(QStringLiteral("client connected: %1").arg(peer)); });
    connect(m_server, &DataServer::clientRefused, this, [this](const QString& peer) {
        emit message(QStringLiteral("client refused: %1 (%2 clients at most)").arg(peer).arg(DataServer::MaxClients));
    });
    connect(m_server, &DataServer::clientFinished, this, [this](const QString& peer, quint64 bytes) {
        emit message(QStringLiteral("client finished: %1 after %2 bytes").arg(peer).arg(bytes));
    });
}

DaqSimulator::~DaqSimulator() = default;

ProgramDescription DaqSimulator::describe(const SimOptions& options)
{
    ProgramDescription program;
    program.uuid = options.uuid;
    program.name = options.programName;
    program.type = options.programType;
    program.index = options.programIndex;
    ProgramInterface data;
    data.type = options.interfaceType;
    data.id = options.interfaceId;
    program.interfaces.append(data);
    if (!options.replayFile.isEmpty()) {
        program.options.insert(QStringLiteral("replay"), options.replayFile);
    } else {
        const SampleGenerator::Options& g = options.generator;
        program.options.insert(QStringLiteral("boards"), QString::number(g.boards));
        program.options.insert(QStringLiteral("channels"), QString::number(g.channels));
        program.options.insert(QStringLiteral("samples"), QString::number(g.samples));
        program.options.insert(QStringLiteral("seed"), QString::number(g.seed));
    }
    program.options.insert(QStringLiteral("rate"), QString::number(options.rate));
    return program;
}

DataServer::SourceFactory DaqSimulator::sourceFactory(const SimOptions& options)
{
    if (!options.replayFile.isEmpty())
        return [options]() -> std::unique_ptr<EventSource> {
            return std::make_unique<FileEventSource>(options.replayFile, options.loop);
        };
    const auto prototype = std::make_shared<const GeneratedEventSource>(
        GeneratedEventSource::Options{options.generator, options.pool, options.adcSigned, options.events});
    return [prototype]() -> std::unique_ptr<EventSource> { return std::make_unique<GeneratedEventSource>(*prototype); };
}

bool DaqSimulator::start()
{
    if (!m_server->listen(m_options.listenAddress, m_options.port)) {
        m_error = m_server->errorString();
        return false;
    }
    emit message(QStringLiteral("listening on port %1").arg(port()));
    announce();
    return true;
}

quint16 DaqSimulator::port() const
{
    return m_server->port();
}

void DaqSimulator::movePort(quint16 newPort, bool keepClients)
{
    const quint16 oldPort = port();
    if (!m_server->moveTo(newPort, keepClients)) {
        emit message(QStringLiteral("move failed: %1").arg(m_server->errorString()));
        return;
    }
    emit message(QStringLiteral("moved from port %1 to port %2%3")
                     .arg(oldPort)
                     .arg(port())
                     .arg(keepClients ? QStringLiteral(", clients kept") : QString()));
    m_announceTimer->start(keepClients ? 0 : MoveAnnounceDelayMs);
}

void DaqSimulator::stop()
{
    m_announceTimer->stop();
    m_server->close();
    if (m_announcer) {
        m_announcer->close();
        emit message(QStringLiteral("closed"));
    }
}

void DaqSimulator::clientCountChanged(int count)
{
    emit message(QStringLiteral("clients: %1").arg(count));
    // A move announces the new port itself, a little later.
    if (!m_announceTimer->isActive())
        m_announceTimer->start(0);
}

void DaqSimulator::announce()
{
    if (!m_announcer)
        return;
    const bool isFree = m_server->clientCount() == 0;
    m_announcer->announce(port(), isFree);
    emit message(QStringLiteral("announced %1 #%2: %3 on port %4, isFree %5")
                     .arg(m_options.programType, m_options.programIndex, m_options.interfaceType)
                     .arg(port())
                     .arg(isFree ? 1 : 0));
}
