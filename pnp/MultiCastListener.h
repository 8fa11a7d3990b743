#pragma once

#include "pnp/HostAddressMetaType.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QVector>

class QNetworkInterface;
class QThread;
class SingleMultiCastListener;

// Hears one multicast group on every multicast-capable network interface of
// the host: one SingleMultiCastListener per interface, each in a low-priority
// thread named "multicast <interface>". Every datagram comes out as one
// received() signal in this object's thread.
class MultiCastListener : public QObject {
    Q_OBJECT
public:
    MultiCastListener(const QHostAddress& group, quint16 port, QObject* parent = nullptr);
    ~MultiCastListener() override;

signals:
    void received(QByteArray data, QHostAddress host);
    // Emitted when destruction starts; every single listener deletes itself.
    void closingSingle();

private:
    void startSingle(const QNetworkInterface& iface);
    void waitForThreads();

    QHostAddress group;
    quint16 port;
    QVector<SingleMultiCastListener*> singles;
    QVector<QThread*> threads;
};
