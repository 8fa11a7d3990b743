#include "tools/daqsim/StreamSession.h"

#include "tools/daqsim/EventSource.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <cmath>

StreamSession::StreamSession(QTcpSocket* socket, std::unique_ptr<EventSource> source, const Settings& settings,
                             QObject* parent)
    : QObject(parent)
    , m_socket(socket)
    , m_peer(peerText(socket))
    , m_source(std::move(source))
    , m_shaper(settings.shaping)
    , m_pacer(new QTimer(this))
    ,
    // A cut record takes two writes, half an event period apart.
    m_writeRate(settings.rate * (settings.shaping.cutWrites ? 2 : 1))
{
    m_socket->setParent(this);
    // Cut writes must reach the client as separate segments.
    if (settings.shaping.cutWrites || settings.shaping.garbageEvery > 0)
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_pacer->setSingleShot(true);
    m_pacer->setTimerType(Qt::PreciseTimer);
    connect(m_pacer, &QTimer::timeout, this, &StreamSession::pump);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &StreamSession::pump);
    connect(m_socket, &QTcpSocket::readyRead, this, &StreamSession::discardInput);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] { emit finished(this); });
    m_clock.start();
    QTimer::singleShot(0, this, &StreamSession::pump);
}

QString StreamSession::peerText(const QTcpSocket* socket)
{
    return QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
}

StreamSession::~StreamSession()
{
    m_socket->disconnect(this);
}

void StreamSession::abort()
{
    m_pacer->stop();
    m_socket->abort();
}

void StreamSession::discardInput()
{
    m_socket->readAll();
}

void StreamSession::pump()
{
    if (m_ending || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    while (m_socket->bytesToWrite() < HighWaterBytes) {
        if (m_pending.isEmpty() && !takeRecord()) {
            endStream();
            return;
        }
        if (!mayWriteNow()) {
            scheduleNextWrite();
            return;
        }
        const QByteArray write = m_pending.takeFirst();
        m_socket->write(write);
        m_bytesSent += quint64(write.size());
        ++m_writes;
    }
}

bool StreamSession::takeRecord()
{
    const QByteArray record = m_source->nextRecord();
    if (record.isEmpty())
        return false;
    m_pending = m_shaper.shape(record);
    return true;
}

bool StreamSession::mayWriteNow()
{
    if (m_writeRate <= 0)
        return true;
    const double due = m_clock.nsecsElapsed() * 1e-9 * m_writeRate;
    if (due - double(m_writes) > MaxLagSeconds * m_writeRate) {
        m_clock.restart();
        m_writes = 0;
        return true;
    }
    return double(m_writes) <= due; // write n is due n / rate seconds after the start
}

void StreamSession::scheduleNextWrite()
{
    const double dueInMs = double(m_writes) / m_writeRate * 1000.0 - double(m_clock.elapsed());
    m_pacer->start(int(std::max(0.0, std::ceil(dueInMs))));
}

void StreamSession::endStream()
{
    m_ending = true;
    m_socket->disconnectFromHost();
}
