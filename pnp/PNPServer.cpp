#include "pnp/PNPServer.h"

#include "pnp/DatagramWarnings.h"
#include "pnp/MultiCastListener.h"

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

// Index 0 leaves the choice to the system's routes.
bool setMulticastInterface(QUdpSocket* socket, int index)
{
    ip_mreqn request{};
    request.imr_ifindex = index;
    return ::setsockopt(int(socket->socketDescriptor()), IPPROTO_IP, IP_MULTICAST_IF, &request, sizeof request) == 0;
}

} // namespace

PNPServer::PNPServer(QObject* parent)
    : QObject(parent)
    , searchTimer(new QTimer(this))
    , retryTimer(new QTimer(this))
    , listener(new MultiCastListener(multicastGroup, port))
    , sendSocket(new QUdpSocket(this))
{
    searchTimer->setInterval(searchPeriodMs);
    connect(searchTimer, &QTimer::timeout, this, &PNPServer::sendSearchRequest);
    retryTimer->setSingleShot(true);
    connect(retryTimer, &QTimer::timeout, this, &PNPServer::sendSearchRequest);
    connect(listener, &MultiCastListener::received, this, &PNPServer::handle);
    // A network that just came up may hold programs the last request missed.
    connect(listener, &MultiCastListener::interfaceJoined, this, &PNPServer::requestAgain);
    // Announcements that came while the system dropped datagrams are lost.
    connect(listener, &MultiCastListener::floodEnded, this, &PNPServer::requestAgain);
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
    // Deleted here rather than later from the event loop: the server may be
    // destroyed after the loop has ended (as the viewer's window is), and the
    // listener threads must be joined before the process exits.
    delete listener;
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
        searchTimer->stop();
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
    retryTimer->stop();
    qInfo("Pnp_search stopped");
}

void PNPServer::sendSearchRequest()
{
    if (!searching)
        return;
    PnpMessage request;
    request.kind = DiscoverRequest;
    request.targets = searchTargets;
    if (sendRequest(request.toXml())) {
        retryTimer->stop();
        sinceRequest.start();
    } else if (!searchTimer->isActive()) {
        retryTimer->start(searchPeriodMs);
    }
}

// Asks again, after a network came up or a flood passed, but never sooner
// than one search period after the last request: a peer that keeps causing
// either must not make this process flood the networks with requests.
void PNPServer::requestAgain()
{
    if (!searching || searchTimer->isActive() || retryTimer->isActive())
        return; // a request is due anyway
    const qint64 elapsed = sinceRequest.isValid() ? sinceRequest.elapsed() : searchPeriodMs;
    if (elapsed >= searchPeriodMs)
        sendSearchRequest();
    else
        retryTimer->start(int(searchPeriodMs - elapsed));
}

// Sent on every interface the group is joined on, since the system's route
// for the group names one at most: programs on every network are to answer.
// True when it left on any; without joined interfaces the route decides.
bool PNPServer::sendRequest(const QString& text)
{
    const QMap<int, QString> joined = listener->joinedInterfaces();
    if (joined.isEmpty())
        return sendMessage(text);
    const QByteArray payload = text.toLatin1();
    bool sent = false;
    for (auto it = joined.cbegin(); it != joined.cend(); ++it)
        sent = sendOn(it.key(), it.value(), payload) || sent;
    return sent;
}

// Announcements and closes keep to the route: sent on several networks, one
// program would reach a viewer on more than one of them from several
// addresses in turn.
bool PNPServer::sendMessage(const QString& text)
{
    return sendOn(0, QString(), text.toLatin1());
}

// Through the route every failure is reported with the socket's error text.
// On a named interface a failure is reported once until it sends again: one
// dead network must neither fill the log every search period nor stop the
// others.
bool PNPServer::sendOn(int interfaceIndex, const QString& interfaceName, const QByteArray& payload)
{
    if (setMulticastInterface(sendSocket, interfaceIndex)
        && sendSocket->writeDatagram(payload, multicastGroup, port) == payload.size()) {
        failingInterfaces.remove(interfaceIndex);
        return true;
    }
    if (interfaceIndex == 0) {
        qCritical().noquote() << sendSocket->errorString();
    } else if (!failingInterfaces.contains(interfaceIndex)) {
        failingInterfaces.insert(interfaceIndex);
        qCritical().noquote()
            << QStringLiteral("Cannot send discovery messages on %1: %2").arg(interfaceName, sendSocket->errorString());
    }
    return false;
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
    if (!DatagramWarnings::shared().read(data, host, &message))
        return false;
    handle(message, data.size());
    return true;
}

// A message already read, by decode or by a listener thread.
void PNPServer::handle(const PnpMessage& message, int size)
{
    if (message.kind == DiscoverRequest) {
        answerDiscoverRequest(message.targets);
        return;
    }
    const ProgramDescription& pd = message.program;
    if (!isWanted(pd))
        return;
    if (message.kind == ProgramAnnouncement) {
        emit programDiscovered(pd);
        emit programDiscovered(pd, size);
    } else {
        emit programClosed(pd);
    }
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
