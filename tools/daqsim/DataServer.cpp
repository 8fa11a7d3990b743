#include "tools/daqsim/DataServer.h"

#include "tools/daqsim/EventSource.h"

#include <QTcpServer>
#include <QTcpSocket>

DataServer::DataServer(SourceFactory sourceFactory, const StreamSession::Settings& settings, QObject* parent)
    : QObject(parent), m_sourceFactory(std::move(sourceFactory)), m_settings(settings)
{}

bool DataServer::listen(const QHostAddress& address, quint16 port)
{
    m_address = address;
    return moveTo(port);
}

bool DataServer::moveTo(quint16 port, bool keepClients)
{
    QTcpServer* server = startServer(port);
    if (!server)
        return false;
    delete m_server;
    m_server = server;
    if (!keepClients)
        dropClients();
    return true;
}

void DataServer::close()
{
    delete m_server;
    m_server = nullptr;
    dropClients();
}

quint16 DataServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

QTcpServer* DataServer::startServer(quint16 port)
{
    auto* server = new QTcpServer(this);
    if (!server->listen(m_address, port)) {
        m_error =
            QStringLiteral("cannot listen on %1:%2: %3").arg(m_address.toString()).arg(port).arg(server->errorString());
        delete server;
        return nullptr;
    }
    connect(server, &QTcpServer::newConnection, this, &DataServer::acceptClients);
    return server;
}

void DataServer::acceptClients()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        if (m_sessions.size() >= MaxClients) {
            emit clientRefused(StreamSession::peerText(socket));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto* session = new StreamSession(socket, m_sourceFactory(), m_settings, this);
        connect(session, &StreamSession::finished, this, &DataServer::sessionFinished);
        m_sessions.append(session);
        emit clientConnected(session->peer());
        emit clientCountChanged(m_sessions.size());
    }
}

void DataServer::sessionFinished(StreamSession* session)
{
    if (!m_sessions.removeOne(session))
        return;
    emit clientFinished(session->peer(), session->bytesSent());
    session->deleteLater();
    emit clientCountChanged(m_sessions.size());
}

void DataServer::dropClients()
{
    if (m_sessions.isEmpty())
        return;
    const QList<StreamSession*> sessions = m_sessions;
    m_sessions.clear();
    for (StreamSession* session : sessions) {
        session->abort();
        session->deleteLater();
    }
    emit clientCountChanged(0);
}
