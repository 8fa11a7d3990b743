#pragma once
// The data interface of the simulated acquisition program: a TCP server that
// serves every client that connects with a stream session of its own, and
// that can move to another port, dropping its clients (as a restarted
// program would) or serving them on until they leave.

#include "tools/daqsim/StreamSession.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class EventSource;
class QTcpServer;

class DataServer : public QObject {
    Q_OBJECT
public:
    using SourceFactory = std::function<std::unique_ptr<EventSource>()>;
    // Clients beyond this many are disconnected at once, which bounds the
    // memory that waiting writes can take.
    static constexpr int MaxClients = 32;

    DataServer(SourceFactory sourceFactory, const StreamSession::Settings& settings, QObject* parent = nullptr);

    // Starts listening; port 0 lets the system choose. False with
    // errorString() set when the port cannot be taken.
    bool listen(const QHostAddress& address, quint16 port);
    // Listens on another port (0: chosen by the system), then closes the old
    // one and drops its clients unless they are kept. False, with everything
    // as it was, when the new port cannot be taken.
    bool moveTo(quint16 port, bool keepClients = false);
    // Stops listening and drops every client.
    void close();

    quint16 port() const;
    int clientCount() const { return m_sessions.size(); }
    QString errorString() const { return m_error; }

signals:
    void clientCountChanged(int count);
    void clientConnected(const QString& peer);
    void clientFinished(const QString& peer, quint64 bytesSent);
    void clientRefused(const QString& peer);

private slots:
    void acceptClients();
    void sessionFinished(StreamSession* session);

private:
    QTcpServer* startServer(quint16 port);
    void dropClients();

    SourceFactory m_sourceFactory;
    StreamSession::Settings m_settings;
    QHostAddress m_address;
    QTcpServer* m_server = nullptr;
    QList<StreamSession*> m_sessions;
    QString m_error;
};
