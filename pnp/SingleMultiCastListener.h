#pragma once

#include "pnp/HostAddressMetaType.h"
#include "pnp/PnpMessage.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

#include <atomic>
#include <memory>

class QNetworkInterface;
class QUdpSocket;

// Hears one multicast group on one network interface. Lives in a thread of
// its own (see MultiCastListener); an unsuitable interface, or one where the
// socket cannot be bound or joined, leaves the listener silent for good.
// Datagrams are read here, off the receiver's thread: bad ones are dropped
// with a rate-limited warning, and only a bounded backlog of read messages
// waits for the receiver at any time, so that no flood can pile up work or
// memory there; beyond it messages are dropped and counted.
class SingleMultiCastListener : public QObject {
    Q_OBJECT
public:
    // Room for the answers of a whole network to one discover request, while
    // the receiver's thread is busy for a moment; a few milliseconds of its
    // work at most.
    static constexpr int MaxPending = 256;
    // A read message takes some times its datagram's size: a backlog of
    // large valid messages stays within a few MiB, while MaxPending ordinary
    // announcements (under 1 KiB each) still fit.
    static constexpr int MaxPendingBytes = 256 << 10;

    // Messages signalled and not yet taken, and the sizes of their datagrams.
    struct Backlog {
        std::atomic<int> messages{0};
        std::atomic<int> bytes{0};
        bool hasRoomFor(int size) const { return messages < MaxPending && bytes + size <= MaxPendingBytes; }
        void add(int size)
        {
            ++messages;
            bytes += size;
        }
        void take(int size)
        {
            --messages;
            bytes -= size;
        }
    };

    SingleMultiCastListener(const QNetworkInterface& iface, const QHostAddress& group, quint16 port);

    // True when the interface is one to listen on (not loopback, up, running,
    // multicast-capable, with an IPv4 address).
    static bool isSuitable(const QNetworkInterface& iface);
    bool isListening() const { return socket != nullptr; }

    // The receiver takes each message off the backlog as it gets it. Shared,
    // so that it outlives this object while signals are still queued.
    std::shared_ptr<Backlog> pending() const { return backlog; }

signals:
    // One readable message, the size of its datagram.
    void received(PnpMessage message, int size);

private slots:
    void processPendingDatagrams();
    void stop();

private:
    bool bindAndJoin(const QNetworkInterface& iface, quint16 port);
    void dropSocket();
    void deliver(const QByteArray& data, const QHostAddress& sender);

    QUdpSocket* socket = nullptr;
    QHostAddress group;
    std::shared_ptr<Backlog> backlog = std::make_shared<Backlog>();
};
