#pragma once

#include "pnp/HostAddressMetaType.h"
#include "pnp/PnpMessage.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

#include <memory>
#include <mutex>
#include <vector>

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

    // Read messages waiting for the receiver, each with the size of its
    // datagram. Handed over under a lock rather than as signal arguments, so
    // that the bound holds however far behind the receiver is.
    class Backlog {
    public:
        struct Entry {
            PnpMessage message;
            int size = 0;
        };
        // False, and nothing kept, when the backlog is full; wasEmpty tells
        // whether the receiver must be told.
        bool push(const PnpMessage& message, int size, bool* wasEmpty);
        std::vector<Entry> takeAll();

    private:
        std::mutex mutex;
        std::vector<Entry> entries;
        int bytes = 0;
    };

    SingleMultiCastListener(const QNetworkInterface& iface, const QHostAddress& group, quint16 port);

    // True when the interface is one to listen on (not loopback, up, running,
    // multicast-capable, with an IPv4 address).
    static bool isSuitable(const QNetworkInterface& iface);
    bool isListening() const { return socket != nullptr; }

    // What the receiver takes on messagesWaiting(). Shared, so that it
    // outlives this object while the signal is still queued.
    std::shared_ptr<Backlog> pending() const { return backlog; }

signals:
    // The backlog was empty and holds messages now.
    void messagesWaiting();

private slots:
    void processPendingDatagrams();
    void stop();

private:
    bool bindAndJoin(const QNetworkInterface& iface, quint16 port);
    void dropSocket();
    void deliver(const QByteArray& data, const QHostAddress& sender);

    QUdpSocket* socket = nullptr;
    QHostAddress group;
    quint32 droppedBySystem = 0;
    std::shared_ptr<Backlog> backlog = std::make_shared<Backlog>();
};
