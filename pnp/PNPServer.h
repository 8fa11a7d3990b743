#pragma once

#include "pnp/HostAddressMetaType.h"
#include "pnp/PnpMessage.h"
#include "pnp/ProgramDescription.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QUuid>

class MultiCastListener;
class QTimer;
class QUdpSocket;

// A process's part in program discovery over UDP multicast: searches for
// programs of chosen types, signals their announcements and closes, and
// announces (and answers discover requests for) this process's own programs.
class PNPServer : public QObject {
    Q_OBJECT
public:
    static const QHostAddress multicastGroup;
    static constexpr quint16 port = 33304;
    static constexpr int searchPeriodMs = 5000;
    static constexpr int multicastTtl = 15;

    explicit PNPServer(QObject* parent = nullptr);
    ~PNPServer() override;

signals:
    void programDiscovered(ProgramDescription pd);
    void programDiscovered(ProgramDescription pd, int packetSize);
    void programClosed(ProgramDescription pd);
    void closingSingle();

public slots:
    void startSearch(QString target, bool single = true);
    void startSearch(QStringList searchTargets = QStringList(), bool single = true);
    void stopSearch();

private slots:
    bool decode(QByteArray data, QHostAddress host);
    void handle(const PnpMessage& message, int size);
    void sendSearchRequest();
    void requestAgain();
    void changeProgramDescription(ProgramDescription pd);
    void closeProgram(ProgramDescription pd);

private:
    void announce(ProgramDescription pd);
    bool sendRequest(const QString& text);
    bool sendMessage(const QString& text);
    bool sendOn(int interfaceIndex, const QString& interfaceName, const QByteArray& payload);
    void answerDiscoverRequest(const QStringList& targets);
    bool isWanted(const ProgramDescription& pd) const;
    bool isOwn(const QUuid& uuid) const;

    QList<ProgramDescription> ownPrograms;
    bool searching = false;
    QStringList searchTargets;
    QTimer* searchTimer;
    // Sends a discover request due later while no periodic search does: one
    // that could not leave, or one asked for too soon after the last.
    QTimer* retryTimer;
    QElapsedTimer sinceRequest;
    MultiCastListener* listener;
    QUdpSocket* sendSocket;
    QSet<int> failingInterfaces; // reported already
    QMap<QUuid, int> sequenceNumbers;
};
