#include "pnp/PNPServer.h"

#include "pnp/MultiCastListener.h"
#include "pnp/PnpMessage.h"

#include <QDebug>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>

#include <netinet/in.h>
#include <sys/socket.h>

const QHostAddress PNPServer::multicastGroup(QStringLiteral("239.192.1.2"));

namespace {

QString targetText(const QStringList& targets)
{
    return targets.isEmpty() ? QStringLiteral("all") : targets.join(QStringLiteral(", "));
}

void setMulticastTtl(QUdpSocket* socket, int ttl)
{
    const unsigned char value = static_cast<unsigned char>(ttl);
    // The result is deliberately ignored: without it datagrams keep the
    // system's default time-to-live.
    ::setsockopt(int(socket->socketDescriptor()), IPPROTO_IP, IP_MULTICAST_TTL, &value, sizeof value);
}

} // namespace

PNPServer::PNPServer(QObject* parent)
    : QObject(parent)
    , searchTimer(new QTimer(this))
    , listener(new MultiCastListener(multicastGroup, port))
    , sendSocket(new QUdpSocket(this))
{
    searchTimer->setInterval(searchPeriodMs);
    connect(searchTimer, &QTimer::timeout, this, &PNPServer::sendSearchRequest);
    connect(listener, &MultiCastListener::received, this, &PNPServer::decode);
    connect(this, &PNPServer::closingSingle, listener, &QObject::deleteLater);
    static const int registered = qRegisterMetaType<ProgramDescription>("ProgramDescription");
    Q_UNUSED(registered);
    sendSocket->bind(QHostAddress(QHostAddress::AnyIPv4), 0);
    setMulticastTtl(sendSocket, multicastTtl);
}

PNPServer::~PNPServer()
{
    if (searching)
        stopSearch();
    sendSocket->flush();
    emit closingSingle();
}

void PNPServer::startSearch(QString target, bool single)
{
    startSearch(QStringList{target}, single);
}

void PNPServer::startSearch(QStringList targets, bool single)
{
    searchTargets = targets;
    searching = true;
    sendSearchRequest();
    if (single) {
        qInfo().noquote() << QStringLiteral("Pnp_search single request for targets:%1").arg(targetText(searchTargets));
    } else {
        searchTimer->start();
        qInfo().noquote() << QStringLiteral("Pnp_search started with %1ms interval, targets:%2")
                                 .arg(searchPeriodMs)
                                 .arg(targetText(searchTargets));
    }
}

void PNPServer::stopSearch()
{
    searching = false;
    searchTimer->stop();
    qInfo("Pnp_search stopped");
}

void PNPServer::sendSearchRequest()
{
    if (!searching)
        return;
    PnpMessage request;
    request.kind = DiscoverRequest;
    request.targets = searchTargets;
    sendMessage(request.toXml());
}

void PNPServer::sendMessage(const QString& text)
{
    const QByteArray payload = text.toLatin1();
    if (sendSocket->writeDatagram(payload, multicastGroup, port) != payload.size())
        qCritical().noquote() << sendSocket->errorString();
}

void PNPServer::announce(ProgramDescription pd)
{
    const int seq = ++sequenceNumbers[pd.uuid];
    pd.seq = quint32(seq);
    PnpMessage message;
    message.kind = ProgramAnnouncement;
    message.program = pd;
    sendMessage(message.toXml());
}

void PNPServer::changeProgramDescription(ProgramDescription pd)
{
    ownPrograms.clear();
    if (pd.type.isEmpty() || pd.index.isEmpty())
        return;
    ownPrograms.append(pd);
    announce(pd);
}

void PNPServer::closeProgram(ProgramDescription pd)
{
    ownPrograms.erase(
        std::remove_if(ownPrograms.begin(), ownPrograms.end(),
                       [&pd](const ProgramDescription& own) { return own.type == pd.type && own.index == pd.index; }),
        ownPrograms.end());
    PnpMessage message;
    message.kind = ProgramClose;
    message.program = pd;
    sendMessage(message.toXml());
}

bool PNPServer::decode(QByteArray data, QHostAddress host)
{
    PnpMessage message;
    if (!message.fromXml(data, host)) {
        qWarning().noquote().nospace() << "Failed decode msg:" << data;
        return false;
    }
    if (message.kind == DiscoverRequest) {
        answerDiscoverRequest(message.targets);
        return true;
    }
    const ProgramDescription& pd = message.program;
    if (!isWanted(pd))
        return true;
    if (message.kind == ProgramAnnouncement) {
        emit programDiscovered(pd);
        emit programDiscovered(pd, data.size());
    } else {
        emit programClosed(pd);
    }
    return true;
}

void PNPServer::answerDiscoverRequest(const QStringList& targets)
{
    for (const ProgramDescription& own : qAsConst(ownPrograms))
        if (targets.isEmpty() || targets.contains(own.type, Qt::CaseInsensitive))
            announce(own);
}

bool PNPServer::isWanted(const ProgramDescription& pd) const
{
    if (!searching)
        return false;
    if (!searchTargets.isEmpty() && !searchTargets.contains(pd.type))
        return false;
    return !isOwn(pd.uuid);
}

bool PNPServer::isOwn(const QUuid& uuid) const
{
    return std::any_of(ownPrograms.cbegin(), ownPrograms.cend(),
                       [&uuid](const ProgramDescription& own) { return own.uuid == uuid; });
}
