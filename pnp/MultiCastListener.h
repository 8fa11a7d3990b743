#pragma once

#include "pnp/HostAddressMetaType.h"
#include "pnp/PnpMessage.h"

#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QVector>

class QNetworkInterface;
class QThread;
class QTimer;
class SingleMultiCastListener;

// Hears one multicast group on every multicast-capable network interface of
// the host: one SingleMultiCastListener per interface, each in a low-priority
// thread named "multicast <interface>". Every readable message comes out as
// one received() signal in this object's thread. Interfaces that come up
// later are joined, and those that go away are let go, within RescanMs.
class MultiCastListener : public QObject {
    Q_OBJECT
public:
    static constexpr int RescanMs = 5000;

    MultiCastListener(const QHostAddress& group, quint16 port, QObject* parent = nullptr);
    ~MultiCastListener() override;

    // Indexes and names of the interfaces the group is joined on.
    QMap<int, QString> joinedInterfaces() const;

signals:
    // One message and the size of the datagram that carried it.
    void received(PnpMessage message, int size);
    // The group was joined on an interface that came up after construction.
    void interfaceJoined(QString name);
    // Datagrams were being dropped and no longer are: whatever the system
    // dropped for full buffers meanwhile is lost, announcements included.
    void floodEnded();
    // Emitted when destruction starts; every single listener deletes itself.
    void closingSingle();

private:
    // One interface being listened on (or found unsuitable).
    struct Interface {
        int index;
        QString name;
        bool suitable; // when its listener was made
        bool joined;

        SingleMultiCastListener* single;
        QThread* thread;
    };

    void rescan();
    void watchDrops();
    bool startSingle(const QNetworkInterface& iface);
    void retire(const Interface& iface);
    void waitForThreads();

    QHostAddress group;
    quint16 port;
    QVector<Interface> interfaces;
    QVector<QThread*> threads; // all running threads, retired ones included until they end
    QTimer* rescanTimer;
    QTimer* dropTimer;
    qint64 lastDropCount = 0;
    bool flooded = false;
};
