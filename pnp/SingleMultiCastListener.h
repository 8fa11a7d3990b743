#pragma once

#include "pnp/HostAddressMetaType.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

class QNetworkInterface;
class QUdpSocket;

// Hears one multicast group on one network interface. Lives in a thread of
// its own (see MultiCastListener); an unsuitable interface, or one where the
// socket cannot be bound or joined, leaves the listener silent for good.
class SingleMultiCastListener : public QObject {
    Q_OBJECT
public:
    SingleMultiCastListener(const QNetworkInterface& iface, const QHostAddress& group, quint16 port);

signals:
    // One datagram and the address it came from.
    void received(QByteArray data, QHostAddress host);

private slots:
    void processPendingDatagrams();
    void stop();

private:
    static bool isSuitable(const QNetworkInterface& iface);
    bool bindAndJoin(const QNetworkInterface& iface, quint16 port);
    void dropSocket();

    QUdpSocket* socket = nullptr;
    QHostAddress group;
};
