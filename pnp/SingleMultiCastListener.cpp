#include "pnp/SingleMultiCastListener.h"

#include "pnp/DatagramWarnings.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QUdpSocket>

#include <algorithm>
#include <utility>

#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

// Longest stretch of reading before the event loop gets a turn.
constexpr qint64 readingTurnMs = 20;

// Datagrams wait in the kernel while this thread is not scheduled; a large
// buffer lets a burst survive a busy machine. Beyond the system's limit only
// a privileged process gets it.
constexpr int receiveBufferBytes = 4 << 20;

void enlargeReceiveBuffer(QUdpSocket* socket)
{
    const int fd = int(socket->socketDescriptor());
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBufferBytes, sizeof receiveBufferBytes) != 0)
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBufferBytes);
}

// By default Linux hands a socket every datagram of a group that any socket
// of the host joined, on any interface: each listener would then get every
// datagram once per interface. Off, a socket hears only its own interface.
void receiveOwnMembershipsOnly(QUdpSocket* socket)
{
    const int off = 0;
    ::setsockopt(int(socket->socketDescriptor()), IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
}

// Datagrams the system dropped for this socket so far (its receive buffer
// was full); 0 where it does not tell.
quint32 systemDrops(QUdpSocket* socket)
{
    quint32 info[SK_MEMINFO_VARS] = {};
    socklen_t size = sizeof info;
    if (::getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_MEMINFO, info, &size) != 0)
        return 0;
    return info[SK_MEMINFO_DROPS];
}

} // namespace

SingleMultiCastListener::SingleMultiCastListener(const QNetworkInterface& iface, const QHostAddress& group,
                                                 quint16 port)
    : group(group)
{
    static const int registered =
        qRegisterMetaType<QHostAddress>("QHostAddress") + qRegisterMetaType<PnpMessage>("PnpMessage");
    Q_UNUSED(registered);
    if (!isSuitable(iface))
        return;
    if (bindAndJoin(iface, port))
        connect(socket, &QUdpSocket::readyRead, this, &SingleMultiCastListener::processPendingDatagrams);
}

// The group is IPv4: an interface with only an IPv6 address (as one whose
// network is not configured yet) cannot join it, and is looked at again when
// it gets one.
bool SingleMultiCastListener::isSuitable(const QNetworkInterface& iface)
{
    const auto flags = iface.flags();
    const QList<QNetworkAddressEntry> entries = iface.addressEntries();
    return !flags.testFlag(QNetworkInterface::IsLoopBack) && flags.testFlag(QNetworkInterface::IsUp)
           && flags.testFlag(QNetworkInterface::IsRunning) && flags.testFlag(QNetworkInterface::CanMulticast)
           && std::any_of(entries.cbegin(), entries.cend(), [](const QNetworkAddressEntry& entry) {
                  return entry.ip().protocol() == QAbstractSocket::IPv4Protocol;
              });
}

bool SingleMultiCastListener::bindAndJoin(const QNetworkInterface& iface, quint16 port)
{
    socket = new QUdpSocket(this);
    const QHostAddress any(QHostAddress::AnyIPv4);
    const QAbstractSocket::BindMode mode = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
    if (!socket->bind(any, port, mode)) {
        qCritical().noquote() << iface.humanReadableName()
                              << QStringLiteral("bind(%1, %2, %3): %4")
                                     .arg(any.toString())
                                     .arg(port)
                                     .arg(int(mode))
                                     .arg(socket->errorString());
        dropSocket();
        return false;
    }
    enlargeReceiveBuffer(socket);
    receiveOwnMembershipsOnly(socket);
    socket->setMulticastInterface(iface);
    if (!socket->joinMulticastGroup(group, iface)) {
        qCritical().noquote() << QStringLiteral("joinMulticastGroup %1 on %2: %3")
                                     .arg(group.toString(), iface.humanReadableName(), socket->errorString());
        dropSocket();
        return false;
    }
    return true;
}

void SingleMultiCastListener::dropSocket()
{
    delete socket;
    socket = nullptr;
}

void SingleMultiCastListener::processPendingDatagrams()
{
    if (!socket)
        return;
    // Back to the event loop now and then, so that a flood cannot hold off
    // this listener's deletion; the socket tells again that more is waiting.
    QElapsedTimer turn;
    turn.start();
    while (turn.elapsed() < readingTurnMs && socket->hasPendingDatagrams()) {
        QByteArray buffer(int(qMax<qint64>(socket->pendingDatagramSize(), 0)), Qt::Uninitialized);
        QHostAddress sender;
        const qint64 size = socket->readDatagram(buffer.data(), buffer.size(), &sender);
        if (size < 0)
            break; // the socket failed; its notifier tells when there is more
        buffer.truncate(int(size));
        deliver(buffer, sender);
    }
    const quint32 drops = systemDrops(socket);
    DatagramWarnings::shared().lost(drops - droppedBySystem); // unsigned: a wrapped counter still gives the step
    droppedBySystem = drops;
}

void SingleMultiCastListener::deliver(const QByteArray& data, const QHostAddress& sender)
{
    PnpMessage message;
    if (!DatagramWarnings::shared().read(data, sender, &message))
        return;
    bool wasEmpty = false;
    if (!backlog->push(message, data.size(), &wasEmpty))
        DatagramWarnings::shared().overflowed();
    else if (wasEmpty)
        emit messagesWaiting();
}

bool SingleMultiCastListener::Backlog::push(const PnpMessage& message, int size, bool* wasEmpty)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (int(entries.size()) >= MaxPending || bytes + size > MaxPendingBytes)
        return false;
    *wasEmpty = entries.empty();
    entries.push_back({message, size});
    bytes += size;
    return true;
}

std::vector<SingleMultiCastListener::Backlog::Entry> SingleMultiCastListener::Backlog::takeAll()
{
    std::lock_guard<std::mutex> lock(mutex);
    bytes = 0;
    return std::exchange(entries, {});
}

void SingleMultiCastListener::stop()
{
    if (socket)
        socket->disconnectFromHost();
}
